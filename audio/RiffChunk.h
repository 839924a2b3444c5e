// The chunk walk of RIFF/WAVE (and RF64) files, and of AIFF files, whose sizes are big-endian:
// every chunk is a four-byte tag, a 32-bit size and a body padded to an even size. The WAV reader
// and the source probe walk chunks with it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace ostrel {

constexpr uint32_t RIFF_CHUNK_HEADER_BYTES = 8;  // tag and size

struct RiffChunk {
  unsigned char tag[4] = {0, 0, 0, 0};
  uint32_t size = 0;  // the body's bytes, without the pad byte

  bool Is(const char* name) const { return std::memcmp(tag, name, 4) == 0; }
  // The body's bytes with the pad byte that follows an odd body.
  uint64_t Padded() const { return uint64_t{size} + (size & 1u); }
};

// Reads the chunk header at the position of `f` (AIFF's with `bigEndian`). False when the file
// ends first.
bool ReadRiffChunk(std::FILE* f, RiffChunk* chunk, bool bigEndian = false);

}  // namespace ostrel
