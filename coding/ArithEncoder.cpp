#include "coding/ArithEncoder.h"

namespace ostrel {

ArithEncoder::ArithEncoder(unsigned char Count, const unsigned char* Relative, Bitstream* output)
    : Output(output) {
  ReNewStats(Count, Relative);
}

ArithEncoder::ArithEncoder(Bitstream* output) : Output(output) {}

void ArithEncoder::ReNewStats(unsigned char Count, const unsigned char* Relative) {
  U = UpperBound;
  L = 0;
  E3Count = 0;
  Total = BuildCumCount(Cum_Count, Count, Relative);
  this->Count = Count;
  BitsWritten = 0;
  error = false;
}

void ArithEncoder::EmitRepeated(uint32_t bit, uint32_t n) {
  const uint32_t word = bit != 0 ? 0xFFFFFFFFu : 0u;
  BitsWritten += n;
  while (n >= 32) {
    Output->putbits(word, 32);
    n -= 32;
  }
  if (n > 0) Output->putbits(word >> (32 - n), static_cast<int>(n));
}

void ArithEncoder::Code(unsigned char Symbol) {
  if (Symbol >= Count || Total == 0) {
    error = true;
    return;
  }
  const uint32_t range = U - L + 1;
  const uint32_t newU = L + (range * Cum_Count[Symbol + 1]) / Total - 1;
  const uint32_t newL = L + (range * Cum_Count[Symbol]) / Total;
  // An empty interval would leave U below L and wreck every later symbol of the block.
  if (newU + 1 <= newL) {
    error = true;
    return;
  }
  U = newU;
  L = newL;
  // A halving bit releases the pending straddles as its inverse.
  Renormalise(
      U, L,
      [this](uint32_t b) {
        EmitRepeated(b, 1);
        EmitRepeated(1 - b, E3Count);
        E3Count = 0;
      },
      [this] { ++E3Count; });
}

uint32_t ArithEncoder::CloseEncoder() {
  const uint32_t b = (L & E3Mask) != 0 ? 1 : 0;
  EmitRepeated(b, 1);
  ShiftBounds(U, L);
  while (StraddlesMiddle(U, L)) {
    ++E3Count;
    ShiftAboutMiddle(U, L);
  }
  EmitRepeated(1 - b, E3Count + 1);
  if (BitsWritten < Resolution) EmitRepeated(0, Resolution - BitsWritten);
  return BitsWritten;
}

}  // namespace ostrel
