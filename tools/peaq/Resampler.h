// Bringing signals to the quality meter's 48 kHz with libsoxr (very high quality, linear phase),
// time-aligned with their originals.
#pragma once

#include <string>
#include <vector>

namespace ostrel::peaq {

// True when this build has libsoxr.
bool CanResample();

// Resamples `length` samples of every channel (borrowed) from `rate` Hz to 48 kHz into *out, one
// vector per channel of round(length * 48000 / rate) samples, sample 0 at the same instant as the
// input's sample 0 (the filter's delay removed). A rate of 48000 copies. False with *error set
// when this build has no libsoxr or the resampler fails.
bool ResampleTo48k(const std::vector<const double*>& channels, size_t length, int rate,
                   std::vector<std::vector<double>>* out, std::string* error);

}  // namespace ostrel::peaq
