// Arithmetic decoder: reads back the blocks that ArithEncoder (coding/ArithEncoder.h) writes.
#pragma once

#include <array>
#include <cstdint>

#include "coding/ArithCommon.h"
#include "format/Bitstream.h"

namespace ostrel {

class ArithDecoder {
 public:
  // Starts a block at once (as ReNewStats). `input` is borrowed: it must be in read mode and
  // outlive the decoder.
  ArithDecoder(unsigned char count, const unsigned char* Relative, Bitstream* input, uint32_t Max);
  // Sets the input only; ReNewStats must start a block before the first Decode.
  explicit ArithDecoder(Bitstream* input);

  ArithDecoder(const ArithDecoder&) = delete;
  ArithDecoder& operator=(const ArithDecoder&) = delete;

  // Starts a block with the encoder's table (`count` symbols, frequencies Relative[0..count - 1],
  // borrowed, read only here) and loads the first Resolution bits of the block.
  // `Max` is the most bits the block may take from `input`, normally every bit left in the frame
  // from the start of the block on. The decoder never reads further: once it has taken `Max` bits
  // it is fed zero bits instead, which decodes a well-formed block correctly (its termination holds
  // whatever follows), so a block never consumes the next frame's bits.
  void ReNewStats(unsigned char count, const unsigned char* Relative, uint32_t Max);

  // Returns the next symbol, 0..count - 1. With a table whose total is 0 there is no symbol: it
  // returns `count` (outside the alphabet) and marks the block as failed.
  uint32_t Decode();

  // Decodes up to `n` symbols into symbols[0..n - 1] (borrowed) as n calls of Decode would, and
  // returns how many it stored: fewer when it met a symbol outside the alphabet or of frequency
  // 0 (not stored; the block is then broken, and the decoder's state past it is of no use) or a
  // table whose total is 0 (none stored; Failed() becomes true).
  // The symbols are stored as ints or as bytes (an alphabet has at most 255 symbols).
  template <typename Symbol>
  uint32_t DecodeSymbols(Symbol* symbols, uint32_t n);

  // Returns the bits the block took from the stream so far: Resolution at the start, one more
  // for every renormalisation, never more than `Max`. These bits are gone from the stream (nothing
  // is pushed back), and they usually run past the encoder's termination into the bits that follow
  // the block, so a reader skips `Max` - CloseDecoder() bits to reach the end of the region that
  // `Max` covers.
  uint32_t CloseDecoder();

  // The bits ArithEncoder writes for the symbols decoded since ReNewStats, its termination
  // included (at least Resolution). The decoder cannot tell this from what it reads (it reads on
  // into the termination's don't-care bits), but a block is only whole when these bits fit the
  // room it was given. Counted while decoding: each halving bit with the pending straddle bits it
  // releases.
  [[nodiscard]] uint32_t BlockBits() const;

  // True when Decode met a table with total 0 in the current block; cleared by ReNewStats.
  [[nodiscard]] bool Failed() const { return error; }

 private:
  // The next bit of the block, or 0 once MaxLength bits have been taken.
  uint32_t NextBit();
  struct Registers;
  Registers Load() const;
  void Store(const Registers& r);
  // Decode for tables whose total is 1 .. ARITH_MAX_TOTAL, on registers loaded by Load.
  uint32_t DecodeSmallTotal(Registers& r) const;
  // Decode for tables whose total exceeds ARITH_MAX_TOTAL (only damaged frames have them): the
  // interval may then become empty, so it renormalises one step at a time.
  uint32_t DecodeLargeTotal();

  uint32_t U = UpperBound;
  uint32_t L = 0;
  CumCountTable Cum_Count{};
  uint32_t Total = 0;
  ExactDivider ByTotal;
  // For totals up to ARITH_MAX_TOTAL: the symbol whose cumulative range holds each scaled value.
  std::array<unsigned char, ARITH_MAX_TOTAL> SymbolOf{};
  uint32_t Tag = 0;
  uint32_t Count = 0;
  uint32_t BitsRead = 0;
  uint32_t MaxLength = 0;
  uint32_t Pending = 0;     // straddles the encoder would still owe
  uint32_t CodedBits = 0;   // bits the encoder would have written, termination aside
  Bitstream* Input;
  bool error = false;
};

}  // namespace ostrel
