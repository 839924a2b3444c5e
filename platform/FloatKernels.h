// Element-wise float loops of the synthesis and of the quality mode's normalisation, with a path
// per instruction set (CpuFeatures.h).
// Each lane performs the scalar loop's operations in the scalar loop's order, so every path gives
// the same floats, bit for bit. Arrays are borrowed; `n` counts floats.
#pragma once

#include <cstddef>

#include "platform/CpuFeatures.h"

namespace ostrel {

// dst[i] = src[i] * factor; dst may be src.
void ScaleFloats(float* dst, const float* src, float factor, std::size_t n);
void ScaleFloats(SimdPath path, float* dst, const float* src, float factor, std::size_t n);

// x[i] = x[i] / divisor.
void DivideFloats(float* x, float divisor, std::size_t n);
void DivideFloats(SimdPath path, float* x, float divisor, std::size_t n);

// x[i] = x[i] * window[i] + add[i] (the overlap-add of a rising slope); add may not overlap x.
void WindowAdd(float* x, const float* window, const float* add, std::size_t n);
void WindowAdd(SimdPath path, float* x, const float* window, const float* add, std::size_t n);

// x[i] = x[i] * window[i], and copy[i] the same value (a falling slope kept for the next block);
// copy may not overlap x.
void WindowCopy(float* x, const float* window, float* copy, std::size_t n);
void WindowCopy(SimdPath path, float* x, const float* window, float* copy, std::size_t n);

// dst[i] = v's magnitude less `shrink` (never below 0) with v's sign, where v = src[i] * factor:
// values scaled and pulled towards zero by a fixed amount; dst may not overlap src.
void ShrinkScaled(float* dst, const float* src, float factor, float shrink, std::size_t n);
void ShrinkScaled(SimdPath path, float* dst, const float* src, float factor, float shrink, std::size_t n);

// x[i] = `level` with x[i]'s sign for 0 < i < n - 1 where from <= |x[i]| < sent and both of its
// neighbours reach sent: a small value between two larger ones. (A value changed is no neighbour
// that counts: the values beside it reach sent, so they are not changed.)
void KeepSandwiched(float* x, float from, float sent, float level, std::size_t n);
void KeepSandwiched(SimdPath path, float* x, float from, float sent, float level, std::size_t n);

// The powers the quality mode's fill weighs, in levels squared: *own = the sum of
// (|src[i] * factor| * levels)^2, *sent = the sum of the squares of trunc(|dst[i]| * levels + 0.5).
// Each sum runs in eight interleaved parts (part i % 8 takes value i), which are then added in one
// fixed order, so every path gives the same floats.
void FillPowers(const float* src, const float* dst, float factor, float levels, std::size_t n, float* own,
                float* sent);
void FillPowers(SimdPath path, const float* src, const float* dst, float factor, float levels, std::size_t n,
                float* own, float* sent);

}  // namespace ostrel
