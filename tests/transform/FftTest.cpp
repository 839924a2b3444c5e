#include "transform/fft.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "transform/DeathTestOutput.h"
#include "transform/ReferenceDft.h"

namespace ostrel {
namespace {

using test::Complex;
using testing::ExitedWithCode;

std::vector<Complex> ToComplex(const std::vector<float>& interleaved) {
  std::vector<Complex> z(interleaved.size() / 2);
  for (size_t k = 0; k < z.size(); ++k) z[k] = Complex(interleaved[2 * k], interleaved[2 * k + 1]);
  return z;
}

// Every length the transforms meet: the power-of-two CompFFT lengths of the three rates and the
// fftl lengths of transient detection, plus the odd-factor lengths of the transition blocks.
const int kPowerOfTwoLengths[] = {16, 32, 64, 128, 256, 512};
const int kMixedLengths[] = {80, 160, 320, 5, 15};

// Float storage of every intermediate, with twiddles from float rotation recurrences whose error
// grows with the number of steps: 107 dB at 256 to 512 points, over 130 dB at 16. 100 dB leaves
// margin while any wrong index, sign or twiddle drops the ratio far below 40 dB.
constexpr double kMinSnrDb = 100.0;

TEST(FftTest, FFTAndCompFFTMatchDirectDft) {
  for (bool mixed : {false, true}) {
    std::vector<int> lengths(std::begin(kPowerOfTwoLengths), std::end(kPowerOfTwoLengths));
    if (mixed) lengths.insert(lengths.end(), std::begin(kMixedLengths), std::end(kMixedLengths));
    for (int nn : lengths) {
      for (int isign : {1, -1}) {
        const uint32_t seed = 1000u + nn;
        SCOPED_TRACE("nn " + std::to_string(nn) + " isign " + std::to_string(isign) + " seed " +
                     std::to_string(seed) + (mixed ? " CompFFT" : " FFT"));
        std::vector<float> data = test::Noise(2 * nn, seed);
        const std::vector<Complex> expected = test::DirectDft(ToComplex(data), isign);
        if (mixed) {
          CompFFT(data.data(), nn, isign);
        } else {
          FFT(data.data(), nn, isign);
        }
        EXPECT_GT(test::SnrDb(ToComplex(data), expected), kMinSnrDb);
      }
    }
  }
}

TEST(FftTest, FFTSmallestLengthsAreExact) {
  float one[2] = {0.25f, -3.0f};
  FFT(one, 1, 1);
  EXPECT_EQ(one[0], 0.25f);
  EXPECT_EQ(one[1], -3.0f);
  for (int isign : {1, -1}) {
    float two[4] = {1.5f, 2.0f, 0.25f, -1.0f};
    FFT(two, 2, isign);
    EXPECT_EQ(two[0], 1.75f);
    EXPECT_EQ(two[1], 1.0f);
    EXPECT_EQ(two[2], 1.25f);
    EXPECT_EQ(two[3], 3.0f);
  }
}

// The step cosine of each stage is (1 - s*s) - s*s in float, s = sin of the half angle. For the
// quarter turn s*s = 0.5 - 2^-25, 1 - s*s rounds to 0.5, and cos comes out as 2^-25 (2^-24 if
// the sums were carried in double). A unit impulse at element 1 of a 4-point transform returns that step
// unchanged as X[1], so its bits show how the step was formed.
TEST(FftTest, FFTStageStepIsFormedInFloat) {
  for (int isign : {1, -1}) {
    SCOPED_TRACE(isign);
    float data[8] = {0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    FFT(data, 4, isign);
    EXPECT_EQ(data[2], 0x1p-25f);
    EXPECT_EQ(data[3], static_cast<float>(isign));
    EXPECT_EQ(data[6], -0x1p-25f);
    EXPECT_EQ(data[7], -static_cast<float>(isign));
  }
}

// Both signs share every twiddle up to an exact negation, so the negative-sign transform is the
// conjugate of the positive one on conjugated input, bit for bit.
TEST(FftTest, CompFFTNegativeSignIsExactConjugate) {
  for (int nn : {320, 512, 15}) {
    SCOPED_TRACE(nn);
    const std::vector<float> input = test::Noise(2 * nn, 77);
    std::vector<float> negative = input;
    std::vector<float> conjugated = input;
    for (int k = 0; k < nn; ++k) conjugated[2 * k + 1] = -conjugated[2 * k + 1];
    CompFFT(negative.data(), nn, -1);
    CompFFT(conjugated.data(), nn, 1);
    for (int k = 0; k < nn; ++k) {
      ASSERT_EQ(negative[2 * k], conjugated[2 * k]) << k;
      ASSERT_EQ(negative[2 * k + 1], -conjugated[2 * k + 1]) << k;
    }
  }
}

TEST(FftTest, CompFFTOfNoPointsLeavesDataAlone) {
  float data[2] = {1.0f, 2.0f};
  CompFFT(data, 0, 1);
  EXPECT_EQ(data[0], 1.0f);
  EXPECT_EQ(data[1], 2.0f);
}

TEST(FftTest, FftlMatchesDirectDftAndIfftUndoesIt) {
  for (int N : {64, 128, 256, 512, 1024, 2048, 4096}) {
    const uint32_t seed = 2000u + N;
    SCOPED_TRACE("N " + std::to_string(N) + " seed " + std::to_string(seed));
    const std::vector<float> re = test::Noise(N, seed);
    const std::vector<float> im = test::Noise(N, seed + 1);
    std::vector<Complex> z(N);
    for (int n = 0; n < N; ++n) z[n] = Complex(re[n], im[n]);
    const std::vector<Complex> expected = test::DirectDft(z, -1);

    std::vector<float> xr = re;
    std::vector<float> xi = im;
    fftl(xr.data(), xi.data(), N);
    std::vector<Complex> X(N);
    for (int k = 0; k < N; ++k) X[k] = Complex(xr[k], xi[k]);
    // The twiddle recurrence runs over up to N/2 steps: 97 dB at 4096 points, 110 dB and more
    // at the lengths the codec uses.
    EXPECT_GT(test::SnrDb(X, expected), 90.0);

    ifft(xr.data(), xi.data(), N);
    std::vector<Complex> back(N);
    for (int n = 0; n < N; ++n) back[n] = Complex(xr[n], xi[n]);
    // Two transforms' rounding: 92 dB at 4096 points.
    EXPECT_GT(test::SnrDb(back, z), 85.0);
  }
}

TEST(FftTest, FftlBandPowerIsTheSumOverFftlsOutputsBitForBit) {
  for (int N = 64; N <= 4096; N *= 2) {
    std::vector<float> re(N), im(N);
    for (int n = 0; n < N; ++n) {
      re[n] = static_cast<float>(((n * 7919) % 1000) - 500) * 0.37f;
      im[n] = n % 3 == 0 ? 0.0f : static_cast<float>((n * 104729) % 777) * 0.01f;
    }
    std::vector<float> re2 = re, im2 = im;
    fftl(re.data(), im.data(), N);
    for (const auto& [first, last] : {std::pair<int, int>{N / 6, N / 2}, {0, N / 2}, {3, 4}, {5, 5}}) {
      float expected = 0.0f;
      for (int k = first; k < last; ++k) expected = expected + (re[k] * re[k] + im[k] * im[k]);
      std::vector<float> r = re2, i = im2;
      EXPECT_EQ(fftlBandPower(r.data(), i.data(), N, first, last), expected) << N << " " << first << ".." << last;
    }
  }
}

TEST(FftTest, Fft640MatchesDirectDft) {
  const std::vector<float> re = test::Noise(640, 640);
  const std::vector<float> im = test::Noise(640, 641);
  std::vector<Complex> z(640);
  for (int n = 0; n < 640; ++n) z[n] = Complex(re[n], im[n]);
  const std::vector<Complex> expected = test::DirectDft(z, -1);
  std::vector<float> xr = re;
  std::vector<float> xi = im;
  fft640(xr.data(), xi.data());
  std::vector<Complex> X(640);
  for (int k = 0; k < 640; ++k) X[k] = Complex(xr[k], xi[k]);
  EXPECT_GT(test::SnrDb(X, expected), kMinSnrDb);

  // An impulse only ever meets unit twiddles and exact additions: every bin is exactly 1.
  std::vector<float> ir(640, 0.0f);
  std::vector<float> ii(640, 0.0f);
  ir[0] = 1.0f;
  fft640(ir.data(), ii.data());
  for (int k = 0; k < 640; ++k) {
    ASSERT_EQ(ir[k], 1.0f) << k;
    ASSERT_EQ(ii[k], 0.0f) << k;
  }
}

TEST(FftTest, Iceil) {
  EXPECT_EQ(iceil(2.0f), 2);
  EXPECT_EQ(iceil(2.25f), 3);
  EXPECT_EQ(iceil(0.0f), 0);
  EXPECT_EQ(iceil(0.001f), 1);
  EXPECT_EQ(iceil(1023.5f), 1024);
  EXPECT_EQ(iceil(-1.5f), 0);  // truncation plus one, as documented
  EXPECT_EQ(iceil(-2.0f), -2);
}

TEST(FftDeathTest, UnsupportedLengthsEndTheProcess) {
  for (int N : {32, 8192, 100}) {
    SCOPED_TRACE(N);
    std::vector<float> xr(8192, 0.0f);
    std::vector<float> xi(8192, 0.0f);
    EXPECT_EXIT((test::StdoutToStderr(), fftl(xr.data(), xi.data(), N)), ExitedWithCode(1),
                testing::Eq(std::string("FFT ERROR!\n")));
    EXPECT_EXIT((test::StdoutToStderr(), ifft(xr.data(), xi.data(), N)), ExitedWithCode(1),
                testing::Eq(std::string("FFT ERROR!\n")));
  }
}

}  // namespace
}  // namespace ostrel
