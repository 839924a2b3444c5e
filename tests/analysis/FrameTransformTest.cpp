// The encoder's frame analysis on generated WAV files: block layout and weight sets with and
// without a transient pair, normalisation and gains, the end-of-input flag.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "AnalysisRig.h"
#include "common/TempDir.h"
#include "common/WavFixture.h"
#include "psycho/PsychoTools.h"
#include "transform/VariableMDCT.h"

namespace ostrel {
namespace {

using test::Encoder;
using test::kUntouched;
using test::Models;
using test::Sizes;

// One coded block as the layout places it: window type, where its new samples and its lines
// start in the frame, how many, and its weight set.
struct Block {
  int type;
  unsigned sampleStart, newSamples;
  unsigned lineStart, lines;
  unsigned set;
};

// The blocks of one channel's frame in coding order, for a pair at `pair` (or -1 for none): the
// format's walk over the weight sets, the short triple split into its three blocks.
std::vector<Block> Layout(Sizes s, int pair) {
  std::vector<Block> blocks;
  ForEachWeightSet(s.blocks(), s.nblocks, pair >= 0, pair, [&](const WeightSetSpan& set) {
    const int type = static_cast<int>(set.kind);
    if (set.kind != WeightSetKind::Short) {
      blocks.push_back({type, set.sample, set.samples, set.line, set.lines, set.set});
      return;
    }
    const unsigned hs = s.hs();
    for (unsigned k = 0; k < 3; ++k) blocks.push_back({type, set.sample + k * hs, hs, set.line + k * hs, hs, set.set});
  });
  return blocks;
}

// Independent analysis of one channel: runs its own MDCT over the layout and returns the raw
// coefficients at their line positions.
struct ReferenceAnalysis {
  explicit ReferenceAnalysis(Sizes s) : sizes(s) { mdct = VariableMDCT(static_cast<int>(s.lsize), static_cast<int>(s.lsize / 4)); }
  std::vector<float> Frame(const std::vector<float>& samples, int pair) {
    std::vector<float> lines(sizes.total());
    std::vector<float> block(sizes.lsize);
    for (const Block& bl : Layout(sizes, pair)) {
      unsigned left = (bl.type == 0 || bl.type == 1) ? sizes.hl() : sizes.hs();
      std::fill(block.begin(), block.end(), 0.0f);
      std::copy(samples.begin() + bl.sampleStart, samples.begin() + bl.sampleStart + bl.newSamples,
                block.begin() + left);
      mdct.Transform(block.data(), bl.type);
      std::copy(block.begin(), block.begin() + bl.lines, lines.begin() + bl.lineStart);
    }
    return lines;
  }
  Sizes sizes;
  VariableMDCT mdct;
};

std::vector<float> Channel(const test::Stereo& s, unsigned c, size_t from, size_t count) {
  std::vector<float> out(count);
  for (size_t i = 0; i < count; ++i) out[i] = s[2 * (from + i) + c];
  return out;
}

TEST(FrameTransform, SilenceGivesLongBlocksZeroLinesLowestCodesAndGainTen) {
  const Sizes s{2048, 16};
  test::TempDir dir;
  const std::string wav = dir.File("silence.wav");
  test::WriteWav(wav, test::Silence(2 * s.total()));
  Models m(s, 0.0f);
  Encoder e(s, m, wav);
  for (int frame = 0; frame < 3; ++frame) {
    SCOPED_TRACE(frame);
    m.MarkUntouched();
    // The file ends exactly with the second frame: only the third read runs past its end.
    EXPECT_EQ(e.NewFrame(), frame == 2 ? 1 : 0);
    for (unsigned c = 0; c < 2; ++c) {
      EXPECT_EQ(e.switchUsed[c], 0);
      EXPECT_EQ(e.location[c], 0);
      EXPECT_EQ(FrameTransformPeer::OldPower(*e.transform, c), 1.0f);
      for (unsigned i = 0; i < s.total(); ++i) ASSERT_EQ(e.X[c][i], 0.0f) << "line " << i;
      for (unsigned j = 0; j < s.nblocks; ++j) {
        EXPECT_EQ(m.Gains()[c][j], 10);
        for (int k = 0; k < m.LongBandCount; ++k) EXPECT_EQ(m.Weights()[c][j][k], -32);
        for (size_t k = static_cast<size_t>(m.LongBandCount); k < m.RowLength(); ++k) {
          EXPECT_EQ(m.Weights()[c][j][k], kUntouched);
        }
      }
      EXPECT_EQ(m.Gains()[c][s.nblocks], kUntouched);
      EXPECT_EQ(m.Weights()[c][s.nblocks][0], kUntouched);
    }
  }
}

TEST(FrameTransform, TransientPairTakesThreeSetsAndLeavesEveryOtherBlockInPlace) {
  // Both channels carry the same quiet noise; in the second frame channel 0 alone gets a click in
  // segment 21, which puts its pair at block 5. The first frame starts from silence, so both
  // channels open with a pair at block 0.
  const Sizes s{2048, 16};
  const unsigned seed = 61;
  SCOPED_TRACE(seed);
  test::Stereo input = test::Noise(2 * s.total(), 300.0, seed);
  for (size_t n = 0; n < input.size() / 2; ++n) input[2 * n + 1] = input[2 * n];
  test::AddClick(input, s.total() + 21 * s.hs() + 100, 0);
  test::TempDir dir;
  const std::string wav = dir.File("pair.wav");
  test::WriteWav(wav, input);

  Models m(s, 0.0f);
  Encoder e(s, m, wav);
  ReferenceAnalysis ref[2] = {ReferenceAnalysis(s), ReferenceAnalysis(s)};
  std::vector<float> firstX[2];
  std::vector<std::vector<int>> firstWeights[2];

  for (int frame = 0; frame < 2; ++frame) {
    SCOPED_TRACE(frame);
    m.MarkUntouched();
    ASSERT_EQ(e.NewFrame(), 0);
    const int expectedPair[2] = {frame == 0 ? 0 : 5, frame == 0 ? 0 : -1};
    for (unsigned c = 0; c < 2; ++c) {
      SCOPED_TRACE(c);
      ASSERT_EQ(e.switchUsed[c], expectedPair[c] >= 0 ? 1 : 0);
      ASSERT_EQ(e.location[c], expectedPair[c] >= 0 ? expectedPair[c] : 0);

      // Every coded block against the independent analysis: the model's codes, its zeroed lines,
      // and each line restored by gain and weight within float rounding (two divisions and two
      // multiplications, each correctly rounded: a few ulp).
      std::vector<float> raw = ref[c].Frame(Channel(input, c, frame * s.total(), s.total()), expectedPair[c]);
      std::vector<int> codes(m.RowLength());
      for (const Block& bl : Layout(s, expectedPair[c])) {
        // The short triple is one set: check it once, at its first block.
        if (bl.type == 2 && bl.lineStart != expectedPair[c] * s.hl() + s.tsize()) continue;
        SCOPED_TRACE(testing::Message() << "set " << bl.set << " type " << bl.type << " line " << bl.lineStart);
        int count = bl.type == 0 ? m.LongBandCount : bl.type == 2 ? m.ShortBandCount : m.TranBandCount;
        const int* bands = bl.type == 0 ? m.LongBands : bl.type == 2 ? m.ShortBands : m.TranBands;
        Psycho& model = bl.type == 0 ? *m.LongModel : bl.type == 2 ? *m.ShortModel : *m.TranModel;
        unsigned setLines = bl.type == 2 ? 3 * s.hs() : bl.lines;
        std::vector<float> modelled(raw.begin() + bl.lineStart, raw.begin() + bl.lineStart + setLines);
        model.ComputeModel(modelled.data(), codes.data());
        const std::vector<int> got = m.Row(c, bl.set);
        for (int k = 0; k < count; ++k) ASSERT_EQ(got[k], codes[k]) << "band " << k;
        for (size_t k = static_cast<size_t>(count); k < got.size(); ++k) ASSERT_EQ(got[k], kUntouched);

        const int gain = m.Gains()[c][bl.set];
        ASSERT_GE(gain, 10);
        ASSERT_LE(gain, 29);
        float peak = 0.0f;
        unsigned h = 0;
        for (int r = 0; r < (bl.type == 2 ? 3 : 1); ++r) {
          for (int k = 0; k < count; ++k) {
            float w = DecompressWeights(got[k]);
            for (int i = 0; i < bands[k]; ++i, ++h) {
              float x = e.X[c][bl.lineStart + h];
              peak = std::max(peak, std::fabs(x));
              if (modelled[h] == 0.0f) {
                ASSERT_EQ(x, 0.0f) << "line " << h;
              } else {
                ASSERT_NEAR(x * static_cast<float>(gain) * w / modelled[h], 1.0f, 4e-7f) << "line " << h;
              }
            }
          }
        }
        ASSERT_EQ(h, setLines);
        // The gain is the rounded-up weighted peak, limited to 10 .. 29.
        if (gain > 10 && gain < 29) {
          EXPECT_GT(peak, static_cast<float>(gain - 1) / static_cast<float>(gain) * 0.999999f);
        }
        if (gain < 29) {
          EXPECT_LE(peak, 1.0f + 1e-6f);
        } else {
          EXPECT_GT(peak, 28.0f / 29.0f * 0.999999f);
        }
      }
      if (expectedPair[c] < 0) {
        EXPECT_EQ(m.Gains()[c][s.nblocks], kUntouched);
      }
    }

    if (frame == 1) {
      // Channel 0 has the documented example layout: sets start at lines 0, 1024, .., 4096, then
      // 5120 (start), 5760 (short triple), 6528 (stop), then 7168, 8192, .., 15360.
      std::vector<unsigned> setStarts;
      for (const Block& bl : Layout(s, 5)) {
        if (setStarts.size() == bl.set) setStarts.push_back(bl.lineStart);
      }
      EXPECT_EQ(setStarts, (std::vector<unsigned>{0, 1024, 2048, 3072, 4096, 5120, 5760, 6528, 7168, 8192, 9216,
                                                  10240, 11264, 12288, 13312, 14336, 15360}));

      // Outside the pair's two blocks channel 0 equals channel 1 exactly, lines, codes and gains;
      // its later sets are shifted by one.
      const unsigned pairStart = 5 * s.hl(), pairEnd = 7 * s.hl();
      for (unsigned i = 0; i < s.total(); ++i) {
        if (i >= pairStart && i < pairEnd) continue;
        ASSERT_EQ(e.X[0][i], e.X[1][i]) << "line " << i;
      }
      for (unsigned j = 0; j < s.nblocks; ++j) {
        if (j == 5 || j == 6) continue;
        unsigned j0 = j < 5 ? j : j + 1;
        EXPECT_EQ(m.Gains()[0][j0], m.Gains()[1][j]) << "set " << j;
        EXPECT_EQ(m.Row(0, j0), m.Row(1, j)) << "set " << j;
      }
    }
  }
}

TEST(FrameTransform, GainIsTheRoundedUpWeightedPeakBetweenTenAndTwentyNine) {
  const Sizes s{512, 32};
  Models m(s, 0.0f);
  test::TempDir dir;
  const std::string wav = dir.File("unused.wav");
  test::WriteWav(wav, test::Silence(16));
  Encoder e(s, m, wav);
  float* x = FrameTransformPeer::X(*e.transform, 0);

  struct Case {
    float peak;
    int gain;
  };
  const Case cases[] = {{10.2f, 11}, {28.1f, 29}, {250.0f, 29}, {3.0f, 10}, {-10.2f, 11}, {29.0f, 29}, {11.0f, 11}};
  const int bands[2] = {3, 5};
  const int unit[2] = {0, 0};
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.peak);
    const float lines[8] = {0.5f, cs.peak, -1.0f, 2.0f, 0.0f, 0.25f, -0.75f, 1.5f};
    std::copy(lines, lines + 8, x);
    ASSERT_EQ(FrameTransformPeer::WeightAndGain(*e.transform, 0, 8, 2, bands, unit, 1), cs.gain);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(x[i], lines[i] / static_cast<float>(cs.gain)) << i;
  }
  // 250 over a gain of 29 leaves a coefficient of about 8.6.
  std::fill(x, x + 8, 0.0f);
  x[3] = 250.0f;
  FrameTransformPeer::WeightAndGain(*e.transform, 0, 8, 2, bands, unit, 1);
  EXPECT_NEAR(x[3], 8.62f, 0.01f);

  // Weighting comes first, band by band, and the short triple repeats the same codes: code 15 is
  // a weight of 10, code 0 a weight of 1.
  const int codes[2] = {15, 0};
  std::vector<float> triple(24);
  for (size_t i = 0; i < triple.size(); ++i) triple[i] = (i % 8 < 3) ? 120.0f : 6.0f;
  std::copy(triple.begin(), triple.end(), x);
  EXPECT_EQ(FrameTransformPeer::WeightAndGain(*e.transform, 0, 24, 2, bands, codes, 3), 12);
  for (size_t i = 0; i < triple.size(); ++i) {
    float expected = (i % 8 < 3) ? 120.0f / 10.0f / 12.0f : 6.0f / 12.0f;
    EXPECT_EQ(x[i], expected) << i;
  }
}

TEST(FrameTransform, OnlyTheReadThatRunsPastTheEndReportsIt) {
  const Sizes s{1024, 16};
  test::TempDir dir;
  const std::string wav = dir.File("short.wav");
  test::WriteWav(wav, test::Noise(2 * s.total() + s.total() / 2, 8000.0, 5));
  Models m(s, 0.0f);
  Encoder e(s, m, wav);
  EXPECT_EQ(e.NewFrame(), 0);
  EXPECT_EQ(e.NewFrame(), 0);
  m.MarkUntouched();
  EXPECT_EQ(e.NewFrame(), 1);
  // The last frame is still analysed in full.
  for (unsigned c = 0; c < 2; ++c) {
    int sets = e.switchUsed[c] ? s.nblocks + 1 : s.nblocks;
    for (int j = 0; j < sets; ++j) {
      EXPECT_GE(m.Gains()[c][j], 10);
      EXPECT_LE(m.Gains()[c][j], 29);
      EXPECT_NE(m.Weights()[c][j][0], kUntouched);
    }
  }
}

TEST(FrameTransform, MidSideFlagChangesNothing) {
  const Sizes s{512, 32};
  const unsigned seed = 17;
  SCOPED_TRACE(seed);
  test::Stereo input = test::Noise(3 * s.total(), 6000.0, seed);
  test::AddClick(input, s.total() + 1000, 1);
  test::TempDir dir;
  const std::string wav = dir.File("ms.wav");
  test::WriteWav(wav, input);
  Models plainModels(s, -10.0f), msModels(s, -10.0f);
  Encoder plain(s, plainModels, wav, 0), ms(s, msModels, wav, 1);
  for (int frame = 0; frame < 3; ++frame) {
    SCOPED_TRACE(frame);
    ASSERT_EQ(plain.NewFrame(), ms.NewFrame());
    for (unsigned c = 0; c < 2; ++c) {
      EXPECT_EQ(plain.switchUsed[c], ms.switchUsed[c]);
      EXPECT_EQ(plain.location[c], ms.location[c]);
      EXPECT_EQ(0, std::memcmp(plain.X[c], ms.X[c], s.total() * sizeof(float)));
      EXPECT_EQ(plainModels.Rows(c), msModels.Rows(c));
      EXPECT_EQ(plainModels.GainRow(c), msModels.GainRow(c));
    }
  }
}

}  // namespace
}  // namespace ostrel
