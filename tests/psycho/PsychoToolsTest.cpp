#include "psycho/PsychoTools.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>  // must not make the calls to ostrel::round below ambiguous
#include <limits>
#include <vector>

namespace ostrel {
namespace {

std::vector<int> Bands(int N, float Res = 1.0f) {
  int count = 0;
  std::unique_ptr<int[]> lines = CriticalBands(N, Res, 44100, &count);
  return std::vector<int>(lines.get(), lines.get() + count);
}

TEST(CriticalBands, BandLayoutOfEveryTransformSize) {
  const int sizes[] = {2048, 1280, 1024, 640, 512, 320, 256, 128};
  const size_t counts[] = {24, 24, 23, 23, 21, 22, 21, 16};
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(sizes[i]);
    const std::vector<int> lines = Bands(sizes[i]);
    EXPECT_EQ(lines.size(), counts[i]);
    int sum = 0;
    for (int c : lines) sum += c;
    EXPECT_EQ(sum, sizes[i] / 2);
  }
  EXPECT_EQ(Bands(2048), (std::vector<int>{5, 5, 5, 6, 6, 6, 7, 7, 8, 9, 11, 13, 15, 19, 23, 28, 34,
                                           40, 46, 55, 70, 101, 176, 329}));
  EXPECT_EQ(Bands(1280).back(), 11);
  EXPECT_EQ(Bands(640).back(), 1);
}

TEST(CriticalBands, NonPositiveResolutionGivesOneLinePerBand) {
  // Would never advance the scan if a band could start without a line.
  for (float res : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
    EXPECT_EQ(Bands(128, res), std::vector<int>(64, 1));
  }
}

TEST(SetAbthr, ThresholdInQuiet) {
  // 20480 Hz and N = 2048 put line n at n / 100 kHz.
  std::vector<float> quiet(1024), raised(1024);
  SetAbthr(quiet.data(), 2048, 20480, 0.0f);
  SetAbthr(raised.data(), 2048, 20480, 12.5f);
  const struct { int line; double dB; } points[] = {{0, 18.19}, {100, 3.37}, {330, -4.98}, {1000, 10.58}};
  for (const auto& p : points) {
    SCOPED_TRACE(p.line);
    EXPECT_NEAR(10.0 * std::log10(quiet[p.line]), p.dB, 0.006);  // the values are given to 0.01 dB
    // float rounding of dB and of the power: well under 1e-4 dB
    EXPECT_NEAR(10.0 * std::log10(raised[p.line] / quiet[p.line]), 12.5, 1e-4);
  }
}

TEST(Spreading, DiagonalCutOffAndAsymmetry) {
  const std::vector<int> lines = Bands(2048);
  const int count = static_cast<int>(lines.size());
  std::vector<float> cbval(count), store(count * count);
  std::vector<float*> B(count);
  for (int n = 0; n < count; ++n) B[n] = &store[n * count];
  SetCBval(cbval.data(), lines.data(), 44100, 2048, count);
  Spreading(B.data(), cbval.data(), count);
  for (int n = 1; n < count; ++n) EXPECT_GT(cbval[n], cbval[n - 1] + 0.5f);
  for (int n = 0; n < count; ++n) {
    for (int k = 0; k < count; ++k) {
      SCOPED_TRACE(::testing::Message() << "n=" << n << " k=" << k);
      const double dz = static_cast<double>(cbval[n]) - cbval[k] + 0.474;
      const double main = 15.811389 + 7.5 * dz - 17.5 * std::sqrt(1.0 + dz * dz);
      if (main < -100.001) {
        EXPECT_EQ(B[n][k], 0.0f);
      } else if (main > -99.999) {
        EXPECT_GT(B[n][k], 0.0f);
      }
    }
    EXPECT_NEAR(B[n][n], 1.0f, 1e-5f);  // the main term is 0 dB to six decimals at distance 0
  }
  // Masking reaches further upward than downward, even through the dip two bands above.
  EXPECT_GT(B[12][10], 10.0f * B[10][12]);
  EXPECT_GT(B[16][12], 0.0f);
  EXPECT_EQ(B[6][12], 0.0f);
}

TEST(TonalTable, LooksUpTheIntegerBarkValue) {
  const float cbval[] = {0.3f, 4.99f, 5.0f, 6.5f, 7.1f, 8.9f, 9.2f, 9.99f, 10.0f, 23.9f, 24.0f, 25.7f};
  const double dB[] = {20.0, 20.0, 17.0, 15.0, 10.0, 7.0, 4.4, 4.4, 4.5, 4.5, 3.5, 3.5};
  float tonal[12];
  TonalTable(tonal, cbval, 12);
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(10.0 * std::log10(tonal[i]), dB[i], 1e-5) << cbval[i];
}

TEST(Round, HalvesRoundUpward) {
  const struct { float in; int out; } cases[] = {{0.5f, 1}, {-0.5f, 0}, {1.49f, 1}, {-2.5f, -2}, {2.5f, 3},
      {-2.6f, -3}, {0.0f, 0}, {-0.0f, 0}, {8388607.5f, 8388608}, {-8388607.5f, -8388607},
      {3e9f, INT_MAX}, {-3e9f, INT_MIN}, {std::numeric_limits<float>::quiet_NaN(), 0}};
  for (const auto& c : cases) EXPECT_EQ(ostrel::round(c.in), c.out) << c.in;
}

TEST(WeightQuantiser, CodesAndTheirDecodedWeights) {
  const struct { float in; int out; } cases[] = {{0.0f, -32}, {-5.0f, -32}, {1.0f, 0}, {1e30f, 223}, {10.0f, 8},
      {1e-30f, -32}, {std::numeric_limits<float>::infinity(), 223}, {std::numeric_limits<float>::quiet_NaN(), -32}};
  for (const auto& c : cases) EXPECT_EQ(CompressWeights(c.in), c.out) << c.in;

  EXPECT_EQ(DecompressWeights(0), 1.0f);
  EXPECT_EQ(DecompressWeights(15), 10.0f);
  for (int c = WEIGHT_CODE_MIN; c <= WEIGHT_CODE_MAX; ++c) {
    const double exact = std::pow(10.0, c / 15.0);
    EXPECT_NEAR(DecompressWeights(c) / exact, 1.0, 6e-8) << c;  // one float rounding
    // Decoding a code's own power level gives the code back.
    EXPECT_EQ(CompressWeights(static_cast<float>(exact * exact)), c);
  }
  // A damaged stream must not make the lookup leave the table.
  EXPECT_EQ(DecompressWeights(-33), DecompressWeights(-32));
  EXPECT_EQ(DecompressWeights(INT_MIN), DecompressWeights(-32));
  EXPECT_EQ(DecompressWeights(INT_MAX), DecompressWeights(223));
}

}  // namespace
}  // namespace ostrel
