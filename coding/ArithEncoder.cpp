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
  ByTotal = ExactDivider(Total == 0 ? 1 : Total);
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
  const uint32_t newU = L + ByTotal.Divide(range * Cum_Count[Symbol + 1]) - 1;
  const uint32_t newL = L + ByTotal.Divide(range * Cum_Count[Symbol]);
  // An empty interval would leave U below L and wreck every later symbol of the block.
  if (newU + 1 <= newL) {
    error = true;
    return;
  }
  U = newU;
  L = newL;
  // Renormalise's steps taken together. The halvings first: one per leading bit that U and L
  // share (all 16 when they are equal), each the bit itself; the first releases the pending
  // straddles as its inverse.
  const uint32_t differ = (U ^ L) & UpperBound;
  const int halvings = differ == 0 ? 16 : __builtin_clz(differ) - 16;
  if (halvings > 0) {
    const uint32_t b = U >> DownShift;
    EmitRepeated(b, 1);
    if (E3Count > 0) EmitRepeated(1 - b, E3Count);
    E3Count = 0;
    if (halvings > 1) {
      BitsWritten += static_cast<uint32_t>(halvings - 1);
      Output->putbits((U >> (Resolution - halvings)) & ((1u << (halvings - 1)) - 1), halvings - 1);
    }
    const uint32_t ones = (1u << halvings) - 1;
    U = ((U << halvings) & UpperBound) | ones;
    L = (L << halvings) & UpperBound;
  }
  // Then the straddles: U is 10... and L 01... (their top bits now differ, U above L), and each
  // doubling about the middle keeps that; they go on while U's next bit is 0 and L's is 1, and
  // the ones shifted into U end them after at most 15.
  const uint32_t stops = (U | ~L) & (E3Mask | (E3Mask - 1));
  const int straddles = stops == 0 ? 15 : __builtin_clz(stops) - 17;
  if (straddles > 0) {
    E3Count += static_cast<uint32_t>(straddles);
    U = E12Mask | ((U << straddles) & (E12Mask - 1)) | ((1u << straddles) - 1);
    L = (L << straddles) & (E12Mask - 1);
  }
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
