// The quality meter's ear for one signal of one channel: from a frame's weighted power spectrum to
// band energies, the ear's internal noise, spreading over frequency and forward masking in time.
#pragma once

#include <array>

#include "tools/peaq/ModelTables.h"

namespace ostrel::peaq {

// Sums a power spectrum (BINS values, borrowed) into the BANDS bands (out, BANDS values), each bin
// with its share of the band; a band's energy is at least 1e-12.
void GroupIntoBands(const double* power, const ModelTables& tables, double* out);

// Spreads band energies (BANDS values > 0, borrowed) over frequency: each band's energy is spread
// 27 dB/Bark downwards and (24 + 230 Hz/fc - 0.2 L) dB/Bark upwards (L its level in dB), the spread
// of each band normalised to its own energy, and the parts added as 0.4 powers:
// out[i] = (sum_j (E_j S_ij / A_j)^0.4)^(1/0.4). `scratch` holds BANDS values (overwritten). The
// division by the spreading of a flat pattern (tables.spreadNorm) is the caller's.
void SpreadBands(const double* energy, const ModelTables& tables, double* scratch, double* out);

class EarModel {
 public:
  EarModel();
  // One frame: `weightedPower` is the level-scaled, ear-weighted power spectrum (BINS values, borrowed).
  void Process(const double* weightedPower);
  // The frame's patterns, BANDS values each, valid until the next Process.
  const double* Unsmeared() const { return unsmeared_.data(); }    // spread over frequency only
  const double* Excitation() const { return excitation_.data(); }  // and over time (forward masking)

 private:
  const ModelTables& tables_;
  std::array<double, BANDS> pattern_{}, scratch_{}, unsmeared_{}, smeared_{}, excitation_{};
};

}  // namespace ostrel::peaq
