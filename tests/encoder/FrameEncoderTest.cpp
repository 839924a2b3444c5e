#include "encoder/FrameLoop.h"
#include "library/EncoderTesting.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/StreamFixture.h"
#include "common/TempDir.h"
#include "common/WavFixture.h"
#include "encoder/EncoderFixture.h"

namespace ostrel {
namespace {

using test::Material;
using test::ParametersFor;
using test::ReadAll;
using test::TempDir;
using test::WriteWav;

// Puts the null device on standard input for the life of the object, so that the loop's key poll
// and the error box never wait for a terminal.
class NullInput {
 public:
  NullInput() : saved(dup(0)) {
#if defined(_WIN32)
    int fd = open("NUL", O_RDONLY);
#else
    int fd = open("/dev/null", O_RDONLY);
#endif
    dup2(fd, 0);
    close(fd);
  }
  ~NullInput() {
    dup2(saved, 0);
    close(saved);
  }

 private:
  int saved;
};

uint32_t FrameCount(const std::vector<unsigned char>& file) { return test::HeaderFrameCount(file); }

TEST(FrameLoop, PaddingErrorEndsTheRunAfterThatFrame) {
  TempDir dir;
  const std::string source = dir.File("in.wav"), target = dir.File("out.ost");
  WriteWav(source, Material(4 * 16384, 5000, 3));
  RunParameters params = ParametersFor(64, 1, source, target);
  SourceReader in(source);
  FileHandle fptr(std::fopen(target.c_str(), "wb"));
  ASSERT_NE(fptr, nullptr);

  NullInput quiet;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  // 200 bits do not even hold the side information: the search ends at step size 1, over budget.
  const int status =
      RunFrameLoop(params, in, std::move(fptr), [](ostrel_encoder* enc) { SetFrameBudget(enc, 200); });
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();

  EXPECT_EQ(status, 1);
  EXPECT_EQ(out, "Progress:\n");
  EXPECT_NE(err.find("Padding Error!"), std::string::npos) << err;
  EXPECT_NE(err.find("Internal Error"), std::string::npos) << err;
  std::vector<unsigned char> file = ReadAll(target);
  ASSERT_GE(file.size(), 34u);
  EXPECT_EQ(FrameCount(file), 1u);
  EXPECT_EQ(file[30], 0x4A);
  EXPECT_EQ(file[31], 0x58);
}

}  // namespace
}  // namespace ostrel
