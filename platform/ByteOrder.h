// Multi-byte integers in files: little-endian (the compressed header, RIFF/WAVE, RF64) and the
// big-endian fields of AIFF. The one set of these helpers; every reader and writer of such fields
// uses them.
#pragma once

#include <cstdint>
#include <vector>

namespace ostrel {

// The `bytes` (1 to 4) little-endian bytes at `p` as a number.
inline uint32_t GetLE(const unsigned char* p, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(p[i]) << (8 * i);
  return value;
}
// (Written out: the sample readers call these for every sample.)
inline uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t Get64(const unsigned char* p) { return Get32(p) | static_cast<uint64_t>(Get32(p + 4)) << 32; }
// Big-endian.
inline uint32_t Get32BE(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         static_cast<uint32_t>(p[3]);
}

// Stores the low `bytes` (1 to 8) bytes of `value` at `p`, least significant first.
inline void PutLE(unsigned char* p, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}
inline void Put16(unsigned char* p, uint16_t value) {
  p[0] = static_cast<unsigned char>(value);
  p[1] = static_cast<unsigned char>(value >> 8);
}
inline void Put32(unsigned char* p, uint32_t value) { PutLE(p, value, 4); }

// Appends the low `bytes` bytes of `value`, least significant first.
inline void AppendLE(std::vector<unsigned char>& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

}  // namespace ostrel
