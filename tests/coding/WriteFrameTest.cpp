#include "coding/WriteFrame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "coding/ArithDecoder.h"
#include "coding/BitCapture.h"
#include "coding/FrameLayout.h"
#include "coding/SymbolSet.h"
#include "coding/WeightCoding.h"

namespace ostrel {
namespace {

std::string Code(const HuffCode& c) {
  std::string s;
  for (int b = c.length - 1; b >= 0; --b) s += ((c.code >> b) & 1) ? '1' : '0';
  return s;
}
std::string Repeat(const std::string& s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

// The driver's arrays for a stereo frame and a writer over them. Every method runs through Call,
// which checks that its result is what the stream grew by and keeps the field's span.
struct Frame {
  Frame(int longsize, int nblocks, int Long, int Short, int Tran)
      : NBlocks(nblocks), gains(2, std::vector<int>(nblocks + 1, 14)),
        coded(2, std::vector<int>(CodedWeightCount(true, nblocks, Long, Short, Tran), 0)),
        stats(320, 0), symbols(2 * 16384, 0) {
    for (int ch = 0; ch < 2; ++ch) {
      gainRows[ch] = gains[ch].data();
      codedRows[ch] = coded[ch].data();
    }
    writer = std::make_unique<WriteFrame>(longsize, nblocks, 2, Long, Short, Tran, switchUsed, locations,
                                          gainRows, codedRows, stats.data(), symbols.data(), &sink.out);
  }
  // Runs one writer method; returns its bit count after checking it against the stream.
  int Call(const std::function<int(WriteFrame&)>& method) {
    const uint64_t before = sink.out.BitCount();
    const int bits = method(*writer);
    EXPECT_EQ(static_cast<uint64_t>(bits), sink.out.BitCount() - before);
    spans.emplace_back(before, bits);
    return bits;
  }
  // The bits of the n-th call; closes the stream, so only once the writer is done.
  std::string Span(size_t n) {
    if (all.empty()) all = sink.AllBits();
    return all.substr(spans[n].first, spans[n].second);
  }

  int NBlocks;
  int switchUsed[2] = {0, 0};
  int locations[2] = {0, 0};
  std::vector<std::vector<int>> gains, coded;
  int* gainRows[2];
  int* codedRows[2];
  std::vector<unsigned char> stats;
  std::vector<int> symbols;
  test::BitSink sink;
  std::unique_ptr<WriteFrame> writer;
  std::vector<std::pair<uint64_t, int>> spans;
  std::string all;
};

TEST(WriteFrame, SideInformationLayout) {
  Frame f(512, 16, 3, 2, 4);
  f.switchUsed[1] = 1;
  f.locations[1] = 5;
  f.gains[0][0] = 10;
  f.coded[0][0] = -40;
  f.coded[0][1] = 300;
  f.coded[0][16] = -20;
  f.coded[0][17] = 25;
  EXPECT_EQ(f.Call([](WriteFrame& w) { return w.WriteSyncWord(); }), 16);
  EXPECT_EQ(f.Call([](WriteFrame& w) { return w.WriteTranInfo(); }), 6);
  EXPECT_EQ(f.Call([](WriteFrame& w) { return w.WriteGains(); }), 5 + 15 + 17);
  f.Call([](WriteFrame& w) { return w.WriteWeights(); });
  EXPECT_FALSE(f.writer->Failed());

  const auto book = GetHuffEnc00();
  EXPECT_EQ(f.Span(0), "0100101001011000");
  EXPECT_EQ(f.Span(1), "0" "1" "0101");
  EXPECT_EQ(f.Span(2), "00001" + Repeat("1", 15) + Repeat("1", 17));
  // Channel 0: 16 leading codes, 32 differences; channel 1 (switched): 17 and 52 - 17.
  EXPECT_EQ(f.Span(3), "00000000" "11111111" + Repeat("00100000", 14) + Code(book[0]) + Code(book[32]) +
                           Repeat("101", 30) + Repeat("00100000", 17) + Repeat("101", 35));
}

TEST(WriteFrame, GainCodebookFollowsTheLongBlock) {
  struct Case { int longsize, gain, bits; };
  for (const Case c : {Case{512, 14, 1}, Case{1024, 16, 2}, Case{1024, 17, 2}, Case{2048, 20, 3},
                       Case{2048, 24, 3}}) {
    Frame f(c.longsize, 32, 3, 2, 4);
    for (auto& g : f.gains) g.assign(33, c.gain);
    EXPECT_EQ(f.Call([](WriteFrame& w) { return w.WriteGains(); }), 2 * 32 * c.bits) << c.longsize;
  }
}

TEST(WriteFrame, StepStatsSymbolsAndPadding) {
  Frame f(1024, 16, 3, 2, 4);
  f.stats[18] = 2;  // the first short-coded entry of step 1
  f.stats[19] = 3;
  f.stats[65] = 9;  // the last entry: 8 bits whatever its value
  EXPECT_EQ(f.Call([](WriteFrame& w) { return w.WriteStepSize(1); }), 5);
  EXPECT_EQ(f.Call([](WriteFrame& w) { return w.WriteStats(1); }), 18 * 8 + 45 * 2 + 2 + 10 + 8);
  EXPECT_EQ(f.Call([](WriteFrame& w) { return w.WriteSymbols(0, 1); }), 32);
  f.Call([](WriteFrame& w) { return w.WriteStepSize(32); });
  EXPECT_EQ(f.Call([](WriteFrame& w) { return w.WriteStats(32); }), 80 * 8 + 47 * 2 + 8);
  f.Call([](WriteFrame& w) { w.WritePaddingBits(13); return 13; });
  f.Call([](WriteFrame& w) { w.WritePaddingBits(0); return 0; });

  EXPECT_EQ(f.Span(0), "00000");
  EXPECT_EQ(f.Span(1), Repeat("0", 144) + "10" "11" "00000011" + Repeat("00", 45) + "00001001");
  EXPECT_EQ(f.Span(2), "0000000000000000" "0100000000000000");
  EXPECT_EQ(f.Span(3), "11111");
  EXPECT_EQ(f.Span(5), Repeat("0", 13));
  EXPECT_FALSE(f.writer->Failed());
}

// With a single symbol the code length is 0, so the estimate is the table, the count and the
// allowance: the writer's table must cost exactly what the estimate counts.
TEST(WriteFrame, TableCostMatchesTheEstimate) {
  for (int steps = 1; steps <= 32; ++steps) {
    for (int symbol : {0, 2 * steps + 16, 2 * steps + 40, 2 * steps + 63}) {
      Frame f(1024, 16, 3, 2, 4);
      std::vector<unsigned> stats(320);
      std::vector<int> symbols(7, symbol);
      const int estimate = CollectStatistics(symbols.data(), stats.data(), f.stats.data(), 7, steps);
      EXPECT_EQ(estimate, f.Call([&](WriteFrame& w) { return w.WriteStats(steps); }) + 32)
          << steps << " " << symbol;
    }
  }
}

// A whole frame of realistic data: the returns plus the padding make the frame size, the next
// sync word starts on a byte boundary, and a reader built from the layout constants recovers
// every field.
TEST(WriteFrame, WholeFrameReadsBack) {
  const int NBlocks = 16, Long = 6, Short = 3, Tran = 5, total = 512 * NBlocks, steps = 7;
  std::mt19937 rng(3);
  Frame f(1024, NBlocks, Long, Short, Tran);
  f.switchUsed[1] = 1;
  f.locations[1] = NBlocks - 2;
  std::vector<std::vector<std::vector<int>>> weights(2, std::vector<std::vector<int>>(NBlocks + 1));
  std::vector<int*> rows[2];
  for (int ch = 0; ch < 2; ++ch) {
    for (auto& g : f.gains[ch]) g = 10 + static_cast<int>(rng() % 20);
    for (auto& row : weights[ch]) {
      row.resize(Long);
      row[0] = static_cast<int>(rng() % 200);
      for (int d = 1; d < Long; ++d) row[d] = row[d - 1] + static_cast<int>(rng() % 33) - 14;
      rows[ch].push_back(row.data());
    }
  }
  int** w[] = {rows[0].data(), rows[1].data()};
  CodeWeights(w, f.codedRows, f.switchUsed, f.locations, 2, NBlocks, Long, Short, Tran);
  std::vector<std::vector<float>> q(2, std::vector<float>(total));
  std::geometric_distribution<int> magnitude(0.5);
  for (auto& c : q) {
    for (auto& v : c) {
      const int m = rng() % 2 ? 0 : std::min(steps, magnitude(rng));
      v = static_cast<float>(rng() % 2 ? m : -m);
    }
  }
  float* x[] = {q[0].data(), q[1].data()};
  const int count = ConstructSymbolSet(x, f.symbols.data(), steps, 2, total);
  std::vector<unsigned> stats(320);
  const int estimate = CollectStatistics(f.symbols.data(), stats.data(), f.stats.data(), count, steps);

  int used = 0;
  used += f.Call([](WriteFrame& wr) { return wr.WriteSyncWord(); });
  used += f.Call([](WriteFrame& wr) { return wr.WriteTranInfo(); });
  used += f.Call([](WriteFrame& wr) { return wr.WriteGains(); });
  used += f.Call([](WriteFrame& wr) { return wr.WriteWeights(); });
  const int side = used;
  used += f.Call([&](WriteFrame& wr) { return wr.WriteStepSize(steps); });
  const int tail =
      f.Call([&](WriteFrame& wr) { return wr.WriteStats(steps) + wr.WriteSymbols(count, steps); });
  used += tail;
  EXPECT_NEAR(tail, estimate, 40);  // the estimate is an ideal code length plus a 16-bit allowance
  const int frameBits = (used / 8 + 5) * 8 + 3 * 8;
  f.Call([&](WriteFrame& wr) { wr.WritePaddingBits(frameBits - used); return frameBits - used; });
  EXPECT_EQ(f.sink.out.BitCount(), static_cast<uint64_t>(frameBits));
  f.Call([](WriteFrame& wr) { return wr.WriteSyncWord(); });
  ASSERT_FALSE(f.writer->Failed());

  test::BitSource src(f.sink.Bytes());
  Bitstream& in = src.in;
  ASSERT_EQ(in.getbits(FRAME_SYNC_WORD_LEN), FRAME_SYNC_WORD);
  int sw[2], loc[2] = {0, 0};
  for (int ch = 0; ch < 2; ++ch) {
    sw[ch] = static_cast<int>(in.getbits(SWITCH_FLAG_LEN));
    if (sw[ch]) loc[ch] = static_cast<int>(in.getbits(SwitchLocationLen(NBlocks)));
  }
  EXPECT_EQ(sw[1], 1);
  EXPECT_EQ(loc[1], NBlocks - 2);
  unsigned char gainM, weightM;
  const auto gainTable = GetGainHuffDec(1024, &gainM);
  const auto weightTable = GetHuffDec00(&weightM);
  for (int ch = 0; ch < 2; ++ch) {
    for (int j = 0; j < WeightSetCount(sw[ch], NBlocks); ++j) {
      ASSERT_EQ(HuffDecode(in, gainTable, gainM) + GAIN_OFFSET, f.gains[ch][j]);
    }
  }
  std::vector<std::vector<int>> coded(2, std::vector<int>(f.coded[0].size()));
  for (int ch = 0; ch < 2; ++ch) {
    const int sets = WeightSetCount(sw[ch], NBlocks);
    for (int j = 0; j < sets; ++j) {
      coded[ch][j] = static_cast<int>(in.getbits(LEADING_WEIGHT_LEN)) - LEADING_WEIGHT_OFFSET;
    }
    for (int j = sets; j < CodedWeightCount(sw[ch], NBlocks, Long, Short, Tran); ++j) {
      coded[ch][j] = HuffDecode(in, weightTable, weightM) - WEIGHT_DIFF_INDEX_OFFSET;
    }
  }
  EXPECT_EQ(coded, f.coded);
  EXPECT_EQ(in.BitCount(), static_cast<uint64_t>(side));
  const int S = static_cast<int>(in.getbits(STEP_SIZE_LEN)) + 1;
  ASSERT_EQ(S, steps);
  std::vector<unsigned char> table(AlphabetSize(S));
  for (int n = 0; n < AlphabetSize(S); ++n) {
    const bool shortEntry = n >= StatsShortBegin(S) && n < StatsShortEnd(S);
    table[n] = static_cast<unsigned char>(in.getbits(shortEntry ? STATS_SHORT_ENTRY_LEN : STATS_ENTRY_LEN));
    if (shortEntry && table[n] == STATS_ESCAPE) {
      table[n] = static_cast<unsigned char>(in.getbits(STATS_ENTRY_LEN));
    }
  }
  ASSERT_EQ(table, std::vector<unsigned char>(f.stats.begin(), f.stats.begin() + table.size()));
  const int symbolCount = static_cast<int>(in.getbits(SYMBOL_COUNT_LEN));
  const uint32_t left = frameBits - static_cast<uint32_t>(in.BitCount());
  ArithDecoder dec(static_cast<unsigned char>(table.size()), table.data(), &in, left);
  std::vector<int> symbols(symbolCount);
  for (auto& s : symbols) s = static_cast<int>(dec.Decode());
  std::vector<std::vector<float>> back(2, std::vector<float>(total));
  float* y[] = {back[0].data(), back[1].data()};
  EXPECT_EQ(DestructSymbolSet(y, symbols.data(), S, 2, total, symbolCount), SYMBOLS_EXACT);
  EXPECT_EQ(back, q);
  for (uint32_t skip = left - dec.CloseDecoder(); skip > 0; skip -= std::min(skip, 32u)) {
    in.getbits(static_cast<int>(std::min(skip, 32u)));
  }
  EXPECT_EQ(in.getbits(FRAME_SYNC_WORD_LEN), FRAME_SYNC_WORD);  // the next frame
}

// Values a field cannot carry are replaced and reported, never written over other fields.
TEST(WriteFrame, ReportsValuesTheFieldsCannotCarry) {
  Frame f(1024, 16, 3, 2, 4);
  f.gains[0][3] = 30;
  f.switchUsed[0] = 1;
  f.locations[0] = 16;  // no room in 4 bits
  f.Call([](WriteFrame& w) { return w.WriteTranInfo(); });
  EXPECT_TRUE(f.writer->Failed());
  EXPECT_EQ(f.Call([](WriteFrame& w) { return w.WriteGains(); }), 16 * 3 + 14 + 16 * 3);  // 30 sent as 29
  Frame g(1024, 16, 3, 2, 4);
  g.symbols[0] = 200;  // outside the alphabet
  g.stats[0] = 1;
  g.Call([](WriteFrame& w) { return w.WriteSymbols(1, 1); });
  EXPECT_TRUE(g.writer->Failed());
  f.Call([](WriteFrame& w) { return w.WriteSymbols(0, 1); });
#if defined(OSTREL_DEBUG_CHECKS)
  EXPECT_DEATH(f.writer->WriteSymbols(MAX_SYMBOL_COUNT + 1, 1), "debug check failed");
#else
  f.Call([](WriteFrame& w) { return w.WriteSymbols(MAX_SYMBOL_COUNT + 1, 1); });
  EXPECT_EQ(f.Span(3).substr(0, SYMBOL_COUNT_LEN), std::string(SYMBOL_COUNT_LEN, '1'));
#endif
  EXPECT_EQ(f.Span(0), "1" "0000" "0");
}

}  // namespace
}  // namespace ostrel
