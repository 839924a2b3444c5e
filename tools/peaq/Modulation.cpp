#include "tools/peaq/Modulation.h"

#include <cmath>

namespace ostrel::peaq {

Modulation::Modulation() : tables_(Tables()) {}

void Modulation::Process(const double* unsmeared) {
  for (int b = 0; b < BANDS; ++b) {
    const size_t i = static_cast<size_t>(b);
    const double keep = tables_.adaptKeep[i];
    const double loud = std::pow(unsmeared[b], 0.3);
    // The previous frame's value starts at 0: the first frames' large change lies in the
    // averaging delay of the variables that use it.
    derivative_[i] = keep * derivative_[i] + (1.0 - keep) * FRAME_RATE * std::fabs(loud - previous_[i]);
    average_[i] = keep * average_[i] + (1.0 - keep) * loud;
    modulation_[i] = derivative_[i] / (1.0 + average_[i] / 0.3);
    previous_[i] = loud;
  }
}

}  // namespace ostrel::peaq
