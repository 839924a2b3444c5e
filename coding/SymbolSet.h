// Symbol sets: a frame's quantised coefficients as run-length symbols, their frequency table, the
// compressed table that is transmitted and drives the arithmetic coder, and the bit estimate that
// the step-size search compares with the frame budget.
//
// For a step size S (STEP_SIZE_MIN..STEP_SIZE_MAX) the alphabet has AlphabetSize(S) = 2S + 64
// symbols (coding/FrameLayout.h):
//   0 .. S - 1          the value s - S       (-S .. -1)
//   S .. 2S - 1         the value s - S + 1   (1 .. S)
//   2S .. 2S + 63       a run of s - 2S + 1 zeros (1 .. 64)
// Every zero belongs to a run; runs never continue from one channel into the next.
#pragma once

namespace ostrel {

// Turns Channels x Count values (x[ch][0..Count - 1], borrowed, not changed) into symbols, channel
// after channel, and returns how many it wrote to `Symbols` (room for Channels x Count needed).
// The values are meant to be whole numbers in -Steps..Steps. Any other value still yields a symbol
// of the alphabet: values beyond the range are clamped to -Steps or Steps, fractions are truncated
// toward zero (so a value strictly between -1 and 1 counts as a zero), and NaN counts as a zero.
int ConstructSymbolSet(float** x, int* Symbols, int Steps, int Channels, unsigned Count);

// ConstructSymbolSet for values given sparsely, counting every symbol it writes into Stats
// (AlphabetSize(Steps) entries, cleared first). Channel ch holds Values[i] (whole numbers in
// -Steps..Steps; zeros allowed) at the ascending positions Positions[i] for i in
// Starts[ch] .. Starts[ch + 1] - 1, and zeros at every other position below Count. Writes what
// ConstructSymbolSet writes for the dense values and returns the same count.
int ConstructSparseSymbolSet(const int* Positions, const int* Values, const unsigned* Starts, int Channels,
                             unsigned Count, int Steps, int* Symbols, unsigned* Stats);

// ConstructSparseSymbolSet's counts and count without writing the symbols.
int CountSparseSymbols(const int* Positions, const int* Values, const unsigned* Starts, int Channels,
                       unsigned Count, int Steps, unsigned* Stats);

// The rest of CollectStatistics for symbols already counted into Stats (AlphabetSize(Steps)
// entries): fills CompStats and returns the same estimate.
int CountedStatisticsBits(const unsigned* Stats, unsigned char* CompStats, int Steps);

// Counts the SymbolCount symbols into Stats[0 .. AlphabetSize(Steps) - 1], fills the compressed
// table CompStats[0 .. AlphabetSize(Steps) - 1] (each count scaled so that the most frequent symbol
// gets 255 and every symbol that occurs at least 1; when those bytes add up to more than
// ARITH_MAX_TOTAL every non-zero byte t becomes (t + 1) >> 1, so that the arithmetic coder gives
// every symbol room), and returns the bits that the table, the symbol count and the coded symbols
// need: the ideal code length of the symbols under CompStats plus the table's exact size plus the
// count field plus a 16-bit allowance, truncated. With no symbols the code-length term is 0.
// Symbols outside the alphabet are not counted. Builds a logarithm table on its first call and
// keeps it (not reentrant before that first call has returned).
int CollectStatistics(const int* Symbols, unsigned* Stats, unsigned char* CompStats, int SymbolCount,
                      int Steps);

// Damage that DestructSymbolSet found, as bits of its result.
enum SymbolSetDamage : int {
  SYMBOLS_EXACT = 0,           // the symbols filled every channel exactly
  SYMBOLS_RUN_PAST_END = 1,    // a run reached past the end of its channel; cut at Count
  SYMBOLS_UNKNOWN = 2,         // a symbol outside the alphabet; skipped
  SYMBOLS_MISSING = 4,         // the symbols ran out; the rest of the channels are zeros
  SYMBOLS_LEFT_OVER = 8,       // symbols remained after the last channel was full
};

// Undoes ConstructSymbolSet: rebuilds Channels x Count values into x[ch][0..Count - 1] (borrowed;
// every value is written) from Symbols[0 .. SymbolCount - 1]. Never writes past Count, whatever the
// symbols. Returns SYMBOLS_EXACT, or the SymbolSetDamage bits of a damaged symbol string. The
// symbols are ints (any value) or bytes, as a frame reader stores them: every symbol of the
// alphabet fits in one.
template <typename Symbol>
int DestructSymbolSet(float** x, const Symbol* Symbols, int Steps, int Channels, unsigned Count,
                      int SymbolCount);
extern template int DestructSymbolSet<int>(float**, const int*, int, int, unsigned, int);
extern template int DestructSymbolSet<unsigned char>(float**, const unsigned char*, int, int, unsigned, int);

}  // namespace ostrel
