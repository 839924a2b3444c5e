// The per-block psychoacoustic model: removes the lines below the threshold in quiet from a block
// of MDCT coefficients and turns the remaining power into one masking weight per perceptual band.
#pragma once

#include <memory>
#include <vector>

namespace ostrel {

// Neighbouring weight codes of one block differ by at most these steps (the weight coder relies on
// it).
constexpr int WEIGHT_STEP_DOWN = -14;
constexpr int WEIGHT_STEP_UP = 18;

// Limits, in place and in ascending order, each code's step from its already limited predecessor
// to WEIGHT_STEP_DOWN .. WEIGHT_STEP_UP. Codes in -32 .. 223 stay in that range.
void LimitWeightSteps(int* weights, int count);

// The band table of a model for transforms of XfmSize samples at SRate samples per second: the
// lines per band (summing to XfmSize / 2, owned by the caller) and, in *Count, the band count.
// What GetPsychBands of such a model returns, without building the model's other tables.
std::unique_ptr<int[]> PsychBandTable(unsigned XfmSize, int SRate, int* Count);

class Psycho {
 public:
  // Builds the fixed tables for transforms of XfmSize samples (XfmSize / 2 lines per block) at
  // SRate samples per second: bands of 1.0 Bark, spreading matrix, band normalisation, threshold in
  // quiet raised by `offset` dB, tonality offsets. `res` is accepted and ignored: the bands are 1.0
  // Bark wide whatever it holds. A nonzero `isshort` makes the model take three short blocks at once.
  Psycho(unsigned XfmSize, int SRate, float res, float offset, int isshort);

  Psycho(const Psycho&) = delete;
  Psycho& operator=(const Psycho&) = delete;

  // Stores the band count in *Count and returns the lines per band (summing to XfmSize / 2). The
  // table belongs to the object and stays valid and unchanged for its life; every call returns the
  // same pointer.
  int* GetPsychBands(int* Count);

  // Models one block. x holds XfmSize / 2 coefficients (three blocks of XfmSize / 2 one after the
  // other for the short model) and is modified in place: lines below the threshold become 0.0.
  // weights receives one code in -32 .. 223 per band, neighbours differing by -14 .. +18; a band
  // without power gets -32. Decode a code with DecompressWeights.
  void ComputeModel(float* x, int* weights);
  // Same, but weights receives amplitude weights (the square root of the normalised mask level) and
  // no step limit applies; a band without power gets 100000.0.
  void ComputeModel(float* x, float* weights);

 private:
  void Process(float* x);
  void GroupEnergy();
  void SpreadEnergy();
  // Fills Spread from Mask and Tonality.
  void BuildSpread();
  void ComputeWeights(int* weights);
  void ComputeWeights(float* weights);

  int PSYCHBANDCOUNT = 0;               // perceptual bands
  int HSIZE = 0;                        // lines per block
  int IsShort = 0;                      // nonzero: three short blocks per call
  std::unique_ptr<int[]> PsychBands;    // lines per band
  std::vector<float> Tonality;          // per band, linear tonality divisor of the masker
  std::vector<float> ge;                // per band, grouped power of the current block
  std::vector<float> se;                // per band, spread power, then normalised mask level
  std::vector<float> Data;              // per line, power of the current block
  std::vector<float> AbsoluteThresh;    // per line, threshold in quiet (linear power)
  std::vector<float> Normal;            // per band, spread power of a flat unit spectrum; never 0
  std::vector<float> MaskStore;         // spreading matrix, row after row
  std::vector<float*> Mask;             // Mask[n][k]: spreading from band k into band n
  std::vector<double> Spread;           // [n][k]: Mask[n][k] / Tonality[k] in double, built once
};

}  // namespace ostrel
