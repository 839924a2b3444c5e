// Level and pattern adaptation of a reference/test pair of excitation patterns: the test's overall
// level is matched to the reference's, then slow differences of spectral shape (linear distortions
// a listener adapts to) are removed band by band.
#pragma once

#include <array>

#include "tools/peaq/ModelTables.h"

namespace ostrel::peaq {

class Adaptation {
 public:
  Adaptation();
  // One frame of both excitation patterns (BANDS values each, borrowed).
  void Process(const double* reference, const double* test);
  // The adapted patterns, BANDS values each, valid until the next Process.
  const double* Reference() const { return adaptedRef_.data(); }
  const double* Test() const { return adaptedTest_.data(); }

 private:
  const ModelTables& tables_;
  std::array<double, BANDS> powerRef_{}, powerTest_{};  // smoothed excitations for the level match
  std::array<double, BANDS> cross_{}, refSquare_{};     // smoothed sums of E_test E_ref and E_ref^2
  std::array<double, BANDS> ratioRef_{}, ratioTest_{};  // this frame's correction ratios
  std::array<double, BANDS> corrRef_{}, corrTest_{};    // smoothed correction factors (start at 0)
  std::array<double, BANDS> levelRef_{}, levelTest_{};  // level-matched patterns
  std::array<double, BANDS> adaptedRef_{}, adaptedTest_{};
};

}  // namespace ostrel::peaq
