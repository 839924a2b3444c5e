#include "common/CountingAllocator.h"

#include <atomic>
#include <cstdlib>

#include "common/ReplacedAllocation.h"

namespace {

std::atomic<long> allocationCount{0};
std::atomic<bool> failAllocations{false};
std::atomic<long> failAt{0};  // allocations left until the one that fails; 0: none armed
std::atomic<bool> failedOnce{false};

}  // namespace

void* ostrel::test::ReplacedAllocate(std::size_t size) {
  if (failAllocations.load()) throw std::bad_alloc();
  if (failAt.load() > 0 && failAt.fetch_sub(1) == 1) {
    failedOnce = true;
    throw std::bad_alloc();
  }
  ++allocationCount;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

namespace ostrel::test {

long AllocationCount() { return allocationCount.load(); }
void FailAllocations(bool fail) { failAllocations = fail; }
void FailAllocationAt(long n) {
  failedOnce = false;
  failAt = n > 0 ? n : 0;
}
bool FailedOnce() { return failedOnce.load(); }

}  // namespace ostrel::test
