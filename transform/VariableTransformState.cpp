#include "transform/VariableTransformState.h"

#include <utility>

#include "platform/Fatal.h"
#include "transform/windows.h"

namespace ostrel {

VariableTransformState::VariableTransformState() : LLength(0), HLLength(0), SLength(0), HSLength(0) {}

VariableTransformState::VariableTransformState(int Llength, int Slength) { Build(Llength, Slength); }

VariableTransformState::VariableTransformState(const VariableTransformState& in) {
  Build(in.LLength, in.SLength);
}

VariableTransformState::VariableTransformState(VariableTransformState&& in) noexcept
    : Buffer(std::move(in.Buffer)),
      LongWindow(std::move(in.LongWindow)),
      ShortWindow(std::move(in.ShortWindow)),
      Work(std::move(in.Work)),
      LLength(in.LLength),
      HLLength(in.HLLength),
      SLength(in.SLength),
      HSLength(in.HSLength) {
  in.Buffer.clear();
  in.LongWindow.clear();
  in.ShortWindow.clear();
  in.Work.clear();
  in.LLength = in.HLLength = in.SLength = in.HSLength = 0;
}

VariableTransformState& VariableTransformState::operator=(const VariableTransformState& in) {
  Build(in.LLength, in.SLength);
  return *this;
}

VariableTransformState::~VariableTransformState() = default;

void VariableTransformState::Build(int Llength, int Slength) {
  LLength = Llength;
  HLLength = Llength / 2;
  SLength = Slength;
  HSLength = Slength / 2;
  // Fresh arrays replace (and release) the old ones; an empty source leaves no arrays behind.
  std::vector<float> buffer;
  std::vector<float> longWindow;
  std::vector<float> shortWindow;
  std::vector<float> work;
  if (LLength != 0) {
    work.assign(LLength, 0.0f);
    buffer.assign(HLLength, 0.0f);
    longWindow.resize(LLength);
    shortWindow.resize(SLength);
    SinWin(longWindow.data(), LLength);
    SinWin(shortWindow.data(), SLength);
  }
  Buffer = std::move(buffer);
  LongWindow = std::move(longWindow);
  ShortWindow = std::move(shortWindow);
  Work = std::move(work);
}

BlockShape VariableTransformState::Shape(int type) const {
  BlockShape shape;
  if (!SelectBlockShape(type, HLLength, HSLength, LongWindow.data(), ShortWindow.data(), &shape)) {
    FatalError("Illegal Window Type\n");
  }
  OSTREL_DASSERT(LLength != 0);
  return shape;
}

}  // namespace ostrel
