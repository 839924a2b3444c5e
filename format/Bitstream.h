// Bit-level file output and input. Fields are packed most significant bit first into 32-bit words,
// and words move to and from the file most significant byte first, so the file is a plain MSB-first
// bit stream whatever the host's byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "format/ByteSink.h"
#include "platform/AlwaysInline.h"

namespace ostrel {

class Bitstream {
 public:
  // `infptr` is an open binary file; it stays the caller's (never closed here). `direction` 0 reads,
  // any other value writes. A reader loads the first word at once.
  Bitstream(std::FILE* infptr, int direction);
  // A reader of the `bytes` bytes at `data` (borrowed; must outlive the reader), which behave as a
  // file of that length: past them the reader sees the end of the file.
  Bitstream(const unsigned char* data, std::size_t bytes);
  // A writer whose words go to `sink` (borrowed) instead of a file.
  explicit Bitstream(ByteSink* sink);

  Bitstream(const Bitstream&) = delete;
  Bitstream& operator=(const Bitstream&) = delete;

  // Appends the n least significant bits of `value`, most significant first; 1 <= n <= 32 and
  // value < 2^n (the caller guarantees it). A word reaches the file as soon as it holds 32 bits.
  void putbits(uint32_t value, int n) {
    // Most writes fit in the word buffer without filling it.
    if (n >= 1 && n < 32 - counter) {
      bitCount += static_cast<uint64_t>(n);
      buffer = (buffer << n) + value;
      counter += n;
      return;
    }
    putbitsAcross(value, n);
  }

  // Returns the next n bits (1 <= n <= 32), the first bit read as the most significant. Pushed-back
  // bits come first. Past the end of the file the missing bits are zeros and `endinput` becomes 1.
  OSTREL_ALWAYS_INLINE uint32_t getbits(int n) {
    // Most reads are served from the word buffer without reaching its end.
    if (ForceBackCount == 0 && n < counter && n >= 1) {
      bitCount += static_cast<uint64_t>(n);
      counter -= n;
      return (buffer >> counter) & ((1u << n) - 1u);
    }
    return getbitsAcross(n);
  }

  // Pushes back the `count` least significant bits of `bits` (most significant first) so that the
  // next getbits delivers them before any bit still pushed back or in the word buffer. At most 32
  // bits may be held back in all.
  void forceback(uint32_t bits, int count);
  // Drops every pushed-back bit.
  void resetforceback();

  // True once the file's end-of-file indicator is set (a memory reader: once a byte past its end
  // was asked for).
  bool endfile() const;

  // Loads the next stream word into `buffer` (missing bytes read as zeros); `counter` = 32.
  void readnext();
  // Writes `buffer` as one stream word.
  void writenext();
  // Write mode: writes the pending bits followed by zeros up to a whole word (four zero bytes
  // when nothing is pending). Does not close the file. Read mode: does nothing.
  void close();

  // Write mode: bits passed to putbits so far. Read mode: bits delivered by getbits minus the
  // bits pushed back. Lets callers check their own bit accounting.
  uint64_t BitCount() const { return bitCount; }
  // True once a byte could not be written to the file (a full disk, an I/O error).
  [[nodiscard]] bool WriteFailed() const { return writeFailed; }
  // Read mode: 1 once a word was requested after the end of the file.
  int EndInput() const { return endinput; }

 private:
  // getbits when pushed-back bits come first or the read empties the word buffer.
  uint32_t getbitsAcross(int n);
  // putbits when the bits fill the word buffer.
  void putbitsAcross(uint32_t value, int n);

  std::FILE* fptr = nullptr;
  ByteSink* sink = nullptr;
  const unsigned char* memory = nullptr;  // memory reader: the bytes, their count, the next one
  std::size_t memoryBytes = 0;
  std::size_t memoryNext = 0;
  bool memoryEnd = false;
  uint32_t buffer;
  uint32_t ForceBackBuffer;
  int32_t ForceBackCount;
  int32_t counter;
  int32_t endinput;
  int32_t Direction;
  uint64_t bitCount = 0;
  bool writeFailed = false;
};

}  // namespace ostrel
