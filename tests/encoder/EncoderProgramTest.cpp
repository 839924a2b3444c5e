// The ostrelenc program driven through its standard input, as a user or a script would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "common/Process.h"
#include "common/TempDir.h"
#include "common/WavFixture.h"

namespace ostrel {
namespace {

using test::TempDir;

test::RunResult RunEncoder(const std::string& input, const TempDir& dir) {
  test::RunOptions options;
  options.workdir = dir.path();
  return test::Run({test::Program("ostrelenc")}, input, options);
}

const char kExpectedDialogue[] =
    "\t---------------------------------------\n"
    "\tSimple Demonstration of Ostrel Encoder\n"
    "\tThe Ostrel Codec Project\n"
    "\t---------------------------------------\n\n"
    "Enter source file path: "
    "Enter target file path: "
    "\nAvailable Data Rates:\n"
    "---------------------\n\n"
    "1\t392 kb/s\n2\t256 kb/s\n3\t192 kb/s\n4\t160 kb/s\n5\t128 kb/s\n6\t112 kb/s\n7\t96 kb/s\n"
    "\nEnter target data rate: "
    "\nData Rate Selected: 96 kb/s\n";

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

TEST(EncoderProgram, ScriptedDialogueSelectsTheRateAndCreatesTheTarget) {
  TempDir dir;
  test::WriteWav(dir.File("in.wav"), test::Sine(44100, 1000.0, 8000.0));
  test::RunResult r = RunEncoder("in.wav\nout.ost\n7\n", dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, sizeof kExpectedDialogue - 1), kExpectedDialogue);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(Exists(dir.File("out.ost")));
}

TEST(EncoderProgram, KeyTypedAheadAfterTheRateDoesNotDisturbTheDialogue) {
  TempDir dir;
  test::WriteWav(dir.File("in.wav"), test::Silence(4410));
  test::RunResult r = RunEncoder("in.wav\nout.ost\n5\nq", dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nData Rate Selected: 128 kb/s\n"), std::string::npos);
}

TEST(EncoderProgram, RelativeSpellingsAndLinksOfTheSourceAreRefused) {
  OSTREL_SKIP_ON_WINDOWS("symbolic links need privileges there");
  TempDir dir;
  test::WriteWav(dir.File("in put.wav"), test::Silence(4410));
  const std::vector<unsigned char> before = test::ReadAll(dir.File("in put.wav"));
  ASSERT_EQ(symlink("in put.wav", dir.File("alias.wav").c_str()), 0);
  test::RunResult r =
      RunEncoder(" in put.wav \n./in put.wav\nalias.wav\nnope/x.ost\nout file.ost\nz\n", dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "ostrelenc: cannot write ./in put.wav: it is the input file\n"
            "ostrelenc: cannot write alias.wav: it is the input file\n"
            "ostrelenc: cannot write nope/x.ost: No such file or directory\n");
  EXPECT_NE(r.out.find("\nData Rate Selected: 128 kb/s\n"), std::string::npos);
  EXPECT_EQ(test::ReadAll(dir.File("in put.wav")), before);
  EXPECT_TRUE(Exists(dir.File("out file.ost")));
}

TEST(EncoderProgram, EndOfInputEndsWithAnErrorAndCreatesNothing) {
  TempDir dir;
  test::WriteWav(dir.File("in.wav"), test::Silence(4410));
  for (const char* input : {"", "missing.wav\n", "in.wav\n", "in.wav\nout.ost\n"}) {
    SCOPED_TRACE(input);
    test::RunResult r = RunEncoder(input, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.signal, 0);
    EXPECT_NE(r.err.find("End of input before the"), std::string::npos);
    EXPECT_EQ(r.out.find("Data Rate Selected"), std::string::npos);
    EXPECT_FALSE(Exists(dir.File("out.ost")));
  }
}

TEST(EncoderProgram, InterruptAtTheRatePromptRemovesOnlyATargetItCreated) {
  OSTREL_SKIP_ON_WINDOWS("POSIX signals; Ctrl-C goes through the console handler");
  TempDir dir;
  test::WriteWav(dir.File("in.wav"), test::Silence(4410));
  test::WriteAll(dir.File("old.ost"), {'k', 'e', 'e', 'p'});
  for (int sig : {SIGINT, SIGHUP}) {
    for (const char* target : {"new.ost", "old.ost"}) {
      SCOPED_TRACE(std::string(target) + " signal " + std::to_string(sig));
      test::RunOptions options;
      options.workdir = dir.path();
      options.holdInput = true;  // the rate question stays unanswered
      options.signalAfter = "Enter target data rate: ";
      options.signal = sig;
      test::RunResult r = test::Run({test::Program("ostrelenc")}, std::string("in.wav\n") + target + "\n", options);
      EXPECT_EQ(r.signal, sig);
    }
    EXPECT_FALSE(Exists(dir.File("new.ost")));
    EXPECT_EQ(test::ReadAll(dir.File("old.ost")), (std::vector<unsigned char>{'k', 'e', 'e', 'p'}));
  }
}

// A pipe as the target takes the frames, but the frame count cannot be patched in afterwards.
TEST(EncoderProgram, PipeTargetGetsNoStrayHeaderAndTheRunSaysSo) {
  OSTREL_SKIP_ON_WINDOWS("named pipes are not files there");
  TempDir dir;
  test::WriteWav(dir.File("in.wav"), test::Silence(20000));
  ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
  std::vector<unsigned char> received;
  std::thread reader([&] { received = test::ReadAll(dir.File("pipe")); });
  test::RunResult r = RunEncoder("in.wav\npipe\n5\n", dir);
  // Should the encoder never have opened the pipe, a writer coming and going ends the reader.
  const int unblock = open(dir.File("pipe").c_str(), O_WRONLY | O_NONBLOCK);
  if (unblock >= 0) close(unblock);
  reader.join();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Cannot store the frame count in \"pipe\""), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("Progress:\n100%\n"), std::string::npos) << r.out;  // the run itself was complete
  // Two frames of 47560 bits after the 30-byte header, in whole words, and nothing after them.
  ASSERT_EQ(received.size(), 30u + 4 * (2 * 47560 / 32 + 1));
  EXPECT_EQ(received[10] | received[11] | received[12] | received[13], 0);
}

// On a terminal the answers are edited lines: Tab completes a file name, a backspace takes back a
// character, and a rate in kb/s is understood. What the dialogue prints and codes is the same.
TEST(EncoderProgram, TerminalAnswersAreEditedLinesWithFileNameCompletion) {
  OSTREL_SKIP_ON_WINDOWS("no pseudo-terminal");
#if !defined(OSTREL_TEST_LIBEDIT)
  GTEST_SKIP() << "built without libedit: the dialogue reads plain lines";
#endif
  TempDir dir;
  test::WriteWav(dir.File("source-file.wav"), test::Silence(20000));
  test::RunOptions options;
  options.workdir = dir.path();
  options.terminal = true;
  // "sou" + Tab completes the only match; "outx" + backspace gives "out".
  test::RunResult r = test::Run({test::Program("ostrelenc")}, "sou\t\noutx\x7f.ost\n256\n", options);
  EXPECT_EQ(r.status, 0) << r.err << r.out;
  EXPECT_NE(r.out.find("Data Rate Selected: 256 kb/s"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("100%"), std::string::npos) << r.out;
  EXPECT_TRUE(Exists(dir.File("out.ost")));
  EXPECT_EQ(test::ReadAll(dir.File("out.ost")).size(), 30u + 4 * (3 * 47560 / 32 + 1));
}

}  // namespace
}  // namespace ostrel
