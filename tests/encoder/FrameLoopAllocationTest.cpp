// The frame loop must not allocate: every buffer is sized before the first frame, and the
// process-wide caches are built on first use. This executable replaces the global allocation
// functions to count what the frames allocate once the first frames have built the caches.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/CountingAllocator.h"
#include "common/TempDir.h"
#include "common/WavFixture.h"
#include "encoder/EncoderFixture.h"
#include "library/FrameEncoder.h"

namespace ostrel {
namespace {

using test::Material;
using test::ParametersFor;
using test::TempDir;
using test::WriteWav;

// Takes the stream's bytes and keeps none of them (a sink that allocated would count).
class DroppedBytes final : public ByteSink {
 public:
  bool Put(const unsigned char*, std::size_t) override { return true; }
};

class FrameLoopAllocation : public testing::TestWithParam<int> {};

TEST_P(FrameLoopAllocation, FramesAfterTheFirstAllocateNothing) {
  const auto DataRate = static_cast<unsigned char>(GetParam());
  SCOPED_TRACE(GetParam());
  TempDir dir;
  const std::string source = dir.File("in.wav"), target = dir.File("out.ost");
  RunParameters params = ParametersFor(DataRate, 0, source, target);
  const int frames = 8;
  // Clicks in every frame, alternating channels, so long, transition and short blocks all recur.
  WriteWav(source, Material(static_cast<size_t>(frames * params.TOTAL), static_cast<size_t>(params.TOTAL) / 3, 11));
  // The reference encoder's choices and the quality mode's, on one thread and on two (whose
  // analysis threads count too).
  for (int run = 0; run < 4; ++run) {
    const bool quality = run % 2 != 0;
    const int threads = 1 + run / 2;
    SCOPED_TRACE(testing::Message() << "quality " << quality << ", threads " << threads);
    Waveio in(source.c_str(), 0);
    DroppedBytes sink;
    FrameEncoder encoder(params.DataRate, in, &sink);
    encoder.SetQuality(quality);
    encoder.SetThreads(threads);
    encoder.WriteHeader();
    const int warmUp = 2;
    bool writerFailed = false;
    for (int frame = 0; frame < warmUp; ++frame) writerFailed |= encoder.EncodeFrame().writerFailed;
    const long before = test::AllocationCount();
    for (int frame = warmUp; frame < frames; ++frame) writerFailed |= encoder.EncodeFrame().writerFailed;
    EXPECT_EQ(test::AllocationCount() - before, 0);
    EXPECT_FALSE(writerFailed);
    encoder.FlushBits();
  }
}

// One rate per long-block length.
INSTANTIATE_TEST_SUITE_P(Rates, FrameLoopAllocation, testing::Values(196, 96, 64));

}  // namespace
}  // namespace ostrel
