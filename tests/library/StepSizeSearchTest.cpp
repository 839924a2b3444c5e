#include "library/StepSizeSearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "coding/FrameLayout.h"
#include "coding/SymbolSet.h"

namespace ostrel {
namespace {

// A frame whose estimate grows by `bitsPerStep` per step size; records every step size tried.
struct LinearCost {
  int bitsPerStep;
  std::vector<float> tried;
  int operator()(float STEPS) {
    tried.push_back(STEPS);
    return static_cast<int>(STEPS) * bitsPerStep;
  }
};

TEST(StepSizeSearch, ClimbsOneStepAtATimeAndStepsBackOnceAfterAnOvershoot) {
  LinearCost cost{100, {}};
  StepSearchResult r = SearchStepSize(6.0f, 850, cost);
  // 6, 7, 8 fit; 9 overshoots; back at 8 it fits again but may not climb a second time.
  EXPECT_EQ(cost.tried, (std::vector<float>{6, 7, 8, 9, 8}));
  EXPECT_EQ(r.STEPS, 8.0f);
  EXPECT_EQ(r.ArithBits, 800);
  EXPECT_EQ(r.Evaluations, 5);
}

TEST(StepSizeSearch, StopsOnAnExactFitAndDescendsWhileOverBudget) {
  LinearCost exact{100, {}};
  EXPECT_EQ(SearchStepSize(6.0f, 600, exact).STEPS, 6.0f);
  EXPECT_EQ(exact.tried, (std::vector<float>{6}));

  LinearCost over{100, {}};
  StepSearchResult r = SearchStepSize(6.0f, 350, over);
  EXPECT_EQ(over.tried, (std::vector<float>{6, 5, 4, 3}));
  EXPECT_EQ(r.STEPS, 3.0f);
  EXPECT_LT(r.ArithBits, 350);
}

TEST(StepSizeSearch, StaysWithinOneToThirtyTwo) {
  // Over budget even at 1: the search ends there with the estimate still too big, the caller's
  // cue for a frame that cannot be padded.
  LinearCost tooBig{100, {}};
  StepSearchResult low = SearchStepSize(3.0f, 50, tooBig);
  EXPECT_EQ(tooBig.tried, (std::vector<float>{3, 2, 1}));
  EXPECT_EQ(low.STEPS, 1.0f);
  EXPECT_GT(low.ArithBits, 50);

  LinearCost cheap{1, {}};
  StepSearchResult high = SearchStepSize(30.0f, 1000000, cheap);
  EXPECT_EQ(cheap.tried, (std::vector<float>{30, 31, 32}));
  EXPECT_EQ(high.STEPS, 32.0f);
}

TEST(StepSizeSearch, StartMovesHalfwayTowardsEachResult) {
  // Every frame fits at every step size: each search climbs to 32 from where the last one left
  // the start, and the start follows 6, 19, 26, 29, 31, 32 (halves rounded upward).
  float OldStep = FIRST_STEP_SIZE;
  std::vector<float> starts;
  for (int frame = 0; frame < 7; ++frame) {
    starts.push_back(OldStep);
    LinearCost cost{0, {}};
    StepSearchResult r = SearchStepSize(OldStep, 1000, cost);
    EXPECT_EQ(r.STEPS, 32.0f);
    EXPECT_EQ(r.Evaluations, static_cast<int>(32.0f - OldStep) + 1);
    OldStep = CarryOverStep(r.STEPS, OldStep);
  }
  EXPECT_EQ(starts, (std::vector<float>{6, 19, 26, 29, 31, 32, 32}));
  EXPECT_EQ(CarryOverStep(1.0f, 6.0f), 4.0f);  // 3.5 rounds up
  EXPECT_EQ(CarryOverStep(3.0f, 6.0f), 5.0f);  // 4.5 rounds up
}

TEST(Quantise, RoundsHalvesUpwardAndLimitsToTheAlphabet) {
  std::vector<float> left = {0.125f, -0.125f, -0.1875f, 0.0f, 1.5f, -1.5f, 8.6f, 1.0f, -1.0f};
  std::vector<float> right = {0.3f, -0.3f};
  std::vector<float> outLeft(left.size(), 99.0f), outRight(2, 99.0f);
  float* x[2] = {left.data(), right.data()};
  float* out[2] = {outLeft.data(), outRight.data()};
  QuantiseCoefficients(x, out, 4.0f, 2, 2);
  EXPECT_EQ(outLeft[0], 1.0f);    // 0.5 rounds up
  EXPECT_EQ(outLeft[1], 0.0f);    // -0.5 rounds up to 0
  EXPECT_EQ(outRight[0], 1.0f);   // 1.2
  EXPECT_EQ(outRight[1], -1.0f);  // -1.2
  EXPECT_EQ(outLeft[2], 99.0f);   // beyond `count`: untouched

  QuantiseCoefficients(x, out, 4.0f, 1, static_cast<unsigned>(left.size()));
  EXPECT_EQ(outLeft[2], -1.0f);   // -0.75
  EXPECT_EQ(outLeft[3], 0.0f);
  // Coefficients above 1.0 in magnitude are limited to +-STEPS.
  EXPECT_EQ(outLeft[4], 4.0f);
  EXPECT_EQ(outLeft[5], -4.0f);
  EXPECT_EQ(outLeft[6], 4.0f);
  EXPECT_EQ(outLeft[7], 4.0f);
  EXPECT_EQ(outLeft[8], -4.0f);
}

TEST(Quantise, MultipliesInSinglePrecision) {
  // x * 25 is 0.49999998... exactly, but 0.5 once rounded to a float: the quantiser must see 0.5.
  float value = 0x1.47ae14p-6f;
  ASSERT_LT(static_cast<double>(value) * 25.0, 0.5);
  float* x[1] = {&value};
  float q = 0.0f;
  float* out[1] = {&q};
  QuantiseCoefficients(x, out, 25.0f, 1, 1);
  EXPECT_EQ(q, 1.0f);
}

// Values where a quantiser goes wrong: halves and their float neighbours at every step size,
// the limits, zeros of both signs, tiny and huge magnitudes, infinities and NaN.
std::vector<float> AwkwardValues() {
  std::vector<float> v = {0.0f, -0.0f, 1e-40f, -1e-40f, 1.0f, -1.0f, 1.5f, -1.5f, 3e9f, -3e9f,
                          std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN()};
  for (int steps = STEP_SIZE_MIN; steps <= STEP_SIZE_MAX; ++steps) {
    for (int q = -steps - 1; q <= steps; ++q) {
      const float half = (static_cast<float>(q) + 0.5f) / static_cast<float>(steps);
      v.push_back(half);
      v.push_back(std::nextafter(half, 2.0f));
      v.push_back(std::nextafter(half, -2.0f));
    }
  }
  std::mt19937 rng(17);
  std::normal_distribution<float> spread(0.0f, 0.2f);
  for (int i = 0; i < 4000; ++i) v.push_back(spread(rng));
  return v;
}

TEST(Quantise, EveryInstructionSetPathGivesTheRuleOfTheQuantiser) {
  const std::vector<float> in = AwkwardValues();
  std::vector<float> dense(in.size());
  std::vector<int> out(in.size());
  const float* x[1] = {in.data()};
  float* denseOut[1] = {dense.data()};
  for (SimdPath path : {SimdPath::Scalar, SimdPath::Sse2, SimdPath::Avx2}) {
    if (!CanRun(path)) continue;
    for (int steps = STEP_SIZE_MIN; steps <= STEP_SIZE_MAX; ++steps) {
      const float STEPS = static_cast<float>(steps);
      QuantiseCoefficients(const_cast<float* const*>(x), denseOut, STEPS, 1, static_cast<unsigned>(in.size()));
      // Odd lengths leave a tail for the narrower forms.
      for (unsigned n : {static_cast<unsigned>(in.size()), 13u}) {
        std::fill(out.begin(), out.end(), 99);
        QuantiseValues(path, in.data(), out.data(), n, STEPS);
        for (unsigned k = 0; k < n; ++k) {
          ASSERT_EQ(static_cast<float>(out[k]), dense[k])
              << SimdPathName(path) << " at " << steps << " for " << in[k];
        }
      }
    }
  }
}

TEST(FrameCandidates, BuildTheSymbolsAndCountsOfTheWholeFrameAtEveryStepSize) {
  // Mostly tiny coefficients, so that runs longer than one run symbol and channels that end in
  // a run occur, and a few large ones; the left channel ends on a non-zero value.
  constexpr unsigned kCount = 1500;
  std::mt19937 rng(5);
  std::normal_distribution<float> small(0.0f, 0.01f), large(0.0f, 0.4f);
  std::uniform_int_distribution<int> pick(0, 9);
  std::vector<float> left(kCount), right(kCount);
  for (unsigned k = 0; k < kCount; ++k) {
    left[k] = pick(rng) == 0 ? large(rng) : small(rng);
    right[k] = k > 1000 ? 0.0f : (pick(rng) == 0 ? large(rng) : small(rng));
  }
  left[kCount - 1] = 0.9f;
  // Every pattern of passing values in four neighbours, at the vectors' places.
  for (unsigned k = 0; k < 64; ++k) right[k] = ((k / 4) >> (k % 4)) & 1 ? 0.3f : 0.0f;
  // Values at the edge of rounding to zero at the largest step size, both signs.
  const float edge = 0.5f / static_cast<float>(STEP_SIZE_MAX);
  const float edges[] = {edge, std::nextafter(edge, 0.0f), -edge, std::nextafter(-edge, -1.0f), std::nextafter(-edge, 0.0f)};
  for (size_t i = 0; i < 5; ++i) left[100 + 3 * i] = right[200 + 5 * i] = edges[i];
  float* x[2] = {left.data(), right.data()};
  for (SimdPath path : {SimdPath::Scalar, SimdPath::Sse2, SimdPath::Avx2}) {
    if (!CanRun(path)) continue;
    SCOPED_TRACE(SimdPathName(path));
    FrameCandidates candidates(2, kCount);
    candidates.Gather(path, x);
    EXPECT_LT(candidates.Size(), kCount);

    std::vector<float> qLeft(kCount), qRight(kCount);
    float* q[2] = {qLeft.data(), qRight.data()};
    std::vector<int> expected(2 * kCount), actual(2 * kCount);
    std::vector<unsigned> expectedStats(MAX_ALPHABET_SIZE), actualStats(MAX_ALPHABET_SIZE);
    std::vector<unsigned char> comp(MAX_ALPHABET_SIZE);
    for (int steps = STEP_SIZE_MIN; steps <= STEP_SIZE_MAX; ++steps) {
      const float STEPS = static_cast<float>(steps);
      QuantiseCoefficients(x, q, STEPS, 2, kCount);
      const int n = ConstructSymbolSet(q, expected.data(), steps, 2, kCount);
      const int bits = CollectStatistics(expected.data(), expectedStats.data(), comp.data(), n, steps);
      ASSERT_EQ(candidates.BuildSymbols(STEPS, actual.data(), actualStats.data()), n) << steps;
      EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + n, actual.begin())) << steps;
      EXPECT_TRUE(std::equal(expectedStats.begin(), expectedStats.begin() + AlphabetSize(steps), actualStats.begin()))
          << steps;
      EXPECT_EQ(CountedStatisticsBits(actualStats.data(), comp.data(), steps), bits) << steps;
      // Counting alone (the quality mode's search) gives the same count and counts.
      std::fill(actualStats.begin(), actualStats.end(), 7u);
      ASSERT_EQ(candidates.CountSymbols(STEPS, actualStats.data()), n) << steps;
      EXPECT_TRUE(std::equal(expectedStats.begin(), expectedStats.begin() + AlphabetSize(steps), actualStats.begin()))
          << steps;
    }
  }
}

}  // namespace
}  // namespace ostrel
