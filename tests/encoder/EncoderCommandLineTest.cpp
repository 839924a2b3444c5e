// ostrelenc with arguments, run as a script would: the streams against the dialogue's, names
// beside the inputs, tags, standard input and output, several inputs and jobs, and every exit
// status.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/Process.h"
#include "common/StreamFixture.h"
#include "common/TempDir.h"
#include "common/WavFixture.h"
#include "encoder/EncoderFixture.h"
#include "ostrel/ostrel.h"

namespace ostrel {
namespace {

using test::Program;
using test::ReadAll;
using test::RunResult;
using test::TempDir;
using Bytes = std::vector<unsigned char>;

RunResult Encoder(const std::vector<std::string>& args, const std::string& input = "",
                  const test::RunOptions& options = {}) {
  std::vector<std::string> argv = {Program("ostrelenc")};
  argv.insert(argv.end(), args.begin(), args.end());
  return test::Run(argv, input, options);
}

// The dialogue's stream for `source` at menu row `row`.
Bytes DialogueStream(const TempDir& dir, const std::string& source, int row) {
  const std::string target = dir.File("dialogue" + std::to_string(row) + ".ost");
  RunResult r = test::Run({Program("ostrelenc")}, source + "\n" + target + "\n" + std::to_string(row) + "\n");
  EXPECT_EQ(r.status, 0) << r.err;
  return ReadAll(target);
}

// The frames of a stream: what follows its header. The command line's header holds tags and
// LENGTH, the dialogue's the three strings alone; their frames are the same.
Bytes Frames(const Bytes& stream) {
  ostrel_info info;
  EXPECT_EQ(ostrel_parse_header(stream.data(), stream.size(), &info, nullptr, 0), OSTREL_OK);
  return Bytes(stream.begin() + static_cast<long>(std::min<uint64_t>(info.header_bytes, stream.size())), stream.end());
}

// The three header strings: title, author and comments.
std::vector<std::string> HeaderStrings(const Bytes& file) {
  std::vector<std::string> strings;
  size_t at = FILE_HEADER_FIXED_BYTES;
  for (int field = 0; field < 3 && at < file.size(); ++field) {
    size_t length = file[at++];
    if (field == 2 && at < file.size()) length |= size_t{file[at++]} << 8;
    if (at + length > file.size()) break;
    strings.emplace_back(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + length));
    at += length;
  }
  return strings;
}

// A WAV file with a LIST/INFO chunk before its samples.
Bytes TaggedWav(const test::Stereo& samples, const std::string& title, const std::string& artist) {
  Bytes wav = test::WavBytes(samples);
  Bytes list = {'L', 'I', 'S', 'T', 0, 0, 0, 0, 'I', 'N', 'F', 'O'};
  for (const auto& [tag, text] : {std::pair<const char*, std::string>{"INAM", title}, {"IART", artist}}) {
    list.insert(list.end(), tag, tag + 4);
    const size_t size = text.size() + 1;
    test::PutLE(list, static_cast<uint32_t>(size), 4);
    list.insert(list.end(), text.begin(), text.end());
    list.push_back(0);
    if (size % 2 == 1) list.push_back(0);
  }
  const uint32_t listSize = static_cast<uint32_t>(list.size() - 8);
  for (int i = 0; i < 4; ++i) list[4 + i] = static_cast<unsigned char>(listSize >> (8 * i));
  wav.insert(wav.begin() + 36, list.begin(), list.end());  // after the fmt chunk
  const uint32_t riff = static_cast<uint32_t>(wav.size() - 8);
  for (int i = 0; i < 4; ++i) wav[4 + i] = static_cast<unsigned char>(riff >> (8 * i));
  return wav;
}

class EncoderCommandLine : public testing::Test {
 protected:
  void SetUp() override {
    source_ = dir_.File("in.wav");
    test::WriteWav(source_, test::Material(66150, 20000, 3));  // 1.5 s
  }
  TempDir dir_;
  std::string source_;
};

// Every rate of the command line writes the stream the dialogue writes at that rate's row, also
// through standard input; -b 128 is row 5 and the default.
TEST_F(EncoderCommandLine, EveryRateGivesTheDialoguesStream) {
  for (const test::RateRow& row : test::RateRows()) {
    SCOPED_TRACE(row.row);
    const Bytes expected = DialogueStream(dir_, source_, row.row);
    const std::string out = dir_.File("cli.ost");
    RunResult r = Encoder({"-f", "-b", std::to_string(row.code * 2), source_, "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // no progress or summary when standard error is not a terminal
    EXPECT_EQ(Frames(ReadAll(out)), Frames(expected));
    if (row.row == 5) {
      RunResult byDefault = Encoder({"-f", source_, "-o", out});
      EXPECT_EQ(byDefault.status, 0) << byDefault.err;
      EXPECT_EQ(Frames(ReadAll(out)), Frames(expected));
      const Bytes wav = ReadAll(source_);
      RunResult piped = Encoder({"-f", "--bitrate=128", "-", "-o", out}, std::string(wav.begin(), wav.end()));
      EXPECT_EQ(piped.status, 0) << piped.err;
      EXPECT_EQ(Frames(ReadAll(out)), Frames(expected));
    }
  }
}

TEST_F(EncoderCommandLine, UsageHelpAndVersion) {
  RunResult help = Encoder({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("96 112 128 160 192 256 392"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
  EXPECT_EQ(help.err, "");
  RunResult version = Encoder({"-V"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("ostrelenc (Ostrel) ", 0), 0u) << version.out;

  RunResult badRate = Encoder({"-b", "100", source_});
  EXPECT_EQ(badRate.status, 2);
  EXPECT_EQ(badRate.err.rfind("ostrelenc: unknown data rate '100' (kb/s: 96 112 128 160 192 256 392)\nUsage:", 0), 0u)
      << badRate.err;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-q"}, {"--bogus", source_}, {"-b"}, {"-j", "0", source_}, {"--threads", "65", source_}, {"-o", "x.ost", source_, source_},
           {"--title", std::string(256, 't'), source_}, {"--comment", std::string(65536, 'c'), source_}, {"-", "-"}}) {
    RunResult r = Encoder(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.err.rfind("ostrelenc: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("Usage:"), std::string::npos) << r.err;
  }
  // The complaint names the option at fault, also inside a group or after another option.
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"-dash.wav"}, "unknown option -d\n"}, {{"-q", "-dash"}, "unknown option -d\n"},
           {{"--bogus=3", source_}, "unknown option --bogus\n"}, {{"-qb"}, "option -b needs a value\n"}}) {
    EXPECT_EQ(Encoder(args).err.rfind("ostrelenc: " + message, 0), 0u) << args[0];
  }
  EXPECT_FALSE(std::ifstream(dir_.File("in.ost")).good());  // nothing was coded
}

// Outputs beside the inputs; an existing one is refused without -f while the others go on.
TEST_F(EncoderCommandLine, OutputsBesideTheInputsAndExistingOnesNeedForce) {
  test::WriteWav(dir_.File("b.wav"), test::Silence(20000));
  test::WriteAll(dir_.File("b.ost"), {'o', 'l', 'd'});
  RunResult r = Encoder({source_, dir_.File("b.wav"), dir_.File("missing.wav")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ostrelenc: cannot write " + dir_.File("b.ost") + ": it exists (-f replaces it)\n"
                   "ostrelenc: " + dir_.File("missing.wav") + " cannot be opened: No such file or directory\n");
  EXPECT_EQ(Frames(ReadAll(dir_.File("in.ost"))), Frames(DialogueStream(dir_, source_, 5)));
  EXPECT_EQ(ReadAll(dir_.File("b.ost")), (Bytes{'o', 'l', 'd'}));

  RunResult forced = Encoder({"-f", "--progress", dir_.File("b.wav")});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(test::HeaderFrameCount(ReadAll(dir_.File("b.ost"))), 2u);
  // The progress line and the summary, on request.
  EXPECT_NE(forced.err.find("%, 0:00 elapsed, "), std::string::npos) << forced.err;
  EXPECT_NE(forced.err.find("ostrelenc: " + dir_.File("b.wav") + " -> " + dir_.File("b.ost") +
                            ": 12 kB, 0.5 s of audio, 128 kb/s, "),
            std::string::npos) << forced.err;
  EXPECT_EQ(Encoder({"-f", "-q", "--progress", dir_.File("b.wav")}).err, "");

  // A source that is no WAV file is named with the reason; nothing is left behind.
  test::WriteAll(dir_.File("text.wav"), {'h', 'i'});
  RunResult bad = Encoder({dir_.File("text.wav")});
  EXPECT_EQ(bad.status, 1);
  // (The words after "is not a" depend on whether the build reads other formats through libsndfile.)
  EXPECT_NE(bad.err.find("ostrelenc: " + dir_.File("text.wav") + " is not a "), std::string::npos) << bad.err;
  EXPECT_FALSE(std::ifstream(dir_.File("text.ost")).good());
}

TEST_F(EncoderCommandLine, TagsFromOptionsOrTheSourcesInfoChunkElseNone) {
  const test::Stereo samples = test::Silence(20000);
  test::WriteAll(dir_.File("tagged.wav"), TaggedWav(samples, "Song", "The Band"));
  ASSERT_EQ(Encoder({dir_.File("tagged.wav")}).status, 0);
  std::vector<std::string> strings = HeaderStrings(ReadAll(dir_.File("tagged.ost")));
  ASSERT_EQ(strings.size(), 3u);
  EXPECT_EQ(strings[0], "Song");
  EXPECT_EQ(strings[1], "The Band");
  EXPECT_EQ(strings[2].find("COMMENT="), std::string::npos) << strings[2];

  ASSERT_EQ(Encoder({"-f", "--title", "Other", "--comment", "take 2", dir_.File("tagged.wav")}).status, 0);
  strings = HeaderStrings(ReadAll(dir_.File("tagged.ost")));
  EXPECT_EQ(strings[0], "Other");
  EXPECT_EQ(strings[1], "The Band");
  EXPECT_NE(strings[2].find("\nCOMMENT=take 2\n"), std::string::npos) << strings[2];

  const std::string longest(255, 'a');
  ASSERT_EQ(Encoder({"-f", "--artist", longest, source_}).status, 0);
  strings = HeaderStrings(ReadAll(dir_.File("in.ost")));
  EXPECT_EQ(strings[0], "None");
  EXPECT_EQ(strings[1], longest);

  // A source tag too long for its field is an error, not cut.
  test::WriteAll(dir_.File("long.wav"), TaggedWav(samples, std::string(300, 'x'), "A"));
  RunResult tooLong = Encoder({dir_.File("long.wav")});
  EXPECT_EQ(tooLong.status, 1);
  EXPECT_NE(tooLong.err.find("TITLE (INAM) tag is 300 bytes long"), std::string::npos) << tooLong.err;
  EXPECT_FALSE(std::ifstream(dir_.File("long.ost")).good());
}

// A write that fails (here past a file-size limit) is reported with the output's name, and the
// unfinished output is not left behind.
TEST_F(EncoderCommandLine, AWriteFailureLeavesNothingBehind) {
  OSTREL_SKIP_ON_WINDOWS("no file-size limit (RLIMIT_FSIZE)");
  test::RunOptions limited;
  limited.fileSizeLimit = 20000;
  RunResult r = Encoder({source_}, "", limited);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ostrelenc: cannot write " + dir_.File("in.ost") + ": File too large; nothing was left behind\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), std::filesystem::directory_iterator()), 1);
}

// On a pipe the frames are all there but the frame count cannot be stored; decoders take every
// frame. The frames are the dialogue's.
TEST_F(EncoderCommandLine, StandardOutputAsAPipe) {
  OSTREL_SKIP_ON_WINDOWS("no pseudo-terminal");
  const Bytes expected = DialogueStream(dir_, source_, 5);
  RunResult r = Encoder({source_, "-o", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("standard output cannot seek back"), std::string::npos) << r.err;
  const Bytes piped(r.out.begin(), r.out.end());
  EXPECT_EQ(test::HeaderFrameCount(piped), 0u);
  EXPECT_EQ(Frames(piped), Frames(expected));
  EXPECT_EQ(Encoder({"-q", source_, "-o", "-"}).err, "");

  // A terminal is neither a source nor a target for a stream.
  test::RunOptions terminal;
  terminal.terminal = true;
  RunResult fromTerminal = Encoder({"-", "-o", dir_.File("t.ost")}, "", terminal);
  EXPECT_EQ(fromTerminal.status, 1);
  EXPECT_EQ(fromTerminal.err, "ostrelenc: standard input is a terminal; pipe a sound file into it\n");
  RunResult toTerminal = Encoder({source_, "-o", "-"}, "", terminal);
  EXPECT_EQ(toTerminal.status, 1);
  EXPECT_NE(toTerminal.err.find("not writing a compressed stream to a terminal"), std::string::npos) << toTerminal.err;
}

// Several jobs, and threads per file, give the bytes one job on one thread gives; the status is
// the worst of the files.
TEST_F(EncoderCommandLine, JobsCodeSeveralInputsAtOnce) {
  std::vector<std::string> inputs;
  for (int i = 0; i < 3; ++i) {
    inputs.push_back(dir_.File("in" + std::to_string(i) + ".wav"));
    test::WriteWav(inputs.back(), test::Material(30000 + 5000 * i, 9000, i));
  }
  std::vector<std::string> oneThread = {"--threads", "1"};
  oneThread.insert(oneThread.end(), inputs.begin(), inputs.end());
  ASSERT_EQ(Encoder(oneThread).status, 0);
  std::vector<Bytes> sequential;
  for (int i = 0; i < 3; ++i) sequential.push_back(ReadAll(dir_.File("in" + std::to_string(i) + ".ost")));
  ASSERT_EQ(Encoder({"-f", "--threads", "3", inputs[2]}).status, 0);
  EXPECT_EQ(ReadAll(dir_.File("in2.ost")), sequential[2]);
  std::vector<std::string> args = {"-f", "-j", "2", "--threads", "2"};
  args.insert(args.end(), inputs.begin(), inputs.end());
  args.push_back(dir_.File("missing.wav"));
  RunResult r = Encoder(args);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ostrelenc: " + dir_.File("missing.wav") + " cannot be opened: No such file or directory\n");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadAll(dir_.File("in" + std::to_string(i) + ".ost")), sequential[i]) << i;
}

// Two inputs whose outputs share a name (song.wav and song.x both give song.ost) under -j: one
// is coded into it, the other is refused with a message and the status 1, and the stream is
// whole. Repeated, as the order in which the jobs end varies.
TEST_F(EncoderCommandLine, JobsWithOneOutputNameLoseNothingSilently) {
  const test::Stereo samples = test::Material(20000, 9000, 1);
  test::WriteWav(dir_.File("song.wav"), samples);
  test::WriteWav(dir_.File("song.x"), samples);
  ASSERT_EQ(Encoder({"-q", dir_.File("song.wav"), "-o", dir_.File("alone.ost")}).status, 0);
  for (int run = 0; run < 4; ++run) {
    std::filesystem::remove(dir_.File("song.ost"));
    RunResult r = Encoder({"-q", "-j", "2", dir_.File("song.wav"), dir_.File("song.x")});
    EXPECT_EQ(r.status, 1) << run;
    EXPECT_NE(r.err.find("cannot write " + dir_.File("song.ost") + ": it exists (-f replaces it)"), std::string::npos)
        << r.err;
    EXPECT_EQ(ReadAll(dir_.File("song.ost")), ReadAll(dir_.File("alone.ost")));
  }
}

// Two SIGINTs 1.5 ms apart to the whole process group (a terminal's Ctrl-C, twice) at moments
// spread over a -j run: every input ends complete, or stopped with its valid shorter output and
// the message, or with no file at all; never with a temporary file left or an output unexplained.
TEST_F(EncoderCommandLine, SignalsUnderJobsLeaveEveryInputWholeStoppedOrAbsent) {
  OSTREL_SKIP_ON_WINDOWS("POSIX signals; Ctrl-C goes through the console handler");
  std::vector<std::string> args = {"-j", "2", "--threads", "1", "-q"};
  std::vector<Bytes> complete;
  for (int i = 0; i < 3; ++i) {
    args.push_back(dir_.File("s" + std::to_string(i) + ".wav"));
    test::WriteWav(args.back(), test::Material(3 * 44100, 20000, 20 + i));
    ASSERT_EQ(Encoder({"-q", "--threads", "1", args.back(), "-o", dir_.File("whole.ost"), "-f"}).status, 0);
    complete.push_back(ReadAll(dir_.File("whole.ost")));
  }
  std::filesystem::remove(dir_.File("whole.ost"));
  for (int run = 0; run < 10; ++run) {
    test::RunOptions options;
    options.signal = SIGINT;
    options.signalCount = 2;
    options.signalGroup = true;
    options.signalDelayUs = 80000 + 40000 * run;
    const RunResult r = Encoder(args, "", options);
    // The second signal may find the program past its last job, on its way out.
    EXPECT_TRUE(r.signal == 0 || r.signal == SIGINT) << run;
    for (int i = 0; i < 3; ++i) {
      const std::string out = dir_.File("s" + std::to_string(i) + ".ost");
      if (!std::filesystem::exists(out)) continue;
      const Bytes file = ReadAll(out);
      if (file != complete[i]) {
        EXPECT_NE(r.err.find(args[5 + i] + ": stopped by "), std::string::npos) << run << ": " << r.err;
        EXPECT_EQ(file.size(), test::ExpectedFileSize(test::HeaderFrameCount(file), 47560, file.size() - Frames(file).size()))
            << run;
      }
      std::filesystem::remove(out);
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      EXPECT_EQ(entry.path().string().find(".part-"), std::string::npos) << run << ": " << entry.path();
    }
  }
}

// A signal stops the run after the chunk in progress: the file is valid and shorter, the message
// says how far it got, the status is 128 + the signal, and no further input is started.
TEST_F(EncoderCommandLine, ASignalLeavesAValidShorterFileAndItsStatus) {
  OSTREL_SKIP_ON_WINDOWS("POSIX signals; Ctrl-C goes through the console handler");
  const std::string longSource = dir_.File("long.wav");
  test::WriteWav(longSource, test::Material(60 * 44100, 30000, 9));
  test::WriteWav(dir_.File("next.wav"), test::Silence(20000));
  const uint32_t fullRun = 60 * 44100 / 16384 + 1;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    test::RunOptions options;
    options.signal = sig;
    // Once two frames are written, whatever the machine's speed (the run takes about a second).
    options.signalWhenFiles = {dir_.File("long.ost.")};
    options.signalWhenBytes = 3 * 5945;
    RunResult r = Encoder({"-f", "--threads", "1", longSource, dir_.File("next.wav")}, "", options);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 128 + sig) << r.err;
    EXPECT_NE(r.err.find("ostrelenc: " + longSource + ": stopped by "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" s of 60.0 s ("), std::string::npos) << r.err;
    const Bytes file = ReadAll(dir_.File("long.ost"));
    const uint32_t frames = test::HeaderFrameCount(file);
    EXPECT_GE(frames, 1u);
    EXPECT_LT(frames, fullRun);
    EXPECT_EQ(file.size(), test::ExpectedFileSize(frames, 47560, file.size() - Frames(file).size()));
    EXPECT_FALSE(std::ifstream(dir_.File("next.ost")).good());
  }

  // With jobs, a signal to the program reaches every running job; none is started after it.
  test::WriteWav(dir_.File("long2.wav"), test::Material(60 * 44100, 30000, 10));
  test::RunOptions options;
  options.signal = SIGTERM;
  options.signalWhenFiles = {dir_.File("long.ost."), dir_.File("long2.ost.")};
  options.signalWhenBytes = 3 * 5945;
  RunResult r = Encoder({"-f", "-j", "2", longSource, dir_.File("long2.wav"), dir_.File("next.wav")}, "", options);
  EXPECT_EQ(r.status, 128 + SIGTERM) << r.err;
  for (const char* name : {"long.ost", "long2.ost"}) {
    SCOPED_TRACE(name);
    const Bytes file = ReadAll(dir_.File(name));
    const uint32_t frames = test::HeaderFrameCount(file);
    EXPECT_LT(frames, fullRun);
    EXPECT_EQ(file.size(), test::ExpectedFileSize(frames, 47560, file.size() - Frames(file).size()));
  }
  EXPECT_FALSE(std::ifstream(dir_.File("next.ost")).good());
}

}  // namespace
}  // namespace ostrel
