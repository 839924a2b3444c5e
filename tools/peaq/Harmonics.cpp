#include "tools/peaq/Harmonics.h"

#include <algorithm>
#include <cmath>

namespace ostrel::peaq {

Harmonics::Harmonics()
    : fft_(EHS_LAGS), error_(2 * EHS_LAGS - 1), correlation_(EHS_LAGS), window_(EHS_LAGS), spectrum_(EHS_LAGS) {
  const double pi = std::acos(-1.0);
  for (int l = 0; l < EHS_LAGS; ++l) {
    window_[static_cast<size_t>(l)] = std::sqrt(8.0 / 3.0) * 0.5 * (1.0 - std::cos(2.0 * pi * l / (EHS_LAGS - 1)));
  }
}

double Harmonics::Frame(const double* powerRef, const double* powerTest) {
  // The error from bin 1: the ear weighting (which would cancel in the ratio) is 0 at bin 0. A bin
  // of exactly zero power is floored so that its logarithm stays finite.
  constexpr double FLOOR = 1e-30;
  bool differs = false;
  for (size_t j = 0; j < error_.size(); ++j) {
    error_[j] = std::log(std::max(powerTest[j + 1], FLOOR) / std::max(powerRef[j + 1], FLOOR));
    differs = differs || error_[j] != 0.0;
  }
  if (!differs) return 0.0;

  double head = 0.0;  // sum of the squares of error_[0 .. EHS_LAGS - 1]
  for (int j = 0; j < EHS_LAGS; ++j) head += error_[static_cast<size_t>(j)] * error_[static_cast<size_t>(j)];
  double shifted = head;  // the same over error_[l .. l + EHS_LAGS - 1]
  double mean = 0.0;
  for (int l = 0; l < EHS_LAGS; ++l) {
    if (l > 0) {
      const double out = error_[static_cast<size_t>(l - 1)], in = error_[static_cast<size_t>(l + EHS_LAGS - 1)];
      shifted += in * in - out * out;
    }
    double sum = 0.0;
    for (int j = 0; j < EHS_LAGS; ++j) sum += error_[static_cast<size_t>(j)] * error_[static_cast<size_t>(j + l)];
    const double norm = head * shifted;
    const double c = norm > 0.0 ? sum / std::sqrt(norm) : 0.0;
    correlation_[static_cast<size_t>(l)] = c;
    mean += c;
  }
  mean /= EHS_LAGS;
  for (int l = 0; l < EHS_LAGS; ++l) {
    spectrum_[static_cast<size_t>(l)] = window_[static_cast<size_t>(l)] * (correlation_[static_cast<size_t>(l)] - mean);
  }
  fft_.Forward(spectrum_.data());
  auto power = [this](int k) { return std::norm(spectrum_[static_cast<size_t>(k)]) / (double(EHS_LAGS) * EHS_LAGS); };

  // Past the first valley: the falling start of the spectrum is the correlation's broad shape,
  // not a harmonic structure.
  int k = 1;
  while (k < EHS_LAGS / 2 && power(k + 1) < power(k)) ++k;
  double peak = 0.0;
  for (; k <= EHS_LAGS / 2; ++k) peak = std::max(peak, power(k));
  return peak;
}

}  // namespace ostrel::peaq
