#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "transform/DeathTestOutput.h"
#include "transform/ReferenceDft.h"
#include "transform/VariableIMDCT.h"
#include "transform/VariableMDCT.h"
#include "transform/windows.h"

namespace ostrel {
namespace {

using testing::ExitedWithCode;

int LeftLength(int type, int Llength, int Slength) {
  return (type == 0 || type == 1) ? Llength / 2 : Slength / 2;
}
int RightLength(int type, int Llength, int Slength) {
  return (type == 0 || type == 3) ? Llength / 2 : Slength / 2;
}

// Runs `input` through analysis then synthesis with the given block types and returns the
// concatenated output: one left length of samples per block.
std::vector<float> AnalyseAndSynthesise(const std::vector<float>& input, const std::vector<int>& types,
                                        int Llength, int Slength) {
  VariableMDCT analysis(Llength, Slength);
  VariableIMDCT synthesis(Llength, Slength);
  std::vector<float> x(Llength);
  std::vector<float> y(Llength);
  std::vector<float> output;
  size_t position = 0;
  for (int type : types) {
    const int left = LeftLength(type, Llength, Slength);
    const int right = RightLength(type, Llength, Slength);
    std::fill(x.begin(), x.end(), 0.0f);
    std::copy(input.begin() + position, input.begin() + position + right, x.begin() + left);
    position += right;
    analysis.Transform(x.data(), type);
    std::fill(y.begin(), y.end(), 0.0f);
    std::copy(x.begin(), x.begin() + (left + right) / 2, y.begin());
    synthesis.Transform(y.data(), type);
    output.insert(output.end(), y.begin(), y.begin() + left);
  }
  return output;
}

// A random type sequence that obeys the junction rule: after a long right part (0, 3) comes
// 0 or 1, after a short right part (1, 2) comes 2 or 3.
std::vector<int> RandomTypes(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<int> types;
  bool longRight = true;
  while (types.size() < count) {
    const bool first = rng() % 2 == 0;
    const int type = longRight ? (first ? 0 : 1) : (first ? 2 : 3);
    types.push_back(type);
    longRight = type == 0 || type == 3;
  }
  if (!longRight) types.push_back(3);
  types.push_back(0);
  return types;
}

double MaxDelayedError(const std::vector<float>& output, const std::vector<float>& input, int delay) {
  double maxError = 0.0;
  for (size_t t = 0; t < output.size(); ++t) {
    const double expected = t < static_cast<size_t>(delay) ? 0.0 : input[t - delay];
    maxError = std::max(maxError, std::fabs(output[t] - expected));
  }
  return maxError;
}

TEST(VariableMdctTest, ReconstructsInputDelayedByFirstLeftLength) {
  const int kSizes[][2] = {{2048, 512}, {1024, 256}, {512, 128}, {64, 16}};
  for (const auto& size : kSizes) {
    const int Llength = size[0];
    const int Slength = size[1];
    const uint32_t seed = 4242u + Llength;
    SCOPED_TRACE("sizes " + std::to_string(Llength) + "/" + std::to_string(Slength) + " seed " +
                 std::to_string(seed));
    const std::vector<int> types = RandomTypes(200, seed);
    const std::vector<float> input = test::Noise(static_cast<size_t>(Llength) * types.size(), seed);
    const std::vector<float> output = AnalyseAndSynthesise(input, types, Llength, Slength);
    // Unit-amplitude noise through two float MDCTs of ~100 dB each, worst sample of 200 blocks:
    // up to 3.5e-5 at the codec's sizes; a wrong window half, fold point or buffer update shows
    // as errors of order 1.
    EXPECT_LT(MaxDelayedError(output, input, Llength / 2), 1e-4);
  }
}

TEST(VariableMdctTest, ShortSizesWithEveryJunction) {
  const std::vector<int> types = {0, 0, 1, 2, 2, 2, 3, 0, 1, 3, 0};
  const std::vector<float> input = test::Noise(64 * types.size(), 11);
  const std::vector<float> output = AnalyseAndSynthesise(input, types, 64, 16);
  EXPECT_LT(MaxDelayedError(output, input, 32), 1e-5);

  // A stream that starts on short blocks is delayed by the short left length instead.
  const std::vector<int> shortFirst = {2, 2, 3, 0, 1, 2, 3};
  const std::vector<float> output2 = AnalyseAndSynthesise(input, shortFirst, 64, 16);
  EXPECT_LT(MaxDelayedError(output2, input, 8), 1e-5);
}

TEST(VariableMdctTest, StartBlockKeepsTheLongOverlapTail) {
  VariableMDCT analysis(2048, 512);
  std::vector<float> x(2048);
  const std::vector<float> first = test::Noise(1024, 5);
  std::copy(first.begin(), first.end(), x.begin() + 1024);
  analysis.Transform(x.data(), 0);
  const std::vector<float> before(analysis.GetBuffer(), analysis.GetBuffer() + 1024);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), before.begin()));

  const std::vector<float> second = test::Noise(256, 6);
  std::fill(x.begin(), x.end(), 0.0f);
  std::copy(second.begin(), second.end(), x.begin() + 1024);
  analysis.Transform(x.data(), 1);
  const float* after = analysis.GetBuffer();
  EXPECT_TRUE(std::equal(second.begin(), second.end(), after));  // raw, unwindowed samples
  EXPECT_TRUE(std::equal(before.begin() + 256, before.end(), after + 256));

  // The 640 coefficients are the MDCT of the windowed 1280 samples (mirror above them).
  for (int k = 0; k < 640; ++k) ASSERT_EQ(x[1279 - k], -x[k]) << k;
}

TEST(VariableMdctTest, AssignmentRebuildsFromLengths) {
  std::vector<float> longWindow(1024);
  std::vector<float> shortWindow(256);
  SinWin(longWindow.data(), 1024);
  SinWin(shortWindow.data(), 256);

  VariableMDCT target;
  EXPECT_EQ(target.GetLLength(), 0);
  EXPECT_EQ(target.GetBuffer(), nullptr);
  {
    VariableMDCT used(1024, 256);
    std::vector<float> x(1024, 0.5f);
    used.Transform(x.data(), 0);  // leaves a nonzero overlap that must not be copied
    target = used;
  }
  ASSERT_EQ(target.GetLLength(), 1024);
  ASSERT_EQ(target.GetSLength(), 256);
  EXPECT_TRUE(std::all_of(target.GetBuffer(), target.GetBuffer() + 512, [](float v) { return v == 0.0f; }));
  EXPECT_TRUE(std::equal(longWindow.begin(), longWindow.end(), target.GetLongWindow()));
  EXPECT_TRUE(std::equal(shortWindow.begin(), shortWindow.end(), target.GetShortWindow()));

  VariableIMDCT synthesis;
  synthesis = VariableIMDCT(1024, 256);
  ASSERT_EQ(synthesis.GetLLength(), 1024);
  EXPECT_TRUE(std::all_of(synthesis.GetBuffer(), synthesis.GetBuffer() + 512, [](float v) { return v == 0.0f; }));
  EXPECT_TRUE(std::equal(longWindow.begin(), longWindow.end(), synthesis.GetLongWindow()));

  // An empty source empties the target instead of leaving it half built.
  target = VariableMDCT();
  EXPECT_EQ(target.GetLLength(), 0);
  EXPECT_EQ(target.GetBuffer(), nullptr);
  EXPECT_EQ(target.GetLongWindow(), nullptr);

  // Moving (as a container relocating a channel's object does) keeps the overlap; copying
  // rebuilds like assignment.
  VariableMDCT source(64, 16);
  std::vector<float> x(64, 0.5f);
  source.Transform(x.data(), 0);
  VariableMDCT relocated(std::move(source));
  EXPECT_EQ(source.GetLLength(), 0);
  ASSERT_EQ(relocated.GetLLength(), 64);
  EXPECT_EQ(relocated.GetBuffer()[31], 0.5f);
  VariableMDCT copy(relocated);
  EXPECT_EQ(copy.GetBuffer()[31], 0.0f);
}

TEST(VariableMdctDeathTest, IllegalWindowTypeEndsTheProcess) {
  for (int type : {4, -1}) {
    SCOPED_TRACE(type);
    std::vector<float> x(2048, 0.0f);
    EXPECT_EXIT((test::StdoutToStderr(), VariableMDCT(2048, 512).Transform(x.data(), type)),
                ExitedWithCode(1), testing::Eq(std::string("Illegal Window Type\n")));
    EXPECT_EXIT((test::StdoutToStderr(), VariableIMDCT(2048, 512).Transform(x.data(), type)),
                ExitedWithCode(1), testing::Eq(std::string("Illegal Window Type\n")));
  }
}

}  // namespace
}  // namespace ostrel
