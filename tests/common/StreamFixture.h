// What the tests know about whole streams: the seven rows of the data-rate menu with the values the
// rate tables give them, and the header fields read back through the format's own offsets.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "format/FileHeader.h"

namespace ostrel::test {

// One row of the encoder's data-rate menu: row, rate code, long block length (samples), long
// blocks per frame, the models' band width and level offset (dB), and the frame size in bits.
struct RateRow {
  int row;
  unsigned char code;
  int longSize, nBlocks;
  float res, offset;
  uint32_t frameBits;
  int Total() const { return longSize / 2 * nBlocks; }  // samples per channel and frame
};

inline void PrintTo(const RateRow& r, std::ostream* os) { *os << "row " << r.row << " (" << r.code * 2 << " kb/s)"; }

// The menu's rows in menu order.
inline const std::vector<RateRow>& RateRows() {
  static const std::vector<RateRow> rows = {
      {1, 196, 512, 32, 0.5f, -40.0f, 72824}, {2, 128, 512, 32, 0.8f, -20.0f, 47560},
      {3, 96, 1024, 16, 1.0f, -10.0f, 35672}, {4, 80, 2048, 16, 1.0f, 0.0f, 59448},
      {5, 64, 2048, 16, 1.0f, 15.0f, 47560},  {6, 56, 2048, 16, 1.0f, 20.0f, 41616},
      {7, 48, 2048, 16, 1.0f, 30.0f, 35672},
  };
  return rows;
}

// The frame count of a compressed file's header (0 when the file is too short to hold it).
inline uint32_t HeaderFrameCount(const std::vector<unsigned char>& file) {
  if (file.size() < FILE_HEADER_FIXED_BYTES) return 0;
  uint32_t frames = 0;
  for (int i = 3; i >= 0; --i) frames = frames << 8 | file[FILE_FRAMES_OFFSET + static_cast<size_t>(i)];
  return frames;
}

}  // namespace ostrel::test
