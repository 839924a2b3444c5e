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
    if (n != 0) std::memcpy(data, r->bytes->data() + r->at, n);  // an empty stream's data() may be null
    r->at += n;
    return n;
  }
  // The same as an input that fails (-1) once `failAt` bytes have been read, and can seek.
  size_t failAt = SIZE_MAX;
  static long Input(void* user, void* data, size_t n) {
    auto* r = static_cast<MemoryReader*>(user);
    if (r->at >= r->failAt) return -1;
    return static_cast<long>(Read(user, data, std::min(n, r->failAt - r->at)));
  }
  static int Seek(void* user, uint64_t offset) {
    auto* r = static_cast<MemoryReader*>(user);
    if (offset > r->bytes->size()) return 1;
    r->at = static_cast<size_t>(offset);
    return 0;
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

namespace ostrel::test {

// A stream being written: a seekable byte vector.
struct MemoryWriter {
  Bytes bytes;
  size_t at = 0;
  int failAfter = -1;  // writes left before every write fails (-1: never)

  static int Write(void* user, const void* data, size_t n) {
    auto* w = static_cast<MemoryWriter*>(user);
    if (w->failAfter == 0) return 1;
    if (w->failAfter > 0) --w->failAfter;
    if (w->at + n > w->bytes.size()) w->bytes.resize(w->at + n);
    std::memcpy(w->bytes.data() + w->at, data, n);
    w->at += n;
    return 0;
  }
  static int Seek(void* user, uint64_t offset) {
    auto* w = static_cast<MemoryWriter*>(user);
    if (offset > w->bytes.size()) return 1;
    w->at = static_cast<size_t>(offset);
    return 0;
  }
};

// Encodes `samples` (interleaved) at `kbps` through the library in random chunks of up to
// `maxChunk` sample frames (seeded), as 16-bit samples or as floats v / 32768. With `seekable`
// the frame count is patched; with `quality` the encoder runs in the quality mode; `threads`
// is the encoder's thread count, set before the mode when `threadsFirst`.
inline Bytes LibraryEncode(const Stereo& samples, int kbps, unsigned seed, size_t maxChunk, bool asFloat = false,
                           bool seekable = true, bool quality = false, int threads = 1, bool threadsFirst = false) {
  MemoryWriter out;
  int status = -100;
  ostrel_encoder* enc = ostrel_encoder_create(kbps, &MemoryWriter::Write, seekable ? &MemoryWriter::Seek : nullptr,
                                              &out, &status);
  EXPECT_EQ(status, OSTREL_OK);
  if (enc == nullptr) return out.bytes;
  if (threadsFirst) {
    EXPECT_EQ(ostrel_encoder_set_threads(enc, threads), OSTREL_OK);
  }
  if (quality) {
    EXPECT_EQ(ostrel_encoder_set_quality(enc, 1), OSTREL_OK);
  }
  if (!threadsFirst) {
    EXPECT_EQ(ostrel_encoder_set_threads(enc, threads), OSTREL_OK);
  }
  std::mt19937 random(seed);
  std::vector<float> scaled(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) scaled[i] = static_cast<float>(samples[i]) / 32768.0f;
  const size_t frames = samples.size() / 2;
  for (size_t done = 0; done < frames;) {
    const size_t n = std::min(frames - done, static_cast<size_t>(random() % (maxChunk + 1)));
    const int written = asFloat ? ostrel_encoder_write_float(enc, scaled.data() + 2 * done, n)
                                : ostrel_encoder_write(enc, samples.data() + 2 * done, n);
    EXPECT_EQ(written, OSTREL_OK);
    done += n;
  }
  EXPECT_EQ(ostrel_encoder_finish(enc), OSTREL_OK);
  EXPECT_EQ(ostrel_encoder_clipped(enc), 0u);
  ostrel_encoder_destroy(enc);
  return out.bytes;
}

}  // namespace ostrel::test
