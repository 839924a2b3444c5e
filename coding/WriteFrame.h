// The frame writer: writes one analysed, quantised frame in the layout of coding/FrameLayout.h,
// field group by field group, each method returning the exact number of bits it wrote.
#pragma once

#include <memory>
#include <vector>

#include "coding/ArithEncoder.h"
#include "coding/Huffman.h"
#include "format/Bitstream.h"

namespace ostrel {

class WriteFrame {
 public:
  // `longsize` (samples) selects the gain codebook; `nblocks` must be 8, 16 or 32. The arrays are
  // borrowed for the writer's life and read when each method runs, so they must hold the current
  // frame's data by then: switchused[ch] and locations[ch] (0..nblocks - 2) per channel,
  // gains[ch][set] (GAIN_MIN..GAIN_MAX), codedweights[ch] in the layout of coding/WeightCoding.h,
  // compressedstats (CollectStatistics' table) and symbols (ConstructSymbolSet's symbols). `out` is
  // borrowed, in write mode, and shared with the writer's arithmetic encoder.
  WriteFrame(int longsize, int nblocks, int channels, int longbandcount, int shortbandcount,
             int tranbandcount, int* switchused, int* locations, int** gains, int** codedweights,
             unsigned char* compressedstats, int* symbols, Bitstream* out);

  WriteFrame(const WriteFrame&) = delete;
  WriteFrame& operator=(const WriteFrame&) = delete;

  // The methods below write the frame's fields in layout order and must be called in this order:
  // WriteSyncWord, WriteTranInfo, WriteGains, WriteWeights, WriteStepSize, WriteStats,
  // WriteSymbols, WritePaddingBits.

  // The sync word; returns FRAME_SYNC_WORD_LEN.
  int WriteSyncWord();
  // Per channel the switch flag, then the location when switched.
  int WriteTranInfo();
  // Per channel the gain code of every weight set.
  int WriteGains();
  // Per channel the leading weight codes (limited to what 8 bits carry) and the coded differences
  // (limited to the codebook's range). CodedWeights itself is not changed.
  int WriteWeights();
  // Steps - 1 (Steps in STEP_SIZE_MIN..STEP_SIZE_MAX); returns STEP_SIZE_LEN.
  int WriteStepSize(int Steps);
  // The compressed table of AlphabetSize(Steps) entries; the same cost CollectStatistics counts.
  int WriteStats(int Steps);
  // The symbol count, then the first SymbolCount symbols arithmetic-coded with the compressed
  // table as frequencies. SymbolCount must not exceed MAX_SYMBOL_COUNT (a frame has at most
  // 2 x 16384 symbols).
  int WriteSymbols(int SymbolCount, int Steps);
  // `bits` zero bits: bits / 8 zero bytes, then bits % 8 zero bits. Nothing for bits <= 0.
  void WritePaddingBits(int bits);

  // True once a method met a value that its field cannot carry and sent a substitute: a gain
  // outside GAIN_MIN..GAIN_MAX (sent as the nearest), a location or step size wider than its field
  // (sent masked to the field), a symbol count above MAX_SYMBOL_COUNT (only that many sent), or a
  // symbol the arithmetic coder could not code (outside the alphabet or of frequency 0). The
  // stream of such a frame does not decode to the encoder's data; the flag stays set.
  [[nodiscard]] bool Failed() const { return error; }

 private:
  // Writes one codebook entry; returns its length.
  int PutCode(const HuffCode& entry);

  int NBlocks;
  int Channels;
  int LongBandCount;
  int ShortBandCount;
  int TranBandCount;
  int SwitchedWeightCount;
  int WeightCount;
  int* SwitchUsed;
  int* Locations;
  int** Gains;
  int** CodedWeights;
  unsigned char* CompressedStats;
  int* Symbols;
  std::vector<HuffCode> WeightHuff;
  std::vector<HuffCode> GainHuff;
  int SizeofWghtTable;
  int SizeofGainTable;
  Bitstream* Out;
  std::unique_ptr<ArithEncoder> ACoder;
  bool error = false;
};

}  // namespace ostrel
