// The quality mode's choices of weight codes and gains: between the frame transform and the frame
// writer it moves quantisation noise from where it is audible to where it is masked, within the
// frame's budget, and fills the bits the step-size search leaves over. Every field it sets stays
// within its range (codes -32..223 with neighbours -14..+18 apart, gains 10..29, normalised
// coefficients within -1..1), so any decoder of the format decodes what it chose.
#pragma once

#include <vector>

#include "analysis/CodingSetup.h"
#include "coding/Huffman.h"
#include "format/FrameGeometry.h"

namespace ostrel {

class QualityChoices {
 public:
  // For the geometry and the coding set-up (borrowed, must outlive the object) of one stream.
  QualityChoices(const FrameGeometry& geometry, CodingSetup& setup);

  // Takes over the frame the transform has just analysed: the coefficients before weighting
  // (x times weight times gain) and the model's weight codes, which stand for its masking level.
  // The mask of each band is the model's, or the threshold in quiet where that is higher, lowered
  // for a tonal band (low spectral flatness); in the long blocks, lines far below their band's
  // mask are zeroed unless the data rate gives ample bits. `x` is only read here.
  void Capture(float* const* x);

  // Sets the frame's starting weight codes from the model's, a tonal band's lower by its tonal
  // offset as far as that keeps the set's gain.
  void StartCodes();

  // Weights and gains from the current codes: divides the captured coefficients by the decoded
  // weights and by each set's gain (chosen as the frame transform chooses it) into `x`, for the
  // sets whose codes changed since the last call (all of them after Capture).
  void Apply(float* const* x);

  // Lowers every code of the sets of a transient (start, short and stop) by up to `steps`, as far
  // as the neighbour limits and the gains allow, and returns how many steps it lowered. Keeps an
  // attack's quantisation as fine as the reference choices would make it when the frame's step
  // size comes out coarser than theirs. Call Apply before the next quantisation.
  int RefineTransients(int steps);
  // Code steps by which the sets of a transient go lower (RefineTransients) when the frame's codes
  // get step size `frameSteps` and the model's own codes `referenceSteps` (a step size counts
  // levels: the larger, the finer): enough to quantise them at least as finely as the latter,
  // at most two; 0 when frameSteps is not the smaller.
  static int TransientSteps(float referenceSteps, float frameSteps);

  // Bits of the gains and weights fields of the current codes and gains.
  int SideBits() const;

  // Estimates the noise of every band after quantisation of the normalised coefficients `x`
  // (as Apply left them) at step size `Steps`. Then lowers by one the weight codes of the bands
  // whose noise over mask is largest per bit the step costs, as many as about `bits` more bits pay
  // for (several steps each when bits are left after every band), never so far that a set's gain
  // would grow, and returns how many steps it lowered (0 when no band can be lowered). Call Apply
  // before the next quantisation.
  int LowerAudible(const float* const* x, int Steps, int bits);
  // The same with the noise estimate of the last LowerAudible, for codes brought back (Restore)
  // to what they were then.
  int LowerAgain(int bits);

  // Saves or brings back the current codes (one copy).
  void Save();
  void Restore();

 private:
  // Calls visit(channel, span, bands, bandCount, repeats, slot0) for every weight set of the frame.
  template <typename Visit>
  void ForEachSet(Visit&& visit) const;
  int Slot(unsigned c, unsigned set, int band) const {
    return static_cast<int>((c * (geometry.NBlocks + 1) + set) * static_cast<unsigned>(setup.MaxBandCount())) + band;
  }
  // The noise of every band against its mask at step size `Steps`, and the bands that may go
  // lower, most noise over mask per bit first, in `order`.
  void EstimateNoise(const float* const* x, int Steps);
  // True when `code` is a code and its weight keeps a band of largest magnitude `peak` within
  // `gain`: lowering such a band leaves its set's gain, and so every other band's noise, as it is.
  static bool Fits(int code, float peak, int gain);
  // True when band k of a set of `count` codes can go one code lower: its steps to both
  // neighbours stay within WEIGHT_STEP_DOWN .. WEIGHT_STEP_UP and it Fits its gain.
  static bool CanLower(const int* codes, int count, int k, float peak, int gain);

  FrameGeometry geometry;
  CodingSetup& setup;
  bool zeroMasked;               // lines far below the mask are zeroed (not at ample data rates)
  std::vector<float> raw;        // [channel][coefficient]: the frame's coefficients before weighting
  std::vector<int> modelCodes;   // [slot]: the model's codes
  std::vector<float> peaks;      // [slot]: the band's largest coefficient magnitude before weighting
  std::vector<int> modelGains;   // [channel][set]: the frame transform's gains
  std::vector<float> mask;       // [slot]: the band's masking energy (model's mask, or the threshold)
  std::vector<float> tonalOffset;  // [slot]: dB by which a tonal band's mask lies below the model's
  std::vector<float> nonzero;    // [slot]: lines quantised to a non-zero value at the last estimate
  std::vector<float> priority;   // [slot]: noise over mask at the last estimate
  std::vector<float> worth;      // [slot]: priority per bit a code step lower costs (the order)
  std::vector<int> saved;        // [slot]: codes of Save
  std::vector<int> savedGains;   // [channel][set]
  // [channel][set]: codes changed since the last Apply; noise estimate older than the codes.
  // Only those sets are worked on again.
  std::vector<unsigned char> changedSets, staleSets;
  std::vector<int> order;        // slots, most audible first (EstimateNoise)
  int candidateCount = 0;        // slots in `order`
  std::vector<float> athLong, athTran, athShort;  // per line, threshold in quiet (power)
  std::vector<HuffCode> weightCodes;
  std::vector<HuffCode> gainCodes;
};

}  // namespace ostrel
