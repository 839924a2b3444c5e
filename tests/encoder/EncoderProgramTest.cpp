// The ostrelenc program driven through its standard input, as a user or a script would.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
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
  TempDir dir;
  test::WriteWav(dir.File("in put.wav"), test::Silence(4410));
  const std::vector<unsigned char> before = test::ReadAll(dir.File("in put.wav"));
  ASSERT_EQ(symlink("in put.wav", dir.File("alias.wav").c_str()), 0);
  test::RunResult r =
      RunEncoder(" in put.wav \n./in put.wav\nalias.wav\nnope/x.ost\nout file.ost\nz\n", dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "./in put.wav is the source file; writing to it would destroy it. Choose another target.\n"
            "alias.wav is the source file; writing to it would destroy it. Choose another target.\n"
            "Cannot open nope/x.ost for writing: No such file or directory.\n");
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

}  // namespace
}  // namespace ostrel
