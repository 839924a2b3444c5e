#include "transform/mdct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "transform/ReferenceDft.h"

namespace ostrel {
namespace {

struct Split {
  int N;
  int b;
};

// The codec's blocks (long, transition in both directions, short, at all three rates) and
// small lengths with every kind of split, including the extremes b = 4 and b = N - 4.
const Split kSplits[] = {{2048, 1024}, {1280, 256}, {1280, 1024}, {512, 256},  {1024, 512},
                         {640, 128},   {640, 512},  {256, 128},   {320, 64},   {320, 256},
                         {128, 64},    {16, 8},     {16, 4},      {16, 12},    {40, 8},
                         {40, 32},     {64, 4},     {64, 60}};

// Float pre/post rotations by recurrence over N/4 steps on top of the DFT's error: 100 dB at the
// 640-point transition blocks (the odd-factor recombination dominates), 106 dB and more
// elsewhere. A wrong fold index or rotation direction gives a ratio near 0 dB.
constexpr double kMinSnrDb = 95.0;

TEST(MdctTest, ForwardMatchesDefinitionAndMirrorsUpperHalf) {
  for (const Split& split : kSplits) {
    const uint32_t seed = 31u * split.N + split.b;
    SCOPED_TRACE("N " + std::to_string(split.N) + " b " + std::to_string(split.b) + " seed " +
                 std::to_string(seed));
    const std::vector<float> x = test::Noise(split.N, seed);
    const std::vector<double> expected = test::MdctForwardReference(x, split.N, split.b);
    std::vector<float> data = x;
    mdct(data.data(), split.N, split.b, 1);
    const std::vector<float> coefficients(data.begin(), data.begin() + split.N / 2);
    EXPECT_GT(test::SnrDb(coefficients, expected), kMinSnrDb);
    for (int k = 0; k < split.N / 2; ++k) ASSERT_EQ(data[split.N - 1 - k], -data[k]) << k;
  }
}

TEST(MdctTest, InverseMatchesDefinition) {
  for (const Split& split : kSplits) {
    const uint32_t seed = 17u * split.N + split.b;
    SCOPED_TRACE("N " + std::to_string(split.N) + " b " + std::to_string(split.b) + " seed " +
                 std::to_string(seed));
    std::vector<float> data = test::Noise(split.N, seed);
    const std::vector<double> expected = test::MdctInverseReference(data, split.N, split.b);
    // The inverse reads only the lower half; garbage above must not leak into the result.
    std::fill(data.begin() + split.N / 2, data.end(), 1e30f);
    mdct(data.data(), split.N, split.b, -1);
    EXPECT_GT(test::SnrDb(data, expected), kMinSnrDb);
  }
}

// Inverse after forward leaves the input plus its aliases folded about the middle of the left
// slope (odd) and of the right slope (even): the property the overlap-add relies on.
TEST(MdctTest, RoundTripLeavesFoldedAliases) {
  for (const Split& split : kSplits) {
    SCOPED_TRACE("N " + std::to_string(split.N) + " b " + std::to_string(split.b));
    const int N = split.N;
    const int a = N - split.b;
    const std::vector<float> x = test::Noise(N, 99u + N);
    std::vector<float> data = x;
    mdct(data.data(), N, split.b, 1);
    mdct(data.data(), N, split.b, -1);
    double maxError = 0.0;
    for (int n = 0; n < N; ++n) {
      const double expected = n < a ? x[n] - x[a - 1 - n] : x[n] + x[2 * N - split.b - 1 - n];
      maxError = std::max(maxError, std::fabs(data[n] - expected));
    }
    // Inputs in [-1, 1), two float transforms at ~100 dB each: up to 4e-5 at 640 points.
    EXPECT_LT(maxError, 1e-4);
  }
}

TEST(MdctTest, ImpulseGivesTheBasisFunction) {
  float data[16] = {1.0f};
  mdct(data, 16, 8, 1);
  for (int k = 0; k < 8; ++k) {
    const double expected = 2.0 * std::cos((6.283185307179586 / 16) * 4.5 * (k + 0.5));
    EXPECT_NEAR(data[k], expected, 1e-6) << k;  // a handful of float roundings on values <= 2
    EXPECT_EQ(data[15 - k], -data[k]) << k;
  }
}

}  // namespace
}  // namespace ostrel
