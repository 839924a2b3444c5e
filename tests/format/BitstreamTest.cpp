#include "format/Bitstream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "common/TempDir.h"

namespace ostrel {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

// Runs `write` on a fresh writer, closes it and returns the file's bytes.
template <typename F>
std::vector<unsigned char> Written(F write) {
  TempDir dir;
  std::string path = dir.File("bits");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  {
    Bitstream out(f, 1);
    write(out);
    out.close();
  }
  std::fclose(f);
  return ReadAll(path);
}

TEST(BitstreamWrite, PacksFieldsMsbFirstAndPadsTheLastWord) {
  EXPECT_EQ(Written([](Bitstream& b) { b.putbits(0xA5, 8); }),
            (std::vector<unsigned char>{0xA5, 0, 0, 0}));
  // Nothing pending: close writes one word of zeros.
  EXPECT_EQ(Written([](Bitstream&) {}), (std::vector<unsigned char>{0, 0, 0, 0}));
  // Five pending bits become the top of the last word.
  EXPECT_EQ(Written([](Bitstream& b) { b.putbits(0x1F, 5); }),
            (std::vector<unsigned char>{0xF8, 0, 0, 0}));
}

TEST(BitstreamWrite, FullWordGoesOutAtOnceAndStraddlingFieldsSplit) {
  // A 32-bit field into an empty buffer is one word; close then adds a zero word.
  EXPECT_EQ(Written([](Bitstream& b) { b.putbits(0x12345678u, 32); }),
            (std::vector<unsigned char>{0x12, 0x34, 0x56, 0x78, 0, 0, 0, 0}));
  // 28 bits pending, then 8 bits: the high 4 complete the word, the low 4 stay pending.
  EXPECT_EQ(Written([](Bitstream& b) {
              b.putbits(0xABCDEF1, 28);
              b.putbits(0x9C, 8);
            }),
            (std::vector<unsigned char>{0xAB, 0xCD, 0xEF, 0x19, 0xC0, 0, 0, 0}));
}

TEST(BitstreamWrite, CountsBitsAndCloseOnReaderWritesNothing) {
  TempDir dir;
  std::string path = dir.File("r");
  WriteAll(path, {1, 2, 3, 4});
  std::FILE* f = std::fopen(path.c_str(), "rb+");
  Bitstream in(f, 0);
  in.close();
  std::fclose(f);
  EXPECT_EQ(ReadAll(path), (std::vector<unsigned char>{1, 2, 3, 4}));

  Written([](Bitstream& b) {
    b.putbits(1, 1);
    b.putbits(3, 2);
    b.putbits(0xFFFF, 16);
    EXPECT_EQ(b.BitCount(), 19u);
  });
}

class BitstreamReadTest : public ::testing::Test {
 protected:
  void Open(const std::vector<unsigned char>& bytes) {
    path_ = dir_.File("in");
    WriteAll(path_, bytes);
    file_ = std::fopen(path_.c_str(), "rb");
    ASSERT_NE(file_, nullptr);
  }
  void TearDown() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  TempDir dir_;
  std::string path_;
  std::FILE* file_ = nullptr;
};

TEST_F(BitstreamReadTest, ReadsSixteenBitFieldsAcrossWords) {
  Open({0xA5, 0x5A, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
  Bitstream in(file_, 0);
  EXPECT_EQ(in.getbits(16), 0xA55Au);
  EXPECT_EQ(in.getbits(16), 0x1234u);
  EXPECT_EQ(in.getbits(16), 0x5678u);
  EXPECT_EQ(in.getbits(16), 0x9ABCu);
  EXPECT_EQ(in.EndInput(), 0);
  // Past the end every bit is zero and the end is recorded.
  EXPECT_EQ(in.getbits(16), 0u);
  EXPECT_EQ(in.getbits(32), 0u);
  EXPECT_EQ(in.EndInput(), 1);
}

TEST_F(BitstreamReadTest, FieldStraddlingAWordTakesHighBitsFromTheNextWord) {
  Open({0xFF, 0xFF, 0xFF, 0xC0, 0xAB, 0xCD, 0, 0});
  Bitstream in(file_, 0);
  EXPECT_EQ(in.getbits(22), 0x3FFFFFu);
  // 10 bits left in the first word (1111000000), then 6 from the next (101010).
  EXPECT_EQ(in.getbits(16), (0x3C0u << 6) | 0x2Au);
}

TEST_F(BitstreamReadTest, PushedBackBitsComeFirst) {
  Open({0x80, 0x01, 0xFF, 0xFF, 0, 0, 0, 0});
  Bitstream in(file_, 0);
  in.forceback(0x5, 3);  // 101
  // 3 pushed-back bits, then 13 bits from the word: 1000000000000.
  EXPECT_EQ(in.getbits(16), (0x5u << 13) | 0x1000u);
  // A window read and partly returned: the returned bits are read again.
  uint32_t window = in.getbits(8);  // stream bits 13..20: 001 11111
  EXPECT_EQ(window, 0x3Fu);
  in.forceback(window & 0x3u, 2);
  EXPECT_EQ(in.getbits(4), 0xFu);
  in.forceback(0x3, 2);
  in.resetforceback();
  EXPECT_EQ(in.getbits(4), 0xFu);
}

TEST(BitstreamRoundTrip, RandomFieldsReadBackExactly) {
  const unsigned seed = 1234;
  SCOPED_TRACE(seed);
  std::mt19937 rng(seed);
  std::vector<std::pair<uint32_t, int>> fields;
  for (int i = 0; i < 5000; ++i) {
    int n = 1 + static_cast<int>(rng() % 32);
    uint32_t v = rng() & (n == 32 ? 0xFFFFFFFFu : ((1u << n) - 1u));
    fields.emplace_back(v, n);
  }
  TempDir dir;
  std::string path = dir.File("rt");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  uint64_t bits = 0;
  {
    Bitstream out(f, 1);
    for (auto [v, n] : fields) {
      out.putbits(v, n);
      bits += static_cast<uint64_t>(n);
    }
    EXPECT_EQ(out.BitCount(), bits);
    out.close();
    EXPECT_FALSE(out.WriteFailed());
  }
  std::fclose(f);
  EXPECT_EQ(ReadAll(path).size(), (bits / 32 + 1) * 4);

  f = std::fopen(path.c_str(), "rb");
  Bitstream in(f, 0);
  for (auto [v, n] : fields) ASSERT_EQ(in.getbits(n), v);
  EXPECT_EQ(in.BitCount(), bits);
  std::fclose(f);
}

TEST(BitstreamWrite, ReportsAFailedWrite) {
  std::FILE* f = std::fopen("/dev/full", "wb");
  if (f == nullptr) GTEST_SKIP() << "/dev/full is not available";
  std::setvbuf(f, nullptr, _IONBF, 0);
  Bitstream out(f, 1);
  out.putbits(0xFFFFFFFFu, 32);
  EXPECT_TRUE(out.WriteFailed());
  std::fclose(f);
}

}  // namespace
}  // namespace ostrel
