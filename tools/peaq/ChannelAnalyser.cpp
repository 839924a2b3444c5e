#include "tools/peaq/ChannelAnalyser.h"

#include <algorithm>
#include <cmath>

#include "tools/peaq/Detection.h"
#include "tools/peaq/Loudness.h"

namespace ostrel::peaq {
namespace {

constexpr int BANDWIDTH_TOP_BIN = 921;     // bins from here (21.6 kHz) to FRAME / 2 - 1 give the noise floor
constexpr int BANDWIDTH_MIN_BINS = 346;    // frames whose reference reaches no higher (8.1 kHz) do not count

// The two bandwidths of a frame from the power spectra before the ear weighting (decision: the
// plain transform, as the levels are compared with each other only), by the levels of the bins
// against the test's highest level above 21.6 kHz: the reference's top is the highest bin 10 dB
// above it, the test's the highest bin below that 5 dB above it.
void Bandwidths(const double* powerRef, const double* powerTest, ChannelFrame* out) {
  double floor = 0.0;
  for (int k = BANDWIDTH_TOP_BIN; k < FRAME / 2; ++k) floor = std::max(floor, powerTest[k]);
  static const double tenDb = 10.0, fiveDb = std::pow(10.0, 0.5);
  int ref = 0;
  for (int k = BANDWIDTH_TOP_BIN - 1; k >= 0; --k) {
    if (powerRef[k] >= tenDb * floor) {
      ref = k + 1;
      break;
    }
  }
  int test = 0;
  for (int k = ref - 1; k >= 0; --k) {
    if (powerTest[k] >= fiveDb * floor) {
      test = k + 1;
      break;
    }
  }
  out->bandwidthRef = ref > BANDWIDTH_MIN_BINS ? ref : 0;
  out->bandwidthTest = ref > BANDWIDTH_MIN_BINS ? test : 0;
}

double NewestHalfEnergy(const double* frame) {
  double sum = 0.0;
  for (int n = HOP; n < FRAME; ++n) sum += frame[n] * frame[n];
  return sum;
}

}  // namespace

ChannelAnalyser::ChannelAnalyser()
    : tables_(Tables()),
      fft_(FRAME),
      windowedRef_(FRAME),
      windowedTest_(FRAME),
      spectrumRef_(BINS),
      spectrumTest_(BINS),
      powerRef_(BINS),
      powerTest_(BINS),
      weightedRef_(BINS),
      weightedTest_(BINS),
      noiseSpectrum_(BINS) {}

void ChannelAnalyser::Process(const double* reference, const double* test, ChannelFrame* out) {
  for (int n = 0; n < FRAME; ++n) {
    windowedRef_[static_cast<size_t>(n)] = tables_.window[static_cast<size_t>(n)] * reference[n];
    windowedTest_[static_cast<size_t>(n)] = tables_.window[static_cast<size_t>(n)] * test[n];
  }
  fft_.Forward(windowedRef_.data(), spectrumRef_.data());
  fft_.Forward(windowedTest_.data(), spectrumTest_.data());
  for (int k = 0; k < BINS; ++k) {
    const size_t i = static_cast<size_t>(k);
    powerRef_[i] = std::norm(spectrumRef_[i]);
    powerTest_[i] = std::norm(spectrumTest_[i]);
    weightedRef_[i] = powerRef_[i] * tables_.earWeight[i];
    weightedTest_[i] = powerTest_[i] * tables_.earWeight[i];
    // The noise is the difference of the weighted magnitudes, not of the complex spectra.
    const double d = std::sqrt(weightedRef_[i]) - std::sqrt(weightedTest_[i]);
    noiseSpectrum_[i] = d * d;
  }
  earRef_.Process(weightedRef_.data());
  earTest_.Process(weightedTest_.data());
  GroupIntoBands(noiseSpectrum_.data(), tables_, noise_.data());
  adaptation_.Process(earRef_.Excitation(), earTest_.Excitation());
  modRef_.Process(earRef_.Unsmeared());
  modTest_.Process(earTest_.Unsmeared());

  const double* excRef = earRef_.Excitation();
  const double* modR = modRef_.Pattern();
  const double* modT = modTest_.Pattern();
  const double* averageRef = modRef_.Average();
  double diff1 = 0.0, diff2 = 0.0, weight = 0.0, nmr = 0.0, nmrMax = 0.0;
  for (int b = 0; b < BANDS; ++b) {
    const size_t i = static_cast<size_t>(b);
    const double diff = std::fabs(modT[b] - modR[b]);
    diff1 += diff / (1.0 + modR[b]);
    diff2 += (modT[b] >= modR[b] ? 1.0 : 0.1) * diff / (0.01 + modR[b]);
    weight += averageRef[b] / (averageRef[b] + 100.0 * tables_.internalNoise03[i]);
    const double ratio = noise_[i] / (excRef[b] * tables_.maskGain[i]);
    nmr += ratio;
    nmrMax = std::max(nmrMax, ratio);
  }
  out->modDiff1 = 100.0 / BANDS * diff1;
  out->modDiff2 = 100.0 / BANDS * diff2;
  out->modWeight = weight;
  out->nmr = nmr / BANDS;
  out->nmrMax = nmrMax;
  out->noiseLoudness = NoiseLoudness(adaptation_.Reference(), adaptation_.Test(), modR, modT, tables_);
  // Mask, loudness and detection use the excitation after forward masking (decision for the
  // loudness, which only gates the noise loudness); the modulation uses it before.
  out->loudnessRef = TotalLoudness(excRef, tables_);
  out->loudnessTest = TotalLoudness(earTest_.Excitation(), tables_);
  Bandwidths(powerRef_.data(), powerTest_.data(), out);
  out->energetic = NewestHalfEnergy(reference) >= FRAME_ENERGY_THRESHOLD || NewestHalfEnergy(test) >= FRAME_ENERGY_THRESHOLD;
  out->harmonics = out->energetic ? harmonics_.Frame(powerRef_.data(), powerTest_.data()) : 0.0;
  DetectionProbability(excRef, earTest_.Excitation(), probability_.data(), steps_.data());
}

}  // namespace ostrel::peaq
