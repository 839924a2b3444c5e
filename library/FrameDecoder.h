// The decoder's engine: one stream's frames in memory in, synthesised PCM out. Every decoder of
// the code base (the library's, ostreldec's, the player's) decodes through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "coding/FrameReader.h"
#include "format/FrameGeometry.h"

namespace ostrel {

class FrameDecoder {
 public:
  // The frames of a stream at rate code `DataRate` (IsValidDataRate must hold), 44100 Hz stereo.
  // Allocates everything it needs here (std::bad_alloc when it cannot); nothing afterwards.
  explicit FrameDecoder(unsigned char DataRate);
  ~FrameDecoder();
  FrameDecoder(const FrameDecoder&) = delete;
  FrameDecoder& operator=(const FrameDecoder&) = delete;

  // Reads the frame in the `bytes` bytes at `frame` (borrowed; bytes past FrameBytes() are
  // ignored, fewer read as zeros) and synthesises it. A damaged frame is synthesised as silence
  // that keeps the overlap going. Returns whether the frame was intact; Report() says more.
  bool Decode(const unsigned char* frame, std::size_t bytes);

  // Reads the frame only, for listings: Report() is filled, nothing is synthesised.
  bool Read(const unsigned char* frame, std::size_t bytes);

  // Forgets the overlap: the next frame decoded counts as the first of a stream. Allocates
  // nothing, so it cannot fail.
  void Reset() noexcept;

  // The last Decode's Total() samples of `channel` (0 or 1) on the 16-bit scale, not rounded.
  // The caller may overwrite them (a sum/difference writer does); the next Decode refills them.
  float* Output(unsigned channel);
  // Leading samples of the last Decode's output that come before the stream's first sample (the
  // synthesis delay, Delay() for the first frame after construction or Reset, else 0).
  unsigned Skip() const { return skip; }

  const FrameReport& Report() const;
  unsigned Total() const { return total; }   // samples per channel and frame
  unsigned Delay() const { return delay; }   // samples per channel the synthesis lags the source
  // The same for any decoder of `geometry`, without making one: half a long block.
  static unsigned DelayOf(const FrameGeometry& geometry) { return geometry.HLSIZE; }
  uint32_t FrameBits() const { return frameBits; }
  std::size_t FrameBytes() const { return frameBits / 8; }

 private:
  struct Parts;
  std::unique_ptr<Parts> parts;
  unsigned total = 0;
  unsigned delay = 0;
  unsigned skip = 0;
  unsigned pendingSkip = 0;
  uint32_t frameBits = 0;
};

}  // namespace ostrel
