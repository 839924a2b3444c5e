// Test rigs for the frame analysis: the three models, the caller's weight and gain arrays, a WAV
// reader over a generated file and a FrameTransform wired to them, plus a matching inverse.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "analysis/CodingSetup.h"
#include "analysis/FrameInvTransform.h"
#include "analysis/FrameTransform.h"
#include "audio/Waveio.h"
#include "format/FrameGeometry.h"
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

// A frame of `nblocks` long blocks of `lsize` samples; the sizes come from the format's geometry.
struct Sizes {
  unsigned lsize;
  unsigned char nblocks;
  BlockSizes blocks() const { return BlockSizes::For(nblocks, lsize); }
  unsigned hl() const { return blocks().HLSIZE; }
  unsigned hs() const { return blocks().HSSIZE; }
  unsigned tsize() const { return blocks().TSIZE; }
  unsigned total() const { return blocks().TOTAL; }
};

// The coding set-up of one long-block size (band width 1 Bark, level offset `offset`) with every
// weight code and gain marked untouched, and views of its arrays for the checks.
struct Models : CodingSetup {
  Models(test::Sizes s, float offset) : CodingSetup(s.blocks(), s.nblocks, 1.0f, offset, kUntouched) {}
  void MarkUntouched() { Fill(kUntouched); }
  size_t RowLength() const { return static_cast<size_t>(MaxBandCount()); }
  // Weight set j of channel c, the whole row.
  std::vector<int> Row(unsigned c, unsigned j) { return std::vector<int>(Weights()[c][j], Weights()[c][j] + RowLength()); }
  // Every weight row, and every gain, of channel c.
  std::vector<std::vector<int>> Rows(unsigned c) {
    std::vector<std::vector<int>> rows;
    for (unsigned j = 0; j <= Blocks(); ++j) rows.push_back(Row(c, j));
    return rows;
  }
  std::vector<int> GainRow(unsigned c) { return std::vector<int>(Gains()[c], Gains()[c] + Blocks() + 1); }
};

// A FrameTransform reading `wavPath`.
struct Encoder {
  Encoder(Sizes s, Models& m, const std::string& wavPath, int msstereo = 0)
      : sizes(s), in(std::make_unique<Waveio>(wavPath.c_str(), 0)) {
    transform = m.MakeTransform(in.get(), &X, msstereo);
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
    transform = m.MakeInvTransform(out, &X);
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
