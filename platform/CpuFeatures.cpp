#include "platform/CpuFeatures.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace ostrel {

bool CanRun(SimdPath path) {
  switch (path) {
    case SimdPath::Scalar:
      return true;
#if defined(__x86_64__)
    case SimdPath::Sse2:
      return true;
    case SimdPath::Avx2:
      // The check covers the system's saving of the wide registers as well as the processor.
      return __builtin_cpu_supports("avx2") != 0;
#else
    default:
      return false;
#endif
  }
  return false;
}

const char* SimdPathName(SimdPath path) {
  switch (path) {
    case SimdPath::Scalar: return "scalar";
    case SimdPath::Sse2: return "sse2";
    case SimdPath::Avx2: return "avx2";
  }
  return "scalar";
}

SimdPath ChosenSimdPath() {
  static const SimdPath chosen = [] {
    SimdPath best = SimdPath::Scalar;
    for (SimdPath p : {SimdPath::Sse2, SimdPath::Avx2}) {
      if (CanRun(p)) best = p;
    }
    if (const char* wanted = std::getenv("OSTREL_SIMD")) {
      for (SimdPath p : {SimdPath::Scalar, SimdPath::Sse2, SimdPath::Avx2}) {
        if (std::strcmp(wanted, SimdPathName(p)) == 0 && static_cast<int>(p) < static_cast<int>(best)) best = p;
      }
    }
    return best;
  }();
  return chosen;
}

}  // namespace ostrel
