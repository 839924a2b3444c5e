// Streams in memory for the library's tests: callbacks over byte vectors, and streams made by the
// real encoder program.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "decoder/RoundTrip.h"
#include "encoder/EncoderFixture.h"
#include "ostrel/ostrel.h"

namespace ostrel::test {

using Bytes = std::vector<unsigned char>;

// A stream being read: the bytes, the position, and a random limit on every read's size
// (0 = no limit) so that callers meet short reads.
struct MemoryReader {
  const Bytes* bytes = nullptr;
  size_t at = 0;
  std::mt19937 random{1};
  size_t maxChunk = 0;

  static size_t Read(void* user, void* data, size_t n) {
    auto* r = static_cast<MemoryReader*>(user);
    size_t left = r->bytes->size() - r->at;
    if (r->maxChunk != 0) n = std::min(n, 1 + r->random() % r->maxChunk);
    n = std::min(n, left);
    std::memcpy(data, r->bytes->data() + r->at, n);
    r->at += n;
    return n;
  }
};

// Decodes `stream` through the library, reading and asking for random amounts. Fills `damaged`
// with the damaged-frame count; fails the test on an error status.
inline Stereo LibraryDecode(const Bytes& stream, unsigned seed, int* damaged = nullptr) {
  MemoryReader reader;
  reader.bytes = &stream;
  reader.random.seed(seed);
  reader.maxChunk = 3000;
  int status = -100;
  ostrel_decoder* dec = ostrel_decoder_create(&MemoryReader::Read, &reader, &status);
  EXPECT_EQ(status, OSTREL_OK) << ostrel_strerror(status);
  Stereo out;
  if (dec == nullptr) return out;
  std::mt19937 sizes(seed + 7);
  std::vector<int16_t> chunk(2 * 5000);
  for (;;) {
    const size_t want = 1 + sizes() % 5000;
    const long got = ostrel_decoder_read(dec, chunk.data(), want);
    EXPECT_GE(got, 0) << ostrel_strerror(static_cast<int>(got));
    if (got <= 0) break;
    out.insert(out.end(), chunk.begin(), chunk.begin() + 2 * got);
  }
  if (damaged != nullptr) *damaged = ostrel_decoder_damaged_frames(dec);
  ostrel_decoder_destroy(dec);
  return out;
}

}  // namespace ostrel::test
