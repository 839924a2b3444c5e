// The geometry of a frame: block sizes, blocks per frame, frame size in bits and the model
// parameters, all fixed by the one-byte rate code through the rate tables; and the walk over a
// channel's weight sets (long blocks, or a transient pair's start block, short triple and stop
// block) that the frame transform, its inverse, the weight coding and the frame reader share.
#pragma once

#include <cstdint>

#include "platform/Fatal.h"

namespace ostrel {

// The block sizes of a frame of NBlocks long blocks of LSIZE samples.
struct BlockSizes {
  // nblocks long blocks per frame (at least 2) of long transform size lsize (512, 1024 or 2048).
  static BlockSizes For(unsigned nblocks, unsigned lsize) {
    OSTREL_DASSERT(nblocks >= 2);
    OSTREL_DASSERT(lsize % 8 == 0);
    return BlockSizes{lsize, lsize / 2, (lsize / 2 + lsize / 8) / 2, lsize / 4, lsize / 8, (lsize / 2) * nblocks};
  }

  unsigned LSIZE;   // samples: long transform size
  unsigned HLSIZE;  // lines of a long block, and new samples per long block: LSIZE / 2
  unsigned TSIZE;   // lines of a transition block: (HLSIZE + HSSIZE) / 2
  unsigned SSIZE;   // samples: short transform size, LSIZE / 4
  unsigned HSSIZE;  // lines of a short block, and new samples per short block: SSIZE / 2
  unsigned TOTAL;   // samples per channel and frame, and coefficients per channel and frame
};

// Everything the rate code fixes about a frame's layout.
struct FrameGeometry : BlockSizes {
  // The geometry of rate code `DataRate`, which must be valid (IsValidDataRate); an unknown code
  // ends the program as the rate tables do.
  static FrameGeometry ForRate(unsigned char DataRate);

  unsigned NBlocks = 0;     // long blocks per frame: 16 or 32
  unsigned TRANSIZE = 0;    // samples: transition transform size, HLSIZE + HSSIZE (the model's)
  uint32_t FrameBits = 0;   // bits in every frame of a 44100 Hz stereo stream
  float Res = 0.0f;         // band width of the psychoacoustic models, in Bark
  float dBOffset = 0.0f;    // level offset of the psychoacoustic models, in dB
};

// The three kinds of weight set, numbered as the window types that transform them.
enum class WeightSetKind { Long = 0, Start = 1, Short = 2, Stop = 3 };

// Weight sets of a channel: NBlocks, or NBlocks + 1 with a transient pair.
constexpr int WeightSetCount(bool switched, int NBlocks) { return switched ? NBlocks + 1 : NBlocks; }

// The kind of weight set k of a channel; Location (0 .. NBlocks - 2) is read only when switched.
constexpr WeightSetKind KindOfWeightSet(int k, bool switched, int Location) {
  if (!switched) return WeightSetKind::Long;
  if (k == Location) return WeightSetKind::Start;
  if (k == Location + 1) return WeightSetKind::Short;
  if (k == Location + 2) return WeightSetKind::Stop;
  return WeightSetKind::Long;
}

// One weight set of a channel's frame. A short triple is three short blocks of HSSIZE lines and
// HSSIZE new samples each, laid end to end from `line` and `sample`.
struct WeightSetSpan {
  WeightSetKind kind;
  unsigned set;     // index into the channel's weights and gains
  unsigned line;    // first coefficient of the set in the channel's frame
  unsigned lines;   // coefficients: HLSIZE, TSIZE, 3 x HSSIZE or TSIZE
  unsigned sample;  // first new sample of the set in the channel's frame
  unsigned samples; // new samples: HLSIZE, HSSIZE, 3 x HSSIZE or HLSIZE
};

// Calls visit(const WeightSetSpan&) for every weight set of a channel in order. A transient pair
// fills exactly the lines and samples of the two long blocks it replaces, so every later set
// keeps its position. Location must lie in 0 .. NBlocks - 2 when switched.
template <typename Visit>
void ForEachWeightSet(const BlockSizes& sizes, unsigned NBlocks, bool switched, int Location, Visit&& visit) {
  OSTREL_DASSERT(!switched || (Location >= 0 && Location <= static_cast<int>(NBlocks) - 2));
  const unsigned count = static_cast<unsigned>(WeightSetCount(switched, static_cast<int>(NBlocks)));
  unsigned line = 0, sample = 0;
  for (unsigned j = 0; j < count; ++j) {
    const WeightSetKind kind = KindOfWeightSet(static_cast<int>(j), switched, Location);
    WeightSetSpan span{kind, j, line, sizes.HLSIZE, sample, sizes.HLSIZE};
    switch (kind) {
      case WeightSetKind::Long: break;
      case WeightSetKind::Start: span.lines = sizes.TSIZE; span.samples = sizes.HSSIZE; break;
      case WeightSetKind::Short: span.lines = 3 * sizes.HSSIZE; span.samples = 3 * sizes.HSSIZE; break;
      case WeightSetKind::Stop: span.lines = sizes.TSIZE; break;
    }
    visit(static_cast<const WeightSetSpan&>(span));
    line += span.lines;
    sample += span.samples;
  }
}

}  // namespace ostrel
