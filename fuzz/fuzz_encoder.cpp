// Fuzz target: the library's encoder on arbitrary samples in arbitrary chunk sizes, as 16-bit or
// float samples (NaN and out-of-range values included). It must not crash, must finish without
// an error, and its stream must decode to at least as many samples as went in with no damaged
// frame. The first bytes choose the rate, the sample type, a seek callback, the coding mode and
// the chunking; the rest are the samples.
#include <cstring>
#include <vector>

#include "ostrel/ostrel.h"

namespace {

struct Output {
  std::vector<unsigned char> bytes;
  size_t at = 0, read = 0;
};

int Write(void* user, const void* data, size_t n) {
  auto* out = static_cast<Output*>(user);
  if (out->at + n > out->bytes.size()) out->bytes.resize(out->at + n);
  std::memcpy(out->bytes.data() + out->at, data, n);
  out->at += n;
  return 0;
}

int Seek(void* user, uint64_t offset) {
  auto* out = static_cast<Output*>(user);
  if (offset > out->bytes.size()) return 1;
  out->at = static_cast<size_t>(offset);
  return 0;
}

size_t Read(void* user, void* data, size_t n) {
  auto* out = static_cast<Output*>(user);
  const size_t left = out->bytes.size() - out->read;
  if (n > left) n = left;
  std::memcpy(data, out->bytes.data() + out->read, n);
  out->read += n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  int count = 0;
  const int* rates = ostrel_bitrates(&count);
  const int kbps = rates[data[0] % count];
  const bool asFloat = (data[1] & 1) != 0;
  const bool seekable = (data[1] & 2) != 0;
  const bool quality = (data[1] & 4) != 0;
  const size_t chunkSeed = data[2];
  data += 3;
  size -= 3;

  Output out;
  int status = 0;
  ostrel_encoder* enc = ostrel_encoder_create(kbps, Write, seekable ? Seek : nullptr, &out, &status);
  if (enc == nullptr) __builtin_trap();
  if (quality && ostrel_encoder_set_quality(enc, 1) != OSTREL_OK) __builtin_trap();
  const size_t sampleBytes = asFloat ? 2 * sizeof(float) : 2 * sizeof(int16_t);
  const size_t frames = size / sampleBytes;
  std::vector<int16_t> shorts(2 * frames);
  std::vector<float> floats(2 * frames);
  if (frames == 0) {
    // No samples: only finish, below.
  } else if (asFloat) {
    std::memcpy(floats.data(), data, frames * sampleBytes);
  } else {
    std::memcpy(shorts.data(), data, frames * sampleBytes);
  }
  size_t done = 0, step = 0;
  while (done < frames) {
    size_t n = (chunkSeed * 131 + step * 977) % 5000;
    if (n > frames - done) n = frames - done;
    const int written = asFloat ? ostrel_encoder_write_float(enc, floats.data() + 2 * done, n)
                                : ostrel_encoder_write(enc, shorts.data() + 2 * done, n);
    if (written != OSTREL_OK) __builtin_trap();
    done += n;
    ++step;
  }
  if (ostrel_encoder_finish(enc) != OSTREL_OK) __builtin_trap();
  const uint32_t written = ostrel_encoder_frames(enc);
  ostrel_encoder_destroy(enc);

  ostrel_decoder* dec = ostrel_decoder_create(Read, &out, &status);
  if (dec == nullptr) __builtin_trap();
  static std::vector<int16_t> pcm(2 * 4096);
  long got;
  uint64_t samples = 0;
  while ((got = ostrel_decoder_read(dec, pcm.data(), 4096)) > 0) samples += static_cast<uint64_t>(got);
  // Every frame written is decoded, except where the stream's patched length says it holds no
  // samples at all: then the decoder rightly reads none of its frames.
  const uint32_t expected = (frames == 0 && samples == 0) ? 0 : written;
  if (got < 0 || samples < frames || ostrel_decoder_damaged_frames(dec) != 0 ||
      ostrel_decoder_frames_decoded(dec) != expected) {
    __builtin_trap();
  }
  ostrel_decoder_destroy(dec);
  return 0;
}
