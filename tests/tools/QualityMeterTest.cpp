// The perceptual quality meter behind ostrelcmp's grade: what any faithful implementation of the
// method must show (a signal against itself at the top of the scale, a grade that rises as added
// noise falls, lost bandwidth seen by the bandwidth variables), the network against a hand
// computation from its weights, and the 44.1 -> 48 kHz path keeping the signals aligned.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include "tools/peaq/Fft.h"
#include "tools/peaq/ModelTables.h"
#include "tools/peaq/QualityMeter.h"
#include "tools/peaq/QualityNetwork.h"
#include "tools/peaq/Resampler.h"

namespace ostrel::test {
namespace {

using peaq::Channels;

constexpr double PI = 3.14159265358979323846;

// A chord whose notes (up to 2.4 kHz) swell and fade at different rates, in both channels.
Channels Chord(size_t length, double rate) {
  Channels x(2, std::vector<double>(length));
  const double notes[] = {196.0, 246.9, 293.7, 392.0, 587.3, 1174.7, 2349.3};
  for (size_t i = 0; i < length; ++i) {
    const double t = double(i) / rate;
    for (size_t c = 0; c < 2; ++c) {
      for (int k = 0; k < 7; ++k) {
        const double swell = 0.6 + 0.4 * std::sin(2.0 * PI * (0.7 + 0.3 * k) * t + k + double(c));
        x[c][i] += 1800.0 / (1 + k % 3) * swell * std::sin(2.0 * PI * notes[k] * (1.0 + 0.002 * double(c)) * t);
      }
    }
  }
  return x;
}

// Adds periodic noise (length a power of two) with a flat spectrum from lowHz to highHz and the
// given rms to both channels (independent noise in each).
void AddBandNoise(Channels* x, double rate, double lowHz, double highHz, double rms, unsigned seed) {
  const size_t length = (*x)[0].size();
  const peaq::Fft fft(static_cast<int>(length));
  std::mt19937 rng(seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  for (std::vector<double>& channel : *x) {
    std::vector<double> re(length, 0.0), im(length, 0.0);
    for (size_t k = 1; k < length / 2; ++k) {
      const double hz = double(k) * rate / double(length);
      if (hz < lowHz || hz >= highHz) continue;
      re[k] = re[length - k] = gauss(rng);
      im[k] = gauss(rng);
      im[length - k] = -im[k];
    }
    fft.Forward(re.data(), im.data());  // a real spectrum's transform is its inverse, mirrored and scaled
    double power = 0.0;
    for (double v : re) power += v * v;
    const double gain = rms / std::sqrt(power / double(length));
    for (size_t n = 0; n < length; ++n) channel[n] += gain * re[n];
  }
}

constexpr size_t LENGTH = 1 << 17;  // 2.7 s at 48 kHz

// The chord over a quiet noise floor that reaches 20 kHz (as recordings' spectra end) and a
// quieter white floor to 24 kHz (as a converter's): inaudible, but there for the bandwidth variables.
Channels Music(unsigned seed = 1) {
  Channels x = Chord(LENGTH, peaq::SAMPLE_RATE);
  AddBandNoise(&x, peaq::SAMPLE_RATE, 20.0, 12000.0, 3.0, seed);
  AddBandNoise(&x, peaq::SAMPLE_RATE, 12000.0, 20000.0, 0.3, seed + 1);
  AddBandNoise(&x, peaq::SAMPLE_RATE, 0.0, 24000.0, 0.03, seed + 2);
  return x;
}

Channels WithNoise(const Channels& x, double rms, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, rms);
  Channels y = x;
  for (std::vector<double>& c : y) {
    for (double& v : c) v += noise(rng);
  }
  return y;
}

peaq::Quality Grade(const Channels& reference, const Channels& test, int rate = peaq::SAMPLE_RATE) {
  peaq::Quality q;
  std::string error;
  EXPECT_TRUE(peaq::MeasureQuality(reference, test, rate, 0.0, &q, &error)) << error;
  return q;
}

TEST(QualityMeter, ASignalAgainstItselfGradesAtTheTopOfTheScale) {
  const Channels music = Music();
  const peaq::Quality q = Grade(music, music);
  EXPECT_GT(q.grade.odg, 0.1);  // the network's ceiling is +0.22
  EXPECT_LE(q.grade.odg, 0.22);
  // Nothing differs: every distortion measure is exactly 0, both bandwidths the same.
  for (peaq::Mov m : {peaq::WIN_MOD_DIFF1, peaq::ADB, peaq::EHS, peaq::AVG_MOD_DIFF1, peaq::AVG_MOD_DIFF2,
                      peaq::RMS_NOISE_LOUD, peaq::MFPD, peaq::REL_DIST_FRAMES}) {
    EXPECT_EQ(q.movs[m], 0.0) << peaq::MOV_NAMES[m];
  }
  EXPECT_GT(q.movs[peaq::BANDWIDTH_REF], 800.0);
  EXPECT_EQ(q.movs[peaq::BANDWIDTH_TEST], q.movs[peaq::BANDWIDTH_REF]);
  EXPECT_LT(q.movs[peaq::TOTAL_NMR], -60.0);
}

TEST(QualityMeter, WhiteNoiseAtFallingLevelsGivesARisingGrade) {
  const Channels music = Music();
  double previous = -10.0;
  // From 20 dB under the music (about -44 dB full scale) to 60 dB further down.
  for (double rms : {300.0, 100.0, 30.0, 10.0, 3.0, 1.0, 0.3}) {
    SCOPED_TRACE(rms);
    const peaq::Quality q = Grade(music, WithNoise(music, rms, 5));
    EXPECT_GT(q.grade.odg, previous + 0.02);
    previous = q.grade.odg;
    if (rms == 300.0) {
      EXPECT_LT(q.grade.odg, -3.5);  // very annoying
    }
  }
  EXPECT_GT(previous, 0.0);  // near the floor of the recording: imperceptible
}

TEST(QualityMeter, ABandLimitedCopyMovesTheBandwidthVariables) {
  // Two copies that differ from the reference as a coder's output would (another white floor);
  // one of them also stops at 12 kHz.
  const Channels music = Music();
  Channels full = Chord(LENGTH, peaq::SAMPLE_RATE), cut = full;
  AddBandNoise(&full, peaq::SAMPLE_RATE, 20.0, 12000.0, 3.0, 1);
  AddBandNoise(&cut, peaq::SAMPLE_RATE, 20.0, 12000.0, 3.0, 1);
  AddBandNoise(&full, peaq::SAMPLE_RATE, 12000.0, 20000.0, 0.3, 2);
  AddBandNoise(&full, peaq::SAMPLE_RATE, 0.0, 24000.0, 0.03, 7);
  AddBandNoise(&cut, peaq::SAMPLE_RATE, 0.0, 24000.0, 0.03, 7);
  const peaq::Quality a = Grade(music, full), b = Grade(music, cut);
  // The reference reaches 20 kHz (853 bins of 23.4 Hz) in both; the cut copy stops near 12 kHz.
  EXPECT_NEAR(a.movs[peaq::BANDWIDTH_REF], 853.0, 10.0);
  EXPECT_NEAR(b.movs[peaq::BANDWIDTH_REF], 853.0, 10.0);
  EXPECT_NEAR(a.movs[peaq::BANDWIDTH_TEST], 853.0, 10.0);
  EXPECT_NEAR(b.movs[peaq::BANDWIDTH_TEST], 512.0, 10.0);
  // What went was below the threshold of hearing: the noise stays far under the mask, the
  // modulation, noise loudness and detection variables barely move, and so does the grade.
  EXPECT_LT(b.movs[peaq::TOTAL_NMR], -20.0);
  EXPECT_EQ(b.movs[peaq::REL_DIST_FRAMES], 0.0);
  EXPECT_NEAR(b.movs[peaq::AVG_MOD_DIFF1], a.movs[peaq::AVG_MOD_DIFF1], 0.1);
  EXPECT_NEAR(b.movs[peaq::RMS_NOISE_LOUD], a.movs[peaq::RMS_NOISE_LOUD], 0.01);
  EXPECT_EQ(b.movs[peaq::ADB], a.movs[peaq::ADB]);
  EXPECT_NEAR(b.grade.odg, a.grade.odg, 0.1);
}

TEST(QualityMeter, TheRealTransformMatchesTheDefinition) {
  std::mt19937 rng(3);
  std::normal_distribution<double> gauss(0.0, 1000.0);
  std::vector<double> x(256);
  for (double& v : x) v = gauss(rng);
  peaq::RealFft fft(256);
  std::vector<std::complex<double>> out(129);
  fft.Forward(x.data(), out.data());
  for (size_t k = 0; k < out.size(); ++k) {
    std::complex<double> sum = 0.0;
    for (size_t n = 0; n < x.size(); ++n) sum += x[n] * std::polar(1.0, -2.0 * PI * double(k * n % 256) / 256.0);
    EXPECT_LT(std::abs(sum - out[k]), 1e-9 * 1000.0 * 16.0) << k;  // far under a 16-bit unit
  }
}

TEST(QualityNetwork, MatchesTheWeightsComputedByHand) {
  // Every variable at the bottom of its scaling range: the hidden units see only their biases,
  // DI = -0.307594 - 3.817048 s(-2.518254) + 4.107138 s(0.654841) + 4.629582 s(-2.207228).
  peaq::Movs low = {393.916656, 361.965332, -24.045116, 1.110661, -0.206623, 0.074318,
                    1.113683,   0.950345,   0.029985,   0.000101, 0.0};
  peaq::Grade g = peaq::NetworkGrade(low);
  EXPECT_NEAR(g.di, 2.569415132, 1e-8);
  EXPECT_NEAR(g.odg, -0.078758341, 1e-8);
  // Every variable at the top: each hidden unit adds its column of input weights.
  peaq::Movs high = {921.0, 881.131226, 16.212030, 107.137772, 2.886017, 13.933351,
                     63.257874, 1145.018555, 14.819740, 1.0, 1.0};
  g = peaq::NetworkGrade(high);
  EXPECT_NEAR(g.di, -4.120587671, 1e-8);
  EXPECT_NEAR(g.odg, -3.912902449, 1e-8);
}

TEST(QualityMeter, ResamplingTo48kHzKeepsTheSignalInPlace) {
  if (!peaq::CanResample()) GTEST_SKIP() << "built without libsoxr";
  // A 997 Hz sine made at 44.1 kHz comes out as the same sine made at 48 kHz, sample for sample:
  // one sample of delay would leave an error of 13 % of the amplitude.
  const double amplitude = 10000.0;
  std::vector<double> at44(44100);
  for (size_t i = 0; i < at44.size(); ++i) at44[i] = amplitude * std::sin(2.0 * PI * 997.0 * double(i) / 44100.0);
  Channels out;
  std::string error;
  ASSERT_TRUE(peaq::ResampleTo48k({at44.data()}, at44.size(), 44100, &out, &error)) << error;
  ASSERT_EQ(out.size(), 1u);
  ASSERT_EQ(out[0].size(), 48000u);
  double worst = 0.0;
  for (size_t i = 2000; i < 46000; ++i) {  // away from the ends, where the filter sees the cut
    worst = std::max(worst, std::fabs(out[0][i] - amplitude * std::sin(2.0 * PI * 997.0 * double(i) / 48000.0)));
  }
  EXPECT_LT(worst, amplitude * 1e-4);

  // Graded at 44.1 kHz: a copy low-passed at 11 kHz measures as such against a source reaching
  // 20 kHz (the resampled signals carry a 16-bit floor above 21.6 kHz, as a 48 kHz file would).
  Channels full = Chord(LENGTH, 44100.0), cut = full;
  AddBandNoise(&full, 44100.0, 20.0, 11000.0, 30.0, 4);
  AddBandNoise(&cut, 44100.0, 20.0, 11000.0, 30.0, 4);
  AddBandNoise(&full, 44100.0, 11000.0, 20000.0, 30.0, 5);
  const peaq::Quality lowPassed = Grade(full, cut, 44100);
  EXPECT_NEAR(lowPassed.movs[peaq::BANDWIDTH_REF], 20000.0 / 23.4375, 10.0);
  EXPECT_NEAR(lowPassed.movs[peaq::BANDWIDTH_TEST], 11000.0 / 23.4375, 10.0);

  // And the same comparisons order as at 48 kHz.
  Channels music = Chord(3 * 44100, 44100.0);
  const peaq::Quality self = Grade(music, music, 44100);
  const peaq::Quality noisy = Grade(music, WithNoise(music, 120.0, 9), 44100);
  EXPECT_GT(self.grade.odg, 0.1);
  EXPECT_LT(noisy.grade.odg, self.grade.odg - 0.5);
}

}  // namespace
}  // namespace ostrel::test
