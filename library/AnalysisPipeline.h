// The encoder's analysis on several threads: frames read ahead into a small ring of slots, each
// channel of each frame analysed by whichever thread is free, and the frames handed to the coding
// thread in order. Every unit of work is a pure function of its inputs, so the frames are the same
// as FrameTransform::NewFrame's for any number of threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "analysis/CodingSetup.h"
#include "analysis/FrameTransform.h"
#include "audio/SampleSource.h"
#include "format/FrameGeometry.h"
#include "platform/StreamConstants.h"

namespace ostrel {

class AnalysisPipeline {
 public:
  // One analysed frame, valid until the next Take.
  struct Frame {
    CodingSetup* setup;          // weights, gains, switch flags and locations
    float* const* coefficients;  // [channel][TOTAL]
    bool ended;                  // the read of this frame reported the end of the source
    uint64_t framesRead;         // the source's FramesRead() after this frame's read
  };

  // Reads `in` (borrowed; read only by the pipeline from now on) for the geometry; `threads` >= 2
  // threads take part, the calling thread of Take being one of them (at most 4 are used: two
  // channel analyses, a read and the coding). Sizes everything here.
  AnalysisPipeline(const FrameGeometry& geometry, SampleSource& in, int threads);
  ~AnalysisPipeline();
  AnalysisPipeline(const AnalysisPipeline&) = delete;
  AnalysisPipeline& operator=(const AnalysisPipeline&) = delete;

  // Frames past the one being coded that the source may have been read for: while the coder
  // holds frame n (from its Take until the next), frames up to n + FRAMES_AHEAD may be read.
  // Nothing is read before the first Take.
  static constexpr int FRAMES_AHEAD = 3;

  // Gives back the frame of the previous Take and returns the next frame in order, helping with
  // the analysis while it waits. Allocates nothing itself; throws std::bad_alloc when a unit of
  // work on any thread ran out of memory (the transforms' caches are built on first use, per
  // thread), and from then on at every call.
  Frame Take();

 private:
  // The frame being coded and those read ahead of it.
  static constexpr int SLOTS = FRAMES_AHEAD + 1;
  struct Slot {
    std::unique_ptr<CodingSetup> setup;
    std::vector<float> sampleStore;  // [channel][TOTAL]
    std::vector<float*> samples;
    std::vector<float> coefficientStore;  // [channel][TOTAL]
    std::vector<float*> coefficients;
    bool ended = false;
    uint64_t framesRead = 0;
  };
  enum class Unit { None, Read, Channel0, Channel1 };

  // The earliest unit that may run now (under `lock`), marked busy; `frame` receives its frame.
  Unit Claim(int64_t* frame);
  // Runs a claimed unit with model set `models` and marks it done (takes and gives back `hold`).
  void Run(Unit unit, int64_t frame, CodingSetup& models, std::unique_lock<std::mutex>& hold);
  // The unit's work proper, outside the lock.
  void RunUnit(Unit unit, Slot& s, CodingSetup& models);
  void Work(int index);
  // Tells the workers to stop and waits for them.
  void StopWorkers();

  SampleSource& source;
  unsigned total;
  unsigned hlsize;
  std::vector<std::unique_ptr<CodingSetup>> modelSets;  // one per thread; [0] the caller's
  std::unique_ptr<FrameTransform> transform;
  float** transformX = nullptr;
  Slot slots[SLOTS];
  std::vector<std::thread> workers;

  std::mutex lock;
  std::condition_variable changed;
  bool stop = false;
  int64_t taken = 0;          // frames handed to the coder; the last one's slot is still in use
  int64_t read = 0;           // frames read
  bool reading = false;
  int64_t lastFrame = -1;     // the last frame to code, once read
  int64_t analysed[STREAM_CHANNELS] = {};  // frames analysed, per channel
  bool analysing[STREAM_CHANNELS] = {};
  bool outOfMemory = false;   // a unit could not get its memory: no more units run
};

}  // namespace ostrel
