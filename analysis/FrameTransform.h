// The encoder's per-frame analysis: reads a frame of PCM, finds a transient per channel, lays the
// frame out as long blocks or a transient pair, transforms, models and normalises every block.
#pragma once

#include <memory>
#include <vector>

#include "audio/SampleSource.h"
#include "format/FrameGeometry.h"
#include "psycho/Psycho.h"
#include "transform/VariableMDCT.h"

namespace ostrel {

// Block layout of one channel and frame. Without a transient there are NBlocks weight sets, all
// long blocks of HLSIZE lines. With a transient pair at block L there are NBlocks + 1 sets: sets
// 0 .. L-1 long, set L the start transition block (TSIZE lines), set L+1 the three short blocks
// (3 x HSSIZE lines, one weight set and one gain), set L+2 the stop transition block (TSIZE
// lines), sets L+3 .. NBlocks long. The pair fills exactly the 2 x HLSIZE lines and samples of
// the two long blocks it replaces, so every later block keeps its position.
class FrameTransform {
 public:
  // The gain rule: the gain of a weight set whose largest weighted line (at least 1) is `peak`,
  // the peak limited to GAIN_MIN .. GAIN_MAX and rounded up. Every coder of gains uses it.
  static int GainOf(float peak);

  // Power ratio (high band, segment to previous segment) that a transient must exceed.
  static constexpr float MINRATIO = 10.0f;

  // chan must be 2; nblocks >= 2; ssize == lsize / 4 (lsize 512, 1024 or 2048).
  // Counts and band tables come from GetPsychBands of the long, short and transition models (in
  // that order); the models are passed long, transition, short and must be built for transform
  // sizes lsize, lsize/2 + ssize/2 and ssize (the short one with isshort set).
  // pcm, the models, the band tables, weights and gains are borrowed and must outlive the object.
  // weights[c] needs NBlocks + 1 set arrays, each with room for the largest band count;
  // gains[c] needs NBlocks + 1 ints. *x receives the per-channel coefficient arrays (owned by this
  // object, TOTAL + HLSIZE floats each) through which the caller reads each frame's coefficients.
  // msstereo is stored only; any sum/difference coding of the channels is the reader's.
  FrameTransform(unsigned char chan, unsigned char nblocks, unsigned lsize, unsigned ssize, SampleSource* pcm,
                 Psycho* longmodel, Psycho* transfermodel, Psycho* shortmodel, int longweights,
                 int shortweights, int tranweights, const int* longbands, const int* shortbands, const int* tranbands,
                 float*** x, int*** weights, int** gains, int msstereo);
  ~FrameTransform();
  FrameTransform(const FrameTransform&) = delete;
  FrameTransform& operator=(const FrameTransform&) = delete;

  // Reads the next TOTAL sample frames through pcm (float form), detects transients and fills,
  // per channel c: X[c][0 .. TOTAL-1] with the normalised coefficients (each line divided by its
  // band's decoded weight, then by the set's gain; lines below the absolute threshold are 0),
  // Weights[c][j] with the weight codes and Gains[c][j] (10 .. 29) of every weight set j.
  // SwitchUsed[c] = 1 and Location[c] = L when channel c has a transient pair at block L
  // (0 .. NBlocks-2), else 0 and 0. Both arrays hold Channels ints.
  // Returns the reader's end-of-input indication for this frame (nonzero once the source ended
  // during this read); that frame is still fully processed. Allocates nothing.
  int NewFrame(int* SwitchUsed, int* Location);

  // NewFrame in parts, for callers that analyse the channels on different threads. ReadFrame
  // reads the next frame and copies its samples to samples[c] (TOTAL floats each, the caller's);
  // it returns what NewFrame returns. LocateChannel then searches channel c of those samples for
  // a transient and sets its switch flag and location, and AnalyseChannel does channel c's share
  // of the rest of NewFrame with the given models (built as the constructor's are) into weights
  // (NBlocks + 1 sets) and gains (NBlocks + 1 ints), leaving the coefficients in X[c]. Frames
  // must be read in order and each channel located and analysed in the order its frames were
  // read; the channels are independent of each other and of the reads (which touch no channel's
  // state), so one channel's work may run beside the other channel's and beside later reads, as
  // long as each model set serves one analysis at a time. The result is the same as NewFrame's.
  int ReadFrame(float* const* samples);
  void LocateChannel(unsigned c, const float* samples, int* switchUsed, int* location);
  void AnalyseChannel(unsigned c, const float* samples, int switchUsed, int location, int** weights, int* gains,
                      Psycho* longModel, Psycho* tranModel, Psycho* shortModel);
  // The coefficient array of channel c (TOTAL + HLSIZE floats); the first TOTAL hold the last
  // analysed frame's.
  const float* Coefficients(unsigned c) const { return X[c]; }

  // Marks at most one transient pair start per channel in the switch flags from the samples of
  // the current frame, comparing the high-band power of consecutive HSSIZE-sample segments (the
  // first one against the last segment of the previous frame). Called by NewFrame after the
  // read; NewFrame clears the flags first.
  void LocateTransients();

  unsigned Total() const { return Sizes.TOTAL; }

 private:
  friend class FrameTransformPeer;  // test access to the detector's inputs and state

  // Reads into AudioBuffer, locates the transients and sets SwitchUsed and Location.
  int ReadAndLocate(int* SwitchUsed, int* Location);
  // LocateTransients for channel n on its samples `in`.
  void LocateTransient(unsigned n, const float* in);
  // Channel c's switch flag and location from its per-block flags.
  void SwitchOf(unsigned c, int* switchUsed, int* location) const;
  // Divides the n lines at X[c] + p band by band by the decoded weight codes W (the band walk
  // repeated `repeats` times for the short triple), then by the set's gain, which it returns.
  int WeightAndGain(unsigned c, unsigned p, unsigned n, int K, const int* T, const int* W, int repeats);


  unsigned char Channels;
  unsigned char NBlocks;
  std::vector<std::vector<unsigned char>> Switch;  // [channel][block]
  BlockSizes Sizes;  // LSIZE .. TOTAL; the operations bind them by those names
  int LongWeightCount;
  int ShortWeightCount;
  int TranWeightCount;
  const int* LongBands;
  const int* ShortBands;
  const int* TransferBands;
  std::vector<std::vector<float>> AudioBuffer;  // [channel][TOTAL] samples of the current frame
  std::vector<std::vector<float>> Data;         // [channel][TOTAL]; kept for layout, unused
  std::vector<std::vector<float>> XStore;       // [channel][TOTAL + HLSIZE]
  std::vector<float*> X;                        // the pointer array handed to the caller
  int*** Weights;
  int** Gains;
  std::unique_ptr<VariableMDCT[]> MDCT;  // one per channel
  Psycho* LongModel;
  Psycho* TransferModel;
  Psycho* ShortModel;
  SampleSource* PCM;
  std::vector<float> TranDetectWindow;  // HSSIZE-point Hamming window
  int Difference;                       // detector segments per long block
  int NPartials;                        // detector segments per frame
  std::vector<float> OldPower;          // per channel, clamped high-band power of the last segment
  int MSStereo;
  std::vector<float> Tempr;  // detector FFT work arrays, [channel][HSSIZE]
  std::vector<float> Tempi;
};

}  // namespace ostrel
