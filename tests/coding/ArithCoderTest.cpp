#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "coding/ArithDecoder.h"
#include "coding/ArithEncoder.h"
#include "coding/BitCapture.h"

namespace ostrel {
namespace {

using test::BitSink;
using test::BitSource;

// Codes `symbols` as one block with table `rel`; returns the block's bits and checks that the
// returned length is what the stream grew by.
std::string Block(const std::vector<unsigned char>& rel, const std::vector<int>& symbols) {
  BitSink sink;
  ArithEncoder enc(static_cast<unsigned char>(rel.size()), rel.data(), &sink.out);
  for (int s : symbols) enc.Code(static_cast<unsigned char>(s));
  const uint32_t bits = enc.CloseEncoder();
  EXPECT_FALSE(enc.Failed());
  EXPECT_EQ(bits, sink.out.BitCount());
  return sink.AllBits();
}

TEST(ArithEncoder, BlockGoldens) {
  const std::string x4000 = "0100000000000000";
  EXPECT_EQ(Block({1, 1}, {}), x4000);  // no symbols
  EXPECT_EQ(Block({7}, {0, 0, 0}), x4000);  // a one-symbol alphabet codes nothing
  EXPECT_EQ(Block({1, 1}, {0}), "0010000000000000");
  EXPECT_EQ(Block({1, 1}, {1}), "1010000000000000");
  EXPECT_EQ(Block({3, 1}, {0, 0, 1}), "0111000000000000");
  EXPECT_EQ(Block({2, 1, 1}, {2, 0, 1, 0}), "1101000100000000");
  // Fourteen E2 bits, one pending E3 rescaling, then the termination 0 and two 1 bits: no padding.
  EXPECT_EQ(Block({1, 2, 1}, {0, 0, 0, 0, 0, 0, 0, 1}), "00000000000000011");
}

TEST(ArithEncoder, EachCloseCoversOneBlockOnly) {
  BitSink sink;
  const unsigned char rel[] = {1, 2, 1};
  ArithEncoder enc(&sink.out);
  enc.ReNewStats(3, rel);
  for (int i = 0; i < 7; ++i) enc.Code(0);
  enc.Code(1);
  EXPECT_EQ(enc.CloseEncoder(), 17u);
  enc.ReNewStats(3, rel);
  EXPECT_EQ(enc.CloseEncoder(), 16u);
  EXPECT_EQ(sink.AllBits(), "00000000000000011" "0100000000000000");
}

// A symbol the table cannot hold is refused and reported instead of corrupting the interval.
TEST(ArithEncoder, RefusesSymbolsWithoutRoom) {
  BitSink sink;
  std::vector<unsigned char> rel(128, 255);
  rel[0] = 1;  // total 32386: symbol 0 finds no room once the interval narrows below the total
  ArithEncoder enc(&sink.out);
  std::mt19937 rng(7);
  bool refused = false;
  for (int trial = 0; trial < 200 && !refused; ++trial) {
    enc.ReNewStats(128, rel.data());
    for (int i = 0; i < trial % 5; ++i) enc.Code(static_cast<unsigned char>(1 + rng() % 127));
    enc.Code(0);
    refused = enc.Failed();
    enc.CloseEncoder();
  }
  EXPECT_TRUE(refused);
  enc.ReNewStats(2, rel.data());
  EXPECT_FALSE(enc.Failed());
  enc.Code(2);  // beyond the alphabet
  EXPECT_TRUE(enc.Failed());
}

// Encodes random symbols of random tables, puts a marker after each block, and decodes with the
// block's own length as the bound: the decoder must recover every symbol without taking a bit
// beyond the block, and the marker must follow once the reader skips to the bound; its count of
// the block's bits must be what the encoder wrote. Odd seeds decode with the run form. Seeds above 60 take totals beyond
// ARITH_MAX_TOTAL, as only damaged frames carry them (the decoder then steps one bit at a time),
// keeping the blocks whose intervals all stay non-empty.
TEST(ArithCoder, RoundTripsRandomTables) {
  for (uint32_t seed = 1; seed <= 90; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    const bool large = seed > 60;
    const int count = large ? 110 + static_cast<int>(rng() % 18) : 1 + static_cast<int>(rng() % 128);
    std::vector<unsigned char> rel(count);
    uint32_t total;
    do {  // totals up to ARITH_MAX_TOTAL, the most the coder is given, or above it
      total = 0;
      const int top = 1 + static_cast<int>(rng() % 255);
      for (auto& r : rel) {
        if (large) {
          total += r = static_cast<unsigned char>(rng() % 8 == 0 ? 1 + rng() % 4 : 128 + rng() % 128);
        } else {
          total += r = static_cast<unsigned char>(rng() % 4 == 0 ? 0 : 1 + rng() % top);
        }
      }
    } while (total == 0 || large == (total <= ARITH_MAX_TOTAL));
    std::vector<int> symbols;
    std::discrete_distribution<int> pick(rel.begin(), rel.end());
    const int n = static_cast<int>(rng() % 3000);
    for (int i = 0; i < n; ++i) symbols.push_back(pick(rng));

    BitSink sink;
    ArithEncoder enc(&sink.out);
    enc.ReNewStats(static_cast<unsigned char>(count), rel.data());
    for (int s : symbols) enc.Code(static_cast<unsigned char>(s));
    const uint32_t length = enc.CloseEncoder();
    if (large && enc.Failed()) continue;
    ASSERT_FALSE(enc.Failed());
    sink.out.putbits(0xBEEF, 16);

    BitSource source(sink.Bytes());
    ArithDecoder dec(static_cast<unsigned char>(count), rel.data(), &source.in, length);
    if (seed % 2 == 0) {
      for (int i = 0; i < n; ++i) ASSERT_EQ(dec.Decode(), static_cast<uint32_t>(symbols[i])) << i;
    } else {  // the run form
      std::vector<int> decoded(static_cast<size_t>(n), -1);
      ASSERT_EQ(dec.DecodeSymbols(decoded.data(), static_cast<uint32_t>(n)), static_cast<uint32_t>(n));
      ASSERT_EQ(decoded, symbols);
    }
    EXPECT_EQ(dec.BlockBits(), length);
    const uint32_t used = dec.CloseDecoder();
    ASSERT_LE(used, length);
    EXPECT_EQ(source.in.BitCount(), used);
    if (length > used) source.in.getbits(static_cast<int>(length - used));
    EXPECT_EQ(source.in.getbits(16), 0xBEEFu);
  }
}

TEST(ExactDivider, EqualsTheQuotientForEveryDivisorUpToTheRegisterRange) {
  std::mt19937 rng(3);
  for (uint32_t d = 1; d <= 65536; ++d) {
    const ExactDivider divider(d);
    const uint32_t top = 0x7FFFFFFFu;
    const uint32_t lastMultiple = top / d * d;
    for (uint32_t a : {0u, 1u, d - 1, d, lastMultiple - 1, lastMultiple, top, static_cast<uint32_t>(rng() >> 1)}) {
      ASSERT_EQ(divider.Divide(a), a / d) << a << " / " << d;
    }
  }
}

TEST(ArithDecoder, ShortBoundAndEmptyTable) {
  BitSource source({0xFF, 0xFF, 0xFF, 0xFF});
  const unsigned char rel[] = {1, 1};
  ArithDecoder dec(2, rel, &source.in, 5);  // only 5 bits may be taken
  EXPECT_EQ(dec.Decode(), 1u);              // Tag 0xF800 lies in the upper half
  EXPECT_EQ(dec.CloseDecoder(), 5u);
  EXPECT_EQ(source.in.BitCount(), 5u);
  const unsigned char none[] = {0, 0, 0};
  dec.ReNewStats(3, none, 100);
  EXPECT_EQ(dec.Decode(), 3u);  // no symbol: the count itself, outside the alphabet
  EXPECT_TRUE(dec.Failed());
}

}  // namespace
}  // namespace ostrel
