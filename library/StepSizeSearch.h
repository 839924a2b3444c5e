// The per-frame search for the quantiser step size that makes a frame fit its fixed bit budget,
// and the quantiser it drives.
#pragma once

#include <vector>

#include "platform/CpuFeatures.h"
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

// The quantiser's rule on `n` contiguous values: out[k] = round(in[k] * STEPS) limited to
// -STEPS .. STEPS (NaN gives 0), STEPS a whole number 1 .. STEP_SIZE_MAX. Every path gives the
// same integers; the first form takes ChosenSimdPath(), the second the one named (which the
// processor must run).
void QuantiseValues(const float* in, int* out, unsigned n, float STEPS);
void QuantiseValues(SimdPath path, const float* in, int* out, unsigned n, float STEPS);

// The coefficients of one frame that round to a non-zero value at STEP_SIZE_MAX. A smaller step
// size never gives a larger magnitude (a float product rounds monotonically), so every other
// coefficient quantises to 0 at every step size the search can try and needs no work at all:
// the search quantises only these, gathered once per frame. Typically a third of a frame.
class FrameCandidates {
 public:
  // Room for `channels` channels of `count` coefficients; the only allocation.
  FrameCandidates(int channels, unsigned count);

  // Finds the candidates of x[0 .. channels - 1][0 .. count - 1] (borrowed, only read here). Every
  // path finds the same; the first form takes ChosenSimdPath(), the second the one named (which
  // the processor must run).
  void Gather(const float* const* x);
  void Gather(SimdPath path, const float* const* x);

  // Quantises the candidates at STEPS, writes the frame's symbols as ConstructSymbolSet would
  // from QuantiseCoefficients' values, counts them into Stats (AlphabetSize(STEPS) entries) and
  // returns how many symbols it wrote. Allocates nothing.
  int BuildSymbols(float STEPS, int* Symbols, unsigned* Stats);

  // BuildSymbols' counts and count, without writing the symbols.
  int CountSymbols(float STEPS, unsigned* Stats);

  // Candidates found by the last Gather, all channels.
  unsigned Size() const { return starts.back(); }

  // The largest magnitude among the integers of the last BuildSymbols (0 before any).
  int LargestMagnitude() const;

 private:
  int channels;
  unsigned count;
  std::vector<float> values;     // the candidates' coefficients, channel after channel
  std::vector<int> positions;    // their positions within their channel, ascending
  std::vector<unsigned> starts;  // channel c's candidates are [starts[c], starts[c + 1])
  std::vector<int> quantised;    // the current step size's integers
};

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
