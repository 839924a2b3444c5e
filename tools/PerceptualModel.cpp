#include "tools/PerceptualModel.h"

#include <algorithm>
#include <cmath>

namespace ostrel::tools {

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double FULL_SCALE = 32768.0;  // amplitude of a full-scale 16-bit sine
constexpr double POWER_FLOOR = 1e-30;   // keeps the flatness measure finite on silent lines

// In-place radix-2 complex FFT of EAR_WINDOW points, forward (negative exponent). The comparator
// has its own, in double precision, so that nothing of the codec's transforms enters its verdict.
void Fft(std::vector<double>& re, std::vector<double>& im, const std::vector<double>& cosTable,
         const std::vector<double>& sinTable) {
  const int n = EAR_WINDOW;
  for (int i = 1, j = 0; i < n; ++i) {
    int bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      std::swap(re[i], re[j]);
      std::swap(im[i], im[j]);
    }
  }
  for (int len = 2; len <= n; len <<= 1) {
    const int step = n / len;
    for (int start = 0; start < n; start += len) {
      for (int k = 0; k < len / 2; ++k) {
        const double wr = cosTable[k * step], wi = -sinTable[k * step];
        const int a = start + k, b = a + len / 2;
        const double tr = re[b] * wr - im[b] * wi, ti = re[b] * wi + im[b] * wr;
        re[b] = re[a] - tr;
        im[b] = im[a] - ti;
        re[a] += tr;
        im[a] += ti;
      }
    }
  }
}

double SpreadDb(double dz) {
  const double x = dz + 0.474;
  return 15.81 + 7.5 * x - 17.5 * std::sqrt(1.0 + x * x);
}

}  // namespace

double PerceptualModel::Bark(double hz) {
  return 13.0 * std::atan(0.00076 * hz) + 3.5 * std::atan((hz / 7500.0) * (hz / 7500.0));
}

double PerceptualModel::ThresholdInQuietDb(double hz) {
  const double k = hz / 1000.0;
  return 3.64 * std::pow(k, -0.8) - 6.5 * std::exp(-0.6 * (k - 3.3) * (k - 3.3)) + 0.001 * k * k * k * k;
}

PerceptualModel::PerceptualModel(double sampleRate)
    : rate_(sampleRate), window_(EAR_WINDOW), cosTable_(EAR_WINDOW / 2), sinTable_(EAR_WINDOW / 2),
      re_(EAR_WINDOW), im_(EAR_WINDOW) {
  for (int n = 0; n < EAR_WINDOW; ++n) window_[n] = 0.5 - 0.5 * std::cos(2.0 * PI * n / EAR_WINDOW);
  for (int k = 0; k < EAR_WINDOW / 2; ++k) {
    cosTable_[k] = std::cos(2.0 * PI * k / EAR_WINDOW);
    sinTable_[k] = std::sin(2.0 * PI * k / EAR_WINDOW);
  }
  // Lines 1 .. EAR_LINES - 2: Bark numbers only grow with frequency, so each band is a run.
  for (int k = 1; k < EAR_LINES - 1; ++k) {
    const int band = static_cast<int>(Bark(k * rate_ / EAR_WINDOW));
    while (static_cast<int>(bandFirst_.size()) <= band) bandFirst_.push_back(k);
  }
  bandFirst_.push_back(EAR_LINES - 1);
  const int bands = BandCount();
  quietEnergy_.resize(bands);
  for (int b = 0; b < bands; ++b) {
    double lowest = INFINITY;
    for (int k = bandFirst_[b]; k < bandFirst_[b + 1]; ++k) {
      lowest = std::min(lowest, ThresholdInQuietDb(k * rate_ / EAR_WINDOW));
    }
    quietEnergy_[b] = std::pow(10.0, lowest / 10.0);
  }
  spread_.resize(static_cast<size_t>(bands) * bands);
  spreadGain_.assign(bands, 0.0);
  for (int i = 0; i < bands; ++i) {
    for (int j = 0; j < bands; ++j) {
      const double s = std::pow(10.0, SpreadDb(i - j) / 10.0);
      spread_[static_cast<size_t>(i) * bands + j] = s;
      spreadGain_[i] += s;
    }
  }
  energy_.resize(bands);
  tonality_.resize(bands);
}

double PerceptualModel::BandLowHz(int band) const { return bandFirst_[band] * rate_ / EAR_WINDOW; }
double PerceptualModel::BandHighHz(int band) const { return (bandFirst_[band + 1] - 1) * rate_ / EAR_WINDOW; }

void PerceptualModel::PowerSpectrum(const double* frame, std::vector<double>& power) const {
  for (int n = 0; n < EAR_WINDOW; ++n) {
    re_[n] = frame[n] * window_[n];
    im_[n] = 0.0;
  }
  Fft(re_, im_, cosTable_, sinTable_);
  // A sine of amplitude A puts A^2/2 * N * sum(w^2) / 2 into the one-sided lines; scaling by
  // 2 / (N * sum(w^2)) / (FULL_SCALE^2 / 2) makes a full-scale sine sum to 1, then to the SPL.
  const double sumW2 = 3.0 * EAR_WINDOW / 8.0;
  const double scale = 2.0 / (EAR_WINDOW * sumW2) / (FULL_SCALE * FULL_SCALE / 2.0) *
                       std::pow(10.0, FULL_SCALE_SINE_SPL / 10.0);
  power.resize(EAR_LINES);
  for (int k = 0; k < EAR_LINES; ++k) power[k] = (re_[k] * re_[k] + im_[k] * im_[k]) * scale;
}

void PerceptualModel::BandEnergies(const std::vector<double>& power, std::vector<double>& energies) const {
  const int bands = BandCount();
  energies.resize(bands);
  for (int b = 0; b < bands; ++b) {
    double sum = 0.0;
    for (int k = bandFirst_[b]; k < bandFirst_[b + 1]; ++k) sum += power[k];
    energies[b] = sum;
  }
}

void PerceptualModel::Mask(const std::vector<double>& power, std::vector<double>& mask) const {
  const int bands = BandCount();
  BandEnergies(power, energy_);
  for (int b = 0; b < bands; ++b) {
    const int lines = bandFirst_[b + 1] - bandFirst_[b];
    double logSum = 0.0;
    for (int k = bandFirst_[b]; k < bandFirst_[b + 1]; ++k) logSum += std::log(power[k] + POWER_FLOOR);
    const double arithmetic = energy_[b] / lines + POWER_FLOOR;
    const double sfmDb = 10.0 / std::log(10.0) * (logSum / lines - std::log(arithmetic));
    tonality_[b] = std::min(std::max((sfmDb - SFM_NOISE_DB) / (SFM_TONE_DB - SFM_NOISE_DB), 0.0), 1.0);
  }
  mask.resize(bands);
  for (int i = 0; i < bands; ++i) {
    double spread = 0.0, tonal = 0.0;
    for (int j = 0; j < bands; ++j) {
      const double part = energy_[j] * spread_[static_cast<size_t>(i) * bands + j];
      spread += part;
      tonal += part * tonality_[j];
    }
    const double a = spread > 0.0 ? tonal / spread : 0.0;
    const double offsetDb = a * (14.5 + i) + (1.0 - a) * 5.5;
    const double threshold = spread / spreadGain_[i] * std::pow(10.0, -offsetDb / 10.0);
    mask[i] = std::max(threshold, quietEnergy_[i]);
  }
}

}  // namespace ostrel::tools
