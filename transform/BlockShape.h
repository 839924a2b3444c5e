// The overlap layout of the four block types shared by the analysis and synthesis transform
// objects: 0 long, 1 long-to-short (start), 2 short, 3 short-to-long (stop).
#pragma once

namespace ostrel {

struct BlockShape {
  int left;              // samples overlapping the previous block
  int right;             // samples overlapping the next block; also the MDCT split point
  const float* rising;   // `left` entries: rising half of the left window
  const float* falling;  // `right` entries: falling half of the right window
};

// Fills `shape` for `type` from a long window of 2*HLLength entries and a short window of
// 2*HSLength entries (both borrowed). Returns false, leaving `shape` untouched, for a type
// outside 0..3.
bool SelectBlockShape(int type, int HLLength, int HSLength, const float* LongWindow,
                      const float* ShortWindow, BlockShape* shape);

}  // namespace ostrel
