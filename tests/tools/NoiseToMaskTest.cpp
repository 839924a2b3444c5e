// The comparator's ear model: its level calibration, and noise heard or masked next to a tone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "tools/NoiseToMask.h"
#include "tools/PerceptualModel.h"

namespace ostrel::tools {
namespace {

constexpr double RATE = 44100.0;  // samples per second
constexpr size_t SECOND = 44100;  // samples

// A sine of `hz` at `amplitude` (16-bit scale), `samples` long.
std::vector<double> Sine(size_t samples, double hz, double amplitude) {
  std::vector<double> s(samples);
  for (size_t n = 0; n < samples; ++n) s[n] = amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(n) / RATE);
  return s;
}

// Noise within `lowHz` .. `highHz` at the RMS `rms`: 32 sines of seeded random frequency and phase.
std::vector<double> NarrowNoise(size_t samples, double lowHz, double highHz, double rms, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> freq(lowHz, highHz), phase(0.0, 2.0 * M_PI);
  constexpr int PARTIALS = 32;
  std::vector<double> s(samples, 0.0);
  const double amplitude = rms * std::sqrt(2.0 / PARTIALS);
  for (int p = 0; p < PARTIALS; ++p) {
    const double hz = freq(rng), ph = phase(rng);
    for (size_t n = 0; n < samples; ++n) s[n] += amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(n) / RATE + ph);
  }
  return s;
}

TEST(PerceptualModel, AFullScaleSineReads96DbSplAndTheBandsCoverTheSpectrum) {
  const PerceptualModel model(RATE);
  ASSERT_EQ(model.BandCount(), 25);  // Bark 0 .. 24.7 up to 22050 Hz
  for (int b = 1; b < model.BandCount(); ++b) EXPECT_GT(model.BandLowHz(b), model.BandHighHz(b - 1));
  for (double hz : {100.0, 1000.0, 9000.0}) {
    SCOPED_TRACE(hz);
    const std::vector<double> sine = Sine(EAR_WINDOW, hz, 32768.0);
    std::vector<double> power, energies;
    model.PowerSpectrum(sine.data(), power);
    model.BandEnergies(power, energies);
    double total = 0.0;
    for (double e : energies) total += e;
    // Off-bin frequencies leak a little into the DC line, which no band holds: 0.1 dB.
    EXPECT_NEAR(10.0 * std::log10(total), FULL_SCALE_SINE_SPL, 0.1);
  }
}

// A 1 kHz tone at 8000 (about 84 dB SPL) with noise in its own Bark band (920 .. 1080 Hz): 50 dB
// under the tone it lies far below the tonal mask (about 23 dB under the tone); 5 dB under the tone
// it lies far above it. Both channels carry the same signals.
TEST(NoiseToMask, NoiseUnderAToneIsMaskedFarBelowAndAudibleFarAbove) {
  const PerceptualModel model(RATE);
  const std::vector<double> tone = Sine(SECOND, 1000.0, 8000.0);
  const double toneRms = 8000.0 / std::sqrt(2.0);
  const int toneBand = static_cast<int>(PerceptualModel::Bark(1000.0));
  for (double belowDb : {50.0, 5.0}) {
    SCOPED_TRACE(belowDb);
    const std::vector<double> noise = NarrowNoise(SECOND, 960.0, 1040.0, toneRms * std::pow(10.0, -belowDb / 20.0), 7);
    std::vector<double> decoded(SECOND);
    for (size_t n = 0; n < SECOND; ++n) decoded[n] = tone[n] + noise[n];
    const NmrMap map = MeasureNmr(model, {tone, tone}, {decoded, decoded}, SECOND);
    ASSERT_EQ(map.frames, static_cast<int>((SECOND - 1) / EAR_HOP + 2));
    // Fed in blocks that do not line up with the windows, the meter measures the same.
    NmrMeter meter(model, 2);
    for (size_t at = 0; at < SECOND; at += 1000) {
      const size_t n = std::min<size_t>(1000, SECOND - at);
      const double* const s[2] = {&tone[at], &tone[at]};
      const double* const d[2] = {&decoded[at], &decoded[at]};
      meter.Add(s, d, n);
    }
    const NmrMap blocks = meter.Finish();
    ASSERT_EQ(blocks.frames, map.frames);
    for (size_t i = 0; i < map.ratio.size(); ++i) ASSERT_DOUBLE_EQ(blocks.ratio[i], map.ratio[i]) << i;
    const NmrSummary summary = Summarise(map, 3);
    ASSERT_EQ(summary.worstBands.size(), 3u);
    EXPECT_EQ(summary.worstBands[0].first, toneBand);
    if (belowDb == 50.0) {
      EXPECT_LT(summary.worstBands[0].second, -15.0);
      EXPECT_LT(summary.totalDb, -25.0);
      EXPECT_EQ(summary.audibleFrames, 0);
    } else {
      EXPECT_GT(summary.worstBands[0].second, 10.0);
      EXPECT_GT(summary.totalDb, 0.0);
      EXPECT_GE(summary.audibleShare, 0.9);
    }
  }
}

}  // namespace
}  // namespace ostrel::tools
