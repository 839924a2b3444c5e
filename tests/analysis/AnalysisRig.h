// Test rigs for the frame analysis: the three models, the caller's weight and gain arrays, a WAV
// reader over a generated file and a FrameTransform wired to them, plus a matching inverse.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "analysis/FrameInvTransform.h"
#include "analysis/FrameTransform.h"
#include "audio/Waveio.h"
#include "psycho/Psycho.h"

namespace ostrel {

// Reaches the detector's inputs and state for crafted-signal tests.
class FrameTransformPeer {
 public:
  static std::vector<float>& Audio(FrameTransform& t, unsigned c) { return t.AudioBuffer[c]; }
  static float& OldPower(FrameTransform& t, unsigned c) { return t.OldPower[c]; }
  static const std::vector<unsigned char>& Switch(FrameTransform& t, unsigned c) { return t.Switch[c]; }
  static void ClearSwitches(FrameTransform& t) {
    for (auto& flags : t.Switch) std::fill(flags.begin(), flags.end(), 0);
  }
  static int NPartials(const FrameTransform& t) { return t.NPartials; }
  static unsigned HSSIZE(const FrameTransform& t) { return t.Sizes.HSSIZE; }
  static float* X(FrameTransform& t, unsigned c) { return t.X[c]; }
  static int WeightAndGain(FrameTransform& t, unsigned p, unsigned n, int K, const int* T, const int* W,
                           int repeats) {
    return t.WeightAndGain(0, p, n, K, T, W, repeats);
  }
};

namespace test {

// Marks weight-set entries that no set may touch.
constexpr int kUntouched = 9999;

struct Sizes {
  unsigned lsize;
  unsigned char nblocks;
  unsigned hl() const { return lsize / 2; }
  unsigned hs() const { return lsize / 8; }
  unsigned tsize() const { return (hl() + hs()) / 2; }
  unsigned total() const { return hl() * nblocks; }
};

// The three models of one long-block size and the caller-owned arrays both transforms share.
struct Models {
  Models(Sizes s, float offset)
      : longModel(s.lsize, 44100, 1.0f, offset, 0),
        tranModel(s.hl() + s.hs(), 44100, 1.0f, offset, 0),
        shortModel(s.lsize / 4, 44100, 1.0f, offset, 1) {
    longBands = longModel.GetPsychBands(&longCount);
    tranBands = tranModel.GetPsychBands(&tranCount);
    shortBands = shortModel.GetPsychBands(&shortCount);
    int maxCount = std::max({longCount, tranCount, shortCount});
    for (unsigned c = 0; c < 2; ++c) {
      weightStore[c].assign(s.nblocks + 1u, std::vector<int>(static_cast<size_t>(maxCount), kUntouched));
      for (auto& set : weightStore[c]) weightSets[c].push_back(set.data());
      weights[c] = weightSets[c].data();
      gainStore[c].assign(s.nblocks + 1u, kUntouched);
      gains[c] = gainStore[c].data();
    }
  }
  void MarkUntouched() {
    for (unsigned c = 0; c < 2; ++c) {
      for (auto& set : weightStore[c]) std::fill(set.begin(), set.end(), kUntouched);
      std::fill(gainStore[c].begin(), gainStore[c].end(), kUntouched);
    }
  }

  Psycho longModel, tranModel, shortModel;
  int longCount = 0, tranCount = 0, shortCount = 0;
  int* longBands = nullptr;
  int* tranBands = nullptr;
  int* shortBands = nullptr;
  std::vector<std::vector<int>> weightStore[2];
  std::vector<int*> weightSets[2];
  int** weights[2] = {nullptr, nullptr};
  std::vector<int> gainStore[2];
  int* gains[2] = {nullptr, nullptr};
};

// A FrameTransform reading `wavPath`.
struct Encoder {
  Encoder(Sizes s, Models& m, const std::string& wavPath, int msstereo = 0)
      : sizes(s), in(std::make_unique<Waveio>(wavPath.c_str(), 0)) {
    transform = std::make_unique<FrameTransform>(
        2, s.nblocks, s.lsize, s.lsize / 4, in.get(), &m.longModel, &m.tranModel, &m.shortModel, m.longCount,
        m.shortCount, m.tranCount, m.longBands, m.shortBands, m.tranBands, &X, m.weights, m.gains, msstereo);
  }
  int NewFrame() { return transform->NewFrame(switchUsed, location); }

  Sizes sizes;
  std::unique_ptr<Waveio> in;
  float** X = nullptr;
  std::unique_ptr<FrameTransform> transform;
  int switchUsed[2] = {-1, -1};
  int location[2] = {-1, -1};
};

// A FrameInvTransform over the same models' tables and arrays; `out` may be nullptr.
struct Decoder {
  Decoder(Sizes s, Models& m, Waveio* out) : sizes(s) {
    transform = std::make_unique<FrameInvTransform>(2, s.nblocks, s.lsize, s.lsize / 4, out, m.longCount,
                                                    m.shortCount, m.tranCount, m.longBands, m.shortBands,
                                                    m.tranBands, &X, m.weights, m.gains, 0);
  }
  // Takes the encoder's coefficients of the current frame and synthesises them.
  void Replay(const Encoder& e, int* switchUsed, int* location) {
    for (unsigned c = 0; c < 2; ++c) std::copy(e.X[c], e.X[c] + sizes.total(), X[c]);
    transform->NewFrame(switchUsed, location);
  }

  Sizes sizes;
  float** X = nullptr;
  std::unique_ptr<FrameInvTransform> transform;
};

}  // namespace test
}  // namespace ostrel
