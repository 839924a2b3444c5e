#include "coding/SymbolSet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "coding/ArithDecoder.h"
#include "coding/ArithEncoder.h"
#include "coding/BitCapture.h"
#include "coding/FrameLayout.h"

namespace ostrel {
namespace {

std::vector<int> Construct(std::vector<std::vector<float>> channels, int Steps) {
  std::vector<float*> x;
  for (auto& c : channels) x.push_back(c.data());
  std::vector<int> symbols(channels.size() * channels[0].size() + 1, -1);
  const int n = ConstructSymbolSet(x.data(), symbols.data(), Steps, static_cast<int>(x.size()),
                                   static_cast<unsigned>(channels[0].size()));
  symbols.resize(n);
  return symbols;
}

int Collect(const std::vector<int>& symbols, int Steps, std::vector<unsigned char>* comp = nullptr) {
  std::vector<unsigned> stats(320, 12345);  // stale counts must be cleared
  std::vector<unsigned char> local(320);
  if (comp == nullptr) comp = &local;
  comp->assign(320, 77);
  return CollectStatistics(symbols.data(), stats.data(), comp->data(), static_cast<int>(symbols.size()),
                           Steps);
}

TEST(ConstructSymbolSet, RunsValuesAndChannelBoundaries) {
  const int S = 6;
  EXPECT_EQ(Construct({std::vector<float>(100, 0.0f)}, S), (std::vector<int>{2 * S + 63, 2 * S + 35}));
  EXPECT_EQ(Construct({std::vector<float>(64, 0.0f)}, S), (std::vector<int>{2 * S + 63}));
  EXPECT_EQ(Construct({{-6, -1, 1, 6, 0, 3}}, S), (std::vector<int>{0, 5, 6, 11, 12, 8}));
  // A run ends with its channel; the next channel starts afresh.
  EXPECT_EQ(Construct({{2, 0, 0}, {0, 0, -2}}, S), (std::vector<int>{7, 13, 13, 4}));
}

// Values the alphabet cannot carry still give symbols of the alphabet.
TEST(ConstructSymbolSet, OutOfRangeValuesStayInTheAlphabet) {
  const int S = 6;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(Construct({{7, -100, 1e30f, -1e30f}}, S), (std::vector<int>{11, 0, 11, 0}));
  EXPECT_EQ(Construct({{nan, 0.5f, -0.5f, 2.7f}}, S), (std::vector<int>{14, 7}));
}

TEST(SymbolSet, RoundTripsRandomFrames) {
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    const int S = 1 + static_cast<int>(rng() % 32);
    std::geometric_distribution<int> magnitude(0.6);
    std::vector<std::vector<float>> channels(2, std::vector<float>(4096));
    for (auto& c : channels) {
      for (auto& v : c) {
        const int m = rng() % 3 == 0 ? std::min(S, magnitude(rng)) : 0;
        v = static_cast<float>(rng() % 2 ? m : -m);
      }
    }
    const std::vector<int> symbols = Construct(channels, S);
    std::vector<std::vector<float>> back(2, std::vector<float>(4096, 99.0f));
    float* x[] = {back[0].data(), back[1].data()};
    EXPECT_EQ(DestructSymbolSet(x, symbols.data(), S, 2, 4096, static_cast<int>(symbols.size())),
              SYMBOLS_EXACT);
    EXPECT_EQ(back, channels);
  }
}

TEST(CollectStatistics, EstimateGoldens) {
  // Steps 1: 18 entries of 8 bits, 47 of 2, the last of 8, the count 16 and the allowance 16.
  EXPECT_EQ(Collect(std::vector<int>(10, 0), 1), 278);
  EXPECT_EQ(Collect({}, 1), 278);  // no symbols: the table alone
  EXPECT_EQ(Collect(std::vector<int>(10, 17), 1), 278);
  EXPECT_EQ(Collect(std::vector<int>(10, 65), 1), 278);
  EXPECT_EQ(Collect(std::vector<int>(10, 20), 1), 286);  // a middle entry of 255 costs 10 bits
  // {255, 127} of 382: 2 x 0.583 + 1.589 = 2.755 bits, truncated.
  EXPECT_EQ(Collect({0, 0, 1}, 1), 280);
  std::vector<unsigned char> comp;
  std::vector<int> symbols(1000, 3);
  symbols.push_back(4);
  Collect(symbols, 2, &comp);
  EXPECT_EQ(comp[3], 255);
  EXPECT_EQ(comp[4], 1);
  EXPECT_EQ(comp[5], 0);
}

// Checks the estimate against a double-precision reference and the table against the rules:
// occurring symbols keep at least 1, absent ones 0, and the total stays within ARITH_MAX_TOTAL.
TEST(CollectStatistics, HalvesLargeTablesAndEstimatesCodeLength) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    const int S = 1 + static_cast<int>(rng() % 32);
    const int alphabet = AlphabetSize(S);
    std::vector<double> weights(alphabet);
    for (auto& w : weights) w = rng() % 3 == 0 ? 0.0 : std::pow(2.0, -(rng() % 8) * (seed % 3) / 2.0);
    weights[rng() % alphabet] = 1.0;
    std::discrete_distribution<int> pick(weights.begin(), weights.end());
    std::vector<int> symbols(1 + rng() % 6000);
    for (auto& s : symbols) s = pick(rng);

    std::vector<unsigned char> comp;
    const int estimate = Collect(symbols, S, &comp);
    std::vector<unsigned> stats(alphabet, 0);
    for (int s : symbols) ++stats[s];
    unsigned sum = 0;
    double table = STATS_ENTRY_LEN + SYMBOL_COUNT_LEN + 16, length = 0;
    for (int s = 0; s < alphabet; ++s) {
      ASSERT_EQ(comp[s] > 0, stats[s] > 0) << s;
      sum += comp[s];
      if (s < alphabet - 1) table += StatsEntryBits(s, comp[s], S);
    }
    ASSERT_LE(sum, ARITH_MAX_TOTAL);
    for (int s = 0; s < alphabet; ++s) {
      if (stats[s] > 0) length += stats[s] * (std::log2(sum) - std::log2(comp[s]));
    }
    // Single-precision accumulation of at most 128 terms below 10^5 bits: well within 1 bit.
    EXPECT_NEAR(estimate, std::floor(length + table), 1.0);
  }
  // Exactly ARITH_MAX_TOTAL stays; one more halves every entry, rounding up.
  std::vector<int> symbols;
  for (int s = 0; s < 64; ++s) symbols.insert(symbols.end(), 255, s);
  symbols.insert(symbols.end(), 64, 64);
  std::vector<unsigned char> comp;
  Collect(symbols, 32, &comp);
  EXPECT_EQ(comp[0], 255);
  EXPECT_EQ(comp[64], 64);
  symbols.push_back(64);
  Collect(symbols, 32, &comp);
  EXPECT_EQ(comp[0], 128);
  EXPECT_EQ(comp[64], 33);
  EXPECT_EQ(comp[65], 0);
}

// Tables that total more than ARITH_MAX_TOTAL before halving still code every symbol.
TEST(CollectStatistics, HalvedTablesRoundTripThroughTheCoder) {
  std::mt19937 rng(11);
  std::vector<int> symbols;
  for (int s = 0; s < 128; ++s) symbols.insert(symbols.end(), s == 5 ? 1 : 250 + s % 7, s);
  std::shuffle(symbols.begin(), symbols.end(), rng);
  std::vector<unsigned char> comp;
  Collect(symbols, 32, &comp);
  ASSERT_EQ(comp[5], 1);
  test::BitSink sink;
  ArithEncoder enc(128, comp.data(), &sink.out);
  for (int s : symbols) enc.Code(static_cast<unsigned char>(s));
  const uint32_t length = enc.CloseEncoder();
  ASSERT_FALSE(enc.Failed());
  test::BitSource source(sink.Bytes());
  ArithDecoder dec(128, comp.data(), &source.in, length);
  for (int s : symbols) ASSERT_EQ(dec.Decode(), static_cast<uint32_t>(s));
}

// Damaged symbol strings: nothing is written past a channel, and the damage is reported.
TEST(DestructSymbolSet, DamagedStrings) {
  const int S = 2;  // values 0..3, runs 4..67
  auto destruct = [](const std::vector<int>& symbols, std::vector<float>& a, std::vector<float>& b) {
    a.assign(5, 99.0f);
    b.assign(5, 99.0f);
    float* x[] = {a.data(), b.data()};
    return DestructSymbolSet(x, symbols.data(), S, 2, 5, static_cast<int>(symbols.size()));
  };
  std::vector<float> a, b;
  EXPECT_EQ(destruct({10, 3, 4 + 4}, a, b), SYMBOLS_RUN_PAST_END);  // a run of 7 in 5 values
  EXPECT_EQ(a, (std::vector<float>{0, 0, 0, 0, 0}));
  EXPECT_EQ(b, (std::vector<float>{2, 0, 0, 0, 0}));
  EXPECT_EQ(destruct({3, -1, 68, 0, 8, 8}, a, b), SYMBOLS_UNKNOWN | SYMBOLS_RUN_PAST_END);
  EXPECT_EQ(a, (std::vector<float>{2, -2, 0, 0, 0}));
  EXPECT_EQ(destruct({1, 6}, a, b), SYMBOLS_MISSING);
  EXPECT_EQ(a, (std::vector<float>{-1, 0, 0, 0, 0}));
  EXPECT_EQ(b, (std::vector<float>{0, 0, 0, 0, 0}));
  EXPECT_EQ(destruct({8, 8, 0}, a, b), SYMBOLS_LEFT_OVER);
  EXPECT_EQ(destruct({8, 8}, a, b), SYMBOLS_EXACT);
}

}  // namespace
}  // namespace ostrel
