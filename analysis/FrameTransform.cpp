#include "analysis/FrameTransform.h"

#include <algorithm>
#include <cmath>

#include "platform/Fatal.h"
#include "platform/StreamConstants.h"
#include "psycho/PsychoTools.h"
#include "transform/fft.h"
#include "transform/windows.h"

namespace ostrel {

FrameTransform::FrameTransform(unsigned char chan, unsigned char nblocks, unsigned lsize, unsigned ssize,
                               SampleSource* pcm, Psycho* longmodel, Psycho* transfermodel, Psycho* shortmodel,
                               int longweights, int shortweights, int tranweights, const int* longbands,
                               const int* shortbands, const int* tranbands, float*** x, int*** weights, int** gains,
                               int msstereo)
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
      LongModel(longmodel),
      TransferModel(transfermodel),
      ShortModel(shortmodel),
      PCM(pcm),
      Difference(0),
      NPartials(0),
      MSStereo(msstereo) {
  const auto& [LSIZE, HLSIZE, TSIZE, SSIZE, HSSIZE, TOTAL] = Sizes;
  OSTREL_DASSERT(Channels == 2);
  OSTREL_DASSERT(ssize * 4 == lsize);
  (void)ssize;

  Switch.assign(Channels, std::vector<unsigned char>(NBlocks, 0));
  AudioBuffer.assign(Channels, std::vector<float>(TOTAL, 0.0f));
  XStore.assign(Channels, std::vector<float>(TOTAL + HLSIZE, 0.0f));
  Data.assign(Channels, std::vector<float>(TOTAL, 0.0f));
  X.resize(Channels);
  for (unsigned c = 0; c < Channels; ++c) X[c] = XStore[c].data();
  OldPower.assign(Channels, 1.0f);

  MDCT.reset(new VariableMDCT[Channels]);
  for (unsigned c = 0; c < Channels; ++c) MDCT[c] = VariableMDCT(static_cast<int>(LSIZE), static_cast<int>(SSIZE));

  *x = X.data();

  Difference = static_cast<int>(LSIZE / SSIZE);
  NPartials = Difference * NBlocks;
  TranDetectWindow.resize(HSSIZE);
  Hamming(TranDetectWindow.data(), static_cast<int>(HSSIZE));
  Tempr.resize(Channels * HSSIZE);
  Tempi.resize(Channels * HSSIZE);
}

FrameTransform::~FrameTransform() = default;

int FrameTransform::NewFrame(int* SwitchUsed, int* Location) {
  const int Last = ReadAndLocate(SwitchUsed, Location);
  for (unsigned c = 0; c < Channels; ++c) {
    AnalyseChannel(c, AudioBuffer[c].data(), SwitchUsed[c], Location[c], Weights[c], Gains[c], LongModel,
                   TransferModel, ShortModel);
  }
  return Last;
}

int FrameTransform::ReadFrame(float* const* samples) {
  const int Last = PCM->Read(AudioBuffer[0].data(), AudioBuffer[1].data(), static_cast<int>(Sizes.TOTAL));
  for (unsigned c = 0; c < Channels; ++c) std::copy(AudioBuffer[c].begin(), AudioBuffer[c].end(), samples[c]);
  return Last;
}

int FrameTransform::ReadAndLocate(int* SwitchUsed, int* Location) {
  for (auto& flags : Switch) std::fill(flags.begin(), flags.end(), 0);

  const int Last = PCM->Read(AudioBuffer[0].data(), AudioBuffer[1].data(), static_cast<int>(Sizes.TOTAL));

  LocateTransients();

  for (unsigned c = 0; c < Channels; ++c) SwitchOf(c, &SwitchUsed[c], &Location[c]);
  return Last;
}

void FrameTransform::SwitchOf(unsigned c, int* switchUsed, int* location) const {
  *switchUsed = 0;
  *location = 0;
  for (unsigned b = 0; b < NBlocks; ++b) {
    if (Switch[c][b]) {
      *switchUsed = 1;
      *location = static_cast<int>(b);
    }
  }
}

void FrameTransform::LocateChannel(unsigned c, const float* samples, int* switchUsed, int* location) {
  std::fill(Switch[c].begin(), Switch[c].end(), 0);
  LocateTransient(c, samples);
  SwitchOf(c, switchUsed, location);
}

void FrameTransform::AnalyseChannel(unsigned c, const float* in, int switchUsed, int location, int** weights,
                                    int* gains, Psycho* longModel, Psycho* tranModel, Psycho* shortModel) {
  // Plain references rather than a structured binding: the lambda below uses them, which
  // C++17 allows only for variables.
  const unsigned &HLSIZE = Sizes.HLSIZE, &TSIZE = Sizes.TSIZE, &HSSIZE = Sizes.HSSIZE;
  float* Xc = X[c];
  // A block's new samples land on the upper half of its transform input; the lower half still
  // holds the previous block's samples (or, for a short block, the upper half of the block
  // before it, which is no longer needed).
  ForEachWeightSet(Sizes, NBlocks, switchUsed != 0, location, [&](const WeightSetSpan& set) {
    float* block = Xc + set.line;
    const float* fresh = in + set.sample;
    int*& W = weights[set.set];
    int& gain = gains[set.set];
    switch (set.kind) {
      case WeightSetKind::Long:
        for (unsigned i = 0; i < HLSIZE; ++i) block[HLSIZE + i] = fresh[i];
        MDCT[c].Transform(block, 0);
        longModel->ComputeModel(block, W);
        gain = WeightAndGain(c, set.line, HLSIZE, LongWeightCount, LongBands, W, 1);
        break;
      case WeightSetKind::Start:  // a long left slope and HSSIZE new samples
        for (unsigned i = 0; i < HSSIZE; ++i) block[HLSIZE + i] = fresh[i];
        MDCT[c].Transform(block, 1);
        tranModel->ComputeModel(block, W);
        gain = WeightAndGain(c, set.line, TSIZE, TranWeightCount, TransferBands, W, 1);
        break;
      case WeightSetKind::Short:  // three short blocks, modelled, weighted and gained as one set
        for (unsigned s = 0; s < 3; ++s) {
          const unsigned o = s * HSSIZE;
          for (unsigned i = 0; i < HSSIZE; ++i) block[HSSIZE + o + i] = fresh[o + i];
          MDCT[c].Transform(block + o, 2);
        }
        shortModel->ComputeModel(block, W);
        gain = WeightAndGain(c, set.line, 3 * HSSIZE, ShortWeightCount, ShortBands, W, 3);
        break;
      case WeightSetKind::Stop:  // a short left slope and HLSIZE new samples
        for (unsigned i = 0; i < HLSIZE; ++i) block[HSSIZE + i] = fresh[i];
        MDCT[c].Transform(block, 3);
        tranModel->ComputeModel(block, W);
        gain = WeightAndGain(c, set.line, TSIZE, TranWeightCount, TransferBands, W, 1);
        break;
    }
  });
}

int FrameTransform::GainOf(float peak) {
  constexpr float lowest = static_cast<float>(GAIN_MIN);
  constexpr float highest = static_cast<float>(GAIN_MAX);
  if (peak <= lowest) peak = lowest;
  if (peak >= highest) peak = highest;
  return iceil(peak);
}

int FrameTransform::WeightAndGain(unsigned c, unsigned p, unsigned n, int K, const int* T, const int* W,
                                  int repeats) {
  float* lines = X[c] + p;
  unsigned h = 0;
  for (int r = 0; r < repeats; ++r) {
    for (int k = 0; k < K; ++k) {
      float w = DecompressWeights(W[k]);
      for (int i = 0; i < T[k]; ++i, ++h) lines[h] = lines[h] / w;
    }
  }
  OSTREL_DASSERT(h == n);

  float m = 1.0f;
  for (unsigned i = 0; i < n; ++i) {
    float v = std::fabs(lines[i]);
    if (v > m) m = v;
  }
  const int gain = GainOf(m);
  float g = static_cast<float>(gain);
  for (unsigned i = 0; i < n; ++i) lines[i] = lines[i] / g;
  return gain;
}

void FrameTransform::LocateTransients() {
  for (unsigned n = 0; n < Channels; ++n) LocateTransient(n, AudioBuffer[n].data());
}

void FrameTransform::LocateTransient(unsigned n, const float* in) {
  const auto& [LSIZE, HLSIZE, TSIZE, SSIZE, HSSIZE, TOTAL] = Sizes;
  const unsigned LowerBound = HSSIZE / 6;
  const unsigned UpperBound = HSSIZE / 2;
  // Each channel has its own work arrays, so that the channels can be searched side by side.
  float* re = Tempr.data() + n * HSSIZE;
  float* im = Tempi.data() + n * HSSIZE;

  unsigned pntr = 0;
  float tempmax = 1.0f;
  int tempindex = 0;
  for (int k = 0; k < NPartials; ++k) {
    for (unsigned i = 0; i < HSSIZE; ++i) {
      re[i] = in[pntr] * TranDetectWindow[i];
      im[i] = 0.0f;
      ++pntr;
    }
    const float Power = fftlBandPower(re, im, static_cast<int>(HSSIZE), static_cast<int>(LowerBound),
                                      static_cast<int>(UpperBound));
    float Ratio = Power / OldPower[n];
    OldPower[n] = Power > 1.0f ? Power : 1.0f;
    // Strictly greater: of equal rises the earliest segment wins.
    if (Ratio > tempmax) {
      tempmax = Ratio;
      tempindex = k;
    }
  }
  if (tempmax > MINRATIO) {
    // The segment after a long block's first one switches that block; the pair needs two
    // blocks, so the last usable start is NBlocks - 2.
    int idx = (tempindex - 1) / Difference;
    if (idx <= 0) idx = 0;
    if (idx >= NBlocks - 2) idx = NBlocks - 2;
    Switch[n][static_cast<unsigned>(idx)] = 1;
  }
}

}  // namespace ostrel
