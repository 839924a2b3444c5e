// What the analysis and synthesis block-switching transforms (VariableMDCT, VariableIMDCT) keep
// per channel: the block lengths, the overlap store between consecutive blocks and the two sine
// windows. Each transform object holds one and adds its own Transform.
#pragma once

#include <vector>

#include "transform/BlockShape.h"

namespace ostrel {

struct VariableTransformState {
  // Empty state: all lengths 0, no arrays.
  VariableTransformState();
  // Long and short block lengths in samples, multiples of 8. Buffer (HLLength floats) starts at
  // zero; LongWindow and ShortWindow are SinWin of their length, tables computed once per process
  // and shared by every state (std::bad_alloc when a new one cannot be stored).
  VariableTransformState(int Llength, int Slength);
  // Copying and assignment rebuild from the lengths of `in`: its overlap state is not copied,
  // the target starts with a zero Buffer and the windows of those lengths. Assigning an empty
  // state empties the target.
  VariableTransformState(const VariableTransformState& in);
  VariableTransformState& operator=(const VariableTransformState& in);
  // Moving hands the whole state over and leaves `in` empty.
  VariableTransformState(VariableTransformState&& in) noexcept;
  ~VariableTransformState();

  // The overlap layout of block `type` (0 long, 1 long-to-short, 2 short, 3 short-to-long),
  // pointing into this state's windows. A type outside 0..3 prints "Illegal Window Type\n" and
  // ends the process with exit status 1.
  BlockShape Shape(int type) const;

  // Sets Buffer to zero: the state of a new object of the same lengths.
  void ClearOverlap();

  // First element of `array`, or null when it is empty (the arrays of an empty state).
  static const float* DataOrNull(const std::vector<float>& array) {
    return array.empty() ? nullptr : array.data();
  }

  std::vector<float> Buffer;
  const float* LongWindow = nullptr;   // LLength floats, shared; null in an empty state
  const float* ShortWindow = nullptr;  // SLength floats, shared; null in an empty state
  std::vector<float> Work;  // LLength floats: the MDCT's scratch, so no transform shares a cache
  int LLength;
  int HLLength;
  int SLength;
  int HSLength;

 private:
  void Build(int Llength, int Slength);
};

}  // namespace ostrel
