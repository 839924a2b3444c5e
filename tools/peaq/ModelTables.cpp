#include "tools/peaq/ModelTables.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "tools/peaq/EarModel.h"
#include "tools/peaq/Fft.h"

namespace ostrel::peaq {
namespace {

double BarkOf(double hz) { return 7.0 * std::asinh(hz / 650.0); }
double HzOf(double bark) { return 650.0 * std::sinh(bark / 7.0); }

ModelTables Build() {
  ModelTables t{};
  const double pi = std::acos(-1.0);
  for (int n = 0; n < FRAME; ++n) {
    t.window[static_cast<size_t>(n)] = std::sqrt(8.0 / 3.0) * 0.5 * (1.0 - std::cos(2.0 * pi * n / (FRAME - 1)));
  }

  // Level scale: the spectral peak of a full-scale sine at 1019.5 Hz (half-way between two bins,
  // so the peak carries the window's scalloping loss) is FULL_SCALE_SPL. Measured rather than
  // written as a closed form, so that the window and the transform's scaling cannot disagree with it.
  {
    RealFft fft(FRAME);
    std::vector<double> x(FRAME);
    std::vector<std::complex<double>> spectrum(BINS);
    for (int n = 0; n < FRAME; ++n) {
      x[static_cast<size_t>(n)] = FULL_SCALE * std::sin(2.0 * pi * 1019.5 * n / SAMPLE_RATE) * t.window[static_cast<size_t>(n)];
    }
    fft.Forward(x.data(), spectrum.data());
    double peak = 0.0;
    for (const std::complex<double>& bin : spectrum) peak = std::max(peak, std::abs(bin));
    t.levelScale = std::pow(10.0, FULL_SCALE_SPL / 20.0) / peak;
  }

  // Outer and middle ear: W(f) = -0.6 * 3.64 f^-0.8 + 6.5 exp(-0.6 (f - 3.3)^2) - 0.001 f^3.6 dB, f in kHz.
  t.earWeight[0] = 0.0;
  for (int k = 1; k < BINS; ++k) {
    const double khz = k * double(SAMPLE_RATE) / FRAME / 1000.0;
    const double db = -0.6 * 3.64 * std::pow(khz, -0.8) + 6.5 * std::exp(-0.6 * (khz - 3.3) * (khz - 3.3)) -
                      1e-3 * std::pow(khz, 3.6);
    t.earWeight[static_cast<size_t>(k)] = t.levelScale * t.levelScale * std::pow(10.0, db / 10.0);
  }

  // Bands of 0.25 Bark from 80 Hz; the last one ends at 18 kHz. Computed rather than copied: the
  // Recommendation's table is this formula rounded to 3 decimals (80.000, 91.708, 103.445 Hz...).
  const double lowBark = BarkOf(80.0), highBark = BarkOf(18000.0);
  const double binHz = double(SAMPLE_RATE) / FRAME;
  for (int b = 0; b < BANDS; ++b) {
    const double zl = lowBark + b * BAND_WIDTH_BARK;
    const double zu = std::min(zl + BAND_WIDTH_BARK, highBark);
    const size_t i = static_cast<size_t>(b);
    t.lowHz[i] = HzOf(zl);
    t.highHz[i] = HzOf(zu);
    t.centreHz[i] = HzOf(0.5 * (zl + zu));
    // Bin k covers (k - 1/2 .. k + 1/2) bin widths; it adds the share of that width inside the band.
    t.groupFirst.push_back(static_cast<int>(t.groupBin.size()));
    for (int k = 0; k < BINS; ++k) {
      const double share = (std::min(t.highHz[i], (k + 0.5) * binHz) - std::max(t.lowHz[i], (k - 0.5) * binHz)) / binHz;
      if (share > 0.0) {
        t.groupBin.push_back(k);
        t.groupShare.push_back(share);
      }
    }
  }
  t.groupFirst.push_back(static_cast<int>(t.groupBin.size()));

  for (int b = 0; b < BANDS; ++b) {
    const size_t i = static_cast<size_t>(b);
    const double fc = t.centreHz[i];
    const double khz08 = std::pow(fc / 1000.0, -0.8);
    t.internalNoise[i] = std::pow(10.0, 0.4 * 0.364 * khz08);
    t.internalNoise03[i] = std::pow(t.internalNoise[i], 0.3);
    t.quietThreshold[i] = std::pow(10.0, 0.364 * khz08);
    const double sDb = -2.0 - 2.05 * std::atan(fc / 4000.0) - 0.75 * std::atan((fc / 1600.0) * (fc / 1600.0));
    t.loudnessIndex[i] = std::pow(10.0, sDb / 10.0);
    t.loudnessFactor[i] = 1.07664 * std::pow(t.quietThreshold[i] / (t.loudnessIndex[i] * 1e4), 0.23);
    t.upperSlopeBase[i] = std::pow(10.0, (-24.0 - 230.0 / fc) * BAND_WIDTH_BARK / 10.0);
    t.timeSpreadKeep[i] = SmoothingFactor(fc, 0.030, 0.008);
    t.adaptKeep[i] = SmoothingFactor(fc, 0.050, 0.008);
    // Mask offset by band number: 3 dB up to 12 Bark above the first band, then 0.25 dB per band.
    const double offsetDb = b * BAND_WIDTH_BARK <= 12.0 ? 3.0 : 0.25 * b * BAND_WIDTH_BARK;
    t.maskGain[i] = std::pow(10.0, -offsetDb / 10.0);
  }

  std::array<double, BANDS> flat;
  flat.fill(1.0);
  std::array<double, BANDS> upperSlope;
  std::array<double, BANDS> spreadFlat;
  SpreadBands(flat.data(), t, upperSlope.data(), spreadFlat.data());
  t.spreadNorm = spreadFlat;
  return t;
}

}  // namespace

double SmoothingFactor(double centreHz, double tau100, double tauMin) {
  const double tau = tauMin + 100.0 / centreHz * (tau100 - tauMin);
  return std::exp(-1.0 / (FRAME_RATE * tau));
}

const ModelTables& Tables() {
  static const ModelTables tables = Build();
  return tables;
}

}  // namespace ostrel::peaq
