// Fatal errors and debug-only checks shared by every library of the codec.
#pragma once

namespace ostrel {

// Prints `message` exactly as given on standard output, flushes every stream and ends the
// process with exit status 1. Used for misuse of the transform layer ("FFT ERROR!\n" and the like).
[[noreturn]] void FatalError(const char* message);

}  // namespace ostrel

// Debug-only contract checks: active in the sanitizer builds, compiled out of the release build so
// that shipped behaviour is unchanged.
#if defined(OSTREL_DEBUG_CHECKS)
#include <cstdio>
#include <cstdlib>
#define OSTREL_DASSERT(cond)                                                               \
  do {                                                                                     \
    if (!(cond)) {                                                                         \
      std::fprintf(stderr, "%s:%d: debug check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                        \
    }                                                                                      \
  } while (0)
#else
#define OSTREL_DASSERT(cond) \
  do {                       \
  } while (0)
#endif
