// The layout of one compressed frame: every field width and format constant, shared by the frame
// writer, the frame reader and the tests.
//
// A frame starts on a byte boundary and holds, most significant bit first with no alignment
// between fields:
//   1. sync word                                   FRAME_SYNC_WORD_LEN bits
//   2. per channel: switch flag, then the switch location when the flag is 1
//   3. per channel: the Huffman-coded gain of every weight set (index gain - GAIN_OFFSET)
//   4. per channel: the leading weight code of every weight set (8 bits each), then the
//      Huffman-coded band-to-band weight differences
//   5. step size - 1                               STEP_SIZE_LEN bits
//   6. the compressed frequency table, AlphabetSize(step) entries (see StatsEntryBits)
//   7. number of symbols                           SYMBOL_COUNT_LEN bits
//   8. the arithmetic-coded symbols                at least ARITH_MIN_BLOCK_BITS bits
//   9. zero bits up to the frame's fixed size
// A channel has NBlocks weight sets, or NBlocks + 1 when it uses block switching.
#pragma once

#include "coding/ArithCommon.h"
#include "platform/StreamConstants.h"  // GAIN_MIN/GAIN_MAX, STEP_SIZE_MIN/STEP_SIZE_MAX, WEIGHT_CODE_MIN/MAX

namespace ostrel {

// Field 1: sync word.
constexpr unsigned FRAME_SYNC_WORD = 0x4A58;
constexpr int FRAME_SYNC_WORD_LEN = 16;  // bits

// Field 2: block-switching information.
constexpr int SWITCH_FLAG_LEN = 1;  // bits
// Width in bits of a switch location for NBlocks long blocks per frame: 3, 4 or 5 for 8, 16 or
// 32; 0 for any other block count (which the format does not support).
constexpr int SwitchLocationLen(int NBlocks) {
  return NBlocks == 8 ? 3 : NBlocks == 16 ? 4 : NBlocks == 32 ? 5 : 0;
}

// Field 3: gains. A gain g (GAIN_MIN..GAIN_MAX) is sent as the gain codebook's code of index
// g - GAIN_OFFSET.
constexpr int GAIN_OFFSET = GAIN_MIN;
constexpr int GAIN_TABLE_SIZE = GAIN_MAX - GAIN_MIN + 1;  // codebook entries: 20

// Field 4: weights. A leading weight code w is sent as w + LEADING_WEIGHT_OFFSET limited to
// 0..LEADING_WEIGHT_MAX in LEADING_WEIGHT_LEN bits; a difference d as the weight codebook's code
// of index d + WEIGHT_DIFF_INDEX_OFFSET limited to 0..WEIGHT_DIFF_INDEX_MAX.
constexpr int LEADING_WEIGHT_LEN = 8;  // bits
constexpr int LEADING_WEIGHT_OFFSET = 32;
constexpr int LEADING_WEIGHT_MAX = 255;
constexpr int WEIGHT_DIFF_INDEX_OFFSET = 14;
constexpr int WEIGHT_DIFF_INDEX_MAX = 32;
constexpr int WEIGHT_TABLE_SIZE = WEIGHT_DIFF_INDEX_MAX + 1;  // codebook entries: 33

// Field 5: step size, sent as step - 1.
constexpr int STEP_SIZE_LEN = 5;  // bits

// The symbol alphabet of a step size S: 2S signed values (-S..-1, 1..S), then RUN_SYMBOL_COUNT
// runs of 1..RUN_SYMBOL_COUNT zeros.
constexpr int RUN_SYMBOL_COUNT = 64;
constexpr int AlphabetSize(int Steps) { return 2 * Steps + RUN_SYMBOL_COUNT; }
constexpr int MAX_ALPHABET_SIZE = AlphabetSize(STEP_SIZE_MAX);  // symbols: 128

// Field 6: the compressed frequency table, one byte per alphabet symbol in symbol order. Entries
// 0 .. 2S + STATS_FULL_RUN_ENTRIES - 1 and the last entry are sent in STATS_ENTRY_LEN bits. The
// STATS_SHORT_ENTRY_COUNT entries between them are sent in STATS_SHORT_ENTRY_LEN bits when below
// STATS_ESCAPE, otherwise as STATS_ESCAPE in STATS_SHORT_ENTRY_LEN bits followed by the entry in
// STATS_ENTRY_LEN bits (STATS_ESCAPED_ENTRY_LEN in all).
constexpr int STATS_ENTRY_LEN = 8;        // bits
constexpr int STATS_SHORT_ENTRY_LEN = 2;  // bits
constexpr int STATS_ESCAPED_ENTRY_LEN = STATS_SHORT_ENTRY_LEN + STATS_ENTRY_LEN;  // bits: 10
constexpr unsigned STATS_ESCAPE = 3;
constexpr int STATS_FULL_RUN_ENTRIES = 16;
constexpr int STATS_SHORT_ENTRY_COUNT = RUN_SYMBOL_COUNT - STATS_FULL_RUN_ENTRIES - 1;  // 47
// First and one-past-last index of the short-coded entries.
constexpr int StatsShortBegin(int Steps) { return 2 * Steps + STATS_FULL_RUN_ENTRIES; }
constexpr int StatsShortEnd(int Steps) { return StatsShortBegin(Steps) + STATS_SHORT_ENTRY_COUNT; }
// Bits that entry n of value `value` takes in the table of step size `Steps`.
constexpr int StatsEntryBits(int n, unsigned value, int Steps) {
  return (n < StatsShortBegin(Steps) || n >= StatsShortEnd(Steps)) ? STATS_ENTRY_LEN
         : value < STATS_ESCAPE                                  ? STATS_SHORT_ENTRY_LEN
                                                                 : STATS_ESCAPED_ENTRY_LEN;
}

// Field 7: number of coded symbols.
constexpr int SYMBOL_COUNT_LEN = 16;  // bits
constexpr int MAX_SYMBOL_COUNT = (1 << SYMBOL_COUNT_LEN) - 1;

// Field 8: an arithmetic-coded block is never shorter than the coder's register width.
constexpr int ARITH_MIN_BLOCK_BITS = static_cast<int>(Resolution);  // bits

}  // namespace ostrel
