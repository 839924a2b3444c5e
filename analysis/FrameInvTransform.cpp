#include "analysis/FrameInvTransform.h"

#include <algorithm>

#include "platform/Fatal.h"
#include "platform/FloatKernels.h"
#include "psycho/PsychoTools.h"

namespace ostrel {

FrameInvTransform::FrameInvTransform(unsigned char chan, unsigned char nblocks, unsigned lsize, unsigned ssize,
                                     SampleSink* pcm, int longweights, int shortweights, int tranweights,
                                     const int* longbands, const int* shortbands, const int* tranbands, float*** x,
                                     int*** weights, int** gains, int msstereo)
    : Channels(chan),
      NBlocks(nblocks),
      Sizes(BlockSizes::For(nblocks, lsize)),
      LongWeightCount(longweights),
      ShortWeightCount(shortweights),
      TranWeightCount(tranweights),
      LongBands(longbands),
      ShortBands(shortbands),
      TransferBands(tranbands),
      Weights(weights),
      Gains(gains),
      PCM(pcm),
      MSStereo(msstereo) {
  const auto& [LSIZE, HLSIZE, TSIZE, SSIZE, HSSIZE, TOTAL] = Sizes;
  OSTREL_DASSERT(Channels == 2);
  OSTREL_DASSERT(ssize * 4 == lsize);
  (void)ssize;

  // Reserved first, so that no emplace below can throw with its array not yet owned.
  AudioBuffer.reserve(Channels);
  XStore.reserve(Channels);
  X.reserve(Channels);
  for (unsigned c = 0; c < Channels; ++c) {
    AudioBuffer.emplace_back(new float[TOTAL]);
    XStore.emplace_back(new float[TOTAL + HLSIZE]);
    X.push_back(XStore[c].get());
  }
  // Built in place: assigning a transform builds its windows a second time.
  MDCT.reserve(Channels);
  for (unsigned c = 0; c < Channels; ++c) MDCT.emplace_back(static_cast<int>(LSIZE), static_cast<int>(SSIZE));
  *x = X.data();
  Temp.reset(new float[LSIZE]);
}

FrameInvTransform::~FrameInvTransform() = default;

void FrameInvTransform::Reset() {
  for (VariableIMDCT& m : MDCT) m.Reset();
}

void FrameInvTransform::Restore(const float* from, unsigned n, int gain, int K, const int* T, const int* W) {
  float* t = Temp.get();
  float g = static_cast<float>(gain);
  ScaleFloats(t, from, g, n);
  unsigned h = 0;
  for (int k = 0; k < K; ++k) {
    float w = DecompressWeights(std::clamp(W[k], WEIGHT_CODE_MIN, WEIGHT_CODE_MAX));
    ScaleFloats(t + h, t + h, w, static_cast<unsigned>(T[k]));
    h += static_cast<unsigned>(T[k]);
  }
  OSTREL_DASSERT(h == n);
}

void FrameInvTransform::NewFrame(int* SwitchUsed, int* Location) {
  // Plain references rather than a structured binding: the lambda below uses them, which
  // C++17 allows only for variables.
  const unsigned &HLSIZE = Sizes.HLSIZE, &TSIZE = Sizes.TSIZE, &HSSIZE = Sizes.HSSIZE, &TOTAL = Sizes.TOTAL;
  float* t = Temp.get();
  for (unsigned c = 0; c < Channels; ++c) {
    const float* Xc = X[c];
    float* out = AudioBuffer[c].get();
    // A pair needs two blocks; a location a damaged stream pushed past that is pulled back rather
    // than letting the pair run off the end of the frame.
    const bool switched = SwitchUsed[c] != 0;
    const int L = switched ? std::clamp(Location[c], 0, NBlocks - 2) : 0;
    // Each block completes the samples of its left overlap (HLSIZE after a long or start block's
    // left slope, HSSIZE after a short one's), HLSIZE samples behind the analysis.
    ForEachWeightSet(Sizes, NBlocks, switched, L, [&](const WeightSetSpan& set) {
      const float* lines = Xc + set.line;
      const int gain = Gains[c][set.set];
      const int* W = Weights[c][set.set];
      switch (set.kind) {
        case WeightSetKind::Long:
          Restore(lines, HLSIZE, gain, LongWeightCount, LongBands, W);
          MDCT[c].Transform(t, 0);
          std::copy(t, t + HLSIZE, out + set.sample);
          break;
        case WeightSetKind::Start:
          Restore(lines, TSIZE, gain, TranWeightCount, TransferBands, W);
          MDCT[c].Transform(t, 1);
          std::copy(t, t + HLSIZE, out + set.sample);
          break;
        case WeightSetKind::Short:
          for (unsigned s = 0; s < 3; ++s) {
            const unsigned o = s * HSSIZE;
            Restore(lines + o, HSSIZE, gain, ShortWeightCount, ShortBands, W);
            MDCT[c].Transform(t, 2);
            std::copy(t, t + HSSIZE, out + set.sample - HSSIZE + HLSIZE + o);
          }
          break;
        case WeightSetKind::Stop:
          Restore(lines, TSIZE, gain, TranWeightCount, TransferBands, W);
          MDCT[c].Transform(t, 3);
          std::copy(t, t + HSSIZE, out + set.sample - HSSIZE + HLSIZE);
          break;
      }
    });
  }

  unsigned skip = std::min(LeadingSkip, TOTAL);
  LeadingSkip -= skip;
  if (PCM != nullptr && skip < TOTAL) {
    PCM->Write(AudioBuffer[0].get() + skip, AudioBuffer[1].get() + skip, static_cast<int>(TOTAL - skip));
  }
}

}  // namespace ostrel
