#include "coding/ArithDecoder.h"

#include <algorithm>

namespace ostrel {

ArithDecoder::ArithDecoder(unsigned char count, const unsigned char* Relative, Bitstream* input,
                           uint32_t Max)
    : Input(input) {
  ReNewStats(count, Relative, Max);
}

ArithDecoder::ArithDecoder(Bitstream* input) : Input(input) {}

void ArithDecoder::ReNewStats(unsigned char count, const unsigned char* Relative, uint32_t Max) {
  U = UpperBound;
  L = 0;
  Count = count;
  Total = BuildCumCount(Cum_Count, count, Relative);
  MaxLength = Max;
  error = false;
  const uint32_t first = std::min(Resolution, MaxLength);
  Tag = first > 0 ? Input->getbits(static_cast<int>(first)) << (Resolution - first) : 0;
  BitsRead = first;
}

uint32_t ArithDecoder::NextBit() {
  if (BitsRead >= MaxLength) return 0;
  ++BitsRead;
  return Input->getbits(1);
}

uint32_t ArithDecoder::Decode() {
  if (Total == 0) {
    error = true;
    return Count;
  }
  const uint32_t range = U - L + 1;
  // Tag always lies in [L, U], so the scaled value is below Total and names a symbol of
  // non-zero frequency.
  const uint32_t value = ((Tag - L + 1) * Total - 1) / range;
  const uint32_t* first = Cum_Count.data() + 1;
  const uint32_t* found = std::upper_bound(first, first + Count, value);
  const uint32_t Symbol = static_cast<uint32_t>(found - first);

  U = L + (range * Cum_Count[Symbol + 1]) / Total - 1;
  L = L + (range * Cum_Count[Symbol]) / Total;
  // Tag follows every doubling of the interval and takes in the next bit.
  Renormalise(
      U, L, [this](uint32_t) { Tag = ((Tag << 1) & UpperBound) | NextBit(); },
      [this] { Tag = (((Tag ^ E3Mask) << 1) & UpperBound) | NextBit(); });
  return Symbol;
}

uint32_t ArithDecoder::CloseDecoder() { return BitsRead; }

}  // namespace ostrel
