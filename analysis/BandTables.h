// The band tables of a frame's three block kinds (long, transition and short), the transform
// sizes of the models they belong to, and one shared set per long block size for the decoders,
// which need the tables but not the models.
#pragma once

#include <memory>

#include "format/FrameGeometry.h"

namespace ostrel {

// Transform sizes, in samples, of the models of the three block kinds.
struct ModelSizes {
  static ModelSizes For(const BlockSizes& sizes) {
    return ModelSizes{sizes.LSIZE, sizes.HLSIZE + sizes.HSSIZE, sizes.SSIZE};
  }
  unsigned Long;   // the long transform, LSIZE
  unsigned Tran;   // a transition block, HLSIZE + HSSIZE
  unsigned Short;  // the short transform, SSIZE
};

struct BandTables {
  // The tables the models for `sizes` at 44100 Hz use (PsychBandTable), without the models.
  explicit BandTables(const BlockSizes& sizes);

  // The tables for long blocks of sizes.LSIZE samples, built on the first call for that size and
  // kept, unchanged, for the life of the process; safe to call from any thread. nullptr for a
  // long block size no rate uses (only 512, 1024 and 2048 are kept).
  static const BandTables* Shared(const BlockSizes& sizes);

  std::unique_ptr<int[]> Long, Tran, Short;  // lines per band
  int LongCount = 0, TranCount = 0, ShortCount = 0;
};

}  // namespace ostrel
