#include "transform/VariableIMDCT.h"

#include <utility>

#include "platform/Fatal.h"
#include "transform/BlockShape.h"
#include "transform/mdct.h"
#include "transform/windows.h"

namespace ostrel {

VariableIMDCT::VariableIMDCT() : LLength(0), HLLength(0), SLength(0), HSLength(0) {}

VariableIMDCT::VariableIMDCT(int Llength, int Slength) { Build(Llength, Slength); }

VariableIMDCT::VariableIMDCT(const VariableIMDCT& in) { Build(in.LLength, in.SLength); }

VariableIMDCT::VariableIMDCT(VariableIMDCT&& in) noexcept
    : Buffer(std::move(in.Buffer)),
      LongWindow(std::move(in.LongWindow)),
      ShortWindow(std::move(in.ShortWindow)),
      LLength(in.LLength),
      HLLength(in.HLLength),
      SLength(in.SLength),
      HSLength(in.HSLength) {
  in.Buffer.clear();
  in.LongWindow.clear();
  in.ShortWindow.clear();
  in.LLength = in.HLLength = in.SLength = in.HSLength = 0;
}

VariableIMDCT& VariableIMDCT::operator=(const VariableIMDCT& in) {
  Build(in.LLength, in.SLength);
  return *this;
}

VariableIMDCT::~VariableIMDCT() = default;

void VariableIMDCT::Build(int Llength, int Slength) {
  LLength = Llength;
  HLLength = Llength / 2;
  SLength = Slength;
  HSLength = Slength / 2;
  // Fresh arrays replace (and release) the old ones; an empty source leaves no arrays behind.
  std::vector<float> buffer;
  std::vector<float> longWindow;
  std::vector<float> shortWindow;
  if (LLength != 0) {
    buffer.assign(HLLength, 0.0f);
    longWindow.resize(LLength);
    shortWindow.resize(SLength);
    SinWin(longWindow.data(), LLength);
    SinWin(shortWindow.data(), SLength);
  }
  Buffer = std::move(buffer);
  LongWindow = std::move(longWindow);
  ShortWindow = std::move(shortWindow);
}

void VariableIMDCT::Transform(float* x, int type) {
  BlockShape shape;
  if (!SelectBlockShape(type, HLLength, HSLength, LongWindow.data(), ShortWindow.data(), &shape)) {
    FatalError("Illegal Window Type\n");
  }
  OSTREL_DASSERT(LLength != 0);
  mdct(x, shape.left + shape.right, shape.right, -1);
  for (int i = 0; i < shape.left; ++i) x[i] = x[i] * shape.rising[i] + Buffer[i];
  for (int i = 0; i < shape.right; ++i) {
    x[shape.left + i] = x[shape.left + i] * shape.falling[i];
    Buffer[i] = x[shape.left + i];
  }
}

}  // namespace ostrel
