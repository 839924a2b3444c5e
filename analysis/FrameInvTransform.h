// The decoder's per-frame synthesis: undoes the frame transform's normalisation, runs the inverse
// block-switching MDCT with the encoder's block layout and writes the frame's PCM.
#pragma once

#include <memory>
#include <vector>

#include "audio/SampleSink.h"
#include "format/FrameGeometry.h"
#include "transform/VariableIMDCT.h"

namespace ostrel {

// Reads coefficients, weight codes and gains in the layout and set order that FrameTransform
// writes (see analysis/FrameTransform.h). Fed that object's output frame after frame, with the
// same SwitchUsed / Location, it reproduces the encoder's input delayed by HLSIZE samples.
class FrameInvTransform {
 public:
  // Sizes as in FrameTransform: chan must be 2, nblocks >= 2, ssize == lsize / 4; the band
  // counts and tables (long, short, transition) must be the encoder's. pcm is a sample sink (a
  // Waveio writer, say) or nullptr (then nothing is written and the caller takes the samples
  // from Output()). pcm, the band tables, weights and gains are borrowed and must outlive the
  // object. *x receives the per-channel coefficient arrays (owned by this object, TOTAL + HLSIZE
  // floats each) that the caller fills before every NewFrame. msstereo is stored only.
  FrameInvTransform(unsigned char chan, unsigned char nblocks, unsigned lsize, unsigned ssize, SampleSink* pcm,
                    int longweights, int shortweights, int tranweights, const int* longbands, const int* shortbands,
                    const int* tranbands, float*** x, int*** weights, int** gains, int msstereo);
  ~FrameInvTransform();
  FrameInvTransform(const FrameInvTransform&) = delete;
  FrameInvTransform& operator=(const FrameInvTransform&) = delete;

  // Synthesises one frame from X[c][0 .. TOTAL-1], Weights[c][j] and Gains[c][j] (each line
  // multiplied by its set's gain, then by its band's decoded weight) and writes TOTAL sample
  // frames (less any leading skip still pending) through pcm. SwitchUsed[c] nonzero means a
  // transient pair at block Location[c]; Location is ignored otherwise. X is left unchanged.
  // Values a damaged stream may carry are kept safe: a Location above NBlocks - 2 (or below 0)
  // is taken as the nearest valid block, and weight codes are limited to -32 .. 223.
  // Allocates nothing.
  void NewFrame(int* SwitchUsed, int* Location);

  // Forgets the overlap of the frames synthesised so far: the next frame is synthesised as the
  // first one of a new object would be. Allocates nothing.
  void Reset();

  // The first `samples` sample frames of the output stream are not written (0, the default,
  // writes everything). A decoder passes HLSIZE to drop the synthesis delay so that its output
  // lines up with the encoder's input. Counts from the next sample to be written.
  void SetLeadingSkip(unsigned samples) { LeadingSkip = samples; }

  // The last frame's TOTAL output samples of `channel` (including any skipped ones), valid from
  // the first NewFrame until the next one. With a writer in SumDiff mode the writer may have
  // altered them.
  const float* Output(unsigned channel) const { return AudioBuffer[channel].get(); }
  // The same samples for a caller that hands them on to a writer that may alter them.
  float* MutableOutput(unsigned channel) { return AudioBuffer[channel].get(); }
  unsigned Total() const { return Sizes.TOTAL; }

 private:
  // Copies n lines from `from` into Temp, multiplies them by gain, then band by band by the
  // decoded weight codes W.
  void Restore(const float* from, unsigned n, int gain, int K, const int* T, const int* W);

  unsigned char Channels;
  unsigned char NBlocks;
  BlockSizes Sizes;  // LSIZE .. TOTAL; the operations bind them by those names
  int LongWeightCount;
  int ShortWeightCount;
  int TranWeightCount;
  const int* LongBands;
  const int* ShortBands;
  const int* TransferBands;
  // Every frame writes all of them before they are read, so they are allocated without being
  // cleared: a decoder touches no more memory than its stream fills.
  std::vector<std::unique_ptr<float[]>> AudioBuffer;  // [channel][TOTAL] output of the current frame
  std::vector<std::unique_ptr<float[]>> XStore;       // [channel][TOTAL + HLSIZE]
  std::vector<float*> X;                              // the pointer array handed to the caller
  int*** Weights;
  int** Gains;
  std::vector<VariableIMDCT> MDCT;  // one per channel
  SampleSink* PCM;
  int MSStereo;
  std::unique_ptr<float[]> Temp;  // LSIZE floats: one block's lines, then its output samples
  unsigned LeadingSkip = 0;
};

}  // namespace ostrel
