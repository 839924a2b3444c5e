// The modulation pattern of one signal: how fast each band's loudness-like 0.3 power of the
// excitation changes, relative to its smoothed value.
#pragma once

#include <array>

#include "tools/peaq/ModelTables.h"

namespace ostrel::peaq {

class Modulation {
 public:
  Modulation();
  // One frame of the signal's excitation spread over frequency only (BANDS values, borrowed).
  void Process(const double* unsmeared);
  const double* Pattern() const { return modulation_.data(); }  // BANDS values
  const double* Average() const { return average_.data(); }     // smoothed 0.3 power, BANDS values

 private:
  const ModelTables& tables_;
  std::array<double, BANDS> previous_{}, derivative_{}, average_{}, modulation_{};
};

}  // namespace ostrel::peaq
