#include "coding/SymbolSet.h"

#include <cmath>

#include "coding/ArithCommon.h"
#include "coding/FrameLayout.h"
#include "platform/Fatal.h"

namespace ostrel {

namespace {

// Bits added to the ideal code length for the arithmetic coder's termination and rounding.
constexpr int kCodeLengthAllowanceBits = 16;

// Base-2 logarithms of every possible table byte. The division of the double logarithm by the
// single-precision ln 2 is carried out in double and the quotient stored as a float, so the table
// entry of n matches a direct ln(n) / ln 2 computed the same way for a table total.
struct LogTable {
  float log2;
  float LUT[256];
};

const LogTable& Logarithms() {
  static const LogTable table = [] {
    LogTable t{};
    t.log2 = static_cast<float>(std::log(2.0));
    t.LUT[0] = 0.0f;
    for (int n = 1; n < 256; ++n) t.LUT[n] = static_cast<float>(std::log(static_cast<double>(n)) / t.log2);
    return t;
  }();
  return table;
}

// A value as a whole number of -Steps..Steps (see ConstructSymbolSet).
inline int SymbolValue(float value, int Steps) {
  const float limit = static_cast<float>(Steps);
  if (value >= limit) return Steps;
  if (value <= -limit) return -Steps;
  if (value > -limit && value < limit) return static_cast<int>(value);
  return 0;
}

// The symbol of a non-zero value v of -Steps..Steps: the negative values first, then the
// positive ones (written without a choice, which the counting below wants).
inline int ValueSymbol(int v, int Steps) { return v + Steps - static_cast<int>(v > 0); }

// The symbol of a run of 1 .. RUN_SYMBOL_COUNT zeros: after the 2 Steps value symbols.
inline int RunSymbol(int zeros, int Steps) { return 2 * Steps + zeros - 1; }

}  // namespace

int ConstructSymbolSet(float** x, int* Symbols, int Steps, int Channels, unsigned Count) {
  OSTREL_DASSERT(Steps >= STEP_SIZE_MIN && Steps <= STEP_SIZE_MAX);
  int SymbolCount = 0;
  for (int ch = 0; ch < Channels; ++ch) {
    const float* values = x[ch];
    int runcount = 0;
    for (unsigned k = 0; k < Count; ++k) {
      const int v = SymbolValue(values[k], Steps);
      if (v == 0) {
        if (++runcount == RUN_SYMBOL_COUNT) {
          Symbols[SymbolCount++] = RunSymbol(RUN_SYMBOL_COUNT, Steps);
          runcount = 0;
        }
        continue;
      }
      if (runcount > 0) {
        Symbols[SymbolCount++] = RunSymbol(runcount, Steps);
        runcount = 0;
      }
      Symbols[SymbolCount++] = ValueSymbol(v, Steps);
    }
    if (runcount > 0) Symbols[SymbolCount++] = RunSymbol(runcount, Steps);
  }
  return SymbolCount;
}

int ConstructSparseSymbolSet(const int* Positions, const int* Values, const unsigned* Starts, int Channels,
                             unsigned Count, int Steps, int* Symbols, unsigned* Stats) {
  OSTREL_DASSERT(Steps >= STEP_SIZE_MIN && Steps <= STEP_SIZE_MAX);
  // Counted here: the compiler must assume that a symbol written to Symbols could change Stats.
  unsigned counts[MAX_ALPHABET_SIZE] = {};
  int n = 0;
  auto emit = [&](int s) {
    Symbols[n++] = s;
    ++counts[s];
  };
  // A run of `zeros` zeros: as many full runs as fit, then the remainder.
  auto run = [&](unsigned zeros) {
    for (; zeros >= static_cast<unsigned>(RUN_SYMBOL_COUNT); zeros -= RUN_SYMBOL_COUNT) {
      emit(RunSymbol(RUN_SYMBOL_COUNT, Steps));
    }
    if (zeros > 0) emit(RunSymbol(static_cast<int>(zeros), Steps));
  };
  for (int ch = 0; ch < Channels; ++ch) {
    unsigned next = 0;  // the first position not yet coded
    const unsigned end = Starts[ch + 1];
    for (unsigned i = Starts[ch]; i < end; ++i) {
      const int v = Values[i];
      if (v == 0) continue;
      const unsigned k = static_cast<unsigned>(Positions[i]);
      OSTREL_DASSERT(k >= next && k < Count && v >= -Steps && v <= Steps);
      run(k - next);
      emit(ValueSymbol(v, Steps));
      next = k + 1;
    }
    run(Count - next);
  }
  for (int s = 0; s < AlphabetSize(Steps); ++s) Stats[s] = counts[s];
  return n;
}

int CountSparseSymbols(const int* Positions, const int* Values, const unsigned* Starts, int Channels,
                       unsigned Count, int Steps, unsigned* Stats) {
  OSTREL_DASSERT(Steps >= STEP_SIZE_MIN && Steps <= STEP_SIZE_MAX);
  // ConstructSparseSymbolSet's counts without a jump per value: whether a value is zero and
  // whether a run ends before it follow no pattern. Full runs are counted apart; what a zero value
  // or an empty remainder would count goes to spare counts past the alphabet, four of each in
  // turn, so that a stretch of zeros does not wait on one count.
  constexpr unsigned RUN = RUN_SYMBOL_COUNT;
  constexpr unsigned SPARE = MAX_ALPHABET_SIZE;
  unsigned counts[MAX_ALPHABET_SIZE + 8] = {};
  unsigned fullRuns = 0;
  for (int ch = 0; ch < Channels; ++ch) {
    unsigned next = 0;  // the first position not yet coded
    const unsigned end = Starts[ch + 1];
    for (unsigned i = Starts[ch]; i < end; ++i) {
      const int v = Values[i];
      const unsigned k = static_cast<unsigned>(Positions[i]);
      OSTREL_DASSERT(k >= next && k < Count && v >= -Steps && v <= Steps);
      const unsigned zeros = k - next, rest = zeros % RUN, spare = SPARE + (i & 3);
      // All ones where the value is coded (masks, as the compiler turns choices into jumps).
      const unsigned coded = 0u - static_cast<unsigned>(v != 0);
      const unsigned ended = coded & (0u - static_cast<unsigned>(rest != 0));
      fullRuns += (zeros / RUN) & coded;
      // (RunSymbol of an empty remainder and ValueSymbol of a zero are never counted.)
      ++counts[spare ^ ((spare ^ static_cast<unsigned>(RunSymbol(static_cast<int>(rest), Steps))) & ended)];
      ++counts[(spare + 4) ^ (((spare + 4) ^ static_cast<unsigned>(ValueSymbol(v, Steps))) & coded)];
      next ^= (next ^ (k + 1)) & coded;
    }
    const unsigned zeros = Count - next;
    fullRuns += zeros / RUN;
    if (zeros % RUN != 0) ++counts[RunSymbol(static_cast<int>(zeros % RUN), Steps)];
  }
  counts[RunSymbol(RUN_SYMBOL_COUNT, Steps)] += fullRuns;
  int n = 0;
  for (int s = 0; s < AlphabetSize(Steps); ++s) {
    Stats[s] = counts[s];
    n += static_cast<int>(counts[s]);
  }
  return n;
}

int CollectStatistics(const int* Symbols, unsigned* Stats, unsigned char* CompStats, int SymbolCount,
                      int Steps) {
  OSTREL_DASSERT(Steps >= STEP_SIZE_MIN && Steps <= STEP_SIZE_MAX);
  const int alphabet = AlphabetSize(Steps);
  for (int s = 0; s < alphabet; ++s) Stats[s] = 0;
  for (int i = 0; i < SymbolCount; ++i) {
    const int s = Symbols[i];
    OSTREL_DASSERT(s >= 0 && s < alphabet);
    if (s >= 0 && s < alphabet) ++Stats[s];
  }
  return CountedStatisticsBits(Stats, CompStats, Steps);
}

int CountedStatisticsBits(const unsigned* Stats, unsigned char* CompStats, int Steps) {
  OSTREL_DASSERT(Steps >= STEP_SIZE_MIN && Steps <= STEP_SIZE_MAX);
  const LogTable& logs = Logarithms();
  const int Steps2 = 2 * Steps;
  const int alphabet = AlphabetSize(Steps);

  unsigned Max = 1;
  for (int s = 0; s < alphabet; ++s) {
    if (Stats[s] > Max) Max = Stats[s];
  }

  uint32_t Sum = 0;
  for (int s = 0; s < alphabet; ++s) {
    // 64-bit product: a count times 255 must not wrap for any symbol count.
    uint64_t t = static_cast<uint64_t>(Stats[s]) * 255u / Max;
    if (t > 255) t = 255;
    if (t == 0 && Stats[s] > 0) t = 1;
    CompStats[s] = static_cast<unsigned char>(t);
    Sum += static_cast<uint32_t>(t);
  }
  // Past ARITH_MAX_TOTAL a symbol of frequency 1 could get an empty interval in the coder.
  // Halving rounds up, so every symbol that occurs keeps at least 1, and the total of at most
  // MAX_ALPHABET_SIZE entries of at most 128 fits.
  if (Sum > ARITH_MAX_TOTAL) {
    Sum = 0;
    for (int s = 0; s < alphabet; ++s) {
      if (CompStats[s] != 0) CompStats[s] = static_cast<unsigned char>((CompStats[s] + 1u) >> 1);
      Sum += CompStats[s];
    }
  }

  // Every step below is single precision: each difference, each product with a count and each
  // sum is a float operation, the counts converted to float.
  float BitsUsed = 0.0f;
  if (Sum > 0) {
    const float Base = static_cast<float>(std::log(static_cast<double>(Sum)) / logs.log2);
    for (int s = 0; s < alphabet; ++s) {
      BitsUsed += (Base - logs.LUT[CompStats[s]]) * static_cast<float>(Stats[s]);
    }
  }
  // The table's own size is added entry by entry to the same float accumulator (without the last
  // entry); the last entry, the count field and the allowance follow as three float additions, in
  // that order, and the sum is truncated toward zero.
  for (int n = 0; n < Steps2 + RUN_SYMBOL_COUNT - 1; ++n) {
    BitsUsed += static_cast<float>(StatsEntryBits(n, CompStats[n], Steps));
  }
  return static_cast<int>(BitsUsed + STATS_ENTRY_LEN + SYMBOL_COUNT_LEN + kCodeLengthAllowanceBits);
}

template <typename Symbol>
int DestructSymbolSet(float** x, const Symbol* Symbols, int Steps, int Channels, unsigned Count,
                      int SymbolCount) {
  OSTREL_DASSERT(Steps >= STEP_SIZE_MIN && Steps <= STEP_SIZE_MAX);
  const int Steps2 = 2 * Steps;
  const int alphabet = AlphabetSize(Steps);
  int damage = SYMBOLS_EXACT;
  int next = 0;
  float level[MAX_ALPHABET_SIZE];
  for (int s = 0; s < Steps2; ++s) level[s] = static_cast<float>(s < Steps ? s - Steps : s - Steps + 1);
  for (int ch = 0; ch < Channels; ++ch) {
    float* values = x[ch];
    unsigned k = 0;
    while (k < Count) {
      if (next >= SymbolCount) {
        damage |= SYMBOLS_MISSING;
        while (k < Count) values[k++] = 0.0f;
        break;
      }
      const int s = static_cast<int>(Symbols[next++]);
      if (static_cast<unsigned>(s) < static_cast<unsigned>(Steps2)) {
        values[k++] = level[s];
      } else if (s < 0 || s >= alphabet) {
        damage |= SYMBOLS_UNKNOWN;
      } else {
        unsigned runlength = static_cast<unsigned>(s - Steps2 + 1);
        if (runlength > Count - k) {
          damage |= SYMBOLS_RUN_PAST_END;
          runlength = Count - k;
        }
        for (unsigned end = k + runlength; k < end; ++k) values[k] = 0.0f;
      }
    }
  }
  if (next < SymbolCount) damage |= SYMBOLS_LEFT_OVER;
  return damage;
}

template int DestructSymbolSet<int>(float**, const int*, int, int, unsigned, int);
template int DestructSymbolSet<unsigned char>(float**, const unsigned char*, int, int, unsigned, int);

}  // namespace ostrel
