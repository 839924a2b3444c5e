#include "coding/Huffman.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "coding/BitCapture.h"
#include "coding/FrameLayout.h"

namespace ostrel {
namespace {

struct Book {
  const char* name;
  std::vector<HuffCode> (*enc)();
  std::vector<HuffDecEntry> (*dec)(unsigned char*);
  size_t entries;
  int longest;
};

const Book kBooks[] = {
    {"00", GetHuffEnc00, GetHuffDec00, WEIGHT_TABLE_SIZE, 16},
    {"01", GetHuffEnc01, GetHuffDec01, GAIN_TABLE_SIZE, 12},
    {"02", GetHuffEnc02, GetHuffDec02, GAIN_TABLE_SIZE, 14},
    {"03", GetHuffEnc03, GetHuffDec03, GAIN_TABLE_SIZE, 14},
};

std::string CodeString(const HuffCode& c) {
  std::string s;
  for (int b = c.length - 1; b >= 0; --b) s += ((c.code >> b) & 1) ? '1' : '0';
  return s;
}

// Complete and prefix-free: with the longest code M, the code of every symbol covers exactly
// 2^(M - length) of the 2^M windows and no window is covered twice.
TEST(Huffman, CodebooksAreCompletePrefixCodes) {
  for (const Book& book : kBooks) {
    SCOPED_TRACE(book.name);
    const std::vector<HuffCode> codes = book.enc();
    ASSERT_EQ(codes.size(), book.entries);
    uint64_t kraft = 0;  // in units of 2^-16
    int longest = 0;
    for (const HuffCode& c : codes) {
      ASSERT_GE(c.length, 1);
      ASSERT_LT(c.code, 1u << c.length);
      kraft += uint64_t{1} << (16 - c.length);
      longest = std::max<int>(longest, c.length);
    }
    EXPECT_EQ(kraft, uint64_t{1} << 16);
    EXPECT_EQ(longest, book.longest);
  }
}

TEST(Huffman, CodebookSpotValues) {
  const auto weights = GetHuffEnc00();
  EXPECT_EQ(CodeString(weights[0]), "000000000000001");   // -14
  EXPECT_EQ(CodeString(weights[14]), "101");              // 0
  EXPECT_EQ(CodeString(weights[31]), "0000000000000000");  // +17
  EXPECT_EQ(CodeString(weights[32]), "0000000000000001");  // +18
  EXPECT_EQ(CodeString(GetGainHuffEnc(512)[14 - GAIN_OFFSET]), "1");
  EXPECT_EQ(CodeString(GetGainHuffEnc(1024)[16 - GAIN_OFFSET]), "11");
  EXPECT_EQ(CodeString(GetGainHuffEnc(1024)[17 - GAIN_OFFSET]), "10");
  const auto g2048 = GetGainHuffEnc(2048);
  for (int gain = 20; gain <= 24; ++gain) EXPECT_EQ(g2048[gain - GAIN_OFFSET].length, 3) << gain;
  EXPECT_EQ(CodeString(g2048[0]), "000000000000");
  EXPECT_EQ(CodeString(GetGainHuffEnc(4096)[19]), "0000000001");  // any other size: the 2048 book
}

// Every entry of every decoding table names the one symbol whose code starts its window.
TEST(Huffman, EveryDecodingTableEntry) {
  for (const Book& book : kBooks) {
    SCOPED_TRACE(book.name);
    unsigned char M = 0;
    const std::vector<HuffDecEntry> table = book.dec(&M);
    ASSERT_EQ(M, book.longest);
    ASSERT_EQ(table.size(), size_t{1} << M);
    const std::vector<HuffCode> codes = book.enc();
    for (uint32_t w = 0; w < table.size(); ++w) {
      const HuffDecEntry e = table[w];
      ASSERT_LT(e.symbol, codes.size()) << w;
      const HuffCode c = codes[e.symbol];
      ASSERT_EQ(e.beyond, M - c.length) << w;
      ASSERT_EQ(w >> e.beyond, c.code) << w;
    }
  }
  unsigned char M = 0;
  EXPECT_EQ(GetHuffDec01(&M)[0b000000000001].symbol, 1);  // gain 11
  EXPECT_EQ(GetHuffDec00(&M)[0].symbol, 31);
  EXPECT_EQ(GetHuffDec03(&M)[0x2000].beyond, 13);
}

// Codes of every book interleaved with plain fields read back exactly, the push-back leaving the
// stream just after each code; the last code runs into the end of the file.
TEST(Huffman, DecodeRoundTripWithPushBack) {
  for (uint32_t seed = 1; seed <= 5; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    std::vector<std::pair<int, int>> sent;  // (book, symbol); book -1 = a plain 8-bit field
    test::BitSink sink;
    for (int i = 0; i < 2000; ++i) {
      const int book = static_cast<int>(rng() % 5) - 1;
      const int symbol = book < 0 ? static_cast<int>(rng() % 256)
                                  : static_cast<int>(rng() % kBooks[book].entries);
      if (book < 0) {
        sink.out.putbits(symbol, 8);
      } else {
        const HuffCode c = kBooks[book].enc()[symbol];
        sink.out.putbits(c.code, c.length);
      }
      sent.emplace_back(book, symbol);
    }
    const uint64_t bits = sink.out.BitCount();
    test::BitSource source(sink.Bytes());
    unsigned char M[4];
    std::vector<HuffDecEntry> tables[4];
    for (int b = 0; b < 4; ++b) tables[b] = kBooks[b].dec(&M[b]);
    for (const auto& [book, symbol] : sent) {
      const int got = book < 0 ? static_cast<int>(source.in.getbits(8))
                               : HuffDecode(source.in, tables[book], M[book]);
      ASSERT_EQ(got, symbol);
    }
    EXPECT_EQ(source.in.BitCount(), bits);
  }
}

}  // namespace
}  // namespace ostrel
