#include "transform/windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace ostrel {
namespace {

TEST(WindowsTest, SinWinValuesAndPowerComplementarity) {
  float four[4];
  SinWin(four, 4);
  const double pi = 3.141592653589793;
  for (int n = 0; n < 4; ++n) EXPECT_EQ(four[n], static_cast<float>(std::sin((2 * n + 1) * pi / 8))) << n;
  EXPECT_NEAR(four[0], 0.382683, 1e-6);  // six-digit values
  EXPECT_NEAR(four[1], 0.923880, 1e-6);
  EXPECT_EQ(four[2], four[1]);
  EXPECT_EQ(four[3], four[0]);

  for (int size : {2048, 512, 64}) {
    SCOPED_TRACE(size);
    std::vector<float> win(size);
    SinWin(win.data(), size);
    for (int n = 0; n < size / 2; ++n) {
      ASSERT_EQ(win[n], win[size - 1 - n]) << n;
      // Two float roundings of values <= 1: the squares sum to 1 within 2^-23.
      ASSERT_NEAR(win[n] * static_cast<double>(win[n]) + win[n + size / 2] * static_cast<double>(win[n + size / 2]),
                  1.0, 1.2e-7) << n;
    }
  }
}

TEST(WindowsTest, VarSinWinWithEqualHalvesIsSinWin) {
  std::vector<float> var(256);
  std::vector<float> sine(256);
  VarSinWin(var.data(), 128, 128);
  SinWin(sine.data(), 256);
  EXPECT_EQ(var, sine);

  // Transition shape: rising long half, falling short half.
  std::vector<float> transition(640);
  std::vector<float> longWin(1024);
  std::vector<float> shortWin(256);
  VarSinWin(transition.data(), 512, 128);
  SinWin(longWin.data(), 1024);
  SinWin(shortWin.data(), 256);
  EXPECT_TRUE(std::equal(longWin.begin(), longWin.begin() + 512, transition.begin()));
  EXPECT_TRUE(std::equal(shortWin.begin() + 128, shortWin.end(), transition.begin() + 512));
}

TEST(WindowsTest, HammingIsPeriodic) {
  float win[4];
  Hamming(win, 4);
  EXPECT_FLOAT_EQ(win[0], 0.08f);
  EXPECT_FLOAT_EQ(win[1], 0.54f);
  EXPECT_FLOAT_EQ(win[2], 1.0f);
  EXPECT_FLOAT_EQ(win[3], 0.54f);
}

TEST(WindowsTest, FlatToppedWindowsAndTheirSynthesis) {
  std::vector<float> special(256);
  std::vector<float> general(256);
  Special(special.data());
  SpecialV(general.data(), 256, 32);
  EXPECT_EQ(special, general);

  std::vector<float> special128(128);
  std::vector<float> general128(128);
  Special_128(special128.data());
  SpecialV(general128.data(), 128, 16);
  EXPECT_EQ(special128, general128);

  // 2*O = N: two slopes and no flat part.
  std::vector<float> noFlat(64);
  std::vector<float> sine(64);
  SpecialV(noFlat.data(), 64, 32);
  SinWin(sine.data(), 64);
  for (int n = 0; n < 64; ++n) EXPECT_NEAR(noFlat[n], sine[n], 1e-7) << n;  // sin vs cos form

  std::vector<float> synth(256);
  Synthesis(synth.data(), special.data());
  for (int n = 32; n < 224; ++n) ASSERT_EQ(synth[n], 1.0f) << n;
  const double pi = 3.141592653589793;
  for (int n = 0; n < 32; ++n) {
    const double angle = (n + 0.5) * pi / 64;
    const double expected = 1.0 / (std::sin(angle) + std::cos(angle));
    EXPECT_NEAR(synth[n], expected, 2e-7) << n;  // float window values and float result
    EXPECT_EQ(synth[224 + n], synth[n]) << n;
    // Analysis times synthesis overlap-added at a hop of 224 is 1.
    EXPECT_NEAR(special[n] * synth[n] + special[224 + n] * synth[224 + n], 1.0, 3e-7) << n;
  }
}

TEST(WindowsTest, AC3WindowShapeAndListedRows) {
  std::vector<float> win(512);
  AC3Window(win.data());
  const struct {
    int k;
    float value;
  } rows[] = {{0, 0.000292561541f}, {1, 0.000758701935f}, {2, 0.00116500363f}, {31, 0.0371519215f},
              {63, 0.172599554f},   {127, 0.700166106f},  {191, 0.983007252f}, {255, 0.999999762f},
              {256, 0.99999994f},   {319, 0.984992087f},  {383, 0.713980019f}, {447, 0.183566839f},
              {510, 0.00106306095f}, {511, 0.00065482303f}};
  for (const auto& row : rows) EXPECT_EQ(win[row.k], row.value) << row.k;

  double maxAsymmetry = 0.0;
  for (int k = 0; k < 256; ++k) {
    if (k < 255) {
      ASSERT_LT(win[k], win[k + 1]) << k;
      ASSERT_GT(win[256 + k], win[257 + k]) << k;
    }
    ASSERT_NEAR(win[k] * static_cast<double>(win[k]) + win[k + 256] * static_cast<double>(win[k + 256]), 1.0, 1e-7) << k;
    maxAsymmetry = std::max(maxAsymmetry, std::fabs(static_cast<double>(win[k]) - win[511 - k]));
  }
  EXPECT_GT(maxAsymmetry, 0.005);
  EXPECT_LT(maxAsymmetry, 0.0069);
}

}  // namespace
}  // namespace ostrel
