// Bringing signals to the quality meter's 48 kHz with libsoxr (very high quality, linear phase),
// time-aligned with their originals.
#pragma once

#include <string>
#include <vector>

namespace ostrel::peaq {

// True when this build has libsoxr.
bool CanResample();

// Resamples every channel (equal lengths) from `rate` Hz to 48 kHz into *out: round(length *
// 48000 / rate) samples each, sample 0 at the same instant as the input's sample 0 (the filter's
// delay removed). A rate of 48000 copies. False with *error set when this build has no libsoxr or
// the resampler fails.
bool ResampleTo48k(const std::vector<std::vector<double>>& channels, int rate,
                   std::vector<std::vector<double>>* out, std::string* error);

}  // namespace ostrel::peaq
