// The frame inverse transform against the frame transform: analysis followed by synthesis gives
// back the input, delayed by half a long block, with and without transient pairs.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "AnalysisRig.h"
#include "common/TempDir.h"
#include "common/WavFixture.h"

namespace ostrel {
namespace {

using test::Decoder;
using test::Encoder;
using test::Models;
using test::Sizes;

// A threshold in quiet lowered this far (dB) lies below every line of the signals here, so the
// model zeroes nothing and analysis plus synthesis should be lossless up to float rounding.
constexpr float kNoThreshold = -300.0f;
constexpr int kFrames = 5;

// Quiet noise in both channels with these events, each placed so that the detector must put a
// pair at a known block: the onset of the file (block 0, both channels, frame 0); a step up to
// loud noise in channel 0 three segments before the end of frame 1 (block NBlocks - 2); a step
// back down in frame 2 (no pair); a click in channel 1 in segment 21 of frame 3 (block 5).
test::Stereo EventSignal(Sizes s, unsigned seed) {
  const size_t total = s.total();
  test::Stereo quiet = test::Noise(kFrames * total, 300.0, seed);
  test::Stereo loud = test::Noise(kFrames * total, 20000.0, seed + 1);
  const size_t segments = total / s.hs();
  const size_t stepUp = total + (segments - 3) * s.hs() + s.hs() / 2;
  const size_t stepDown = 2 * total + 3 * total / 4;
  for (size_t n = stepUp; n < stepDown; ++n) quiet[2 * n] = loud[2 * n];
  test::AddClick(quiet, 3 * total + 21 * s.hs() + s.hs() / 2, 1);
  return quiet;
}

// The pair each channel must get in each frame, -1 for none.
int ExpectedPair(Sizes s, int frame, unsigned c) {
  if (frame == 0) return 0;
  if (frame == 1 && c == 0) return s.nblocks - 2;
  if (frame == 3 && c == 1) return 5;
  return -1;
}

TEST(FrameInvTransform, UndoesTheFrameTransformDelayedByHalfALongBlock) {
  for (Sizes s : {Sizes{2048, 16}, Sizes{1024, 16}, Sizes{512, 32}}) {
    const unsigned seed = 100 + s.lsize;
    SCOPED_TRACE(testing::Message() << "lsize " << s.lsize << " seed " << seed);
    const test::Stereo input = EventSignal(s, seed);
    test::TempDir dir;
    const std::string wav = dir.File("in.wav");
    test::WriteWav(wav, input);

    Models m(s, kNoThreshold);
    Encoder e(s, m, wav);
    Decoder d(s, m, nullptr);
    std::vector<float> out[2];
    for (int frame = 0; frame < kFrames; ++frame) {
      ASSERT_EQ(e.NewFrame(), 0);
      int switchUsed[2], location[2];
      for (unsigned c = 0; c < 2; ++c) {
        int pair = ExpectedPair(s, frame, c);
        ASSERT_EQ(e.switchUsed[c], pair >= 0 ? 1 : 0) << "frame " << frame << " channel " << c;
        ASSERT_EQ(e.location[c], pair >= 0 ? pair : 0) << "frame " << frame << " channel " << c;
        switchUsed[c] = e.switchUsed[c];
        // Without a pair the location must be ignored, whatever it holds.
        location[c] = e.switchUsed[c] ? e.location[c] : 7;
      }
      d.Replay(e, switchUsed, location);
      for (unsigned c = 0; c < 2; ++c) {
        const float* o = d.transform->Output(c);
        out[c].insert(out[c].end(), o, o + s.total());
      }
    }

    // Float analysis and synthesis lose about 2^-24 of the block's peak per rounding. Forward and
    // inverse each run log2(N/4) butterfly stages and pre/post rotations whose twiddles come from
    // float recurrences of up to N/4 = 512 steps, so errors reach a few 1e-5 of the peak: measured
    // up to 2.2e-5 of the 20000-peak noise (0.43). The bound is 5e-5 of that peak; a misplaced
    // block, a wrong window slope or a wrong scale costs a sizeable part of the signal instead.
    const float tolerance = 1.0f;
    const size_t hl = s.hl();
    for (unsigned c = 0; c < 2; ++c) {
      SCOPED_TRACE(c);
      float worst = 0.0f;
      for (size_t p = 0; p < out[c].size(); ++p) {
        float expected = p < hl ? 0.0f : static_cast<float>(input[2 * (p - hl) + c]);
        float err = std::fabs(out[c][p] - expected);
        worst = std::max(worst, err);
        ASSERT_LE(err, tolerance) << "sample " << p << " frame " << p / s.total();
      }
      RecordProperty("worst_error_lsize" + std::to_string(s.lsize) + "_ch" + std::to_string(c),
                     std::to_string(worst));
    }
  }
}

TEST(FrameInvTransform, LeadingSkipAlignsTheWrittenFileWithTheInput) {
  const Sizes s{1024, 16};
  const unsigned seed = 7;
  SCOPED_TRACE(seed);
  const test::Stereo input = EventSignal(s, seed);
  test::TempDir dir;
  const std::string inPath = dir.File("in.wav");
  const std::string outPath = dir.File("out.wav");
  test::WriteWav(inPath, input);

  Models m(s, kNoThreshold);
  Encoder e(s, m, inPath);
  auto writer = std::make_unique<Waveio>(outPath.c_str(), 1);
  Decoder d(s, m, writer.get());
  d.transform->SetLeadingSkip(s.hl());
  for (int frame = 0; frame < kFrames; ++frame) {
    ASSERT_EQ(e.NewFrame(), 0);
    d.Replay(e, e.switchUsed, e.location);
  }
  writer->CloseWave();
  writer.reset();

  const std::vector<unsigned char> bytes = test::ReadAll(outPath);
  const size_t frames = kFrames * s.total() - s.hl();
  ASSERT_EQ(bytes.size(), 44 + 4 * frames);
  for (size_t i = 0; i < 2 * frames; ++i) {
    int16_t got = static_cast<int16_t>(bytes[44 + 2 * i] | (bytes[45 + 2 * i] << 8));
    // The float output is within about 0.45 of the input (see above) and may land on the other
    // side of a rounding boundary: at most one step off.
    ASSERT_NEAR(got, input[i], 1) << "sample frame " << i / 2 << " channel " << i % 2;
  }
}

// Synthesises one frame of fixed pseudo-random content with a fresh inverse transform.
std::vector<float> SynthesiseOnce(Sizes s, Models& m, int switchUsed, int location, int codeOverride) {
  Decoder d(s, m, nullptr);
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  for (unsigned c = 0; c < 2; ++c) {
    for (unsigned i = 0; i < s.total(); ++i) d.X[c][i] = dist(rng);
    for (unsigned j = 0; j <= s.nblocks; ++j) {
      m.Gains()[c][j] = 10 + static_cast<int>(j % 20);
      for (size_t k = 0; k < m.RowLength(); ++k) {
        m.Weights()[c][j][k] = static_cast<int>((j * 7 + k * 3) % 40);
      }
    }
  }
  if (codeOverride != 0) m.Weights()[0][3][2] = codeOverride;
  int used[2] = {switchUsed, 0};
  int loc[2] = {location, 0};
  d.transform->NewFrame(used, loc);
  return std::vector<float>(d.transform->Output(0), d.transform->Output(0) + s.total());
}

TEST(FrameInvTransform, DamagedSideInformationIsLimitedToValidValues) {
  // A location a damaged stream pushed past the last usable block is pulled back to it instead of
  // letting the pair run off the frame; weight codes beyond the table are limited to its ends.
  const Sizes s{512, 32};
  Models m(s, 0.0f);
  const std::vector<float> lastBlock = SynthesiseOnce(s, m, 1, s.nblocks - 2, 0);
  EXPECT_EQ(SynthesiseOnce(s, m, 1, s.nblocks - 1, 0), lastBlock);
  EXPECT_EQ(SynthesiseOnce(s, m, 1, 250, 0), lastBlock);
  EXPECT_EQ(SynthesiseOnce(s, m, 1, -4, 0), SynthesiseOnce(s, m, 1, 0, 0));

  EXPECT_EQ(SynthesiseOnce(s, m, 0, 0, 400), SynthesiseOnce(s, m, 0, 0, 223));
  EXPECT_EQ(SynthesiseOnce(s, m, 0, 0, -500), SynthesiseOnce(s, m, 0, 0, -32));
  EXPECT_NE(SynthesiseOnce(s, m, 0, 0, 223), SynthesiseOnce(s, m, 0, 0, -32));
}

// A decoder's set-up builds no model; its band tables, shared per long block size, must be the
// very numbers the encoder's models use, or every frame would be read with the wrong layout.
TEST(FrameInvTransform, TheDecodersSharedBandTablesAreTheModelsTables) {
  for (unsigned lsize : {512u, 1024u, 2048u}) {
    SCOPED_TRACE(lsize);
    const BlockSizes sizes = BlockSizes::For(16, lsize);
    CodingSetup analysis(sizes, 16, 1.0f, 0.0f);
    CodingSetup synthesis(sizes, 16, 1.0f, 0.0f, 0, CodingSide::Synthesis);
    CodingSetup another(sizes, 16, 1.0f, 0.0f, 0, CodingSide::Synthesis);
    EXPECT_EQ(synthesis.LongModel, nullptr);
    EXPECT_EQ(synthesis.LongBands, another.LongBands);  // one table for every decoder
    const auto table = [](const int* bands, int count) { return std::vector<int>(bands, bands + count); };
    EXPECT_EQ(synthesis.LongBandCount, analysis.LongBandCount);
    EXPECT_EQ(synthesis.TranBandCount, analysis.TranBandCount);
    EXPECT_EQ(synthesis.ShortBandCount, analysis.ShortBandCount);
    EXPECT_EQ(table(synthesis.LongBands, synthesis.LongBandCount), table(analysis.LongBands, analysis.LongBandCount));
    EXPECT_EQ(table(synthesis.TranBands, synthesis.TranBandCount), table(analysis.TranBands, analysis.TranBandCount));
    EXPECT_EQ(table(synthesis.ShortBands, synthesis.ShortBandCount),
              table(analysis.ShortBands, analysis.ShortBandCount));
  }
}

}  // namespace
}  // namespace ostrel
