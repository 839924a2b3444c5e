#include "coding/WeightCoding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "common/TempDir.h"

namespace ostrel {
namespace {

// One channel's arrays sized exactly as the contract asks, so that any overrun trips ASan.
struct Channel {
  Channel(int NBlocks, int rowLength, int coded)
      : storage(NBlocks + 1, std::vector<int>(rowLength)), rows(NBlocks + 1), codedWeights(coded) {
    for (int k = 0; k <= NBlocks; ++k) rows[k] = storage[k].data();
  }
  std::vector<std::vector<int>> storage;
  std::vector<int*> rows;
  std::vector<int> codedWeights;
};

TEST(CodeWeights, UnswitchedLayout) {
  Channel ch(16, 3, 48);
  for (int k = 0; k < 16; ++k) ch.storage[k] = {k, k + 2, k + 2};  // differences +2 then 0
  int** weights[] = {ch.rows.data()};
  int* coded[] = {ch.codedWeights.data()};
  const int switched[] = {0}, location[] = {0};
  CodeWeights(weights, coded, switched, location, 1, 16, 3, 1, 2);
  for (int k = 0; k < 16; ++k) {
    EXPECT_EQ(ch.codedWeights[k], k);
    EXPECT_EQ(ch.codedWeights[16 + 2 * k], 2);
    EXPECT_EQ(ch.codedWeights[17 + 2 * k], 0);
  }
}

// Random codes in the model's range, switched at every location, with 512-sample band counts
// (the transition block has one band more than the long block).
TEST(CodeWeights, DecodeWeightsInvertsEveryLayout) {
  const int NBlocks = 16, Long = 21, Short = 9, Tran = 22;
  const int coded = CodedWeightCount(true, NBlocks, Long, Short, Tran);
  std::mt19937 rng(5);
  for (int loc = -1; loc <= NBlocks - 2; ++loc) {
    SCOPED_TRACE(loc);
    const bool switched = loc >= 0;
    Channel in(NBlocks, Tran, coded), out(NBlocks, Tran, coded);
    for (auto& row : in.storage) {
      for (auto& w : row) w = static_cast<int>(rng() % 256) - 32;
    }
    int** win[] = {in.rows.data()};
    int** wout[] = {out.rows.data()};
    int* c[] = {in.codedWeights.data()};
    const int sw[] = {switched ? 1 : 0}, location[] = {loc};
    CodeWeights(win, c, sw, location, 1, NBlocks, Long, Short, Tran);
    EXPECT_EQ(DecodeWeights(wout, c, sw, location, 1, NBlocks, Long, Short, Tran), 0);
    for (int k = 0; k < WeightSetCount(switched, NBlocks); ++k) {
      const int n = WeightSetBands(k, switched, loc, Long, Short, Tran);
      EXPECT_EQ(n, !switched || k < loc || k > loc + 2 ? Long : k == loc + 1 ? Short : Tran);
      for (int d = 0; d < n; ++d) ASSERT_EQ(out.storage[k][d], in.storage[k][d]) << k << " " << d;
    }
  }
}

// A location from a damaged stream is reported and never leads out of the arrays.
TEST(DecodeWeights, InvalidLocationIsReported) {
  const int NBlocks = 16, Long = 25, Short = 8, Tran = 20;
  Channel ch(NBlocks, Long, CodedWeightCount(true, NBlocks, Long, Short, Tran));
  int** w[] = {ch.rows.data()};
  int* c[] = {ch.codedWeights.data()};
  const int sw[] = {1};
  for (int loc : {NBlocks - 1, 31, -3}) {
    const int location[] = {loc};
    EXPECT_NE(DecodeWeights(w, c, sw, location, 1, NBlocks, Long, Short, Tran), 0) << loc;
  }
}

std::vector<int32_t> Dump() {
  EXPECT_EQ(WriteWeights(nullptr, nullptr, 0, 16, 3, 1, 2, 1), 0);
  const auto bytes = test::ReadAll("c:\\stats2.txt");
  std::vector<int32_t> bins(bytes.size() / 4);
  std::memcpy(bins.data(), bytes.data(), bins.size() * 4);
  return bins;
}

// The histogram is process-wide, so the test compares dumps taken before and after its frame.
TEST(WriteWeights, HistogramOfDifferences) {
#if defined(_WIN32)
  GTEST_SKIP() << "not on Windows: the dump's name is the root of drive C there, which a test leaves alone";
#endif
  test::TempDir dir;
  struct WorkIn {  // the dump goes to the working folder; restored on every exit
    explicit WorkIn(const std::string& path) : saved(std::filesystem::current_path()) {
      std::filesystem::current_path(path);
    }
    ~WorkIn() { std::filesystem::current_path(saved); }
    std::filesystem::path saved;
  } workIn(dir.path());
  const std::vector<int32_t> before = Dump();
  ASSERT_EQ(before.size(), 33u);

  // Unswitched, NBlocks 2, 3 bands: 2 leading codes, then -20, +40, 0, 0.
  std::vector<int> coded = {100, -100, -20, 40, 0, 0};
  int* c[] = {coded.data()};
  const int sw[] = {0};
  EXPECT_EQ(WriteWeights(c, sw, 1, 2, 3, 1, 2, 0), 0);
  std::vector<int32_t> expected = before;
  expected[0] += 1;
  expected[32] += 1;
  expected[14] += 2;
  EXPECT_EQ(Dump(), expected);

  // The dump cannot be opened: nothing is written and the failure is reported.
  std::filesystem::remove("c:\\stats2.txt");
  std::filesystem::create_directory("c:\\stats2.txt");
  EXPECT_EQ(WriteWeights(nullptr, nullptr, 0, 16, 3, 1, 2, 1), -1);
}

}  // namespace
}  // namespace ostrel
