// Loaded into a program under test with LD_PRELOAD: its global operator new counts the program's
// allocations and makes the one numbered OSTREL_FAIL_ALLOCATION (1 the first) fail with
// std::bad_alloc, or null from the nothrow forms. When that happens, the file named by
// OSTREL_FAIL_MARK is created, so that a test tells a run that met the failure from one that
// ended before it.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "common/ReplacedAllocation.h"

namespace {

std::atomic<long> left{-1};  // allocations until the failing one; -1: not read yet, 0: none armed

}  // namespace

void* ostrel::test::ReplacedAllocate(std::size_t size) {
  long n = left.load();
  if (n < 0) {
    const char* text = std::getenv("OSTREL_FAIL_ALLOCATION");
    n = text != nullptr ? std::atol(text) : 0;
    long expected = -1;
    left.compare_exchange_strong(expected, n > 0 ? n : 0);
  }
  if (left.load() > 0 && left.fetch_sub(1) == 1) {
    if (const char* mark = std::getenv("OSTREL_FAIL_MARK")) {
      const int fd = ::open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      if (fd >= 0) ::close(fd);
    }
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
