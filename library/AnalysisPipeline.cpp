#include "library/AnalysisPipeline.h"

#include <algorithm>
#include <new>

namespace ostrel {

AnalysisPipeline::AnalysisPipeline(const FrameGeometry& geometry, FrameAnalyser& work, int threads)
    : analyser(work), total(geometry.TOTAL), hlsize(geometry.HLSIZE) {
  try {
    for (int t = 1; t < ThreadsUsed(threads); ++t) workers.emplace_back([this, t] { Work(t); });
  } catch (...) {
    // No destructor runs for a half-built object: the threads already started are stopped here.
    StopWorkers();
    throw;
  }
}

AnalysisPipeline::~AnalysisPipeline() { StopWorkers(); }

void AnalysisPipeline::StopWorkers() {
  {
    std::lock_guard<std::mutex> hold(lock);
    stop = true;
  }
  changed.notify_all();
  for (std::thread& w : workers) w.join();
}

AnalysisPipeline::Unit AnalysisPipeline::Claim(int64_t* frame) {
  if (outOfMemory) return Unit::None;
  // Channel analyses first, the earlier frame first: they are what the coder waits for.
  int best = -1;
  for (int c = 0; c < static_cast<int>(STREAM_CHANNELS); ++c) {
    if (analysing[c] || analysed[c] >= read) continue;
    if (best < 0 || analysed[c] < analysed[best]) best = c;
  }
  if (best >= 0) {
    analysing[best] = true;
    *frame = analysed[best];
    return best == 0 ? Unit::Channel0 : Unit::Channel1;
  }
  // A read needs a free slot (the one the coder holds is not), and none past the last frame
  // unless the coder asks for it.
  const int64_t held = taken > 0 ? taken - 1 : 0;
  if (taken > 0 && !reading && read < held + SLOTS && (lastFrame < 0 || read <= std::max(lastFrame, taken - 1))) {
    reading = true;
    *frame = read;
    return Unit::Read;
  }
  return Unit::None;
}

void AnalysisPipeline::Run(Unit unit, int64_t frame, int thread, std::unique_lock<std::mutex>& hold) {
  const int slot = static_cast<int>(frame % SLOTS);
  Slot& s = slots[slot];
  hold.unlock();
  try {
    if (unit == Unit::Read) {
      s.ended = analyser.Read(slot, &s.framesRead);
    } else {
      analyser.AnalyseChannel(slot, unit == Unit::Channel0 ? 0 : 1, thread);
    }
  } catch (const std::bad_alloc&) {
    // Nothing may leave a worker thread; the coder learns of it at its next Take.
    hold.lock();
    outOfMemory = true;
    changed.notify_all();
    return;
  }
  hold.lock();
  if (unit == Unit::Read) {
    reading = false;
    ++read;
    // The frame in which the source ends, or the one after when the last samples need its overlap.
    if (lastFrame < 0 && s.ended && static_cast<uint64_t>(frame + 1) * total >= s.framesRead + hlsize) lastFrame = frame;
  } else {
    const unsigned c = unit == Unit::Channel0 ? 0 : 1;
    analysing[c] = false;
    ++analysed[c];
  }
  changed.notify_all();
}

void AnalysisPipeline::Work(int index) {
  std::unique_lock<std::mutex> hold(lock);
  while (!stop) {
    int64_t frame = 0;
    const Unit unit = Claim(&frame);
    if (unit == Unit::None) {
      changed.wait(hold);
    } else {
      Run(unit, frame, index, hold);
    }
  }
}

AnalysisPipeline::Frame AnalysisPipeline::Take() {
  std::unique_lock<std::mutex> hold(lock);
  const int64_t wanted = taken++;
  changed.notify_all();  // the slot given back may take a read
  while (analysed[0] <= wanted || analysed[1] <= wanted) {
    if (outOfMemory) throw std::bad_alloc();
    int64_t frame = 0;
    const Unit unit = Claim(&frame);
    if (unit == Unit::None) {
      changed.wait(hold);
    } else {
      Run(unit, frame, 0, hold);
    }
  }
  const int slot = static_cast<int>(wanted % SLOTS);
  return Frame{slot, slots[slot].ended, slots[slot].framesRead};
}

}  // namespace ostrel
