// The fixed Huffman codebooks of the side information (weight differences and gains) and their
// direct-lookup decoding tables, with the reader that decodes one code through such a table.
#pragma once

#include <vector>

#include "format/Bitstream.h"

namespace ostrel {

// One codebook entry: the code is the `length` least significant bits of `code`, sent most
// significant bit first.
struct HuffCode {
  unsigned char length;  // bits
  unsigned char code;
};

// One decoding-table entry for a window of MaxLength bits that starts with a code: the code's
// symbol index and the number of window bits that lie beyond the code (MaxLength - code length).
struct HuffDecEntry {
  unsigned char symbol;
  unsigned char beyond;  // bits
};

// Codebooks, indexed by symbol; every one is a complete prefix code (Kraft sum exactly 1).
// 00: weight differences, WEIGHT_TABLE_SIZE entries, index = difference + WEIGHT_DIFF_INDEX_OFFSET
//     (limited to 0..WEIGHT_DIFF_INDEX_MAX), codes of 3 to 16 bits.
// 01, 02, 03: gains, GAIN_TABLE_SIZE entries, index = gain - GAIN_OFFSET, for long blocks of
//     2048 (any size but 512 and 1024), 1024 and 512 samples; codes of up to 12, 14, 14 bits.
std::vector<HuffCode> GetHuffEnc00();
std::vector<HuffCode> GetHuffEnc01();
std::vector<HuffCode> GetHuffEnc02();
std::vector<HuffCode> GetHuffEnc03();

// Decoding tables of 2^M entries for the codebooks above, M the longest code of the codebook
// (16, 12, 14, 14). Entry w describes every M-bit window w; each table stores M in *MaxLength.
std::vector<HuffDecEntry> GetHuffDec00(unsigned char* MaxLength);
std::vector<HuffDecEntry> GetHuffDec01(unsigned char* MaxLength);
std::vector<HuffDecEntry> GetHuffDec02(unsigned char* MaxLength);
std::vector<HuffDecEntry> GetHuffDec03(unsigned char* MaxLength);

// The gain codebook and decoding table for a long block of `longsize` samples: 03 for 512,
// 02 for 1024, 01 for any other size.
std::vector<HuffCode> GetGainHuffEnc(int longsize);
std::vector<HuffDecEntry> GetGainHuffDec(int longsize, unsigned char* MaxLength);

// A decoding table with its M, as GetHuffDec* builds it.
struct HuffDecTable {
  std::vector<HuffDecEntry> entries;
  unsigned char MaxLength = 0;
};

// The weight decoding table (00) and the gain decoding table for `longsize` (as GetGainHuffDec),
// built on first use and then shared, unchanged, by every reader of the process; safe to call
// from any thread.
const HuffDecTable& SharedWeightHuffDec();
const HuffDecTable& SharedGainHuffDec(int longsize);

// Decodes one code from `in` (read mode): reads a window of MaxLength bits, looks it up in `table`
// (a GetHuffDec table with its MaxLength) and pushes the window bits beyond the code back into
// `in`, so exactly the code's bits are consumed. Returns the symbol index. Past the end of the
// input the window is filled with zero bits (see Bitstream::getbits). The bits pushed back and
// still held from earlier reads must leave room for the new ones: up to 32 in all.
int HuffDecode(Bitstream& in, const std::vector<HuffDecEntry>& table, unsigned char MaxLength);

}  // namespace ostrel
