// The encoder's coding objects and working buffers for one run, the coding of one frame, and the
// whole run after the dialogue: set-up, file header, frame loop and shut-down.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "analysis/FrameTransform.h"
#include "audio/Waveio.h"
#include "coding/WriteFrame.h"
#include "encoder/Dialogue.h"
#include "encoder/StepSizeSearch.h"
#include "format/Bitstream.h"
#include "platform/FileHandle.h"
#include "psycho/Psycho.h"

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
  };

  // Reads, analyses and writes the next frame: side information, the step-size search, the
  // coded coefficients and the zero padding up to the frame size. Allocates nothing.
  FrameOutcome EncodeFrame();

  // Writes the bits the bit writer still holds, up to a whole word. After the last frame only.
  void FlushBits() { Out.close(); }

  // True once any write to the target failed (the bit writer's or the stream's error state).
  bool WriteFailed() const;

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
  Psycho LongModel;
  Psycho TranModel;
  Psycho ShortModel;
  int* LongBands = nullptr;  // band tables, owned by the models
  int* TranBands = nullptr;
  int* ShortBands = nullptr;
  int LongBandCount = 0;
  int TranBandCount = 0;
  int ShortBandCount = 0;

  // Working buffers, sized once here and lent to the frame transform and the frame writer, which
  // keep the pointers. The pointer tables below point into the flat stores.
  std::vector<int> weightStore;         // [channel][weight set][band], NBLOCKS + 1 sets a channel
  std::vector<int*> weightRows;         // [channel][weight set]
  std::vector<int**> Weights;           // [channel]
  std::vector<int> codedWeightStore;    // [channel][position]
  std::vector<int*> CodedWeights;       // [channel]
  std::vector<int> gainStore;           // [channel][weight set]
  std::vector<int*> Gains;              // [channel]
  std::vector<int> SwitchUsed;          // [channel]
  std::vector<int> Location;            // [channel]
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

// The whole run after the dialogue: set-up, the file header with a frame count of 0, "Progress:"
// and the progress marks, the frame loop, and the shut-down (last bits, frame count patched,
// source closed, target closed). The loop ends after the frame in which the source ends, a frame
// does not fit ("Padding Error!"), a lower-case q is typed, SIGINT, SIGTERM or SIGHUP arrives
// (a removal of the target armed before is over from the start), or a write
// to the target fails. Returns the exit status: 0 after a normal run (also one ended by q or a
// signal), 1 after "Padding Error!", a write failure, or a target that cannot seek back to store
// the frame count (a pipe; its header keeps 0), each reported on standard error with the target's
// name. `budgetBits` > 0 replaces the frame budget (tests only). Closes `fptr`.
int EncodeFrames(const RunParameters& params, Waveio& in, FileHandle fptr, int budgetBits = 0);

}  // namespace ostrel
