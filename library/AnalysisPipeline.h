// The encoder's analysis on several threads: frames read ahead into a small ring of slots, each
// channel of each frame analysed by whichever thread is free, and the frames handed to the coding
// thread in order. What a read and a channel's analysis do is the FrameAnalyser's; the pipeline
// only schedules them. A channel's frames are analysed one at a time and in order, so an
// analyser that carries state from frame to frame per channel gives the same frames for any
// number of threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "format/FrameGeometry.h"
#include "platform/StreamConstants.h"

namespace ostrel {

// The work of the pipeline, on frames held in AnalysisPipeline::SLOTS slots taken in turn.
class FrameAnalyser {
 public:
  virtual ~FrameAnalyser() = default;
  // Reads the source's next frame into `slot`; returns whether the read reported the end of the
  // source, and sets *framesRead to the source's FramesRead() after it. Reads come one at a time.
  virtual bool Read(int slot, uint64_t* framesRead) = 0;
  // Analyses channel c of the frame in `slot` on thread `thread` (0 .. threads used - 1; 0 is
  // the coding thread). The frame has been read; the other channel may be analysed meanwhile.
  virtual void AnalyseChannel(int slot, unsigned c, int thread) = 0;
};

class AnalysisPipeline {
 public:
  // One analysed frame, valid until the next Take.
  struct Frame {
    int slot;                    // where the analyser holds it
    bool ended;                  // the read of this frame reported the end of the source
    uint64_t framesRead;         // the source's FramesRead() after this frame's read
  };

  // Frames past the one being coded that the source may have been read for: while the coder
  // holds frame n (from its Take until the next), frames up to n + FRAMES_AHEAD may be read.
  // Nothing is read before the first Take.
  static constexpr int FRAMES_AHEAD = 3;
  // The frame being coded and those read ahead of it.
  static constexpr int SLOTS = FRAMES_AHEAD + 1;
  // Threads that take part for a request of `threads` (2 or more): two channel analyses, a read
  // and the coding at the most.
  static int ThreadsUsed(int threads) { return threads < 2 ? 2 : threads > 4 ? 4 : threads; }

  // Runs `work` (borrowed; it must outlive the pipeline) for frames of the geometry on
  // ThreadsUsed(threads) threads, the calling thread of Take being one of them.
  AnalysisPipeline(const FrameGeometry& geometry, FrameAnalyser& work, int threads);
  ~AnalysisPipeline();
  AnalysisPipeline(const AnalysisPipeline&) = delete;
  AnalysisPipeline& operator=(const AnalysisPipeline&) = delete;

  // Gives back the frame of the previous Take and returns the next frame in order, helping with
  // the analysis while it waits. Allocates nothing itself; throws std::bad_alloc when a unit of
  // work on any thread ran out of memory, and from then on at every call.
  Frame Take();

 private:
  struct Slot {
    bool ended = false;
    uint64_t framesRead = 0;
  };
  enum class Unit { None, Read, Channel0, Channel1 };

  // The earliest unit that may run now (under `lock`), marked busy; `frame` receives its frame.
  Unit Claim(int64_t* frame);
  // Runs a claimed unit on thread `thread` and marks it done (takes and gives back `hold`).
  void Run(Unit unit, int64_t frame, int thread, std::unique_lock<std::mutex>& hold);
  void Work(int index);
  // Tells the workers to stop and waits for them.
  void StopWorkers();

  FrameAnalyser& analyser;
  unsigned total;
  unsigned hlsize;
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
