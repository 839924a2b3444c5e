// Synthesis side of the block-switching transform: one object per audio channel runs the
// inverse MDCT, applies the sine windows and overlap-adds consecutive blocks.
#pragma once

#include "transform/VariableTransformState.h"

namespace ostrel {

class VariableIMDCT {
 public:
  // Empty object: all lengths 0, no arrays. Transform must not be called on it.
  VariableIMDCT() = default;
  // Long and short block lengths in samples, multiples of 8 (the codec uses (2048, 512),
  // (1024, 256), (512, 128)). Buffer starts at zero; both windows are SinWin of their length.
  VariableIMDCT(int Llength, int Slength) : state(Llength, Slength) {}
  // Copying and assignment rebuild from the lengths of `in` with a zero Buffer (an empty source
  // empties the target); moving hands the overlap over, so a container may relocate a channel's
  // object, and leaves `in` empty. See VariableTransformState.
  VariableIMDCT(const VariableIMDCT& in) = default;
  VariableIMDCT& operator=(const VariableIMDCT& in) = default;
  VariableIMDCT(VariableIMDCT&& in) noexcept = default;
  ~VariableIMDCT() = default;

  // Synthesises one block of `type` (0 long, 1 long-to-short, 2 short, 3 short-to-long). With
  // left/right = HLLength or HSLength as the type says, the caller has stored the block's
  // (left+right)/2 coefficients at x[0 ..]; x has room for left+right floats. On return
  // x[0 .. left-1] holds the next `left` finished output samples and the rest of x is scratch.
  // Buffer keeps the windowed right part for the next block. Driven with the type sequence given
  // to VariableMDCT::Transform, the output is the analysed input delayed by the first block's
  // left length. A type outside 0..3 prints "Illegal Window Type\n" and ends the process with
  // exit status 1, touching nothing.
  void Transform(float* x, int type);

  // Clears the overlap (Buffer to zero), as a new object starts. Allocates nothing.
  void Reset() { state.ClearOverlap(); }

  int GetLLength() const { return state.LLength; }
  int GetSLength() const { return state.SLength; }
  // Overlap store (HLLength floats) and the two windows; null for an empty object.
  const float* GetBuffer() const { return VariableTransformState::DataOrNull(state.Buffer); }
  const float* GetLongWindow() const { return state.LongWindow; }
  const float* GetShortWindow() const { return state.ShortWindow; }

 private:
  VariableTransformState state;
};

}  // namespace ostrel
