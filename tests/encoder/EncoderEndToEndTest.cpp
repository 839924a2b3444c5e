// End-to-end runs of the encoder: a scripted dialogue on generated WAV files, then the file
// header, the frame count, the size and every frame's sync word, and the progress marks.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/Process.h"
#include "common/StreamFixture.h"
#include "common/TempDir.h"
#include "common/WavFixture.h"
#include "encoder/EncoderFixture.h"

namespace ostrel {
namespace {

using test::ExpectedFileSize;
using test::Material;
using test::ReadAll;
using test::RunOptions;
using test::RunResult;
using test::TempDir;
using test::WriteWav;

using Rate = test::RateRow;
const std::vector<Rate>& kRates = test::RateRows();

struct Encoded {
  RunResult run;
  std::vector<unsigned char> file;
};

// Runs the dialogue on `source` with menu row `row`, then types `keys`; the target is out.ost in `dir`.
Encoded EncodeFile(const TempDir& dir, const std::string& source, int row, const std::string& keys = "",
                   const RunOptions& options = {}) {
  const std::string target = dir.File("out.ost");
  const std::string input = source + "\n" + target + "\n" + std::to_string(row) + "\n" + keys;
  Encoded e;
  e.run = test::Run({test::Program("ostrelenc")}, input, options);
  e.file = ReadAll(target);
  return e;
}

// The same with `samples` written as the source in.wav in `dir`.
Encoded Encode(const TempDir& dir, const test::Stereo& samples, int row, const std::string& keys = "",
               const RunOptions& options = {}) {
  WriteWav(dir.File("in.wav"), samples);
  return EncodeFile(dir, dir.File("in.wav"), row, keys, options);
}

// The marks printed after "Progress:", without any trailing line end.
std::string Marks(const std::string& out) {
  const std::string start = "Progress:\n";
  size_t at = out.find(start);
  if (at == std::string::npos) return "<no Progress: line>";
  std::string marks = out.substr(at + start.size());
  while (!marks.empty() && (marks.back() == '\n' || marks.back() == ' ')) marks.pop_back();
  return marks;
}

uint32_t FrameCount(const std::vector<unsigned char>& file) { return test::HeaderFrameCount(file); }

// The header of a finished file with `frames` frames at `rate`, its size, and a sync word at the
// start of every frame.
void ExpectStream(const std::vector<unsigned char>& file, const Rate& rate, uint32_t frames) {
  SCOPED_TRACE("rate code " + std::to_string(rate.code));
  ASSERT_GE(file.size(), 30u);
  const std::vector<unsigned char> fixed = {'Z', 'e', 'l', 'k', '1', 1, static_cast<unsigned char>(rate.code),
                                            0x44, 0xAC, 2};
  EXPECT_EQ(std::vector<unsigned char>(file.begin(), file.begin() + 10), fixed);
  EXPECT_EQ(FrameCount(file), frames);
  const std::vector<unsigned char> strings = {4, 'N', 'o', 'n', 'e', 4, 'N', 'o', 'n', 'e', 4, 0, 'N', 'o', 'n', 'e'};
  EXPECT_EQ(std::vector<unsigned char>(file.begin() + 14, file.begin() + 30), strings);
  ASSERT_EQ(file.size(), ExpectedFileSize(frames, rate.frameBits));
  for (uint32_t frame = 0; frame < frames; ++frame) {
    const size_t at = 30 + static_cast<size_t>(frame) * rate.frameBits / 8;
    EXPECT_EQ(file[at], 0x4A) << "frame " << frame;
    EXPECT_EQ(file[at + 1], 0x58) << "frame " << frame;
  }
  // Whatever follows the last frame is the bit writer's zero fill.
  for (size_t i = 30 + static_cast<size_t>(frames) * rate.frameBits / 8; i < file.size(); ++i) {
    EXPECT_EQ(file[i], 0) << "byte " << i;
  }
}

TEST(Encoder, SixtySecondsAt128kbps) {
  TempDir dir;
  Encoded e = Encode(dir, Material(60 * 44100, 44100, 1), 5);
  EXPECT_EQ(e.run.status, 0) << e.run.err;
  // 2 646 000 samples in frames of 16384: the 162nd frame meets the end of the source.
  ExpectStream(e.file, kRates[4], 162);
  // The marks of every sixteenth (dots after "100%" as the counters run on), "100%" only once.
  EXPECT_EQ(Marks(e.run.out), "...25%...50%...75%...100%...");
  EXPECT_EQ(e.run.out.back(), '\n');  // the line of marks is ended
}

TEST(Encoder, EveryRateOnAShortSource) {
  // 1.5 s: Length is 1 second, so each counted second prints a mark; one is counted here, and
  // the complete run ends with "100%".
  const test::Stereo samples = Material(66150, 20000, 2);
  for (const Rate& rate : kRates) {
    SCOPED_TRACE(rate.row);
    TempDir dir;
    Encoded e = Encode(dir, samples, rate.row);
    EXPECT_EQ(e.run.status, 0) << e.run.err;
    ExpectStream(e.file, rate, 66150 / static_cast<uint32_t>(rate.Total()) + 1);
    EXPECT_EQ(Marks(e.run.out), ".100%");
  }
}

TEST(Encoder, SourceEndingOnAFrameBoundaryTakesOneMoreFrame) {
  // The end is noticed only by a read past the last sample: a third, all-zero frame.
  TempDir dir;
  Encoded e = Encode(dir, Material(2 * 16384, 9000, 4), 5);
  EXPECT_EQ(e.run.status, 0) << e.run.err;
  ExpectStream(e.file, kRates[4], 3);
}

TEST(Encoder, LowerCaseQStopsAfterTheFrameInProgress) {
  const test::Stereo samples = Material(8 * 8192, 10000, 6);
  struct Case {
    std::string keys;
    uint32_t frames;
    std::string stopped;  // the line after the marks of a stopped run
  };
  // One key is read per frame; only a lower-case q stops, other keys are dropped.
  for (const Case& c : {Case{"q", 1, "Stopped: 0.2 s of 1.5 s (12%) of the source coded.\n"},
                        Case{"xq", 2, "Stopped: 0.4 s of 1.5 s (25%) of the source coded.\n"}, Case{"Q", 9, ""},
                        Case{"QQQQQQQQQQQQ", 9, ""}}) {
    SCOPED_TRACE(c.keys);
    TempDir dir;
    Encoded e = Encode(dir, samples, 2, c.keys);
    EXPECT_EQ(e.run.status, 0) << e.run.err;
    ExpectStream(e.file, kRates[1], c.frames);
    // A stopped run says how much was coded; a complete one ends its marks with "100%".
    if (c.stopped.empty()) {
      EXPECT_EQ(Marks(e.run.out), ".100%");
      EXPECT_EQ(e.run.out.find("Stopped"), std::string::npos);
    } else {
      EXPECT_EQ(e.run.out.substr(e.run.out.size() - std::min(e.run.out.size(), c.stopped.size())), c.stopped);
    }
  }
}

TEST(Encoder, InterruptOrTerminateEndsWithAValidShorterFile) {
  OSTREL_SKIP_ON_WINDOWS("POSIX signals; Ctrl-C goes through the console handler");
  // A long source at 256 kb/s, so that the run is still far from its end when the signal comes.
  TempDir sourceDir;
  const std::string source = sourceDir.File("in.wav");
  WriteWav(source, Material(60 * 44100, 30000, 7));
  const uint32_t fullRun = 60 * 44100 / 8192 + 1;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    TempDir dir;
    RunOptions options;
    options.signalAfter = "Progress:\n";
    options.signal = sig;
    Encoded e = EncodeFile(dir, source, 2, "", options);
    EXPECT_EQ(e.run.signal, 0);
    EXPECT_EQ(e.run.status, 128 + sig) << e.run.err;
    ASSERT_GE(e.file.size(), 14u);
    const uint32_t frames = FrameCount(e.file);
    EXPECT_GE(frames, 1u);
    EXPECT_LT(frames, fullRun);
    EXPECT_NE(e.run.out.find("\nStopped: "), std::string::npos) << e.run.out;
    EXPECT_NE(e.run.out.find(" s of 60.0 s ("), std::string::npos) << e.run.out;
    ExpectStream(e.file, kRates[1], frames);
  }
}

// A signal at any moment of a scripted run, from the program's start through the dialogue, the
// hand-over to the frame loop and the frames to the end, leaves either no target or a valid one:
// a header whose frame count matches the frames the file holds. A target that was there before
// is either untouched (the signal came before the dialogue emptied it) or one of those two.
TEST(Encoder, InterruptOrHangUpAtAnyMomentLeavesNoTargetOrAValidOne) {
  OSTREL_SKIP_ON_WINDOWS("POSIX signals; Ctrl-C goes through the console handler");
  TempDir sourceDir;
  const std::string source = sourceDir.File("in.wav");
  WriteWav(source, Material(44100, 20000, 5));
  const uint32_t fullRun = 44100 / 8192 + 1;
  // The sweep spans a whole run, measured here, and a little beyond; the delays grow with the
  // square of the step, so that the start, the dialogue and the hand-over get most of them.
  const auto start = std::chrono::steady_clock::now();
  {
    TempDir dir;
    ASSERT_EQ(EncodeFile(dir, source, 1).run.status, 0);
  }
  const long runUs = static_cast<long>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
  constexpr int kSteps = 25;
  const long spanUs = runUs * 6 / 5;
  for (int sig : {SIGINT, SIGHUP}) {
    int absent = 0, stopped = 0, complete = 0;
    for (int step = 0; step < kSteps; ++step) {
      const long delayUs = spanUs * step * step / (kSteps * kSteps);
      SCOPED_TRACE("signal " + std::to_string(sig) + " after " + std::to_string(delayUs) + " us");
      TempDir dir;
      const std::vector<unsigned char> old = {'o', 'l', 'd'};
      const bool existed = step % 2 == 1;
      if (existed) test::WriteAll(dir.File("out.ost"), old);
      RunOptions options;
      options.signal = sig;
      options.signalDelayUs = delayUs;
      Encoded e = EncodeFile(dir, source, 1, "", options);
      struct stat st;
      if (lstat(dir.File("out.ost").c_str(), &st) != 0) {
        ++absent;
        continue;
      }
      if (existed && e.file == old) {
        EXPECT_EQ(e.run.signal, sig);
        ++absent;
        continue;
      }
      // Ended by the signal only before the frame loop (then the target is gone) or after it.
      EXPECT_TRUE(e.run.status == 0 || e.run.status == 128 + sig || e.run.signal == sig) << "status " << e.run.status << ": " << e.run.err;
      ASSERT_GE(e.file.size(), 30u);
      const uint32_t frames = FrameCount(e.file);
      ASSERT_GE(frames, 1u);
      ExpectStream(e.file, kRates[0], frames);
      ++(frames < fullRun ? stopped : complete);
    }
    std::printf("signal %d over %ld us: %d without a new target, %d stopped early, %d complete\n", sig, spanUs,
                absent, stopped, complete);
  }
}

TEST(Encoder, WriteFailureIsReportedAndTheFileNeverPassesAsComplete) {
  OSTREL_SKIP_ON_WINDOWS("no file-size limit (RLIMIT_FSIZE)");
  TempDir dir;
  RunOptions options;
  options.fileSizeLimit = 20000;  // bytes: the fourth frame at 128 kb/s no longer fits
  Encoded e = Encode(dir, Material(10 * 16384, 9000, 8), 5, "", options);
  EXPECT_NE(e.run.status, 0);
  EXPECT_EQ(e.run.signal, 0);
  EXPECT_NE(e.run.err.find(dir.File("out.ost")), std::string::npos) << e.run.err;
  ASSERT_GE(e.file.size(), 14u);
  EXPECT_LE(e.file.size(), 20000u);
  EXPECT_EQ(FrameCount(e.file), 0u);
}

}  // namespace
}  // namespace ostrel
