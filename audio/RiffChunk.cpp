#include "audio/RiffChunk.h"

#include "platform/ByteOrder.h"

namespace ostrel {

bool ReadRiffChunk(std::FILE* f, RiffChunk* chunk, bool bigEndian) {
  unsigned char header[RIFF_CHUNK_HEADER_BYTES];
  if (std::fread(header, 1, sizeof header, f) != sizeof header) return false;
  std::memcpy(chunk->tag, header, 4);
  chunk->size = bigEndian ? Get32BE(header + 4) : Get32(header + 4);
  return true;
}

}  // namespace ostrel
