#include "coding/ArithDecoder.h"

#include <algorithm>
#include <cstring>

#include "platform/AlwaysInline.h"

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
  ByTotal = ExactDivider(Total == 0 ? 1 : Total);
  if (Total <= ARITH_MAX_TOTAL) {
    for (uint32_t s = 0; s < Count; ++s) {
      std::memset(SymbolOf.data() + Cum_Count[s], static_cast<int>(s), Cum_Count[s + 1] - Cum_Count[s]);
    }
  }
  MaxLength = Max;
  Pending = 0;
  CodedBits = 0;
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

// The decoder's registers while a run of symbols is decoded, held in locals so that they stay
// in machine registers across the run.
struct ArithDecoder::Registers {
  uint32_t U, L, Tag, Pending, CodedBits, BitsRead;
};

OSTREL_ALWAYS_INLINE ArithDecoder::Registers ArithDecoder::Load() const { return {U, L, Tag, Pending, CodedBits, BitsRead}; }

OSTREL_ALWAYS_INLINE void ArithDecoder::Store(const Registers& r) {
  U = r.U;
  L = r.L;
  Tag = r.Tag;
  Pending = r.Pending;
  CodedBits = r.CodedBits;
  BitsRead = r.BitsRead;
}

// One symbol with a total of 1 .. ARITH_MAX_TOTAL; returns Count, leaving `r` as it was, should
// the scaled value not name a symbol.
OSTREL_ALWAYS_INLINE uint32_t ArithDecoder::DecodeSmallTotal(Registers& r) const {
  const uint32_t range = r.U - r.L + 1;
  // Tag always lies in [L, U], so the scaled value is below Total and names a symbol of
  // non-zero frequency. With Total <= ARITH_MAX_TOTAL below the range, that symbol's interval is
  // not empty, and the products stay below 2^30 as ExactDivider needs. The test only keeps the
  // table look-up inside its array should that ever fail.
  const uint32_t value = ((r.Tag - r.L + 1) * Total - 1) / range;
  if (value >= Total) return Count;
  const uint32_t Symbol = SymbolOf[value];

  uint32_t u = r.L + ByTotal.Divide(range * Cum_Count[Symbol + 1]) - 1;
  uint32_t l = r.L + ByTotal.Divide(range * Cum_Count[Symbol]);
  // Renormalise's steps taken together, as ArithEncoder::Code takes them: first one halving per
  // leading bit that U and L share, then the straddles while U's next bit is 0 and L's is 1 (the
  // ones the halvings shift into U end them, so both together are at most 16 steps). Tag shifts
  // with them and takes in one new bit per step; during the straddles it lies between L = 01...
  // and U = 10..., so its second bit is the inverse of its first, and each doubling about the
  // middle keeps the first bit and shifts the rest.
  const uint32_t differ = (u ^ l) & UpperBound;
  const uint32_t halvings = differ == 0 ? 16 : static_cast<uint32_t>(__builtin_clz(differ) - 16);
  if (halvings > 0) {
    r.CodedBits += halvings + r.Pending;
    r.Pending = 0;
    u = ((u << halvings) & UpperBound) | ((1u << halvings) - 1);
    l = (l << halvings) & UpperBound;
  }
  const uint32_t stops = (u | ~l) & (E3Mask | (E3Mask - 1));
  const uint32_t straddles = stops == 0 ? 15 : static_cast<uint32_t>(__builtin_clz(stops) - 17);
  if (straddles > 0) {
    r.Pending += straddles;
    u = E12Mask | ((u << straddles) & (E12Mask - 1)) | ((1u << straddles) - 1);
    l = (l << straddles) & (E12Mask - 1);
  }
  r.U = u;
  r.L = l;
  const uint32_t steps = halvings + straddles;
  if (steps > 0) {
    // The next `steps` bits as NextBit would give them one by one: zeros past MaxLength.
    const uint32_t left = MaxLength - r.BitsRead;  // BitsRead never passes MaxLength
    uint32_t bits = 0;
    if (steps <= left) {
      r.BitsRead += steps;
      bits = Input->getbits(static_cast<int>(steps));
    } else if (left > 0) {
      r.BitsRead = MaxLength;
      bits = Input->getbits(static_cast<int>(left)) << (steps - left);
    }
    const uint32_t top = ((r.Tag << halvings) | (bits >> straddles)) & E12Mask;
    r.Tag = top | (((r.Tag << steps) | bits) & (E12Mask - 1));
  }
  return Symbol;
}

uint32_t ArithDecoder::Decode() {
  if (Total == 0) {
    error = true;
    return Count;
  }
  if (Total > ARITH_MAX_TOTAL) return DecodeLargeTotal();
  Registers r = Load();
  const uint32_t Symbol = DecodeSmallTotal(r);
  Store(r);
  return Symbol;
}

template <typename Symbol>
uint32_t ArithDecoder::DecodeSymbols(Symbol* symbols, uint32_t n) {
  uint32_t i = 0;
  if (Total == 0) {
    error = true;
    return 0;
  }
  if (Total > ARITH_MAX_TOTAL) {
    for (; i < n; ++i) {
      const uint32_t s = DecodeLargeTotal();
      if (s >= Count || Cum_Count[s + 1] == Cum_Count[s]) break;
      symbols[i] = static_cast<Symbol>(s);
    }
    return i;
  }
  Registers r = Load();
  for (; i < n; ++i) {
    const uint32_t s = DecodeSmallTotal(r);
    if (s >= Count) break;
    symbols[i] = static_cast<Symbol>(s);
  }
  Store(r);
  return i;
}

template uint32_t ArithDecoder::DecodeSymbols<int>(int*, uint32_t);
template uint32_t ArithDecoder::DecodeSymbols<unsigned char>(unsigned char*, uint32_t);

uint32_t ArithDecoder::DecodeLargeTotal() {
  const uint32_t range = U - L + 1;
  const uint32_t value = ((Tag - L + 1) * Total - 1) / range;
  const uint32_t* first = Cum_Count.data() + 1;
  const uint32_t* found = std::upper_bound(first, first + Count, value);
  const uint32_t Symbol = static_cast<uint32_t>(found - first);

  U = L + (range * Cum_Count[Symbol + 1]) / Total - 1;
  L = L + (range * Cum_Count[Symbol]) / Total;
  // Tag follows every doubling of the interval and takes in the next bit.
  Renormalise(
      U, L,
      [this](uint32_t) {
        CodedBits += 1 + Pending;
        Pending = 0;
        Tag = ((Tag << 1) & UpperBound) | NextBit();
      },
      [this] {
        ++Pending;
        Tag = (((Tag ^ E3Mask) << 1) & UpperBound) | NextBit();
      });
  return Symbol;
}

uint32_t ArithDecoder::CloseDecoder() { return BitsRead; }

uint32_t ArithDecoder::BlockBits() const {
  uint32_t u = U, l = L, pending = Pending;
  ShiftBounds(u, l);
  while (StraddlesMiddle(u, l)) {
    ++pending;
    ShiftAboutMiddle(u, l);
  }
  const uint32_t bits = CodedBits + 1 + pending + 1;
  return bits > Resolution ? bits : Resolution;
}

}  // namespace ostrel
