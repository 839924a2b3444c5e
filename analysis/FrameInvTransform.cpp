#include "analysis/FrameInvTransform.h"

#include <algorithm>

#include "platform/Fatal.h"
#include "psycho/PsychoTools.h"

namespace ostrel {

FrameInvTransform::FrameInvTransform(unsigned char chan, unsigned char nblocks, unsigned lsize, unsigned ssize,
                                     Waveio* pcm, int longweights, int shortweights, int tranweights,
                                     int* longbands, int* shortbands, int* tranbands, float*** x,
                                     int*** weights, int** gains, int msstereo)
    : Channels(chan),
      NBlocks(nblocks),
      Sizes(nblocks, lsize, ssize),
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

  Switch.assign(Channels, std::vector<unsigned char>(NBlocks, 0));
  AudioBuffer.assign(Channels, std::vector<float>(TOTAL, 0.0f));
  XStore.assign(Channels, std::vector<float>(TOTAL + HLSIZE, 0.0f));
  X.resize(Channels);
  for (unsigned c = 0; c < Channels; ++c) X[c] = XStore[c].data();
  MDCT.reset(new VariableIMDCT[Channels]);
  for (unsigned c = 0; c < Channels; ++c) MDCT[c] = VariableIMDCT(static_cast<int>(LSIZE), static_cast<int>(SSIZE));
  *x = X.data();
  Temp.assign(LSIZE, 0.0f);
}

FrameInvTransform::~FrameInvTransform() = default;

void FrameInvTransform::Restore(const float* from, unsigned n, int gain, int K, const int* T, const int* W) {
  float* t = Temp.data();
  float g = static_cast<float>(gain);
  for (unsigned i = 0; i < n; ++i) t[i] = from[i] * g;
  unsigned h = 0;
  for (int k = 0; k < K; ++k) {
    float w = DecompressWeights(std::clamp(W[k], WEIGHT_CODE_MIN, WEIGHT_CODE_MAX));
    for (int i = 0; i < T[k]; ++i, ++h) t[h] = t[h] * w;
  }
  OSTREL_DASSERT(h == n);
}

void FrameInvTransform::NewFrame(int* SwitchUsed, int* Location) {
  const auto& [LSIZE, HLSIZE, TSIZE, SSIZE, HSSIZE, TOTAL] = Sizes;
  for (unsigned c = 0; c < Channels; ++c) {
    std::fill(Switch[c].begin(), Switch[c].end(), 0);
    if (SwitchUsed[c]) {
      // A pair needs two blocks; a location a damaged stream pushed past that is pulled back
      // rather than letting the pair run off the end of the frame.
      int L = std::clamp(Location[c], 0, NBlocks - 2);
      Switch[c][static_cast<unsigned>(L)] = 1;
    }
  }

  float* t = Temp.data();
  for (unsigned c = 0; c < Channels; ++c) {
    const float* Xc = X[c];
    float* out = AudioBuffer[c].data();
    unsigned a = 0;
    unsigned j = 0;
    unsigned b = 0;
    while (b < NBlocks) {
      if (!Switch[c][b]) {
        Restore(Xc + a, HLSIZE, Gains[c][j], LongWeightCount, LongBands, Weights[c][j]);
        MDCT[c].Transform(t, 0);
        std::copy(t, t + HLSIZE, out + a);
        a += HLSIZE;
        j += 1;
        b += 1;
        continue;
      }

      Restore(Xc + a, TSIZE, Gains[c][j], TranWeightCount, TransferBands, Weights[c][j]);
      MDCT[c].Transform(t, 1);
      std::copy(t, t + HLSIZE, out + a);
      j += 1;

      for (unsigned s = 0; s < 3; ++s) {
        unsigned o = s * HSSIZE;
        Restore(Xc + a + TSIZE + o, HSSIZE, Gains[c][j], ShortWeightCount, ShortBands, Weights[c][j]);
        MDCT[c].Transform(t, 2);
        std::copy(t, t + HSSIZE, out + a + HLSIZE + o);
      }
      j += 1;
      a += 3 * HSSIZE;

      Restore(Xc + a + TSIZE, TSIZE, Gains[c][j], TranWeightCount, TransferBands, Weights[c][j]);
      MDCT[c].Transform(t, 3);
      std::copy(t, t + HSSIZE, out + a + HLSIZE);
      a += HLSIZE + HSSIZE;
      j += 1;
      b += 2;
    }
  }

  unsigned skip = std::min(LeadingSkip, TOTAL);
  LeadingSkip -= skip;
  if (PCM != nullptr && skip < TOTAL) {
    PCM->IO(AudioBuffer[0].data() + skip, AudioBuffer[1].data() + skip, static_cast<int>(TOTAL - skip));
  }
}

}  // namespace ostrel
