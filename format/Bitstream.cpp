#include "format/Bitstream.h"

#include "platform/Fatal.h"

namespace ostrel {

namespace {

// The n least significant bits set, for 0 <= n <= 32.
inline uint32_t Mask(int n) { return n >= 32 ? 0xFFFFFFFFu : ((1u << n) - 1u); }

// Byte I/O without the stream's lock, for a stream that one reader or writer has to itself.
#if defined(_WIN32)
inline int GetByteUnlocked(std::FILE* f) { return _getc_nolock(f); }
inline int PutByteUnlocked(int c, std::FILE* f) { return _putc_nolock(c, f); }
#else
inline int GetByteUnlocked(std::FILE* f) { return getc_unlocked(f); }
inline int PutByteUnlocked(int c, std::FILE* f) { return putc_unlocked(c, f); }
#endif

}  // namespace

Bitstream::Bitstream(std::FILE* infptr, int direction)
    : fptr(infptr), buffer(0), ForceBackBuffer(0), ForceBackCount(0), counter(0), endinput(0),
      Direction(direction != 0 ? 1 : 0) {
  if (Direction == 0) {
    counter = 32;
    readnext();
  }
}

Bitstream::Bitstream(const unsigned char* data, std::size_t bytes)
    : memory(data), memoryBytes(bytes), buffer(0), ForceBackBuffer(0), ForceBackCount(0), counter(32), endinput(0),
      Direction(0) {
  readnext();
}

Bitstream::Bitstream(ByteSink* target)
    : sink(target), buffer(0), ForceBackBuffer(0), ForceBackCount(0), counter(0), endinput(0), Direction(1) {}

void Bitstream::putbitsAcross(uint32_t value, int n) {
  OSTREL_DASSERT(n >= 1 && n <= 32);
  OSTREL_DASSERT(n == 32 || value < (1u << n));
  bitCount += static_cast<uint64_t>(n);
  const int take = (32 - counter) < n ? (32 - counter) : n;
  if (take == n) {
    buffer = (n == 32 ? 0u : (buffer << n)) + value;
    counter += n;
  } else {
    buffer = (buffer << take) + ((value >> (n - take)) & Mask(take));
    writenext();
    buffer = value & Mask(n - take);
    counter = n - take;
  }
  if (counter == 32) {
    writenext();
    counter = 0;
    buffer = 0;
  }
}

uint32_t Bitstream::getbitsAcross(int n) {
  OSTREL_DASSERT(n >= 1 && n <= 32);
  bitCount += static_cast<uint64_t>(n);
  uint32_t result = 0;
  int need = n;
  if (ForceBackCount > 0) {
    if (ForceBackCount >= need) {
      ForceBackCount -= need;
      result = (ForceBackBuffer >> ForceBackCount) & Mask(need);
      need = 0;
    } else {
      need -= ForceBackCount;
      result = (ForceBackBuffer & Mask(ForceBackCount)) << need;
      ForceBackBuffer = 0;
      ForceBackCount = 0;
    }
  }
  if (need == 0) return result;

  const int take = counter < need ? counter : need;
  if (take == need) {
    result += (buffer >> (counter - need)) & Mask(need);
    counter -= need;
  } else {
    result += (buffer & Mask(counter)) << (need - counter);
    const int rest = need - take;
    if (endfile()) {
      buffer = 0;
      counter = 32;
      endinput = 1;
    } else {
      readnext();
      result += buffer >> (32 - rest);
      counter = 32 - rest;
    }
  }
  if (counter == 0) {
    if (endfile()) {
      buffer = 0;
      counter = 32;
      endinput = 1;
    } else {
      readnext();
    }
  }
  return result;
}

void Bitstream::forceback(uint32_t bits, int count) {
  if (count <= 0) return;
  OSTREL_DASSERT(count + ForceBackCount <= 32);
  const uint32_t held = ForceBackBuffer & Mask(ForceBackCount);
  // count >= 1 and the total stays within 32, so ForceBackCount <= 31 here.
  ForceBackBuffer = ((bits & Mask(count)) << ForceBackCount) | held;
  ForceBackCount += count;
  bitCount -= static_cast<uint64_t>(count);
}

void Bitstream::resetforceback() {
  ForceBackBuffer = 0;
  ForceBackCount = 0;
}

bool Bitstream::endfile() const { return fptr != nullptr ? std::feof(fptr) != 0 : memoryEnd; }

void Bitstream::readnext() {
  if (fptr == nullptr && memoryBytes - memoryNext >= 4) {
    const unsigned char* p = memory + memoryNext;
    buffer = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
    memoryNext += 4;
    counter = 32;
    return;
  }
  uint32_t word = 0;
  for (int i = 0; i < 4; ++i) {
    int c = EOF;
    if (fptr != nullptr) {
      c = GetByteUnlocked(fptr);  // the stream is this reader's alone: no lock per byte
    } else if (memoryNext < memoryBytes) {
      c = memory[memoryNext++];
    } else {
      memoryEnd = true;
    }
    word = (word << 8) | static_cast<uint32_t>(c == EOF ? 0 : c);
  }
  buffer = word;
  counter = 32;
}

void Bitstream::writenext() {
  if (sink != nullptr) {
    const unsigned char word[4] = {static_cast<unsigned char>(buffer >> 24), static_cast<unsigned char>(buffer >> 16),
                                   static_cast<unsigned char>(buffer >> 8), static_cast<unsigned char>(buffer)};
    if (!sink->Put(word, sizeof word)) writeFailed = true;
    return;
  }
  for (int shift = 24; shift >= 0; shift -= 8) {
    // The stream is this writer's alone: no lock per byte.
    if (PutByteUnlocked(static_cast<int>((buffer >> shift) & 0xFFu), fptr) == EOF) writeFailed = true;
  }
}

void Bitstream::close() {
  if (Direction != 1) return;
  if (counter != 0) buffer <<= (32 - counter);
  writenext();
  counter = 0;
  buffer = 0;
}

}  // namespace ostrel
