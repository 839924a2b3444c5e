// The encoder's engine: the coding objects and working buffers of one stream, and the coding of
// one frame. libostrel's encoder codes through it (and the programs through libostrel).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/CodingSetup.h"
#include "analysis/FrameTransform.h"
#include "audio/SampleSource.h"
#include "coding/WriteFrame.h"
#include "format/Bitstream.h"
#include "format/ByteSink.h"
#include "format/FrameGeometry.h"
#include "library/AnalysisPipeline.h"
#include "library/QualityChoices.h"
#include "library/ReferenceAnalyser.h"
#include "library/StepSizeSearch.h"

namespace ostrel {

// Entries of the statistics arrays: enough for the largest alphabet (2 * 32 + 64 symbols).
constexpr int STATISTICS_ENTRIES = 320;

class FrameEncoder {
 public:
  // Builds, for the geometry of rate code `DataRate` (IsValidDataRate must hold), in this order:
  // the bit writer on `sink`, the long, transition and short models and their band tables, every
  // working buffer, the frame transform reading from `in`, and the frame writer. Nothing is
  // written yet. `in` and `sink` stay the caller's and must outlive the object.
  FrameEncoder(unsigned char DataRate, SampleSource& in, ByteSink* sink);
  ~FrameEncoder();
  FrameEncoder(const FrameEncoder&) = delete;
  FrameEncoder& operator=(const FrameEncoder&) = delete;

  // Queries the frame size and writes the file header with a frame count of 0 and the three
  // strings (each at most as long as its field; the program's streams hold "None").
  void WriteHeader(const char* Title = "None", const char* Author = "None", const char* Comments = "None");

  struct FrameOutcome {
    bool inputEnded;  // the source has run out and the frames coded so far hold all of it: the
                      // frame in which it ran out (coded in full, zeros after its end), or the
                      // frame after, when the source's last samples needed its overlap
    bool overBudget;  // the frame did not fit even at step size 1 and was written without padding
    bool writerFailed;  // the frame writer met a value its field cannot carry (WriteFrame::Failed)
  };

  // Reads, analyses and writes the next frame: side information, the step-size search, the
  // coded coefficients and the zero padding up to the frame size. Allocates nothing.
  [[nodiscard]] FrameOutcome EncodeFrame();

  // Selects the quality mode (QualityChoices: its own transient placement, masking model, weight
  // codes, gains and bandwidth, the frame filled) or, with false, the reference encoder's choices,
  // which are the default. The stream's format is the same. Before the first frame only.
  void SetQuality(bool on);

  // With `threads` >= 2, from the next EncodeFrame on, the analysis (reading, transient
  // detection, and per channel the transforms, models and normalisation; in the quality mode its
  // own) runs on up to `threads` - 1 more threads (AnalysisPipeline), the calling thread helping
  // while it waits, and the calling thread searches and codes; the stream is the same byte for
  // byte. The source
  // is then read up to FramesAhead() frames ahead of the frame coded (never past the last frame
  // to code), on those threads: a source of pushed samples must hold them by then. 0 or 1: one thread.
  // Call before the first EncodeFrame.
  void SetThreads(int threads);

  // How many frames past the one EncodeFrame codes the source may be read for (from the first
  // EncodeFrame on): 0 with one thread, AnalysisPipeline::FRAMES_AHEAD with more.
  int FramesAhead() const { return pipeline ? AnalysisPipeline::FRAMES_AHEAD : 0; }

  // Writes the bits the bit writer still holds, up to a whole word. After the last frame only.
  void FlushBits() { Out.close(); }

  // True once any write to the target failed (the bit writer's or the stream's error state).
  [[nodiscard]] bool WriteFailed() const;

  // The fixed frame size in bits (known after WriteHeader).
  uint32_t FrameBits() const { return BitsAvailable; }
  // Replaces the frame budget the search and the padding work with. For tests that need a frame
  // that cannot fit; a real run always uses the rate's frame size.
  void SetBudget(int bits) { budgetBits = bits; }

  // The last frame's step size and the number of step sizes its search tried.
  float LastStepSize() const { return lastSearch.STEPS; }
  int LastEvaluations() const { return lastSearch.Evaluations; }
  // The step size the next frame's search starts from.
  float NextStartStep() const { return OldStep; }

 private:
  int EvaluateStep(float STEPS);
  void Build();
  // (Re)builds the analysis pipeline for the mode chosen and `threads`; stops and frees it.
  void StartPipeline();
  void StopPipeline();
  // The quality mode's choices, with a frame per pipeline slot when `threads` is 2 or more.
  std::unique_ptr<QualityChoices> MakeQuality();
  // EncodeFrame in the quality mode.
  FrameOutcome EncodeQualityFrame();
  // The next frame's analysis, from the analysis thread or made here; sets `*inputEnded` when
  // this is the last frame to code (keeping the tail). Returns the frame's coefficients.
  float* const* AnalyseFrame(bool* inputEnded);
  // Writes the sync word, switch information, gains and coded weights; returns their bits.
  int WriteSideInformation();
  // Writes the step size of lastSearch, the statistics, the symbols and the padding of a frame
  // that has `bitsavailable` bits left for them, and carries the step size over.
  void WriteCodedBlock(int bitsavailable, FrameOutcome* outcome);

  unsigned char DataRate;
  FrameGeometry geometry;
  SampleSource& in;
  ByteSink* sink = nullptr;

  Bitstream Out;
  // The three models, their band tables, and the weights, gains, switch flags and locations.
  CodingSetup Setup;

  // Working buffers of the coding side, sized once here and lent to the frame writer, which keeps
  // the pointers. The pointer tables below point into the flat stores.
  std::vector<int> codedWeightStore;    // [channel][position]
  std::vector<int*> CodedWeights;       // [channel]
  std::unique_ptr<FrameCandidates> Candidates;  // the frame's coefficients that can be non-zero
  std::vector<int> Symbols;             // both channels, 2 * TOTAL
  std::vector<unsigned> ActualStatistics;
  std::vector<unsigned char> CompressedStats;
  float** x = nullptr;                  // the frame's coefficients, published by the transform

  std::unique_ptr<FrameTransform> InFrame;
  std::unique_ptr<WriteFrame> Frame;
  std::unique_ptr<QualityChoices> quality;  // set in the quality mode only

  // With two threads or more: the analysis the pipeline runs (the reference encoder's, also as
  // referenceAnalyser, or the quality mode's), and the pipeline.
  int threads = 1;
  std::unique_ptr<FrameAnalyser> analyser;
  ReferenceAnalyser* referenceAnalyser = nullptr;
  std::unique_ptr<AnalysisPipeline> pipeline;

  bool headerFailed = false;  // the sink refused the header
  uint32_t BitsAvailable = 0;
  int budgetBits = 0;
  float OldStep = FIRST_STEP_SIZE;
  int SymbolCount = 0;
  uint64_t framesCoded = 0;
  StepSearchResult lastSearch{FIRST_STEP_SIZE, 0, 0};
};

}  // namespace ostrel
