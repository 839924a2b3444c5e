// The decoder front end: the command line, bad input, damaged, cut and unfinished files, and
// the care it takes of its output.
#include "decoder/Decoder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "decoder/RoundTrip.h"
#include "format/FileHeader.h"
#include "common/PosixOnWindows.h"

namespace ostrel {
namespace {

using test::Encode;
using test::FrameCount;
using test::Program;
using test::ReadAll;
using test::RunResult;
using test::Stereo;
using test::TempDir;
using test::WavSamples;
using test::WriteAll;

constexpr int ROW = 5;           // 128 kb/s: 16 blocks of 2048, 16384 samples per frame
constexpr int TOTAL = 16384;     // samples per channel and frame at that rate
constexpr int HALF_LONG = 1024;  // half a long block: the synthesis delay dropped at the start
constexpr uint32_t FRAME_BYTES = 47560 / 8;
constexpr size_t HEADER_BYTES = 30;

// One encoded file shared by the tests of this suite (never modified: tests copy it).
class DecoderFiles : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::HaveEncoder()) return;
    dir_ = std::make_unique<TempDir>();
    Stereo source = test::Sine(52920, 440.0, 6000.0);  // 1.2 s: four frames
    test::AddClick(source, 30000, 0);
    test::WriteWav(dir_->File("source.wav"), source);
    Encode(dir_->File("source.wav"), dir_->File("source.ost"), ROW);
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override {
    if (!test::HaveEncoder()) GTEST_SKIP() << "ostrelenc is not built";
    ost_ = ReadAll(dir_->File("source.ost"));
    ASSERT_GT(ost_.size(), HEADER_BYTES);
  }
  // Writes `bytes` as a file in this test's folder and returns its path.
  std::string Put(const std::string& name, const std::vector<unsigned char>& bytes) {
    WriteAll(work_.File(name), bytes);
    return work_.File(name);
  }
  int Decode(const std::string& in, const std::string& out, std::string* messages = nullptr) {
    std::ostringstream log;
    const int status = DecodeFile(in, out, DecodeOptions{}, log);
    if (messages != nullptr) *messages = log.str();
    return status;
  }

  static std::unique_ptr<TempDir> dir_;
  std::vector<unsigned char> ost_;
  TempDir work_;
};
std::unique_ptr<TempDir> DecoderFiles::dir_;

size_t OutputSamples(uint32_t frames) { return frames == 0 ? 0 : 2 * (static_cast<size_t>(frames) * TOTAL - HALF_LONG); }

TEST_F(DecoderFiles, ProgramDecodesAndLinesUpWithTheSource) {
  const std::string out = work_.File("out.wav");
  RunResult r = test::Run({Program("ostreldec"), dir_->File("source.ost"), out}, "");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const Stereo decoded = WavSamples(out);
  EXPECT_EQ(decoded.size(), OutputSamples(FrameCount(ost_)));
  EXPECT_GT(test::SnrDb(test::WavSamples(dir_->File("source.wav")), decoded), 10.0);
  // Nothing but the output is left in the folder (no temporary file).
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(work_.path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 1u);
}

TEST_F(DecoderFiles, InfoShowsTheHeaderAndOneLinePerFrame) {
  RunResult r = test::Run({Program("ostreldec"), "--info", dir_->File("source.ost")}, "");
  ASSERT_EQ(r.status, 0) << r.err;
  const uint32_t frames = FrameCount(ost_);
  EXPECT_NE(r.out.find("Data rate:   128 kb/s (rate code 64)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Frame size:  47560 bits (5945 bytes), 16384 samples per channel"), std::string::npos);
  EXPECT_NE(r.out.find("Frames:      " + std::to_string(frames) + "\n"), std::string::npos);
  // The duration of what a decoder outputs: without the synthesis delay it drops.
  const uint64_t ms = (uint64_t{frames} * TOTAL - HALF_LONG) * 1000 / 44100;
  char duration[64];
  std::snprintf(duration, sizeof duration, "Duration:    %u.%03u s\n", unsigned(ms / 1000), unsigned(ms % 1000));
  EXPECT_NE(r.out.find(duration), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Title:       None\nAuthor:      None\nComments:    None\n"), std::string::npos);
  EXPECT_EQ(r.out.find("frame 0:"), std::string::npos);

  RunResult v = test::Run({Program("ostreldec"), "--info", "-v", dir_->File("source.ost")}, "");
  ASSERT_EQ(v.status, 0) << v.err;
  for (uint32_t f = 0; f < frames; ++f) {
    EXPECT_NE(v.out.find("frame " + std::to_string(f) + ": step "), std::string::npos) << v.out;
  }
  EXPECT_EQ(v.out.find("damaged"), std::string::npos);

  // A title of any bytes is shown whole, as valid UTF-8 with no control characters: "None" with
  // an embedded NUL and a byte no UTF-8 text holds.
  std::vector<unsigned char> odd = ost_;
  odd[FILE_HEADER_FIXED_BYTES + 2] = 0x00;
  odd[FILE_HEADER_FIXED_BYTES + 3] = 0xFF;
  RunResult o = test::Run({Program("ostreldec"), "--info", Put("odd.ost", odd)}, "");
  EXPECT_NE(o.out.find("Title:       N?\xEF\xBF\xBD" "e\n"), std::string::npos) << o.out;
}

TEST_F(DecoderFiles, CommandLineMistakesExitWithStatus2) {
  for (const char* option : {"--help", "-h", "--version", "-V"}) {
    RunResult r = test::Run({Program("ostreldec"), option}, "");
    EXPECT_EQ(r.status, 0) << option;
    EXPECT_NE(r.out.find(option[1] == 'h' || option[2] == 'h' ? "Exit status" : "ostreldec (Ostrel) "), std::string::npos)
        << r.out;
    EXPECT_EQ(r.err, "");
  }
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"--bogus", "a.ost"}, {"--info"}, {"-o"}, {"-t", "--info", "a.ost"}, {"-o", "x.wav", "a.ost", "b.ost"},
           {"-t", "-o", "x.wav", "a.ost"}, {"-t", "-", "-"}}) {
    std::vector<std::string> argv = {Program("ostreldec")};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = test::Run(argv, "");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.err.rfind("ostreldec: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("Usage:"), std::string::npos);
  }
}

// Several inputs, each decoded beside itself; an existing output is refused without -f while the
// others go on, and the exit status is the worst of them.
TEST_F(DecoderFiles, EachInputDecodesBesideItselfAndExistingOutputsNeedForce) {
  Put("a.ost", ost_);
  Put("b.ost", ost_);
  const std::string expected = "ostreldec: cannot write " + work_.File("b.wav") + ": it exists (-f replaces it)\n";
  WriteAll(work_.File("b.wav"), {'o', 'l', 'd'});
  RunResult r = test::Run({Program("ostreldec"), work_.File("a.ost"), work_.File("b.ost"), work_.File("none.ost")}, "");
  EXPECT_EQ(r.status, DECODE_WRITE_FAILED);
  EXPECT_EQ(r.err, expected + "ostreldec: cannot open " + work_.File("none.ost") + ": No such file or directory\n");
  EXPECT_EQ(WavSamples(work_.File("a.wav")).size(), OutputSamples(FrameCount(ost_)));
  EXPECT_EQ(ReadAll(work_.File("b.wav")), (std::vector<unsigned char>{'o', 'l', 'd'}));

  RunResult forced = test::Run({Program("ostreldec"), "-f", "-q", work_.File("b.ost")}, "");
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(ReadAll(work_.File("b.wav")), ReadAll(work_.File("a.wav")));
  // Progress and the summary only on request when standard error is not a terminal.
  RunResult shown = test::Run({Program("ostreldec"), "-f", "--progress", "-o", work_.File("c.wav"), work_.File("b.ost")}, "");
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.err.find("%, 0:00 elapsed, "), std::string::npos) << shown.err;
  EXPECT_NE(shown.err.find("ostreldec: " + work_.File("b.ost") + " -> " + work_.File("c.wav") + ": 1.5 s of audio, "),
            std::string::npos) << shown.err;
}

// A pipe in, a pipe out: the WAV on standard output carries the lengths of a stream, and its
// samples are those of the file decode.
TEST_F(DecoderFiles, StandardInputToStandardOutput) {
  Decode(dir_->File("source.ost"), work_.File("file.wav"));
  const std::vector<unsigned char> file = ReadAll(work_.File("file.wav"));
  RunResult r = test::Run({Program("ostreldec"), "-", "-o", "-"}, std::string(ost_.begin(), ost_.end()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.out.size(), file.size());
  EXPECT_EQ(r.out.substr(4, 4), std::string(4, '\xFF'));
  EXPECT_EQ(r.out.substr(40, 4), std::string(4, '\xFF'));
  EXPECT_EQ(r.out.substr(44), std::string(file.begin() + 44, file.end()));

  // -v lists the frames on standard error when standard output carries the audio.
  RunResult listed = test::Run({Program("ostreldec"), "-v", "-", "-o", "-"}, std::string(ost_.begin(), ost_.end()));
  EXPECT_EQ(listed.out.size(), file.size());
  EXPECT_NE(listed.err.find("frame 0: step "), std::string::npos) << listed.err;
}

// A pipe is decoded as it comes: the output grows while the producer still holds back the rest.
TEST_F(DecoderFiles, APipeIsDecodedWhileItArrives) {
  const std::string out = work_.File("slow.wav");
#if defined(_WIN32)
  const char* mode = "wb";  // not text: the stream's bytes as they are
#else
  const char* mode = "w";
#endif
  std::FILE* producer = popen((Program("ostreldec") + " -q - -o " + out).c_str(), mode);
  ASSERT_NE(producer, nullptr);
  const size_t first = HEADER_BYTES + 2 * FRAME_BYTES;
  ASSERT_EQ(std::fwrite(ost_.data(), 1, first, producer), first);
  std::fflush(producer);
  uintmax_t seen = 0;
  for (int wait = 0; wait < 500 && seen <= 44; ++wait) {
    for (const auto& entry : std::filesystem::directory_iterator(work_.path())) seen = std::max(seen, entry.file_size());
    if (seen <= 44) usleep(20000);
  }
  EXPECT_GT(seen, 44u) << "nothing was written before the input ended";
  std::fwrite(ost_.data() + first, 1, ost_.size() - first, producer);
  EXPECT_EQ(pclose(producer), 0);
  Decode(dir_->File("source.ost"), work_.File("file.wav"));
  EXPECT_EQ(ReadAll(out), ReadAll(work_.File("file.wav")));
}

// --join: a stream cut at any byte is decoded from its next whole frame, which it says.
TEST_F(DecoderFiles, ACutStreamIsJoinedAtItsNextFrame) {
  const size_t cut = HEADER_BYTES + FRAME_BYTES / 3;
  const std::string in = Put("cut.ost", std::vector<unsigned char>(ost_.begin() + cut, ost_.end()));
  RunResult refused = test::Run({Program("ostreldec"), "-t", in}, "");
  EXPECT_EQ(refused.status, DECODE_BAD_INPUT);
  RunResult r = test::Run({Program("ostreldec"), "--join", in, "-o", "-"}, "");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("no header; decoding from the first frame found, at byte " +
                       std::to_string(FRAME_BYTES - FRAME_BYTES / 3) + " (128 kb/s)"),
            std::string::npos)
      << r.err;
  Decode(dir_->File("source.ost"), work_.File("file.wav"));
  const std::vector<unsigned char> whole = ReadAll(work_.File("file.wav"));
  ASSERT_EQ(r.out.size(), whole.size() - 4 * TOTAL);
  EXPECT_EQ(r.out.substr(44), std::string(whole.begin() + 44 + 4 * TOTAL, whole.end()));
}

TEST_F(DecoderFiles, TestModeChecksEveryFrameAndWritesNothing) {
  std::vector<unsigned char> bytes = ost_;
  bytes[HEADER_BYTES + FRAME_BYTES] ^= 0xFF;  // the sync word of frame 1
  const std::string bad = Put("bad.ost", bytes);
  const std::string good = Put("good.ost", ost_);
  RunResult r = test::Run({Program("ostreldec"), "-t", good, bad}, "");
  EXPECT_EQ(r.status, DECODE_DAMAGED);
  EXPECT_NE(r.err.find("ostreldec: " + good + ": ok\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("ostreldec: " + bad + ": frame 1 is damaged (bad sync word)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("ostreldec: " + bad + ": damaged\n"), std::string::npos) << r.err;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work_.path()), std::filesystem::directory_iterator()), 2);

  RunResult fromStdin = test::Run({Program("ostreldec"), "--test", "-"}, std::string(ost_.begin(), ost_.end()));
  EXPECT_EQ(fromStdin.status, 0);
  EXPECT_EQ(fromStdin.err, "ostreldec: standard input: ok\n");
  EXPECT_EQ(test::Run({Program("ostreldec"), "-t", "-q", good}, "").err, "");

  RunResult info = test::Run({Program("ostreldec"), "--info", good, bad}, "");
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("File:        " + good + "\n"), std::string::npos);
  EXPECT_NE(info.out.find("\nFile:        " + bad + "\n"), std::string::npos);
}

TEST_F(DecoderFiles, NotOurFormatIsOneLineAndStatus2WithNothingWritten) {
  auto with = [&](size_t at, unsigned char value) {
    std::vector<unsigned char> bytes = ost_;
    bytes[at] = value;
    return bytes;
  };
  struct Case {
    const char* what;
    std::vector<unsigned char> bytes;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"a WAV file", test::WavBytes(test::Sine(1000, 440.0, 1000.0)), "wrong magic or version"},
      {"wrong magic", with(4, '2'), "wrong magic or version"},
      {"wrong version", with(5, 2), "wrong magic or version"},
      {"unknown rate code", with(6, 65), "unknown rate code 65"},
      {"48000 Hz", with(7, 0x80), "only 44100 Hz stereo"},
      {"one channel", with(9, 1), "only 44100 Hz stereo"},
      {"header cut short", std::vector<unsigned char>(ost_.begin(), ost_.begin() + 20), "header cut short"},
      {"empty file", {}, "wrong magic or version"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string in = Put("in.ost", c.bytes);
    const std::string out = work_.File("out.wav");
    std::string messages;
    EXPECT_EQ(Decode(in, out, &messages), DECODE_BAD_INPUT);
    EXPECT_NE(messages.find(c.says), std::string::npos) << messages;
    EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 1) << messages;
    EXPECT_FALSE(std::filesystem::exists(out));
    RunResult info = test::Run({Program("ostreldec"), "--info", in}, "");
    EXPECT_EQ(info.status, 2);
  }
  std::string messages;
  EXPECT_EQ(Decode(work_.File("missing.ost"), work_.File("out.wav"), &messages), DECODE_BAD_INPUT);
  EXPECT_NE(messages.find("cannot open"), std::string::npos);
}

TEST_F(DecoderFiles, ADamagedFrameIsReportedAndDecodedAsSilence) {
  std::vector<unsigned char> bytes = ost_;
  bytes[HEADER_BYTES + FRAME_BYTES] ^= 0xFF;  // the sync word of frame 1
  const std::string out = work_.File("out.wav");
  std::string messages;
  EXPECT_EQ(Decode(Put("in.ost", bytes), out, &messages), DECODE_DAMAGED);
  EXPECT_NE(messages.find("frame 1 is damaged (bad sync word)"), std::string::npos) << messages;
  EXPECT_EQ(messages.find("frame 0 "), std::string::npos);
  EXPECT_EQ(messages.find("frame 2 "), std::string::npos);

  const Stereo decoded = WavSamples(out);
  ASSERT_EQ(decoded.size(), OutputSamples(FrameCount(ost_)));
  // After frame 0's overlap has died away, frame 1 is silent up to where frame 2 overlaps it.
  for (size_t i = 2 * TOTAL; i < 2 * (2 * TOTAL - HALF_LONG); ++i) ASSERT_EQ(decoded[i], 0) << i;
  // The frames around it decode as they would have.
  const Stereo intact = [&] {
    Decode(dir_->File("source.ost"), work_.File("intact.wav"));
    return WavSamples(work_.File("intact.wav"));
  }();
  for (size_t i = 0; i < 2 * (TOTAL - HALF_LONG); ++i) ASSERT_EQ(decoded[i], intact[i]) << i;
  // From frame 2's second block on, the overlap holds frame 2's own samples again.
  for (size_t i = 2 * (2 * TOTAL); i < decoded.size(); ++i) ASSERT_EQ(decoded[i], intact[i]) << i;
}

TEST_F(DecoderFiles, ACutFileDecodesItsWholeFramesAndSaysSo) {
  const uint32_t frames = FrameCount(ost_);
  ASSERT_GE(frames, 3u);
  // Cut inside the last frame.
  std::vector<unsigned char> bytes(ost_.begin(), ost_.begin() + HEADER_BYTES + (frames - 1) * FRAME_BYTES + 100);
  const std::string out = work_.File("out.wav");
  std::string messages;
  EXPECT_EQ(Decode(Put("cut.ost", bytes), out, &messages), DECODE_DAMAGED);
  EXPECT_NE(messages.find("holds " + std::to_string(frames - 1) + " of the " + std::to_string(frames)),
            std::string::npos)
      << messages;
  EXPECT_EQ(WavSamples(out).size(), OutputSamples(frames - 1));

  RunResult info = test::Run({Program("ostreldec"), "--info", work_.File("cut.ost")}, "");
  EXPECT_EQ(info.status, 1);
  EXPECT_NE(info.out.find("(the file holds " + std::to_string(frames - 1) + " whole frames)"), std::string::npos);
}

TEST_F(DecoderFiles, AFrameCountOf0DecodesEveryWholeFrame) {
  std::vector<unsigned char> bytes = ost_;
  for (size_t i = 10; i < 14; ++i) bytes[i] = 0;
  std::string messages;
  EXPECT_EQ(Decode(Put("unfinished.ost", bytes), work_.File("out.wav"), &messages), DECODE_DAMAGED);
  EXPECT_NE(messages.find("frame count is 0"), std::string::npos) << messages;
  Decode(dir_->File("source.ost"), work_.File("intact.wav"));
  EXPECT_EQ(ReadAll(work_.File("out.wav")), ReadAll(work_.File("intact.wav")));

  // Interrupted before the first frame was complete: an empty but valid WAV file.
  bytes.resize(HEADER_BYTES + 1000);
  EXPECT_EQ(Decode(Put("empty.ost", bytes), work_.File("empty.wav")), DECODE_DAMAGED);
  EXPECT_EQ(ReadAll(work_.File("empty.wav")).size(), 44u);
}

TEST_F(DecoderFiles, TheInputIsNeverOverwritten) {
  const std::string in = Put("in.ost", ost_);
  std::string messages;
  EXPECT_EQ(Decode(in, in, &messages), DECODE_WRITE_FAILED);
  EXPECT_NE(messages.find("it is the input file"), std::string::npos);
  // Also not through a second name for it.
  std::filesystem::create_hard_link(in, work_.File("alias.wav"));
  EXPECT_EQ(Decode(in, work_.File("alias.wav")), DECODE_WRITE_FAILED);
  EXPECT_EQ(ReadAll(in), ost_);
}

TEST_F(DecoderFiles, AFailedRunLeavesTheOldOutputAndNoTemporaryFile) {
  const std::string out = Put("out.wav", {'k', 'e', 'e', 'p'});
  EXPECT_EQ(Decode(Put("bad.ost", {'n', 'o', 'p', 'e', '!', '!'}), out), DECODE_BAD_INPUT);
  EXPECT_EQ(ReadAll(out), (std::vector<unsigned char>{'k', 'e', 'e', 'p'}));

  std::string messages;
  const std::string nowhere = work_.File("no/such/folder/out.wav");
  EXPECT_EQ(Decode(dir_->File("source.ost"), nowhere, &messages), DECODE_WRITE_FAILED);
  EXPECT_NE(messages.find("cannot write " + nowhere), std::string::npos) << messages;
  EXPECT_EQ(Decode(dir_->File("source.ost"), work_.path(), &messages), DECODE_WRITE_FAILED);
  EXPECT_NE(messages.find("it is a folder"), std::string::npos) << messages;
}

// The temporary name beside the output is shortened where the output's own name is at the limit.
TEST_F(DecoderFiles, AnOutputNameAtTheLengthLimitIsWritten) {
  const std::string out = work_.File(std::string(255, 'a'));
  std::string messages;
  EXPECT_EQ(Decode(dir_->File("source.ost"), out, &messages), DECODE_OK) << messages;
  EXPECT_EQ(ReadAll(out).size(), 44 + 2 * OutputSamples(FrameCount(ost_)));
  RunResult r = test::Run({Program("ostreldec"), "-f", dir_->File("source.ost"), out}, "");
  EXPECT_EQ(r.status, DECODE_OK) << r.err;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work_.path()), std::filesystem::directory_iterator()), 1);
}

// Decodes `in` to `out` in a process that may write files of at most 64 KiB, and exits with the
// decoder's status after printing its messages.
[[noreturn]] void DecodeUnderFileLimit(const std::string& in, const std::string& out) {
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit{65536, 65536};
  setrlimit(RLIMIT_FSIZE, &limit);
  std::ostringstream log;
  const int status = DecodeFile(in, out, DecodeOptions{}, log);
  std::fputs(log.str().c_str(), stderr);
  std::fflush(stderr);
  _exit(status);  // not exit(): that would also run the suite's clean-up and remove its shared files
}

size_t FilesIn(const TempDir& dir) {
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files += entry.is_regular_file();
  return files;
}

TEST_F(DecoderFiles, AWriteFailureIsReportedAndLeavesNothingBehind) {
  OSTREL_SKIP_ON_WINDOWS("no file-size limit (RLIMIT_FSIZE)");
  const std::string out = work_.File("out.wav");
  // Writing the output (about 256 KiB) fails part way.
  EXPECT_EXIT(DecodeUnderFileLimit(dir_->File("source.ost"), out), testing::ExitedWithCode(DECODE_WRITE_FAILED),
              "cannot write .*out.wav");
  EXPECT_EQ(FilesIn(work_), 0u);

  // The program, started as from a shell, where going past the limit would kill it.
  test::RunOptions limited;
  limited.fileSizeLimit = 65536;
  RunResult r = test::Run({Program("ostreldec"), dir_->File("source.ost"), out}, "", limited);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, DECODE_WRITE_FAILED);
  EXPECT_NE(r.err.find("cannot write " + out + ": File too large"), std::string::npos) << r.err;
  EXPECT_EQ(FilesIn(work_), 0u);
}

TEST_F(DecoderFiles, AnInterruptedRunLeavesNothingBehind) {
  OSTREL_SKIP_ON_WINDOWS("POSIX signals; Ctrl-C goes through the console handler");
  // 1000 frames (about six minutes): the run is far from done when the signal comes.
  std::vector<unsigned char> bytes(ost_.begin(), ost_.begin() + HEADER_BYTES);
  for (size_t f = 0; f < 1000; ++f) {
    bytes.insert(bytes.end(), ost_.begin() + HEADER_BYTES, ost_.begin() + HEADER_BYTES + FRAME_BYTES);
  }
  for (size_t i = 10; i < 14; ++i) bytes[i] = 0;  // every whole frame counts
  TempDir inputs;
  WriteAll(inputs.File("long.ost"), bytes);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    test::RunOptions options;
    options.signalAfter = "frame 0:";  // -v lists the frames as they are decoded
    options.signal = sig;
    RunResult r = test::Run({Program("ostreldec"), "-v", inputs.File("long.ost"), work_.File("out.wav")}, "", options);
    EXPECT_EQ(r.signal, sig);
    EXPECT_EQ(FilesIn(work_), 0u);
  }
}

// What is not a plain file is written into, never replaced: a link stays a link, a pipe a pipe.
TEST_F(DecoderFiles, LinksAndPipesAsTheOutputAreWrittenThrough) {
  OSTREL_SKIP_ON_WINDOWS("symbolic links need privileges there");
  Decode(dir_->File("source.ost"), work_.File("plain.wav"));
  const std::vector<unsigned char> plain = ReadAll(work_.File("plain.wav"));
  ASSERT_EQ(plain.size(), 44 + 2 * OutputSamples(FrameCount(ost_)));

  ASSERT_EQ(symlink("real.wav", work_.File("link.wav").c_str()), 0);
  EXPECT_EQ(Decode(dir_->File("source.ost"), work_.File("link.wav")), DECODE_OK);
  EXPECT_TRUE(std::filesystem::is_symlink(work_.File("link.wav")));
  EXPECT_EQ(ReadAll(work_.File("real.wav")), plain);

  ASSERT_EQ(mkfifo(work_.File("pipe").c_str(), 0600), 0);
  TempDir keep;  // a second name, to reach the pipe even if it has been replaced
  ASSERT_EQ(link(work_.File("pipe").c_str(), keep.File("pipe").c_str()), 0);
  std::vector<unsigned char> received;
  std::thread reader([&] { received = ReadAll(work_.File("pipe")); });
  std::string messages;
  EXPECT_EQ(Decode(dir_->File("source.ost"), work_.File("pipe"), &messages), DECODE_OK) << messages;
  const int unblock = open(keep.File("pipe").c_str(), O_WRONLY | O_NONBLOCK);  // in case it was never opened
  if (unblock >= 0) close(unblock);
  reader.join();
  EXPECT_TRUE(std::filesystem::is_fifo(work_.File("pipe")));
  // The samples follow a header that cannot be patched afterwards: its lengths are 0xFFFFFFFF
  // ("to the end of the stream") from the start, and no second header follows the samples.
  ASSERT_EQ(received.size(), plain.size());
  EXPECT_TRUE(std::equal(plain.begin() + 44, plain.end(), received.begin() + 44));
  EXPECT_TRUE(std::equal(plain.begin() + 8, plain.begin() + 40, received.begin() + 8));
  for (size_t at : {4, 40}) {
    EXPECT_EQ(received[at] & received[at + 1] & received[at + 2] & received[at + 3], 0xFF) << at;
  }
}

}  // namespace
}  // namespace ostrel
