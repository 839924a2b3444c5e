// The global operator new and delete, every form, replaced over one allocation function: the
// including file defines ostrel::test::ReplacedAllocate (throws std::bad_alloc on failure; free()
// releases what it returns). Include it in exactly one source file of a program or module.
#pragma once

#include <cstdlib>
#include <new>

namespace ostrel::test {

void* ReplacedAllocate(std::size_t size);

inline void* ReplacedAllocateOrNull(std::size_t size) noexcept {
  try {
    return ReplacedAllocate(size);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace ostrel::test

void* operator new(std::size_t size) { return ostrel::test::ReplacedAllocate(size); }
void* operator new[](std::size_t size) { return ostrel::test::ReplacedAllocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return ostrel::test::ReplacedAllocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return ostrel::test::ReplacedAllocateOrNull(size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
