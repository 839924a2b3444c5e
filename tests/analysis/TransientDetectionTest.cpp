// Transient detection on crafted frames: which block a rise selects, the strict ratio test, the
// tie rule and the state carried from frame to frame.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "AnalysisRig.h"

namespace ostrel {
namespace {

using Peer = FrameTransformPeer;

// A detector-only object: LocateTransients reads nothing but the frame buffers and its own state.
std::unique_ptr<FrameTransform> Detector(unsigned lsize, unsigned char nblocks) {
  float** x = nullptr;
  return std::make_unique<FrameTransform>(2, nblocks, lsize, lsize / 4, nullptr, nullptr, nullptr, nullptr, 0, 0,
                                          0, nullptr, nullptr, nullptr, &x, nullptr, nullptr, 0);
}

// Sets every sample of both channels to 0.
void Silence(FrameTransform& t) {
  for (unsigned c = 0; c < 2; ++c) std::fill(Peer::Audio(t, c).begin(), Peer::Audio(t, c).end(), 0.0f);
}

// A 16-sample alternating click of the given amplitude in the middle of segment k of channel c,
// well inside the Hamming window so it stays within that segment's analysis.
void Click(FrameTransform& t, unsigned c, int k, float amplitude) {
  unsigned hs = Peer::HSSIZE(t);
  unsigned start = static_cast<unsigned>(k) * hs + hs / 2 - 8;
  for (unsigned i = 0; i < 16; ++i) Peer::Audio(t, c)[start + i] = (i % 2 == 0) ? amplitude : -amplitude;
}

// The block whose flag is set in channel c, or -1 with no flag; fails on more than one.
int FlaggedBlock(FrameTransform& t, unsigned c) {
  int found = -1;
  const auto& flags = Peer::Switch(t, c);
  for (size_t b = 0; b < flags.size(); ++b) {
    if (flags[b]) {
      EXPECT_EQ(found, -1) << "more than one flag in channel " << c;
      found = static_cast<int>(b);
    }
  }
  return found;
}

int Detect(FrameTransform& t, unsigned c) {
  Peer::ClearSwitches(t);
  t.LocateTransients();
  return FlaggedBlock(t, c);
}

struct ClickCase {
  unsigned lsize;
  unsigned char nblocks;
  int segment;
  int block;
};

TEST(TransientDetection, ClickAfterSilenceSelectsItsBlockInThatChannelOnly) {
  // Segment k selects block (k - 1) / 4, segment 0 block 0, and the last seven segments the last
  // block a pair can start at.
  const ClickCase cases[] = {
      {2048, 16, 0, 0},   {2048, 16, 1, 0},   {2048, 16, 4, 0},   {2048, 16, 5, 1},  {2048, 16, 8, 1},
      {2048, 16, 9, 2},   {2048, 16, 33, 8},  {2048, 16, 56, 13}, {2048, 16, 57, 14}, {2048, 16, 63, 14},
      {1024, 16, 21, 5},  {1024, 16, 60, 14}, {512, 32, 120, 29}, {512, 32, 121, 30}, {512, 32, 127, 30},
  };
  for (const auto& cc : cases) {
    for (unsigned ch = 0; ch < 2; ++ch) {
      SCOPED_TRACE(testing::Message() << "lsize " << cc.lsize << " segment " << cc.segment << " channel " << ch);
      auto t = Detector(cc.lsize, cc.nblocks);
      Silence(*t);
      Click(*t, ch, cc.segment, 30000.0f);
      Peer::ClearSwitches(*t);
      t->LocateTransients();
      EXPECT_EQ(FlaggedBlock(*t, ch), cc.block);
      EXPECT_EQ(FlaggedBlock(*t, 1 - ch), -1);
      EXPECT_EQ(Peer::OldPower(*t, 1 - ch), 1.0f);
    }
  }
}

TEST(TransientDetection, FirstSegmentIsComparedWithTheLastOfThePreviousFrame) {
  // Frame 1 ends with a click; frame 2 opens with a click of about 5x (then 20x) its power.
  // Against the floor of 1.0 both would trigger; against the previous segment only the second.
  const float base = 3000.0f;
  for (float factor : {5.0f, 20.0f}) {
    SCOPED_TRACE(factor);
    auto t = Detector(2048, 16);
    Silence(*t);
    Click(*t, 0, 63, base);
    EXPECT_EQ(Detect(*t, 0), 14);
    float previous = Peer::OldPower(*t, 0);
    EXPECT_GT(previous, 1000.0f);

    Silence(*t);
    Click(*t, 0, 0, base * std::sqrt(factor));
    EXPECT_EQ(Detect(*t, 0), factor > 10.0f ? 0 : -1);
    EXPECT_EQ(FlaggedBlock(*t, 1), -1);
  }
}

TEST(TransientDetection, ARiseOfExactlyTenDoesNotTrigger) {
  // Every segment holds the same samples, so every segment has the same power P and all later
  // ratios are exactly 1. The first segment is compared with a preset OldPower Q chosen so that
  // P / Q is exactly 10 in float; one step smaller Q makes it just above 10.
  auto t = Detector(1024, 16);
  std::vector<float>& audio = Peer::Audio(*t, 0);
  unsigned hs = Peer::HSSIZE(*t);
  for (size_t i = 0; i < audio.size(); ++i) {
    audio[i] = static_cast<float>(((i % hs) * 7919u) % 2001u) - 1000.0f;
  }
  Peer::OldPower(*t, 0) = 1.0f;
  Detect(*t, 0);
  const float P = Peer::OldPower(*t, 0);
  ASSERT_GT(P, 100.0f);

  float Q = P / 10.0f;
  for (int step = 0; step < 4 && P / Q != 10.0f; ++step) Q = std::nextafter(Q, P / Q > 10.0f ? P : 0.0f);
  ASSERT_EQ(P / Q, 10.0f) << "no float divisor gives exactly 10 for P = " << P;

  Peer::OldPower(*t, 0) = Q;
  EXPECT_EQ(Detect(*t, 0), -1);
  EXPECT_EQ(Peer::OldPower(*t, 0), P);

  Peer::OldPower(*t, 0) = std::nextafter(Q, 0.0f);
  ASSERT_GT(P / Peer::OldPower(*t, 0), 10.0f);
  EXPECT_EQ(Detect(*t, 0), 0);
}

TEST(TransientDetection, OfTwoRisesTheLargerWinsAndOfEqualOnesTheEarlier) {
  // Clicks in segment 9 (block 2) and segment 41 (block 10), each after silence.
  struct Case {
    float first, second;
    int block;
  };
  const Case cases[] = {{10000.0f, 20000.0f, 10}, {20000.0f, 10000.0f, 2}, {15000.0f, 15000.0f, 2}};
  for (const auto& cs : cases) {
    SCOPED_TRACE(testing::Message() << cs.first << " then " << cs.second);
    auto t = Detector(2048, 16);
    Silence(*t);
    Click(*t, 1, 9, cs.first);
    Click(*t, 1, 41, cs.second);
    EXPECT_EQ(Detect(*t, 1), cs.block);
  }
}

TEST(TransientDetection, ASteadyLoudSignalSwitchesOnlyAtItsOnset) {
  // A full-scale 9 kHz tone: its onset rises from the floor of 1.0 in the first frame; after that
  // the high-band power is the same from segment to segment and nothing triggers.
  auto t = Detector(2048, 16);
  size_t n = 0;
  for (int frame = 0; frame < 3; ++frame) {
    SCOPED_TRACE(frame);
    for (size_t i = 0; i < Peer::Audio(*t, 0).size(); ++i, ++n) {
      float v = static_cast<float>(32000.0 * std::sin(2.0 * M_PI * 9000.0 * static_cast<double>(n) / 44100.0));
      Peer::Audio(*t, 0)[i] = v;
      Peer::Audio(*t, 1)[i] = v;
    }
    Peer::ClearSwitches(*t);
    t->LocateTransients();
    EXPECT_EQ(FlaggedBlock(*t, 0), frame == 0 ? 0 : -1);
    EXPECT_EQ(FlaggedBlock(*t, 1), frame == 0 ? 0 : -1);
  }
}

}  // namespace
}  // namespace ostrel
