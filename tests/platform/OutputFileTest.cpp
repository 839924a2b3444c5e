// Two writers on one target: an output committed without -f never replaces a file that appeared
// meanwhile, and a target written in place is held by one writer at a time.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/TempDir.h"
#include "platform/OutputFile.h"

namespace ostrel {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Fill(const OutputFile& output, const std::string& text) {
  std::ofstream(output.WritePath(), std::ios::binary) << text;
}

size_t Entries(const std::string& dir) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

TEST(OutputFileTest, TheSecondOfTwoWritersNeitherReplacesTheFirstNorLeavesATrace) {
  test::TempDir dir;
  const std::string target = dir.File("out.ost");
  std::string reason;
  for (const bool replace : {false, true}) {
    std::filesystem::remove(target);
    {
      OutputFile first, second;
      ASSERT_TRUE(first.OpenReplacing(target, FileId{}, &reason)) << reason;
      ASSERT_TRUE(second.OpenReplacing(target, FileId{}, &reason)) << reason;
      Fill(first, "first");
      Fill(second, "second");
      ASSERT_TRUE(first.Commit(replace, &reason)) << reason;
      EXPECT_EQ(second.Commit(replace, &reason), replace);
      if (!replace) {
        EXPECT_EQ(reason, OUTPUT_EXISTS);
      }
    }
    EXPECT_EQ(Slurp(target), replace ? "second" : "first");
    EXPECT_EQ(Entries(dir.path()), 1u);  // no temporary file left
  }
}

TEST(OutputFileTest, ATargetWrittenInPlaceIsHeldByOneWriterAtATime) {
  test::TempDir dir;
  const std::string target = dir.File("out.ost");
  std::string reason;
  {
    OutputFile first;
    ASSERT_TRUE(first.OpenInPlace(target, FileId{}, &reason)) << reason;
    FileHandle stream = first.TakeStream(&reason);
    ASSERT_TRUE(stream);
    std::fputs("first", stream.get());
    OutputFile second;
    EXPECT_FALSE(second.OpenInPlace(target, FileId{}, &reason));
    EXPECT_EQ(reason, "another program is writing it");
    first.HandOver();
  }
  // The refused writer removed nothing; once the first has closed it, the target is free.
  EXPECT_EQ(Slurp(target), "first");
  OutputFile third;
  EXPECT_TRUE(third.OpenInPlace(target, FileId{}, &reason)) << reason;
}

}  // namespace
}  // namespace ostrel
