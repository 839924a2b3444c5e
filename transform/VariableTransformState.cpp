#include "transform/VariableTransformState.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/Fatal.h"
#include "transform/windows.h"

namespace ostrel {

namespace {

// The sine windows of the lengths met so far, computed once per process: every channel of every
// transform of one length reads the same constant table. Entries are only ever added.
const float* SharedSinWin(int length) {
  static std::mutex lock;
  static std::vector<std::pair<int, std::unique_ptr<float[]>>> windows;
  const std::lock_guard<std::mutex> hold(lock);
  for (const auto& [size, window] : windows) {
    if (size == length) return window.get();
  }
  std::unique_ptr<float[]> window(new float[static_cast<size_t>(length)]);
  SinWin(window.get(), length);
  windows.emplace_back(length, std::move(window));  // on bad_alloc the new table is released
  return windows.back().second.get();
}

}  // namespace

VariableTransformState::VariableTransformState() : LLength(0), HLLength(0), SLength(0), HSLength(0) {}

VariableTransformState::VariableTransformState(int Llength, int Slength) { Build(Llength, Slength); }

VariableTransformState::VariableTransformState(const VariableTransformState& in) {
  Build(in.LLength, in.SLength);
}

VariableTransformState::VariableTransformState(VariableTransformState&& in) noexcept
    : Buffer(std::move(in.Buffer)),
      LongWindow(in.LongWindow),
      ShortWindow(in.ShortWindow),
      Work(std::move(in.Work)),
      LLength(in.LLength),
      HLLength(in.HLLength),
      SLength(in.SLength),
      HSLength(in.HSLength) {
  in.Buffer.clear();
  in.LongWindow = in.ShortWindow = nullptr;
  in.Work.clear();
  in.LLength = in.HLLength = in.SLength = in.HSLength = 0;
}

VariableTransformState& VariableTransformState::operator=(const VariableTransformState& in) {
  Build(in.LLength, in.SLength);
  return *this;
}

VariableTransformState::~VariableTransformState() = default;

void VariableTransformState::Build(int Llength, int Slength) {
  // Fresh arrays replace (and release) the old ones; an empty source leaves no arrays behind.
  // Everything that can fail comes before the first member changes.
  std::vector<float> buffer;
  std::vector<float> work;
  const float* longWindow = nullptr;
  const float* shortWindow = nullptr;
  if (Llength != 0) {
    work.assign(static_cast<size_t>(Llength), 0.0f);
    buffer.assign(static_cast<size_t>(Llength / 2), 0.0f);
    longWindow = SharedSinWin(Llength);
    shortWindow = SharedSinWin(Slength);
  }
  LLength = Llength;
  HLLength = Llength / 2;
  SLength = Slength;
  HSLength = Slength / 2;
  Buffer = std::move(buffer);
  LongWindow = longWindow;
  ShortWindow = shortWindow;
  Work = std::move(work);
}

void VariableTransformState::ClearOverlap() { std::fill(Buffer.begin(), Buffer.end(), 0.0f); }

BlockShape VariableTransformState::Shape(int type) const {
  BlockShape shape;
  if (!SelectBlockShape(type, HLLength, HSLength, LongWindow, ShortWindow, &shape)) {
    FatalError("Illegal Window Type\n");
  }
  OSTREL_DASSERT(LLength != 0);
  return shape;
}

}  // namespace ostrel
