// Whole-stream goldens: the encoder is deterministic to the bit, so a change in any arithmetic on
// its path (transforms, model, search, coding) shows up here as a changed checksum. The material
// has tones, noise and clicks, so long, transition and short blocks of every size are exercised.
// Beside each whole-stream checksum a short checksum of the header and of every frame says, when
// a stream changes, which frame changed first, and that frame's fields are listed as now written.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/Process.h"
#include "common/TempDir.h"
#include "common/WavFixture.h"
#include "decoder/Decoder.h"
#include "encoder/EncoderFixture.h"
#include "format/FileHeader.h"
#include "format/RateTables.h"
#include "platform/CpuFeatures.h"
#include "common/PosixOnWindows.h"

namespace ostrel {
namespace {

// 64-bit FNV-1a over bytes [begin, end).
uint64_t Checksum(const unsigned char* begin, const unsigned char* end) {
  uint64_t h = 1469598103934665603ull;
  for (const unsigned char* b = begin; b != end; ++b) {
    h ^= *b;
    h *= 1099511628211ull;
  }
  return h;
}

uint64_t Checksum(const std::vector<unsigned char>& bytes) {
  return Checksum(bytes.data(), bytes.data() + bytes.size());
}

// The header's and each whole frame's checksum, folded to 16 bits, as "hhhh ffff ffff ...". A
// file whose header cannot be read yields "unreadable".
std::string PartChecksums(const std::string& path, const std::vector<unsigned char>& file) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
  std::vector<char> title(FILE_TITLE_MAX + 1), author(FILE_TITLE_MAX + 1), comments(FILE_COMMENTS_MAX + 1);
  unsigned char rate = 0, channels = 0;
  unsigned short sampleRate = 0;
  unsigned frames = 0;
  if (!f || ReadFileHeader(title.data(), author.data(), comments.data(), &rate, &sampleRate, &channels, &frames,
                           f.get()) != 0 ||
      !IsValidDataRate(rate))
    return "unreadable";
  const size_t headerBytes = static_cast<size_t>(std::ftell(f.get()));
  const size_t frameBytes = GetBytesPerFrame(GetAvailableBits(rate, sampleRate, channels));
  std::string parts;
  for (size_t begin = 0, end = headerBytes; end <= file.size(); begin = end, end += frameBytes) {
    const uint64_t h = Checksum(file.data() + begin, file.data() + end);
    char part[8];
    std::snprintf(part, sizeof part, "%s%04x", parts.empty() ? "" : " ",
                  static_cast<unsigned>((h ^ (h >> 16) ^ (h >> 32) ^ (h >> 48)) & 0xFFFF));
    parts += part;
  }
  return parts;
}

// Where the stream at `path`, with part checksums `actual`, first departs from `expected`: the
// header, or the first changed frame with its fields as written now.
std::string FirstDifference(const std::string& path, const std::string& actual, const std::string& expected) {
  std::istringstream now(actual), before(expected);
  std::string a, b;
  for (uint32_t part = 0; now >> a; ++part) {
    if (!(before >> b)) return "the stream has more frames than recorded";
    if (a == b) continue;
    if (part == 0) return "the header differs";
    std::ostringstream line, ignored;
    DecodeOptions options;
    options.onFrame = [&](uint32_t frame, const ostrel_frame_report& report) {
      if (frame + 1 < part) return true;
      PrintFrameLine(line, frame, report);
      return false;
    };
    PrintInfo(path, options, ignored, ignored);
    return "first changed " + line.str();
  }
  return before >> b ? "the stream has fewer frames than recorded" : "no part checksum differs";
}

struct Golden {
  int row;            // menu row of the dialogue
  size_t bytes;       // file size
  uint64_t checksum;  // FNV-1a of the file
  const char* parts;  // PartChecksums of the file: header, then frame by frame
};

TEST(EncoderGolden, EveryRateProducesTheRecordedStream) {
  // Measured with this encoder; any change here must be a deliberate change of the coded format
  // or of its arithmetic.
  const Golden goldens[] = {
      {1, 154782, 0xc295d35e95004b14ull,
       "9482 081d 17a1 1f50 2df0 d0ea 095f 5baa 356a de5b 8d2f d7a4 91e1 17ea 2338 6b99 56d3 35be"},
      {2, 101098, 0x617552123d376a40ull,
       "e5fc 7697 010a 359a ea32 de6e 5ecc 85c4 ddae 0274 1e2b f75e bcfc 0bf6 ddcd 7318 b0fd fcb4"},
      {3, 75834, 0xec8e17756a1e479aull,
       "0c4e 3336 ee71 025d b4ae 0e90 5021 7244 71e1 1d9a e06d 0b03 880e e4b1 3eb1 0bb3 8bed 6e63"},
      {4, 66910, 0x47e10763b097ba19ull,
       "0db8 e0f5 8f93 4d2a 826a ead4 125f 0dba 75dd 81e5"},
      {5, 53538, 0xa775ed5de9d36a49ull,
       "0a84 108b 6307 e9c1 bcc9 d706 7169 3e08 bbd9 ddd4"},
      {6, 46850, 0x4b8b323d2cdc0246ull,
       "6d96 d522 5a57 65db df3f 7ab1 c260 3164 c40d a654"},
      {7, 40162, 0x72cd080d9f146440ull,
       "dad6 c938 0687 bb84 e662 2733 562c 8878 ed12 4196"},
  };
  test::TempDir dir;
  const std::string source = dir.File("in.wav");
  test::WriteWav(source, test::Material(3 * 44100 + 1234, 20000, 7));
  // The same streams on every instruction-set path this processor runs (the encoder takes the
  // narrowest of OSTREL_SIMD and the processor's widest), with one, two and three threads.
  for (SimdPath path : {SimdPath::Scalar, SimdPath::Sse2, SimdPath::Avx2}) {
    if (!CanRun(path)) continue;
    setenv("OSTREL_SIMD", SimdPathName(path), 1);
    for (const char* threads : {"1", "2", "3"}) {
      for (const Golden& g : goldens) {
        SCOPED_TRACE(std::string(SimdPathName(path)) + ", " + threads + " thread(s), row " + std::to_string(g.row));
        const std::string target = dir.File("out" + std::to_string(g.row) + ".ost");
        const std::string input = source + "\n" + target + "\n" + std::to_string(g.row) + "\n";
        test::RunResult run = test::Run({test::Program("ostrelenc"), "--threads", threads}, input);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<unsigned char> file = test::ReadAll(target);
        char actual[64];
        std::snprintf(actual, sizeof actual, "{%d, %zu, 0x%016llxull}", g.row, file.size(),
                      static_cast<unsigned long long>(Checksum(file)));
        const std::string parts = PartChecksums(target, file);
        EXPECT_EQ(file.size(), g.bytes) << "actual: " << actual;
        EXPECT_EQ(Checksum(file), g.checksum) << "actual: " << actual << "\n"
                                              << FirstDifference(target, parts, g.parts);
        EXPECT_EQ(parts, g.parts) << "the part checksums must describe the recorded stream";
      }
    }
  }
  unsetenv("OSTREL_SIMD");
}

}  // namespace
}  // namespace ostrel
