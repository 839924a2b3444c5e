#include "tools/peaq/Adaptation.h"

#include <algorithm>
#include <cmath>

namespace ostrel::peaq {

Adaptation::Adaptation() : tables_(Tables()) {}

void Adaptation::Process(const double* reference, const double* test) {
  double num = 0.0, den = 0.0;
  for (int b = 0; b < BANDS; ++b) {
    const size_t i = static_cast<size_t>(b);
    const double keep = tables_.adaptKeep[i];
    powerRef_[i] = keep * powerRef_[i] + (1.0 - keep) * reference[b];
    powerTest_[i] = keep * powerTest_[i] + (1.0 - keep) * test[b];
    num += std::sqrt(powerTest_[i] * powerRef_[i]);
    den += powerTest_[i];
  }
  // The patterns always hold the ear's internal noise, so den > 0; guard anyway.
  const double level = den > 0.0 ? (num / den) * (num / den) : 1.0;
  for (int b = 0; b < BANDS; ++b) {
    const size_t i = static_cast<size_t>(b);
    levelRef_[i] = level > 1.0 ? reference[b] / level : reference[b];
    levelTest_[i] = level > 1.0 ? test[b] : test[b] * level;
  }

  for (int b = 0; b < BANDS; ++b) {
    const size_t i = static_cast<size_t>(b);
    const double keep = tables_.adaptKeep[i];
    cross_[i] = keep * cross_[i] + levelTest_[i] * levelRef_[i];
    refSquare_[i] = keep * refSquare_[i] + levelRef_[i] * levelRef_[i];
    if (cross_[i] == 0.0 && refSquare_[i] == 0.0) {
      // Nothing in either signal (cannot happen with the internal noise): keep the band below's
      // ratios, 1 for the first band.
      ratioRef_[i] = b > 0 ? ratioRef_[i - 1] : 1.0;
      ratioTest_[i] = b > 0 ? ratioTest_[i - 1] : 1.0;
    } else if (cross_[i] >= refSquare_[i]) {
      ratioTest_[i] = refSquare_[i] / cross_[i];  // the test is louder in this band: scale it down
      ratioRef_[i] = 1.0;
    } else {
      ratioTest_[i] = 1.0;
      ratioRef_[i] = cross_[i] / refSquare_[i];
    }
  }

  // Correction factors: the ratios averaged over 3 bands below to 4 above (fewer at the edges),
  // then smoothed over time.
  for (int b = 0; b < BANDS; ++b) {
    const size_t i = static_cast<size_t>(b);
    const int first = std::max(0, b - 3), last = std::min(BANDS - 1, b + 4);
    double sumRef = 0.0, sumTest = 0.0;
    for (int k = first; k <= last; ++k) {
      sumRef += ratioRef_[static_cast<size_t>(k)];
      sumTest += ratioTest_[static_cast<size_t>(k)];
    }
    const double count = last - first + 1;
    const double keep = tables_.adaptKeep[i];
    corrRef_[i] = keep * corrRef_[i] + (1.0 - keep) * sumRef / count;
    corrTest_[i] = keep * corrTest_[i] + (1.0 - keep) * sumTest / count;
    adaptedRef_[i] = levelRef_[i] * corrRef_[i];
    adaptedTest_[i] = levelTest_[i] * corrTest_[i];
  }
}

}  // namespace ostrel::peaq
