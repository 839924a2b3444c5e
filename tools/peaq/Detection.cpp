#include "tools/peaq/Detection.h"

#include <algorithm>
#include <cmath>

#include "tools/peaq/ModelTables.h"

namespace ostrel::peaq {

void DetectionProbability(const double* excitationRef, const double* excitationTest, double* probability,
                          double* steps) {
  static const double log2 = std::log10(std::log10(2.0));
  for (int b = 0; b < BANDS; ++b) {
    const double ref = 10.0 * std::log10(excitationRef[b]);
    const double test = 10.0 * std::log10(excitationTest[b]);
    const double level = 0.3 * std::max(ref, test) + 0.7 * test;
    // The just-detectable step size at this level, dB; "infinite" below 0 dB.
    double step = 1e30;
    if (level > 0.0) {
      step = 5.95072 * std::pow(6.39468 / level, 1.71332) + 9.01033e-11 * std::pow(level, 4.0) +
             5.05622e-6 * level * level * level - 0.00102438 * level * level + 0.0550197 * level - 0.198719;
    }
    const double error = test - ref;
    const double exponent = error > 0.0 ? 4.0 : 6.0;
    const double scale = std::pow(10.0, log2 / exponent) / step;
    probability[b] = 1.0 - std::pow(10.0, -std::pow(scale * error, exponent));
    steps[b] = std::fabs(std::trunc(error)) / step;
  }
}

}  // namespace ostrel::peaq
