#include "coding/FrameReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "coding/SymbolSet.h"
#include "coding/WeightCoding.h"
#include "coding/WriteFrame.h"
#include "common/TempDir.h"
#include "format/Bitstream.h"

namespace ostrel {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

// A frame layout: long block length, blocks per frame and band counts (the reader only needs the
// counts; these are the ones the models give at the three block lengths, give or take).
struct Layout {
  int LongSize, NBlocks, LongBands, ShortBands, TranBands;
  uint32_t FrameBits;
  unsigned Total() const { return static_cast<unsigned>(LongSize / 2 * NBlocks); }
};

const Layout LAYOUTS[] = {
    {512, 32, 21, 12, 22, 47560},
    {1024, 16, 24, 15, 22, 35672},
    {2048, 16, 25, 19, 24, 47560},
};

// Everything one frame carries, made up from a seed within the ranges the encoder produces.
struct Content {
  Content(const Layout& l, uint32_t seed, int switch0, int switch1, int steps) : layout(l), Steps(steps) {
    std::mt19937 rng(seed);
    SwitchUsed[0] = switch0 >= 0;
    Location[0] = switch0 >= 0 ? switch0 : 0;
    SwitchUsed[1] = switch1 >= 0;
    Location[1] = switch1 >= 0 ? switch1 : 0;
    const int maxBands = std::max({l.LongBands, l.ShortBands, l.TranBands});
    for (int c = 0; c < 2; ++c) {
      gainRows[c].resize(static_cast<size_t>(l.NBlocks) + 1);
      for (int& g : gainRows[c]) g = 10 + static_cast<int>(rng() % 20);
      gains[c] = gainRows[c].data();
      weightRows[c].assign(static_cast<size_t>(l.NBlocks) + 1, std::vector<int>(static_cast<size_t>(maxBands)));
      for (auto& set : weightRows[c]) {
        // A walk with steps the weight codebook covers, kept inside the code range.
        int code = -32 + static_cast<int>(rng() % 256);
        for (int& w : set) {
          w = code;
          code = std::min(223, std::max(-32, code + static_cast<int>(rng() % 33) - 14));
        }
        weightSets[c].push_back(set.data());
      }
      weights[c] = weightSets[c].data();
      codedRows[c].resize(static_cast<size_t>(l.NBlocks) * maxBands + 64);
      coded[c] = codedRows[c].data();
      values[c].resize(l.Total());
      for (float& v : values[c]) {
        // Mostly zeros, some values up to the step size: sparse enough to fit the frame.
        const uint32_t r = rng() % 100;
        v = r < 95 ? 0.0f : static_cast<float>(static_cast<int>(rng() % (2 * steps + 1)) - steps);
      }
      x[c] = values[c].data();
    }
    Symbols.resize(2 * l.Total());
  }

  const Layout& layout;
  int Steps;
  int SwitchUsed[2], Location[2];
  std::vector<int> gainRows[2];
  int* gains[2];
  std::vector<std::vector<int>> weightRows[2];
  std::vector<int*> weightSets[2];
  int** weights[2];
  std::vector<int> codedRows[2];
  int* coded[2];
  std::vector<float> values[2];
  float* x[2];
  std::vector<int> Symbols;
  unsigned Stats[320];
  unsigned char CompStats[320];
};

// Bit positions (from the frame's start) at which each field begins, and the bits before padding.
struct FieldOffsets {
  uint32_t tranInfo, gains, weights, stepSize, stats, symbolCount, block, end;
};

// Writes `c` as one frame of layout.FrameBits bits. `tamper`, when given, may change the coded
// weights or the symbols after they are made and before they are written.
FieldOffsets WriteOne(Bitstream& out, Content& c, const std::function<void(Content&)>& tamper = nullptr) {
  const Layout& l = c.layout;
  WriteFrame writer(l.LongSize, l.NBlocks, 2, l.LongBands, l.ShortBands, l.TranBands, c.SwitchUsed, c.Location,
                    c.gains, c.coded, c.CompStats, c.Symbols.data(), &out);
  FieldOffsets at{};
  uint32_t bits = static_cast<uint32_t>(writer.WriteSyncWord());
  at.tranInfo = bits;
  bits += static_cast<uint32_t>(writer.WriteTranInfo());
  at.gains = bits;
  bits += static_cast<uint32_t>(writer.WriteGains());
  CodeWeights(c.weights, c.coded, c.SwitchUsed, c.Location, 2, l.NBlocks, l.LongBands, l.ShortBands, l.TranBands);
  int count = ConstructSymbolSet(c.x, c.Symbols.data(), c.Steps, 2, l.Total());
  if (tamper) tamper(c);
  CollectStatistics(c.Symbols.data(), c.Stats, c.CompStats, count, c.Steps);
  at.weights = bits;
  bits += static_cast<uint32_t>(writer.WriteWeights());
  at.stepSize = bits;
  bits += static_cast<uint32_t>(writer.WriteStepSize(c.Steps));
  at.stats = bits;
  bits += static_cast<uint32_t>(writer.WriteStats(c.Steps));
  at.symbolCount = bits;
  at.block = bits + 16;
  bits += static_cast<uint32_t>(writer.WriteSymbols(count, c.Steps));
  at.end = bits;
  EXPECT_LE(bits, l.FrameBits) << "test frame does not fit; use fewer values";
  writer.WritePaddingBits(static_cast<int>(l.FrameBits - bits));
  return at;
}

// A file holding the frames written by `write`, read back frame by frame.
class FrameFile {
 public:
  explicit FrameFile(const std::function<void(Bitstream&)>& write) : path_(dir_.File("frames")) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    {
      Bitstream out(f, 1);
      write(out);
      out.close();
    }
    std::fclose(f);
  }
  std::vector<unsigned char> Bytes() const { return ReadAll(path_); }
  void SetBytes(const std::vector<unsigned char>& bytes) { WriteAll(path_, bytes); }
  void FlipBit(uint32_t bit) {
    std::vector<unsigned char> bytes = Bytes();
    bytes.at(bit / 8) ^= static_cast<unsigned char>(0x80u >> (bit % 8));
    SetBytes(bytes);
  }
  // Reads frame `index` of `frameBits` bits with `reader`.
  bool Read(FrameReader& reader, uint32_t index, uint32_t frameBits) {
    std::FILE* f = std::fopen(path_.c_str(), "rb");
    std::fseek(f, static_cast<long>(index * (frameBits / 8)), SEEK_SET);
    const bool ok = reader.ReadFrame(f, frameBits);
    std::fclose(f);
    return ok;
  }

 private:
  TempDir dir_;
  std::string path_;
};

// The reader's output arrays for one layout.
struct Decoded {
  explicit Decoded(const Layout& l) {
    const int maxBands = std::max({l.LongBands, l.ShortBands, l.TranBands});
    for (int c = 0; c < 2; ++c) {
      gainRows[c].assign(static_cast<size_t>(l.NBlocks) + 1, -1);
      gains[c] = gainRows[c].data();
      weightRows[c].assign(static_cast<size_t>(l.NBlocks) + 1, std::vector<int>(static_cast<size_t>(maxBands), -99));
      for (auto& set : weightRows[c]) weightSets[c].push_back(set.data());
      weights[c] = weightSets[c].data();
      values[c].assign(l.Total() + static_cast<unsigned>(l.LongSize / 2), 7.0f);
      x[c] = values[c].data();
    }
    reader = std::make_unique<FrameReader>(l.LongSize, l.NBlocks, 2, l.LongBands, l.ShortBands, l.TranBands,
                                           SwitchUsed, Location, gains, weights, x);
  }
  int SwitchUsed[2] = {-1, -1}, Location[2] = {-1, -1};
  std::vector<int> gainRows[2];
  int* gains[2];
  std::vector<std::vector<int>> weightRows[2];
  std::vector<int*> weightSets[2];
  int** weights[2];
  std::vector<float> values[2];
  float* x[2];
  std::unique_ptr<FrameReader> reader;
};

int BandsOf(const Layout& l, const Content& c, int ch, int set) {
  if (c.SwitchUsed[ch] != 0) {
    if (set == c.Location[ch] || set == c.Location[ch] + 2) return l.TranBands;
    if (set == c.Location[ch] + 1) return l.ShortBands;
  }
  return l.LongBands;
}

void ExpectSameFrame(const Content& c, const Decoded& d, const FieldOffsets& at) {
  const Layout& l = c.layout;
  const FrameReport& r = d.reader->Report();
  EXPECT_EQ(r.Damage, FrameDamage::None) << DescribeDamage(r.Damage);
  EXPECT_EQ(r.Steps, c.Steps);
  EXPECT_EQ(r.BitsUsed, at.end);
  for (int ch = 0; ch < 2; ++ch) {
    SCOPED_TRACE(ch);
    EXPECT_EQ(d.SwitchUsed[ch], c.SwitchUsed[ch]);
    EXPECT_EQ(d.Location[ch], c.Location[ch]);
    const int sets = l.NBlocks + (c.SwitchUsed[ch] ? 1 : 0);
    for (int j = 0; j < sets; ++j) {
      EXPECT_EQ(d.gains[ch][j], c.gains[ch][j]) << "set " << j;
      for (int k = 0; k < BandsOf(l, c, ch, j); ++k) {
        ASSERT_EQ(d.weights[ch][j][k], c.weights[ch][j][k]) << "set " << j << " band " << k;
      }
    }
    for (unsigned k = 0; k < l.Total(); ++k) {
      // value / step size in single precision, exactly as the reader must compute it.
      ASSERT_EQ(d.x[ch][k], c.x[ch][k] / static_cast<float>(c.Steps)) << "coefficient " << k;
    }
  }
}

TEST(FrameReader, ReadsBackWhatWriteFrameWroteForEveryLayoutAndSwitchPosition) {
  for (const Layout& l : LAYOUTS) {
    // Transient pairs at the first and the last possible block, one channel switched alone, none.
    const int cases[][2] = {{-1, -1}, {0, l.NBlocks - 2}, {l.NBlocks - 2, 0}, {-1, 5}, {3, -1}};
    for (int i = 0; i < 5; ++i) {
      const uint32_t seed = static_cast<uint32_t>(l.LongSize * 10 + i);
      SCOPED_TRACE(testing::Message() << "long " << l.LongSize << " seed " << seed);
      Content first(l, seed, cases[i][0], cases[i][1], 1 + static_cast<int>(seed % 32));
      Content second(l, seed + 1000, cases[i][1], cases[i][0], 32 - static_cast<int>(seed % 32));
      FieldOffsets at1{}, at2{};
      FrameFile file([&](Bitstream& out) {
        at1 = WriteOne(out, first);
        at2 = WriteOne(out, second);
      });
      Decoded d(l);
      // The second frame first: each frame is read on its own from its offset.
      ASSERT_TRUE(file.Read(*d.reader, 1, l.FrameBits)) << DescribeDamage(d.reader->Report().Damage);
      ExpectSameFrame(second, d, at2);
      ASSERT_TRUE(file.Read(*d.reader, 0, l.FrameBits)) << DescribeDamage(d.reader->Report().Damage);
      ExpectSameFrame(first, d, at1);
    }
  }
}

TEST(FrameReader, SilenceGivesAFrameTheSynthesisAccepts) {
  const Layout& l = LAYOUTS[0];
  Decoded d(l);
  d.reader->Silence();
  for (int ch = 0; ch < 2; ++ch) {
    EXPECT_EQ(d.SwitchUsed[ch], 0);
    for (int j = 0; j <= l.NBlocks; ++j) {
      EXPECT_EQ(d.gains[ch][j], 10);
      EXPECT_EQ(d.weights[ch][j][0], -32);
    }
    for (unsigned k = 0; k < l.Total(); ++k) ASSERT_EQ(d.x[ch][k], 0.0f);
  }
}

// Reads a frame after `damage` changed its bytes; the reader must not crash, and what it accepts
// must be within the ranges the synthesis relies on.
FrameDamage ReadDamaged(const Layout& l, FrameFile& file, Decoded& d) {
  const bool ok = file.Read(*d.reader, 0, l.FrameBits);
  const FrameReport& r = d.reader->Report();
  if (ok) {
    EXPECT_EQ(r.Damage, FrameDamage::None);
    for (int ch = 0; ch < 2; ++ch) {
      EXPECT_TRUE(d.SwitchUsed[ch] == 0 || d.SwitchUsed[ch] == 1);
      EXPECT_GE(d.Location[ch], 0);
      EXPECT_LE(d.Location[ch], l.NBlocks - 2);
      for (int j = 0; j <= l.NBlocks; ++j) {
        EXPECT_GE(d.gains[ch][j], 10);
        EXPECT_LE(d.gains[ch][j], 29);
      }
    }
  } else {
    EXPECT_NE(r.Damage, FrameDamage::None);
  }
  return r.Damage;
}

TEST(FrameReader, AFlippedBitInEachFieldIsReadSafelyAndReportedWhereItCanBe) {
  const Layout& l = LAYOUTS[2];
  Content c(l, 77, 0, l.NBlocks - 2, 9);
  FieldOffsets at{};
  FrameFile file([&](Bitstream& out) { at = WriteOne(out, c); });
  const std::vector<unsigned char> good = file.Bytes();
  Decoded d(l);

  struct Flip {
    const char* field;
    uint32_t bit;
    FrameDamage expected;  // None: any outcome but a crash or an out-of-range value
  };
  const Flip flips[] = {
      {"sync word", 3, FrameDamage::SyncWord},
      {"switch flag", at.tranInfo, FrameDamage::None},
      // Location 14 of channel 1 becomes 15, past the last block a pair can start at.
      {"location", at.tranInfo + 1 + 4 + 1 + 3, FrameDamage::Location},
      {"gain", at.gains, FrameDamage::None},
      {"gain (later)", at.gains + 40, FrameDamage::None},
      {"leading weight", at.weights, FrameDamage::None},
      {"weight difference", at.weights + 2 * 17 * 8 + 1, FrameDamage::None},
      {"step size", at.stepSize, FrameDamage::None},
      {"table", at.stats + 3, FrameDamage::None},
      // The count's top bit asks for more than 32768 symbols.
      {"symbol count", at.symbolCount, FrameDamage::SymbolCount},
      {"coded symbols", at.block + 5, FrameDamage::None},
      {"coded symbols (late)", (at.block + at.end) / 2, FrameDamage::None},
  };
  for (const Flip& flip : flips) {
    SCOPED_TRACE(flip.field);
    file.SetBytes(good);
    file.FlipBit(flip.bit);
    const FrameDamage found = ReadDamaged(l, file, d);
    if (flip.expected != FrameDamage::None) {
      EXPECT_EQ(found, flip.expected) << DescribeDamage(found);
    }
  }
  // A flip in the coded symbols early on changes the symbol string; it must not pass unnoticed.
  file.SetBytes(good);
  file.FlipBit(at.block + 5);
  EXPECT_FALSE(file.Read(*d.reader, 0, l.FrameBits));
}

TEST(FrameReader, ReportsFieldsThatCannotStandForAnything) {
  const Layout& l = LAYOUTS[1];
  Decoded d(l);
  {
    SCOPED_TRACE("weight codes summed out of range");
    Content c(l, 5, -1, -1, 4);
    FrameFile file([&](Bitstream& out) {
      WriteOne(out, c, [&](Content& t) {
        // Leading code 223 of set 0, then +18 per band: far above the code range.
        t.coded[0][0] = 223;
        for (int k = 0; k < l.LongBands - 1; ++k) t.coded[0][l.NBlocks + k] = 18;
      });
    });
    EXPECT_FALSE(file.Read(*d.reader, 0, l.FrameBits));
    EXPECT_EQ(d.reader->Report().Damage, FrameDamage::WeightCode);
  }
  {
    SCOPED_TRACE("weight codes summed below range");
    Content c(l, 6, 2, -1, 4);
    FrameFile file([&](Bitstream& out) {
      WriteOne(out, c, [&](Content& t) {
        t.coded[1][l.NBlocks - 1] = -32;
        for (int k = 1; k < 4; ++k) t.coded[1][l.NBlocks * l.LongBands - l.LongBands + k] = -14;
      });
    });
    EXPECT_FALSE(file.Read(*d.reader, 0, l.FrameBits));
    EXPECT_EQ(d.reader->Report().Damage, FrameDamage::WeightCode);
  }
  {
    SCOPED_TRACE("a run past the channel's end");
    Content c(l, 7, -1, -1, 4);
    FrameFile file([&](Bitstream& out) {
      WriteOne(out, c, [&](Content& t) {
        // The first symbol of the frame becomes a run of 64 zeros: channel 0 overflows.
        t.Symbols[0] = 2 * t.Steps + 63;
      });
    });
    EXPECT_FALSE(file.Read(*d.reader, 0, l.FrameBits));
    EXPECT_EQ(d.reader->Report().Damage, FrameDamage::SymbolString);
  }
}

TEST(FrameReader, NothingIsTakenFromBeyondTheFrame) {
  const Layout& l = LAYOUTS[1];
  Content c(l, 11, 4, -1, 12);
  FieldOffsets at{};
  FrameFile file([&](Bitstream& out) { at = WriteOne(out, c); });
  Decoded d(l);
  // The same bytes read as a frame that ends inside the coded block, or inside the side information.
  const uint32_t inBlock = (at.block + at.end) / 2 / 8 * 8;
  EXPECT_FALSE(file.Read(*d.reader, 0, inBlock));
  EXPECT_EQ(d.reader->Report().Damage, FrameDamage::BlockPastFrame);
  EXPECT_FALSE(file.Read(*d.reader, 0, at.gains + 8));
  EXPECT_EQ(d.reader->Report().Damage, FrameDamage::FieldsPastFrame);
  // A frame that ends exactly where the writer's bits end (no padding) is still whole.
  EXPECT_TRUE(file.Read(*d.reader, 0, (at.end + 7) / 8 * 8)) << DescribeDamage(d.reader->Report().Damage);
}

TEST(FrameReader, SymbolsWithAnEmptyTableAreDamage) {
  const Layout& l = LAYOUTS[0];
  Content c(l, 3, -1, -1, 2);
  FrameFile file([&](Bitstream& out) {
    WriteFrame writer(l.LongSize, l.NBlocks, 2, l.LongBands, l.ShortBands, l.TranBands, c.SwitchUsed, c.Location,
                      c.gains, c.coded, c.CompStats, c.Symbols.data(), &out);
    uint32_t bits = static_cast<uint32_t>(writer.WriteSyncWord() + writer.WriteTranInfo() + writer.WriteGains());
    CodeWeights(c.weights, c.coded, c.SwitchUsed, c.Location, 2, l.NBlocks, l.LongBands, l.ShortBands, l.TranBands);
    bits += static_cast<uint32_t>(writer.WriteWeights() + writer.WriteStepSize(c.Steps));
    std::fill(std::begin(c.CompStats), std::end(c.CompStats), 0);
    bits += static_cast<uint32_t>(writer.WriteStats(c.Steps));
    out.putbits(100, 16);  // symbols to decode, with no frequency to decode them by
    out.putbits(0x4000, 16);
    bits += 32;
    writer.WritePaddingBits(static_cast<int>(l.FrameBits - bits));
  });
  Decoded d(l);
  EXPECT_FALSE(file.Read(*d.reader, 0, l.FrameBits));
  EXPECT_EQ(d.reader->Report().Damage, FrameDamage::EmptyTable);
}

}  // namespace
}  // namespace ostrel
