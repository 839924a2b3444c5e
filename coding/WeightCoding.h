// Weight coding: a channel's weight codes as one flat array of coded weights (the leading code of
// every weight set, then the band-to-band differences of every set in order), its inverse, and a
// histogram tool for the differences.
//
// Weight sets of a channel's frame: NBlocks long blocks; or, with block switching at location
// Loc (0..NBlocks - 2), NBlocks + 1 sets in which set Loc is the start block (TranBandCount bands),
// set Loc + 1 the short triple (ShortBandCount) and set Loc + 2 the stop block (TranBandCount),
// every other set a long block (LongBandCount).
//
// Arrays: Weights[ch][set][band] has NBlocks + 1 rows per channel, each with room for the largest
// of the three band counts (with 512-sample long blocks the transition block has one band more
// than the long block). CodedWeights[ch] has room for CodedWeightCount(true, ...) entries.
// SwitchUsed[ch] is non-zero for a switched channel; Locations[ch] is read only then.
#pragma once

#include "format/FrameGeometry.h"  // WeightSetCount, KindOfWeightSet

namespace ostrel {

// Bands of weight set k (0 .. WeightSetCount - 1) of a channel.
int WeightSetBands(int k, bool switched, int Location, int LongBandCount, int ShortBandCount,
                   int TranBandCount);
// Coded weights of a channel: NBlocks x LongBandCount unswitched, (NBlocks - 2) x LongBandCount
// + 2 x TranBandCount + ShortBandCount switched.
int CodedWeightCount(bool switched, int NBlocks, int LongBandCount, int ShortBandCount,
                     int TranBandCount);

// Fills CodedWeights[ch] for every channel from Weights (read only). The differences are not
// limited here; the frame writer limits what it sends. Undone by DecodeWeights.
void CodeWeights(int*** Weights, int** CodedWeights, const int* SwitchUsed, const int* Locations,
                 int NChan, int NBlocks, int LongBandCount, int ShortBandCount, int TranBandCount);

// Fills Weights from CodedWeights (read only), the exact inverse of CodeWeights. A location read
// from a damaged stream may lie outside 0..NBlocks - 2: the nearest valid location is used instead,
// so that nothing is read or written out of bounds, and the result is nonzero. Returns 0 when every
// switched channel's location was valid.
[[nodiscard]] int DecodeWeights(int*** Weights, int** CodedWeights, const int* SwitchUsed, const int* Locations,
                  int NChan, int NBlocks, int LongBandCount, int ShortBandCount, int TranBandCount);

// Statistics tool, not used by the encoder. With finished = 0 it adds the frame's differences
// (every coded weight after the leading codes) to a histogram of WEIGHT_TABLE_SIZE bins, bin =
// difference + WEIGHT_DIFF_INDEX_OFFSET limited to 0..WEIGHT_DIFF_INDEX_MAX; the histogram lives
// until the program ends. With finished != 0 it writes the bins in order as 4-byte integers in the
// host's byte order to "c:\\stats2.txt" (a file of that name in the working folder on systems
// without drive letters) and leaves the histogram unchanged. Returns 0, or -1 when the file could
// not be opened or written (nothing is written when it cannot be opened).
int WriteWeights(int** CodedWeights, const int* SwitchUsed, int NChan, int NBlocks, int LongBandCount,
                 int ShortBandCount, int TranBandCount, int finished);

}  // namespace ostrel
