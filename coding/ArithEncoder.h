// Arithmetic encoder: codes symbols of a per-block static frequency table into a Bitstream.
// ArithDecoder (coding/ArithDecoder.h) reads the blocks back.
#pragma once

#include <cstdint>

#include "coding/ArithCommon.h"
#include "format/Bitstream.h"

namespace ostrel {

class ArithEncoder {
 public:
  // Starts a block at once (as ReNewStats). `output` is borrowed: it must be in write mode and
  // outlive the encoder.
  ArithEncoder(unsigned char Count, const unsigned char* Relative, Bitstream* output);
  // Sets the output only; ReNewStats must start a block before the first Code.
  explicit ArithEncoder(Bitstream* output);

  ArithEncoder(const ArithEncoder&) = delete;
  ArithEncoder& operator=(const ArithEncoder&) = delete;

  // Starts a new block with `Count` symbols (0..Count - 1) whose relative frequencies are the
  // bytes Relative[0..Count - 1] (borrowed, read only here). A table of 256 symbols cannot be
  // expressed. Every symbol that will be coded needs a non-zero frequency, and the total should
  // not exceed ARITH_MAX_TOTAL, or a symbol of small frequency may find no room (see Failed).
  void ReNewStats(unsigned char Count, const unsigned char* Relative);

  // Codes one symbol. A symbol at or above Count, or one whose interval is empty (zero frequency,
  // or a table total past ARITH_MAX_TOTAL), cannot be coded: nothing is written for it and the
  // block is marked as failed.
  void Code(unsigned char Symbol);

  // Terminates the block so that the code value lies inside the final interval whatever bits
  // follow it, and pads it with zero bits to at least Resolution bits. Returns the bits the block
  // occupies in the stream. The bits are not flushed: the next field continues in the same word.
  uint32_t CloseEncoder();

  // True when a symbol of the current block could not be coded; cleared by ReNewStats.
  bool Failed() const { return error; }

 private:
  // Emits `n` copies of `bit`.
  void EmitRepeated(uint32_t bit, uint32_t n);

  uint32_t U = UpperBound;
  uint32_t L = 0;
  CumCountTable Cum_Count{};
  uint32_t Total = 0;
  ExactDivider ByTotal;
  uint32_t E3Count = 0;
  uint32_t BitsWritten = 0;
  Bitstream* Output;
  uint32_t Count = 0;
  bool error = false;
};

}  // namespace ostrel
