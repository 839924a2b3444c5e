#include "tools/peaq/Harmonics.h"

#include <algorithm>
#include <cmath>

namespace ostrel::peaq {

Harmonics::Harmonics()
    : fft_(EHS_LAGS), error_(2 * EHS_LAGS - 1), correlation_(EHS_LAGS), window_(EHS_LAGS), windowed_(EHS_LAGS),
      spectrum_(EHS_LAGS / 2 + 1) {
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
  // The lags four at a time: four independent sums, each still added in order of j.
  const double* e = error_.data();
  for (int l = 0; l < EHS_LAGS; l += 4) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (int j = 0; j < EHS_LAGS; ++j) {
      s0 += e[j] * e[j + l];
      s1 += e[j] * e[j + l + 1];
      s2 += e[j] * e[j + l + 2];
      s3 += e[j] * e[j + l + 3];
    }
    correlation_[static_cast<size_t>(l)] = s0;
    correlation_[static_cast<size_t>(l + 1)] = s1;
    correlation_[static_cast<size_t>(l + 2)] = s2;
    correlation_[static_cast<size_t>(l + 3)] = s3;
  }
  double shifted = head;  // the sum of the squares of error_[l .. l + EHS_LAGS - 1]
  double mean = 0.0;
  for (int l = 0; l < EHS_LAGS; ++l) {
    if (l > 0) {
      const double out = e[l - 1], in = e[l + EHS_LAGS - 1];
      shifted += in * in - out * out;
    }
    const double norm = head * shifted;
    const double c = norm > 0.0 ? correlation_[static_cast<size_t>(l)] / std::sqrt(norm) : 0.0;
    correlation_[static_cast<size_t>(l)] = c;
    mean += c;
  }
  mean /= EHS_LAGS;
  for (int l = 0; l < EHS_LAGS; ++l) {
    windowed_[static_cast<size_t>(l)] = window_[static_cast<size_t>(l)] * (correlation_[static_cast<size_t>(l)] - mean);
  }
  fft_.Forward(windowed_.data(), spectrum_.data());
  // Decision: the transform is scaled by 1 / EHS_LAGS, as the ear model's own transform definition
  // is, and the window has unit mean power (sqrt(8/3) Hann) like the ear model's.
  auto power = [this](int k) { return std::norm(spectrum_[static_cast<size_t>(k)]) / (double(EHS_LAGS) * EHS_LAGS); };

  // Decision: the peak is searched past the first valley (the first bin from 1 on whose successor
  // is not lower): the falling start of the spectrum is the correlation's broad shape, not a
  // harmonic structure.
  int k = 1;
  while (k < EHS_LAGS / 2 && power(k + 1) < power(k)) ++k;
  double peak = 0.0;
  for (; k <= EHS_LAGS / 2; ++k) peak = std::max(peak, power(k));
  return peak;
}

}  // namespace ostrel::peaq
