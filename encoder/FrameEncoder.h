// The encoder's coding objects and working buffers for one run, the coding of one frame, and the
// whole run after the dialogue: set-up, file header, frame loop and shut-down.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "analysis/CodingSetup.h"
#include "analysis/FrameTransform.h"
#include "audio/Waveio.h"
#include "coding/WriteFrame.h"
#include "encoder/Dialogue.h"
#include "encoder/StepSizeSearch.h"
#include "format/Bitstream.h"
#include "platform/FileHandle.h"

namespace ostrel {

// Entries of the statistics arrays: enough for the largest alphabet (2 * 32 + 64 symbols).
constexpr int STATISTICS_ENTRIES = 320;

class FrameEncoder {
 public:
  // Builds, in this order: the bit writer on `fptr`, the long, transition and short models and
  // their band tables, every working buffer, the frame transform reading from `in`, and the frame
  // writer. Nothing is written yet. `in` and `fptr` stay the caller's and must outlive the object.
  FrameEncoder(const RunParameters& params, Waveio& in, std::FILE* fptr);
  ~FrameEncoder();
  FrameEncoder(const FrameEncoder&) = delete;
  FrameEncoder& operator=(const FrameEncoder&) = delete;

  // Queries the frame size and writes the file header (frame count 0, strings "None").
  void WriteHeader();

  struct FrameOutcome {
    bool inputEnded;  // the source ran out during this frame; the frame was still coded in full
    bool overBudget;  // the frame did not fit even at step size 1 and was written without padding
    bool writerFailed;  // the frame writer met a value its field cannot carry (WriteFrame::Failed)
  };

  // Reads, analyses and writes the next frame: side information, the step-size search, the
  // coded coefficients and the zero padding up to the frame size. Allocates nothing.
  [[nodiscard]] FrameOutcome EncodeFrame();

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

  RunParameters params;
  Waveio& in;
  std::FILE* fptr;

  Bitstream Out;
  // The three models, their band tables, and the weights, gains, switch flags and locations.
  CodingSetup Setup;

  // Working buffers of the coding side, sized once here and lent to the frame writer, which keeps
  // the pointers. The pointer tables below point into the flat stores.
  std::vector<int> codedWeightStore;    // [channel][position]
  std::vector<int*> CodedWeights;       // [channel]
  std::vector<float> tempDataStore;     // [channel][coefficient]: quantised coefficients
  std::vector<float*> TempData;         // [channel]
  std::vector<int> Symbols;             // both channels, 2 * TOTAL
  std::vector<unsigned> ActualStatistics;
  std::vector<unsigned char> CompressedStats;
  float** x = nullptr;                  // the frame's coefficients, published by the transform

  std::unique_ptr<FrameTransform> InFrame;
  std::unique_ptr<WriteFrame> Frame;

  uint32_t BitsAvailable = 0;
  int budgetBits = 0;
  float OldStep = FIRST_STEP_SIZE;
  int SymbolCount = 0;
  StepSearchResult lastSearch{FIRST_STEP_SIZE, 0, 0};
};

// Whether `frames` coded frames hold all of a source of `sourceFrames` sample frames: the
// decoder's output, `frames` x TOTAL samples less the synthesis delay of HLSIZE (LONGSIZE / 2),
// reaches past the source's last sample. The frame in which the source ends may leave up to
// HLSIZE samples whose overlap only the next frame completes.
bool SourceTailCoded(const RunParameters& params, uint64_t frames, uint64_t sourceFrames);

// The whole run after the dialogue: set-up, the file header with a frame count of 0, "Progress:"
// and the progress marks, the frame loop, and the shut-down (last bits, frame count patched,
// source closed, target closed). The loop ends after the frame in which the source ends, or the
// one after it when that frame leaves the source's last samples without their overlap
// (SourceTailCoded; it codes silence after them), a frame
// does not fit ("Padding Error!"), the frame writer fails (an internal error, named on standard
// error), a lower-case q is typed, SIGINT, SIGTERM or SIGHUP arrives (a removal of the target
// armed before is over from the start), or a write
// to the target fails. Returns the exit status: 0 after a normal run (also one ended by q or a
// signal), 1 after "Padding Error!", a frame writer failure, a write failure, or a target that cannot seek back to store
// the frame count (a pipe; its header keeps 0), each reported on standard error with the target's
// name. `budgetBits` > 0 replaces the frame budget (tests only). Closes `fptr`.
int EncodeFrames(const RunParameters& params, Waveio& in, FileHandle fptr, int budgetBits = 0);

}  // namespace ostrel
