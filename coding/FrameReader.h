// Reads compressed frames back: the mirror of WriteFrame. One frame's fields become the switch
// information, gains, weight codes and normalised coefficients that FrameInvTransform synthesises.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "coding/ArithCommon.h"
#include "coding/ArithDecoder.h"
#include "coding/Huffman.h"
#include "format/Bitstream.h"

namespace ostrel {

// Why a frame could not be read. Every value but None marks the frame as damaged.
enum class FrameDamage {
  None,
  SyncWord,          // the frame does not start with the sync word
  Location,          // a switch location beyond NBlocks - 2
  Gain,              // a gain code that stands for no gain
  WeightCode,        // a weight code outside -32..223 once the differences are added up
  FieldsPastFrame,   // the side information or the table reaches beyond the frame's end
  SymbolCount,       // more symbols than two channels of coefficients can need
  EmptyTable,        // symbols to decode with a frequency table summing to 0
  ZeroFrequency,     // a decoded symbol outside the alphabet or with frequency 0
  BlockPastFrame,    // the arithmetic-coded block runs past the frame's end
  SymbolString,      // the symbols do not fill each channel exactly (a run past a channel's end)
};

// A short English description of `damage`, e.g. "bad sync word".
const char* DescribeDamage(FrameDamage damage);

// What ReadFrame learnt about the frame it read; the per-frame line of a verbose listing.
struct FrameReport {
  FrameDamage Damage = FrameDamage::None;
  int Steps = 0;          // step size, 1..32 (0 when the reader did not get that far)
  int SymbolCount = 0;    // as read from the frame
  uint32_t BitsUsed = 0;  // bits of the frame before the padding: the fields read plus the coded block
  int SwitchUsed[2] = {0, 0};
  int Location[2] = {0, 0};
};

class FrameReader {
 public:
  // `longsize` is the long block length in samples (512, 1024 or 2048), `nblocks` the long blocks
  // per frame (8, 16 or 32), `channels` 1 or 2; the band counts are those of the long, short and
  // transition band tables the encoder used. The output arrays are borrowed and stay the caller's:
  // `switchused` and `locations` hold `channels` ints; `gains`[c] holds nblocks + 1 ints;
  // `weights`[c] holds nblocks + 1 sets, each with room for the largest band count; `x`[c] holds
  // nblocks * longsize / 2 floats (the layout FrameInvTransform reads).
  FrameReader(int longsize, int nblocks, int channels, int longbandcount, int shortbandcount, int tranbandcount,
              int* switchused, int* locations, int** gains, int*** weights, float** x);
  ~FrameReader();
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;

  // Reads one frame of `frameBits` bits (a whole number of bytes) that starts at the current
  // position of `fptr`, with a bit reader of its own, so a damaged frame never disturbs the next
  // one. No field is taken from beyond the frame's end (the arithmetic decoder is fed zeros there;
  // the reader may fetch a few bytes ahead, which it ignores). On success fills
  // the borrowed arrays: switch flags and locations (location 0 when a channel does not switch),
  // gains 10..29, weight codes -32..223 and the coefficients value / step size; returns true. On a
  // damaged frame returns false, Report().Damage says why, and the arrays hold a partial frame:
  // call Silence() before handing them to the synthesis.
  [[nodiscard]] bool ReadFrame(std::FILE* fptr, uint32_t frameBits);
  // The same for a frame in memory: the `bytes` bytes at `frame` (borrowed for the call), at least
  // frameBits / 8 of them; bytes past the frame read as zeros, which gives the same result.
  [[nodiscard]] bool ReadFrame(const unsigned char* frame, std::size_t bytes, uint32_t frameBits);

  // Fills the borrowed arrays with a frame of silence that the synthesis accepts: no switching,
  // gains 10, weight codes -32, all coefficients 0. Keeps the overlap of the synthesis continuous
  // in place of a damaged frame.
  void Silence();

  const FrameReport& Report() const { return report; }

 private:
  bool Fail(FrameDamage damage);
  int WeightSets(int channel) const;
  int CodedLength(int channel) const;
  int BandsOfSet(int channel, int set) const;
  bool ReadTranInfo(Bitstream& in);
  bool ReadGains(Bitstream& in);
  bool ReadWeights(Bitstream& in);
  void ReadStats(Bitstream& in);
  bool ReadSymbols(Bitstream& in, uint32_t frameBits);
  bool ReadFields(uint32_t frameBits);
  bool PastFrame(const Bitstream& in, uint32_t frameBits) const { return in.BitCount() > frameBits; }

  int NBlocks;
  int Channels;
  int LongBandCount, ShortBandCount, TranBandCount;
  int LocationBits;       // width of a switch location: 3, 4 or 5 bits for 8, 16 or 32 blocks
  unsigned TOTAL;         // coefficients per channel and frame
  int Steps = 1;

  int* SwitchUsed;
  int* Locations;
  int** Gains;
  int*** Weights;
  float** X;
  int MaxBandCount;

  std::vector<std::vector<int>> CodedWeights;  // per channel, the largest coded length
  std::vector<int*> CodedWeightRows;           // row pointers for DecodeWeights
  std::unique_ptr<unsigned char[]> Symbols;    // channels * TOTAL, read only as far as decoded
  unsigned char CompressedStats[256];
  const HuffDecTable* WeightDec = nullptr;  // shared by every reader (SharedWeightHuffDec)
  const HuffDecTable* GainDec = nullptr;
  std::optional<Bitstream> Input;         // restarted for every frame, at a fixed address
  std::unique_ptr<ArithDecoder> Decoder;  // reads from Input; made on the first frame
  FrameReport report;
};

}  // namespace ostrel
