#include "transform/VariableIMDCT.h"

#include "transform/mdct.h"

namespace ostrel {

void VariableIMDCT::Transform(float* x, int type) {
  const BlockShape shape = state.Shape(type);
  mdct(x, shape.left + shape.right, shape.right, -1, state.Work.data());
  for (int i = 0; i < shape.left; ++i) x[i] = x[i] * shape.rising[i] + state.Buffer[i];
  for (int i = 0; i < shape.right; ++i) {
    x[shape.left + i] = x[shape.left + i] * shape.falling[i];
    state.Buffer[i] = x[shape.left + i];
  }
}

}  // namespace ostrel
