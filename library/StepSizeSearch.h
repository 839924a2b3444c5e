// The per-frame search for the quantiser step size that makes a frame fit its fixed bit budget,
// and the quantiser it drives.
#pragma once

#include "platform/StreamConstants.h"

namespace ostrel {

// Step sizes are whole numbers held in floats; the search never leaves STEP_SIZE_MIN ..
// STEP_SIZE_MAX.
// Where the first frame's search starts.
constexpr float FIRST_STEP_SIZE = 6.0f;

// Quantises `count` normalised coefficients of each of `channels` channels at step size STEPS:
// TempData[n][k] = round(x[n][k] * STEPS), the product in single precision, limited to
// -STEPS .. STEPS so that every value has a symbol of its own (a coefficient above 1.0 in
// magnitude, left by a weight set whose weighted peak exceeds the largest gain, would otherwise
// collide with the zero-run symbols). `x` is only read; `TempData` is overwritten.
void QuantiseCoefficients(float* const* x, float* const* TempData, float STEPS, int channels,
                          unsigned count);

// The step size the next frame's search starts from: the rounded mean of this frame's start and
// result (halves rounded upward), as a whole float.
float CarryOverStep(float STEPS, float OldStep);

struct StepSearchResult {
  float STEPS;       // the step size chosen, a whole number 1 .. 32
  int ArithBits;     // the estimate at that step size
  int Evaluations;   // step sizes tried, the final one included
};

// Searches the step size of one frame, one step at a time, starting from `OldStep`.
// `evaluate(STEPS)` quantises and measures the frame at STEPS and returns its bit estimate; the
// last call is always made at the step size returned, so whatever it fills belongs to that step.
// Rules, first that applies: under budget, never stepped down in this frame and below 32: one up;
// over budget and above 1: one down; otherwise stop (exact fit, the top, or over budget at 1).
template <typename Evaluate>
StepSearchResult SearchStepSize(float OldStep, int bitsavailable, Evaluate&& evaluate) {
  StepSearchResult result{OldStep, 0, 0};
  int DOWN = 0;
  int finished = 0;
  while (finished == 0) {
    result.ArithBits = evaluate(result.STEPS);
    ++result.Evaluations;
    if (bitsavailable > result.ArithBits && DOWN == 0 && result.STEPS < static_cast<float>(STEP_SIZE_MAX)) {
      result.STEPS += 1.0f;
    } else if (bitsavailable < result.ArithBits && result.STEPS > static_cast<float>(STEP_SIZE_MIN)) {
      result.STEPS -= 1.0f;
      ++DOWN;
    } else {
      ++finished;
    }
  }
  return result;
}

}  // namespace ostrel
