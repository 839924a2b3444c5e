// Whole-stream goldens: the encoder is deterministic to the bit, so a change in any arithmetic on
// its path (transforms, model, search, coding) shows up here as a changed checksum. The material
// has tones, noise and clicks, so long, transition and short blocks of every size are exercised.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/Process.h"
#include "common/TempDir.h"
#include "common/WavFixture.h"
#include "encoder/EncoderFixture.h"

namespace ostrel {
namespace {

// 64-bit FNV-1a over the whole file.
uint64_t Checksum(const std::vector<unsigned char>& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char b : bytes) {
    h ^= b;
    h *= 1099511628211ull;
  }
  return h;
}

struct Golden {
  int row;            // menu row of the dialogue
  size_t bytes;       // file size
  uint64_t checksum;  // FNV-1a of the file
};

TEST(EncoderGolden, EveryRateProducesTheRecordedStream) {
  // Measured with this encoder; any change here must be a deliberate change of the coded format
  // or of its arithmetic.
  const Golden goldens[] = {
      {1, 154782, 0xc295d35e95004b14ull}, {2, 101098, 0x617552123d376a40ull},
      {3, 75834, 0xec8e17756a1e479aull},  {4, 66910, 0x47e10763b097ba19ull},
      {5, 53538, 0xa775ed5de9d36a49ull},  {6, 46850, 0x4b8b323d2cdc0246ull},
      {7, 40162, 0x72cd080d9f146440ull},
  };
  test::TempDir dir;
  const std::string source = dir.File("in.wav");
  test::WriteWav(source, test::Material(3 * 44100 + 1234, 20000, 7));
  for (const Golden& g : goldens) {
    SCOPED_TRACE(g.row);
    const std::string target = dir.File("out" + std::to_string(g.row) + ".ost");
    const std::string input = source + "\n" + target + "\n" + std::to_string(g.row) + "\n";
    test::RunResult run = test::Run({test::Program("ostrelenc")}, input);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<unsigned char> file = test::ReadAll(target);
    char actual[64];
    std::snprintf(actual, sizeof actual, "{%d, %zu, 0x%016llxull}", g.row, file.size(),
                  static_cast<unsigned long long>(Checksum(file)));
    EXPECT_EQ(file.size(), g.bytes) << "actual: " << actual;
    EXPECT_EQ(Checksum(file), g.checksum) << "actual: " << actual;
  }
}

}  // namespace
}  // namespace ostrel
