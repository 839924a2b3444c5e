// Fuzz target: the library's decoding path on arbitrary bytes from memory: header checks, frame
// reading with short reads, concealment and synthesis through ostrel_decoder_read, the
// frame-level decoder on a whole frame the stream pass did not decode, and the same bytes less
// their first one joined without a header (the frame search) with seeks. No file is touched.
#include <cstring>
#include <vector>

#include "ostrel/ostrel.h"

namespace {

struct Input {
  const uint8_t* data;
  size_t size, at;
  bool refused;  // a seek past the end was refused
};

// Reads in pieces of varying size, so that the decoder meets short reads.
size_t Read(void* user, void* out, size_t bytes) {
  auto* in = static_cast<Input*>(user);
  size_t n = in->size - in->at;
  if (n > bytes) n = bytes;
  if (n > 1 + (in->at % 4093)) n = 1 + (in->at % 4093);
  std::memcpy(out, in->data + in->at, n);
  in->at += n;
  return n;
}

// The same with an error told from the end (never one here), and a seek that refuses an offset
// past the end (the decoder then says OSTREL_ERR_SEEK).
long Input2(void* user, void* out, size_t bytes) { return static_cast<long>(Read(user, out, bytes)); }
int Seek(void* user, uint64_t offset) {
  auto* in = static_cast<Input*>(user);
  if (offset > in->size) {
    in->refused = true;
    return 1;
  }
  in->at = static_cast<size_t>(offset);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<int16_t> pcm(2 * 16384);
  Input in{data, size, 0, false};
  int status = 0;
  ostrel_decoder* dec = ostrel_decoder_create(Read, &in, &status);
  if (dec == nullptr) return 0;
  ostrel_info info;
  if (ostrel_decoder_info(dec, &info) != OSTREL_OK) __builtin_trap();
  long got;
  uint64_t samples = 0;
  while ((got = ostrel_decoder_read(dec, pcm.data(), 3000)) > 0) samples += static_cast<uint64_t>(got);
  if (got < 0 || (info.frames != 0 && samples > info.samples)) __builtin_trap();
  const uint64_t decodedFrames = ostrel_decoder_frames_decoded(dec);
  ostrel_decoder_destroy(dec);

  // The frame-level entry point runs the stream pass's engine: on a frame the stream pass
  // decoded it would repeat the same work on the same bytes and reach nothing new. It gets the
  // first whole frame the stream pass left alone (past the header's frame count or its LENGTH),
  // where there is one, after its size check.
  const uint64_t at = info.header_bytes + decodedFrames * info.frame_bytes;
  if (at + info.frame_bytes <= size) {
    ostrel_frame_decoder* frames = ostrel_frame_decoder_create(info.kbps, &status);
    if (frames == nullptr) __builtin_trap();
    if (ostrel_frame_decoder_decode(frames, data + at, info.frame_bytes - 1, pcm.data()) != OSTREL_ERR_ARGUMENT) {
      __builtin_trap();
    }
    const int decoded = ostrel_frame_decoder_decode(frames, data + at, info.frame_bytes, pcm.data());
    if (decoded != OSTREL_OK && decoded != OSTREL_ERR_DAMAGED) __builtin_trap();
    ostrel_frame_decoder_destroy(frames);
  }

  // Joined one byte in: the search finds a frame or says there is none; a seek lands where it
  // says, and reads go on from there.
  Input rest{data + (size > 0 ? 1 : 0), size > 0 ? size - 1 : 0, 0, false};
  dec = ostrel_decoder_open(Input2, Seek, &rest, OSTREL_JOIN, &status);
  if (dec == nullptr) return 0;
  const uint64_t targets[2] = {size > 4 ? data[size - 1] * 97u + data[size - 2] : 0u, 0};
  for (uint64_t target : targets) {
    rest.refused = false;
    const int sought = ostrel_decoder_seek(dec, target);
    if (sought != OSTREL_OK && sought != OSTREL_ERR_ARGUMENT && !(sought == OSTREL_ERR_SEEK && rest.refused)) {
      __builtin_trap();
    }
    if (sought == OSTREL_OK && ostrel_decoder_tell(dec) != target) __builtin_trap();
    const long read = ostrel_decoder_read(dec, pcm.data(), 3000);
    if (read < 0 || (sought == OSTREL_ERR_SEEK && read != 0)) __builtin_trap();  // at the end until a seek succeeds
  }
  ostrel_decoder_destroy(dec);
  return 0;
}
