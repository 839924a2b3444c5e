#include "coding/WeightCoding.h"

#include <cstdint>
#include <cstdio>
#include <mutex>

#include "coding/FrameLayout.h"
#include "platform/Fatal.h"

namespace ostrel {

namespace {

// The switch location limited to 0..NBlocks - 2, the range in which start block, short triple and
// stop block all lie within the channel's NBlocks + 1 weight sets.
int ValidLocation(int Location, int NBlocks) {
  if (Location < 0) return 0;
  if (Location > NBlocks - 2) return NBlocks - 2;
  return Location;
}

}  // namespace

int WeightSetBands(int k, bool switched, int Location, int LongBandCount, int ShortBandCount,
                   int TranBandCount) {
  switch (KindOfWeightSet(k, switched, Location)) {
    case WeightSetKind::Start:
    case WeightSetKind::Stop: return TranBandCount;
    case WeightSetKind::Short: return ShortBandCount;
    case WeightSetKind::Long: break;
  }
  return LongBandCount;
}

int CodedWeightCount(bool switched, int NBlocks, int LongBandCount, int ShortBandCount,
                     int TranBandCount) {
  return switched ? (NBlocks - 2) * LongBandCount + 2 * TranBandCount + ShortBandCount
                  : NBlocks * LongBandCount;
}

void CodeWeights(int*** Weights, int** CodedWeights, const int* SwitchUsed, const int* Locations,
                 int NChan, int NBlocks, int LongBandCount, int ShortBandCount, int TranBandCount) {
  for (int ch = 0; ch < NChan; ++ch) {
    const bool switched = SwitchUsed[ch] != 0;
    OSTREL_DASSERT(!switched || (Locations[ch] >= 0 && Locations[ch] <= NBlocks - 2));
    const int Location = switched ? ValidLocation(Locations[ch], NBlocks) : 0;
    const int B = WeightSetCount(switched, NBlocks);
    int* coded = CodedWeights[ch];
    int pntr2 = B;
    for (int k = 0; k < B; ++k) {
      const int* set = Weights[ch][k];
      coded[k] = set[0];
      const int n = WeightSetBands(k, switched, Location, LongBandCount, ShortBandCount, TranBandCount);
      for (int d = 1; d < n; ++d) coded[pntr2++] = set[d] - set[d - 1];
    }
  }
}

int DecodeWeights(int*** Weights, int** CodedWeights, const int* SwitchUsed, const int* Locations,
                  int NChan, int NBlocks, int LongBandCount, int ShortBandCount, int TranBandCount) {
  int result = 0;
  for (int ch = 0; ch < NChan; ++ch) {
    const bool switched = SwitchUsed[ch] != 0;
    int Location = 0;
    if (switched) {
      Location = ValidLocation(Locations[ch], NBlocks);
      if (Location != Locations[ch]) result = -1;
    }
    const int B = WeightSetCount(switched, NBlocks);
    const int* coded = CodedWeights[ch];
    int pntr2 = B;
    for (int k = 0; k < B; ++k) {
      int* set = Weights[ch][k];
      set[0] = coded[k];
      const int n = WeightSetBands(k, switched, Location, LongBandCount, ShortBandCount, TranBandCount);
      for (int d = 1; d < n; ++d) set[d] = coded[pntr2++] + set[d - 1];
    }
  }
  return result;
}

int WriteWeights(int** CodedWeights, const int* SwitchUsed, int NChan, int NBlocks, int LongBandCount,
                 int ShortBandCount, int TranBandCount, int finished) {
  // One histogram for the process, as the tool's output is one file; the lock keeps two threads'
  // frames from corrupting it.
  static int32_t Stats[WEIGHT_TABLE_SIZE] = {};
  static std::mutex StatsLock;
  const std::lock_guard<std::mutex> hold(StatsLock);

  if (finished == 0) {
    for (int ch = 0; ch < NChan; ++ch) {
      const bool switched = SwitchUsed[ch] != 0;
      const int start = WeightSetCount(switched, NBlocks);
      const int last = CodedWeightCount(switched, NBlocks, LongBandCount, ShortBandCount, TranBandCount);
      for (int j = start; j < last; ++j) {
        int bin = CodedWeights[ch][j] + WEIGHT_DIFF_INDEX_OFFSET;
        if (bin < 0) bin = 0;
        if (bin > WEIGHT_DIFF_INDEX_MAX) bin = WEIGHT_DIFF_INDEX_MAX;
        ++Stats[bin];
      }
    }
    return 0;
  }

  std::FILE* file = std::fopen("c:\\stats2.txt", "wb");
  if (file == nullptr) return -1;
  const bool written = std::fwrite(Stats, sizeof(Stats[0]), WEIGHT_TABLE_SIZE, file) == WEIGHT_TABLE_SIZE;
  const bool closed = std::fclose(file) == 0;
  return written && closed ? 0 : -1;
}

}  // namespace ostrel
