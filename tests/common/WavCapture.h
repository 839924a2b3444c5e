// Reads back the WAV files the null sound device records, for checks of what would have been heard.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/TempDir.h"

namespace ostrel::test {

struct Captured {
  bool valid = false;           // a canonical 44-byte header whose data length matches the file
  uint16_t channels = 0;
  uint32_t rate = 0;
  std::vector<int16_t> samples;  // interleaved as recorded
};

inline uint32_t GetLE(const std::vector<unsigned char>& in, size_t at, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(in[at + static_cast<size_t>(i)]) << (8 * i);
  return value;
}

inline Captured ReadCapture(const std::string& path) {
  Captured c;
  const std::vector<unsigned char> bytes = ReadAll(path);
  if (bytes.size() < 44) return c;
  const std::string riff(bytes.begin(), bytes.begin() + 4), wave(bytes.begin() + 8, bytes.begin() + 12);
  const std::string data(bytes.begin() + 36, bytes.begin() + 40);
  const uint32_t dataBytes = GetLE(bytes, 40, 4);
  c.channels = static_cast<uint16_t>(GetLE(bytes, 22, 2));
  c.rate = GetLE(bytes, 24, 4);
  c.valid = riff == "RIFF" && wave == "WAVE" && data == "data" && GetLE(bytes, 4, 4) == 36 + dataBytes &&
            GetLE(bytes, 34, 2) == 16 && bytes.size() == 44 + static_cast<size_t>(dataBytes);
  for (size_t at = 44; at + 1 < bytes.size(); at += 2) {
    c.samples.push_back(static_cast<int16_t>(static_cast<uint16_t>(GetLE(bytes, at, 2))));
  }
  return c;
}

}  // namespace ostrel::test
