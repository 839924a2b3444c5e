#include "format/FileHeader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/TempDir.h"

namespace ostrel {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

const std::vector<unsigned char> kEncoderHeader = {
    0x5A, 0x65, 0x6C, 0x6B, 0x31, 0x01, 0x40, 0x44, 0xAC, 0x02, 0x00, 0x00, 0x00, 0x00, 0x04,
    0x4E, 0x6F, 0x6E, 0x65, 0x04, 0x4E, 0x6F, 0x6E, 0x65, 0x04, 0x00, 0x4E, 0x6F, 0x6E, 0x65};

struct ReadBack {
  int result;
  std::string title, author, comments;
  unsigned char rate = 0, channels = 0;
  unsigned short sampleRate = 0;
  unsigned int frames = 0;
  long position = 0;
};

ReadBack Read(const std::string& path) {
  std::vector<char> title(256), author(256), comments(65536);
  ReadBack r{};
  std::FILE* f = std::fopen(path.c_str(), "rb");
  r.result = ReadFileHeader(title.data(), author.data(), comments.data(), &r.rate, &r.sampleRate,
                            &r.channels, &r.frames, f);
  r.position = std::ftell(f);
  std::fclose(f);
  r.title = title.data();
  r.author = author.data();
  r.comments = comments.data();
  return r;
}

TEST(FileHeader, EncoderHeaderIsThirtyKnownBytesAndPatchesInPlace) {
  TempDir dir;
  std::string path = dir.File("h.ost");
  std::FILE* f = std::fopen(path.c_str(), "wb+");
  WriteFileHeader("None", "None", "None", 64, 44100, 2, f);
  std::fputs("frames", f);
  std::fflush(f);
  EXPECT_EQ(ReadAll(path), [] {
    auto v = kEncoderHeader;
    for (char c : std::string("frames")) v.push_back(static_cast<unsigned char>(c));
    return v;
  }());

  UpdateFileHeader(64, 44100, 2, 300, f);
  EXPECT_EQ(std::ftell(f), 14);
  std::fclose(f);
  std::vector<unsigned char> bytes = ReadAll(path);
  ASSERT_EQ(bytes.size(), 36u);
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 10, bytes.begin() + 14),
            (std::vector<unsigned char>{0x2C, 0x01, 0x00, 0x00}));
  EXPECT_TRUE(std::equal(bytes.begin() + 14, bytes.begin() + 30, kEncoderHeader.begin() + 14));

  ReadBack r = Read(path);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.rate, 64);
  EXPECT_EQ(r.sampleRate, 44100);
  EXPECT_EQ(r.channels, 2);
  EXPECT_EQ(r.frames, 300u);
  EXPECT_EQ(r.title, "None");
  EXPECT_EQ(r.comments, "None");
  EXPECT_EQ(r.position, 30);
}

TEST(FileHeader, EmptyStringsWriteOnlyTheirLengths) {
  TempDir dir;
  std::string path = dir.File("e.ost");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  WriteFileHeader("", "", "", 128, 44100, 2, f);
  std::fclose(f);
  EXPECT_EQ(ReadAll(path).size(), 18u);
  ReadBack r = Read(path);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.title, "");
  EXPECT_EQ(r.author, "");
  EXPECT_EQ(r.comments, "");
}

TEST(FileHeader, WrongMagicOrVersionOrShortHeaderIsRejectedButReadOn) {
  TempDir dir;
  std::string path = dir.File("bad.ost");
  auto bytes = kEncoderHeader;
  bytes[4] = '2';
  WriteAll(path, bytes);
  ReadBack r = Read(path);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.rate, 64);
  EXPECT_EQ(r.position, 30);

  bytes = kEncoderHeader;
  bytes[5] = 2;
  WriteAll(path, bytes);
  EXPECT_EQ(Read(path).result, -1);

  for (size_t cut : {3u, 10u, 14u, 20u, 29u}) {
    SCOPED_TRACE(cut);
    WriteAll(path, std::vector<unsigned char>(kEncoderHeader.begin(), kEncoderHeader.begin() + cut));
    EXPECT_EQ(Read(path).result, -1);
  }
}

TEST(FileHeader, LongStringsAreCutToTheirLengthField) {
  TempDir dir;
  std::string path = dir.File("long.ost");
  std::string title(300, 't');
  std::FILE* f = std::fopen(path.c_str(), "wb");
  WriteFileHeader(title.c_str(), "a", "c", 64, 44100, 2, f);
  std::fclose(f);
  ReadBack r = Read(path);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.title.size(), 300u % 256u);
  EXPECT_EQ(r.author, "a");
}

}  // namespace
}  // namespace ostrel
