// Synthesis side of the block-switching transform: one object per audio channel runs the
// inverse MDCT, applies the sine windows and overlap-adds consecutive blocks.
#pragma once

#include <vector>

namespace ostrel {

class VariableIMDCT {
 public:
  // Empty object: all lengths 0, no arrays. Transform must not be called on it.
  VariableIMDCT();
  // Long and short block lengths in samples, multiples of 8 (the codec uses (2048, 512),
  // (1024, 256), (512, 128)). Buffer starts at zero; both windows are SinWin of their length.
  VariableIMDCT(int Llength, int Slength);
  // Copying and assignment rebuild from the lengths of `in`: its overlap state is not copied,
  // the target starts with a zero Buffer and freshly computed windows. Assigning an empty object
  // empties the target.
  VariableIMDCT(const VariableIMDCT& in);
  VariableIMDCT& operator=(const VariableIMDCT& in);
  // Moving hands the whole state over (so a container may relocate a channel's object without
  // losing its overlap) and leaves `in` empty.
  VariableIMDCT(VariableIMDCT&& in) noexcept;
  ~VariableIMDCT();

  // Synthesises one block of `type` (0 long, 1 long-to-short, 2 short, 3 short-to-long). With
  // left/right = HLLength or HSLength as the type says, the caller has stored the block's
  // (left+right)/2 coefficients at x[0 ..]; x has room for left+right floats. On return
  // x[0 .. left-1] holds the next `left` finished output samples and the rest of x is scratch.
  // Buffer keeps the windowed right part for the next block. Driven with the type sequence given
  // to VariableMDCT::Transform, the output is the analysed input delayed by the first block's
  // left length. A type outside 0..3 prints "Illegal Window Type\n" and ends the process with
  // exit status 1, touching nothing.
  void Transform(float* x, int type);

  int GetLLength() const { return LLength; }
  int GetSLength() const { return SLength; }
  // Overlap store (HLLength floats) and the two windows; null for an empty object.
  const float* GetBuffer() const { return Buffer.empty() ? nullptr : Buffer.data(); }
  const float* GetLongWindow() const { return LongWindow.empty() ? nullptr : LongWindow.data(); }
  const float* GetShortWindow() const { return ShortWindow.empty() ? nullptr : ShortWindow.data(); }

 private:
  void Build(int Llength, int Slength);

  std::vector<float> Buffer;
  std::vector<float> LongWindow;
  std::vector<float> ShortWindow;
  int LLength;
  int HLLength;
  int SLength;
  int HSLength;
};

}  // namespace ostrel
