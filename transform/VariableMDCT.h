// Analysis side of the block-switching transform: one object per audio channel keeps the
// overlap between consecutive blocks, applies the sine windows and runs the forward MDCT.
#pragma once

#include "transform/VariableTransformState.h"

namespace ostrel {

class VariableMDCT {
 public:
  // Empty object: all lengths 0, no arrays. Transform must not be called on it.
  VariableMDCT() = default;
  // Long and short block lengths in samples, multiples of 8 (the codec uses (2048, 512),
  // (1024, 256), (512, 128)). Buffer starts at zero; both windows are SinWin of their length.
  VariableMDCT(int Llength, int Slength) : state(Llength, Slength) {}
  // Copying and assignment rebuild from the lengths of `in` with a zero Buffer (an empty source
  // empties the target); moving hands the overlap over, so a container may relocate a channel's
  // object, and leaves `in` empty. See VariableTransformState.
  VariableMDCT(const VariableMDCT& in) = default;
  VariableMDCT& operator=(const VariableMDCT& in) = default;
  VariableMDCT(VariableMDCT&& in) noexcept = default;
  ~VariableMDCT() = default;

  // Transforms one block of `type` (0 long, 1 long-to-short, 2 short, 3 short-to-long). With
  // left/right = HLLength or HSLength as the type says, x has room for left+right floats and the
  // caller has stored `right` new samples at x[left .. left+right-1]; x[0 .. left-1] is ignored
  // on entry. On return x[0 .. (left+right)/2-1] holds the block's coefficients and the upper
  // half their negated mirror image, of no further use.
  // Buffer keeps the raw new samples as the next block's left part. The next block's left
  // length must equal this block's right length. A type outside 0..3 prints
  // "Illegal Window Type\n" and ends the process with exit status 1, touching nothing.
  // VariableIMDCT::Transform with the same type sequence undoes it.
  void Transform(float* x, int type);

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
