// The reference encoder's analysis for the analysis pipeline: per slot a frame's samples, its
// coefficients and its set-up (weights, gains, switch flags and locations), and per thread a set
// of models. Every unit is a pure function of its inputs (the frame transform keeps each
// channel's overlap), so the frames are the same as FrameTransform::NewFrame's.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/CodingSetup.h"
#include "analysis/FrameTransform.h"
#include "audio/SampleSource.h"
#include "format/FrameGeometry.h"
#include "library/AnalysisPipeline.h"

namespace ostrel {

class ReferenceAnalyser final : public FrameAnalyser {
 public:
  // Reads `in` (borrowed; read only through this object from now on) for the geometry, with
  // model sets for AnalysisPipeline::ThreadsUsed(threads) threads. Sizes everything here.
  ReferenceAnalyser(const FrameGeometry& geometry, SampleSource& in, int threads);

  bool Read(int slot, uint64_t* framesRead) override;
  // Builds the transforms' caches on first use per thread (std::bad_alloc when that fails).
  void AnalyseChannel(int slot, unsigned c, int thread) override;

  // The analysed frame in `slot`.
  const CodingSetup& Setup(int slot) const { return *slots[slot].setup; }
  float* const* Coefficients(int slot) const { return slots[slot].coefficients.data(); }

 private:
  struct Slot {
    std::unique_ptr<CodingSetup> setup;
    std::vector<float> sampleStore;  // [channel][TOTAL]
    std::vector<float*> samples;
    std::vector<float> coefficientStore;  // [channel][TOTAL]
    std::vector<float*> coefficients;
  };

  SampleSource& source;
  unsigned total;
  std::vector<std::unique_ptr<CodingSetup>> modelSets;  // one per thread; [0] the coding thread's
  std::unique_ptr<FrameTransform> transform;
  float** transformX = nullptr;
  Slot slots[AnalysisPipeline::SLOTS];
};

}  // namespace ostrel
