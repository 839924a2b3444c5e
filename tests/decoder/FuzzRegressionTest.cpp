// Inputs that once broke the decoder (found by the fuzz targets in fuzz/) or sit at the edges the
// fuzzers explore, run through the same path as the fuzz target: decode to a WAV file, then list.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/StreamFixture.h"
#include "common/TempDir.h"
#include "decoder/Decoder.h"

namespace ostrel {
namespace {

using test::TempDir;

// Decodes `bytes` as a compressed file and lists it; returns the decoding status.
int DecodeBytes(const std::vector<unsigned char>& bytes) {
  TempDir dir;
  test::WriteAll(dir.File("in.ost"), bytes);
  std::ostringstream log, listing;
  const int status = DecodeFile(dir.File("in.ost"), dir.File("out.wav"), DecodeOptions{}, log);
  DecodeOptions verbose;
  verbose.verbose = true;
  PrintInfo(dir.File("in.ost"), verbose, listing, log);
  return status;
}

// A header for rate code `rate` announcing `frames` frames, with empty strings (18 bytes).
std::vector<unsigned char> Header(unsigned char rate, uint32_t frames) {
  std::vector<unsigned char> h = {'Z', 'e', 'l', 'k', '1', 1, rate, 0x44, 0xAC, 2};
  for (int i = 0; i < 4; ++i) h.push_back(static_cast<unsigned char>(frames >> (8 * i)));
  h.insert(h.end(), {0, 0, 0, 0});
  return h;
}

TEST(FuzzRegression, FramesOfConstantBytesAreDamageNotACrash) {
  for (const test::RateRow& row : test::RateRows()) {
    const unsigned char rate = row.code;
    SCOPED_TRACE(static_cast<int>(rate));
    for (unsigned char fill : {0x00, 0xFF, 0x4A}) {
      std::vector<unsigned char> bytes = Header(rate, 2);
      bytes.resize(bytes.size() + 2 * 9103, fill);  // at least two frames at every rate
      EXPECT_EQ(DecodeBytes(bytes), DECODE_DAMAGED);
      // The same with a sync word in front of each frame, so the side information is read too.
      bytes = Header(rate, 1);
      bytes.insert(bytes.end(), {0x4A, 0x58});
      bytes.resize(bytes.size() + 9103, fill);
      EXPECT_EQ(DecodeBytes(bytes), DECODE_DAMAGED);
    }
  }
}

TEST(FuzzRegression, AHugeFrameCountWithoutFramesDecodesNothing) {
  EXPECT_EQ(DecodeBytes(Header(48, 0xFFFFFFFFu)), DECODE_DAMAGED);
}

}  // namespace
}  // namespace ostrel
