#include "transform/VariableIMDCT.h"

#include "platform/FloatKernels.h"
#include "transform/mdct.h"

namespace ostrel {

void VariableIMDCT::Transform(float* x, int type) {
  const BlockShape shape = state.Shape(type);
  mdct(x, shape.left + shape.right, shape.right, -1, state.Work.data());
  WindowAdd(x, shape.rising, state.Buffer.data(), static_cast<std::size_t>(shape.left));
  WindowCopy(x + shape.left, shape.falling, state.Buffer.data(), static_cast<std::size_t>(shape.right));
}

}  // namespace ostrel
