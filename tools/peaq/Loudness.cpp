#include "tools/peaq/Loudness.h"

#include <algorithm>
#include <cmath>

namespace ostrel::peaq {

double TotalLoudness(const double* excitation, const ModelTables& tables) {
  double sum = 0.0;
  for (int b = 0; b < BANDS; ++b) {
    const size_t i = static_cast<size_t>(b);
    const double s = tables.loudnessIndex[i];
    const double specific =
        tables.loudnessFactor[i] * (std::pow(1.0 - s + s * excitation[b] / tables.quietThreshold[i], 0.23) - 1.0);
    sum += std::max(specific, 0.0);
  }
  return 24.0 / BANDS * sum;
}

double NoiseLoudness(const double* adaptedRef, const double* adaptedTest, const double* modulationRef,
                     const double* modulationTest, const ModelTables& tables) {
  constexpr double ALPHA = 1.5, THRESH_FAC = 0.15, S0 = 0.5;
  double sum = 0.0;
  for (int b = 0; b < BANDS; ++b) {
    const size_t i = static_cast<size_t>(b);
    const double sRef = THRESH_FAC * modulationRef[b] + S0;
    const double sTest = THRESH_FAC * modulationTest[b] + S0;
    const double ref = adaptedRef[b], test = adaptedTest[b];
    // The reference masks the noise less where the test is much louder. The adapted reference is
    // 0 only in the first frame (the correction factors start at 0); no masking there.
    const double beta = ref > 0.0 ? std::exp(-ALPHA * (test - ref) / ref) : 0.0;
    // The threshold of the noise loudness is the ear's internal noise.
    const double threshold = tables.internalNoise[i];
    const double excess = std::max(sTest * test - sRef * ref, 0.0);
    sum += std::pow(threshold / sTest, 0.23) * (std::pow(1.0 + excess / (threshold + sRef * ref * beta), 0.23) - 1.0);
  }
  return std::max(24.0 / BANDS * sum, 0.0);
}

}  // namespace ostrel::peaq
