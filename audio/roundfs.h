// The one conversion of float samples on the 16-bit scale to 16-bit PCM, shared by the WAV and
// sound-card writers and the library's decoder. Kept apart from Waveio so that a decoder that
// only converts samples does not link the file and sound-card code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/CpuFeatures.h"

namespace ostrel {

// Converts a float sample to 16 bits: clamps to -32768.0 .. 32767.0, then rounds halves upward
// (2.5 -> 3, -2.5 -> -2). NaN gives 0.
short roundfs(float input);

// roundfs of `frames` sample pairs: interleaved[2 * n] = roundfs(first[n]) and
// interleaved[2 * n + 1] = roundfs(second[n]). The arrays are borrowed; `interleaved` holds
// 2 * frames values. Every `path` gives the same values; the first form takes ChosenSimdPath().
void InterleavePcm(const float* first, const float* second, int16_t* interleaved, std::size_t frames);
void InterleavePcm(SimdPath path, const float* first, const float* second, int16_t* interleaved,
                   std::size_t frames);

}  // namespace ostrel
