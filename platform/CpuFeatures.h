// The instruction-set paths the numeric kernels can take, chosen once at run time: the default
// build runs on any x86-64 and uses a wider path only where the processor has it. Every path of
// a kernel gives the same results, bit for bit; the choice only changes the speed.
#pragma once

namespace ostrel {

enum class SimdPath {
  Scalar,  // plain C++, any processor
  Sse2,    // 4 floats at a time; part of every x86-64
  Avx2,    // 8 floats at a time, where the processor and the system support it
};

// Whether this processor can run `path` (Scalar always; Sse2 on every x86-64 build).
bool CanRun(SimdPath path);

// The widest path this processor runs, detected on the first call. OSTREL_SIMD=scalar, sse2 or
// avx2 in the environment narrows it (never past what the processor runs), so that every path
// can be exercised on one machine.
SimdPath ChosenSimdPath();

// "scalar", "sse2" or "avx2".
const char* SimdPathName(SimdPath path);

}  // namespace ostrel
