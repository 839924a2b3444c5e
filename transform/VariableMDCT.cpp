#include "transform/VariableMDCT.h"

#include "transform/mdct.h"

namespace ostrel {

void VariableMDCT::Transform(float* x, int type) {
  const BlockShape shape = state.Shape(type);
  for (int i = 0; i < shape.left; ++i) x[i] = state.Buffer[i] * shape.rising[i];
  for (int i = 0; i < shape.right; ++i) {
    state.Buffer[i] = x[shape.left + i];
    x[shape.left + i] = x[shape.left + i] * shape.falling[i];
  }
  mdct(x, shape.left + shape.right, shape.right, 1, state.Work.data());
}

}  // namespace ostrel
