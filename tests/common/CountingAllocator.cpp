#include "common/CountingAllocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> allocationCount{0};
std::atomic<bool> failAllocations{false};

void* CountedAllocate(std::size_t size) {
  if (failAllocations.load()) throw std::bad_alloc();
  ++allocationCount;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void* CountedAllocateOrNull(std::size_t size) noexcept {
  try {
    return CountedAllocate(size);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

namespace ostrel::test {

long AllocationCount() { return allocationCount.load(); }
void FailAllocations(bool fail) { failAllocations = fail; }

}  // namespace ostrel::test

void* operator new(std::size_t size) { return CountedAllocate(size); }
void* operator new[](std::size_t size) { return CountedAllocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return CountedAllocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return CountedAllocateOrNull(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
