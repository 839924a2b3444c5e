// The error harmonic structure of one frame: how strongly the log ratio of the test's to the
// reference's power spectrum repeats along frequency (as the error of a coder's harmonic signal does).
#pragma once

#include <complex>
#include <vector>

#include "tools/peaq/Fft.h"

namespace ostrel::peaq {

constexpr int EHS_LAGS = 256;  // correlation lags (and bins of the error used: 2 * EHS_LAGS - 1 from bin 1)

class Harmonics {
 public:
  Harmonics();
  // The frame's value from both power spectra (bins 0 .. 2 * EHS_LAGS at least, borrowed): the
  // largest peak, after the first valley, of the power spectrum of the windowed, mean-free,
  // normalised autocorrelation of the log error spectrum. 0 when the spectra agree.
  double Frame(const double* powerRef, const double* powerTest);

 private:
  RealFft fft_;
  std::vector<double> error_, correlation_, window_, windowed_;
  std::vector<std::complex<double>> spectrum_;
};

}  // namespace ostrel::peaq
