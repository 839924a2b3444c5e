#include "transform/VariableMDCT.h"

#include <utility>

#include "platform/Fatal.h"
#include "transform/BlockShape.h"
#include "transform/mdct.h"
#include "transform/windows.h"

namespace ostrel {

VariableMDCT::VariableMDCT() : LLength(0), HLLength(0), SLength(0), HSLength(0) {}

VariableMDCT::VariableMDCT(int Llength, int Slength) { Build(Llength, Slength); }

VariableMDCT::VariableMDCT(const VariableMDCT& in) { Build(in.LLength, in.SLength); }

VariableMDCT::VariableMDCT(VariableMDCT&& in) noexcept
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

VariableMDCT& VariableMDCT::operator=(const VariableMDCT& in) {
  Build(in.LLength, in.SLength);
  return *this;
}

VariableMDCT::~VariableMDCT() = default;

void VariableMDCT::Build(int Llength, int Slength) {
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

void VariableMDCT::Transform(float* x, int type) {
  BlockShape shape;
  if (!SelectBlockShape(type, HLLength, HSLength, LongWindow.data(), ShortWindow.data(), &shape)) {
    FatalError("Illegal Window Type\n");
  }
  OSTREL_DASSERT(LLength != 0);
  for (int i = 0; i < shape.left; ++i) x[i] = Buffer[i] * shape.rising[i];
  for (int i = 0; i < shape.right; ++i) {
    Buffer[i] = x[shape.left + i];
    x[shape.left + i] = x[shape.left + i] * shape.falling[i];
  }
  mdct(x, shape.left + shape.right, shape.right, 1);
}

}  // namespace ostrel
