// Counts the process's global allocations, for tests that check a loop allocates nothing.
// CountingAllocator.cpp replaces the global operator new and delete: link it into a test
// executable of its own, never into one whose tests expect ordinary allocation.
#pragma once

namespace ostrel::test {

// Global allocations made so far (every form of operator new, failed ones not counted).
long AllocationCount();

// While set, every global allocation fails: std::bad_alloc from the throwing forms, null from
// the nothrow forms.
void FailAllocations(bool fail);

// Makes the `n`-th global allocation from now (1 the next one) fail, and that one only; n <= 0
// disarms it. FailedOnce() tells whether it has failed since.
void FailAllocationAt(long n);
bool FailedOnce();

}  // namespace ostrel::test
