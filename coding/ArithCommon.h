// What the arithmetic encoder and decoder share: the 16-bit register constants, the cumulative
// frequency table and the renormalisation tests.
//
// The coder is a binary-output integer arithmetic coder over a static frequency table of at most
// 255 symbols with byte frequencies. Symbol s owns the cumulative range Cum_Count[s] up to
// Cum_Count[s + 1] (exclusive) of Total. Interval halvings (E1/E2) produce a bit at once; straddles
// of the middle (E3) are remembered and produced, inverted, after the next halving bit.
#pragma once

#include <array>
#include <cstdint>

namespace ostrel {

constexpr uint32_t UpperBound = 0xFFFF;  // initial upper bound; the registers are 16 bits wide
constexpr uint32_t E12Mask = 0x8000;     // most significant register bit (E1/E2 test)
constexpr uint32_t E3Mask = 0x4000;      // second most significant register bit (E3 test)
constexpr uint32_t DownShift = 15;       // brings the E12Mask bit to bit 0
constexpr uint32_t Resolution = 16;      // register width in bits; also the shortest coded block

// Largest table total with which every symbol of non-zero frequency keeps a non-empty interval:
// after renormalisation the interval spans more than E3Mask values.
constexpr uint32_t ARITH_MAX_TOTAL = 16384;

// Cumulative table storage: Cum_Count[0..Count] for Count <= 255, whatever the current Count.
constexpr int CUM_COUNT_SIZE = 256;
using CumCountTable = std::array<uint32_t, CUM_COUNT_SIZE>;

// Fills Cum_Count[0] = 0 and Cum_Count[i] = Relative[0] + ... + Relative[i - 1] for i = 1..Count;
// returns the total (Cum_Count[Count]). Entries above Count are set to the total, so that any
// symbol at or above Count has an empty range. `Relative` holds Count bytes (borrowed).
uint32_t BuildCumCount(CumCountTable& Cum_Count, unsigned char Count, const unsigned char* Relative);

// Division by a table total (1 .. 2^16) as a multiplication and a shift: with 2^(l-1) < d <= 2^l
// and m = ceil(2^(31+l) / d), floor(a * m / 2^(31+l)) = floor(a / d) for every a < 2^31 (the
// error m * d - 2^(31+l) is below d, so a * m / 2^(31+l) exceeds a / d by less than 1/d). The
// coder's numerators are range * cumulative count <= 2^16 * ARITH_MAX_TOTAL = 2^30.
class ExactDivider {
 public:
  explicit ExactDivider(uint32_t d = 1) {
    int l = 0;
    while ((1u << l) < d) ++l;
    shift = 31 + l;
    multiplier = ((uint64_t{1} << shift) + d - 1) / d;
  }
  uint32_t Divide(uint32_t a) const { return static_cast<uint32_t>((a * multiplier) >> shift); }

 private:
  uint64_t multiplier = 0;
  int shift = 31;
};

// E1/E2: the interval lies in one half (the top bits of U and L agree).
inline bool SameHalf(uint32_t U, uint32_t L) { return ((U ^ L) & E12Mask) == 0; }

// E3: the interval straddles the middle within the second and third quarters.
inline bool StraddlesMiddle(uint32_t U, uint32_t L) {
  return (U & E3Mask) == 0 && (L & E3Mask) != 0 && ((U ^ L) & E12Mask) != 0;
}

// One doubling of the interval after an E1/E2 decision: L takes a 0, U a 1 at the bottom.
inline void ShiftBounds(uint32_t& U, uint32_t& L) {
  L = (L << 1) & UpperBound;
  U = ((U << 1) & UpperBound) + 1;
}

// One doubling about the middle after an E3 decision.
inline void ShiftAboutMiddle(uint32_t& U, uint32_t& L) {
  U = (((U ^ E3Mask) << 1) & UpperBound) + 1;
  L = ((L ^ E3Mask) << 1) & UpperBound;
}

// Renormalises [L, U] after a symbol narrowed it: E1/E2 halvings and E3 doublings about the
// middle until neither applies, in the order encoder and decoder must agree on. Before each
// halving `onHalving(bit)` runs with the bit it decides (the top bit of U); before each doubling
// `onStraddle()` runs.
template <class OnHalving, class OnStraddle>
inline void Renormalise(uint32_t& U, uint32_t& L, OnHalving onHalving, OnStraddle onStraddle) {
  for (;;) {
    if (SameHalf(U, L)) {
      onHalving(U >> DownShift);
      ShiftBounds(U, L);
    }
    if (StraddlesMiddle(U, L)) {
      onStraddle();
      ShiftAboutMiddle(U, L);
    }
    if (!SameHalf(U, L) && !StraddlesMiddle(U, L)) break;
  }
}

}  // namespace ostrel
