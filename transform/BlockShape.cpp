#include "transform/BlockShape.h"

namespace ostrel {

bool SelectBlockShape(int type, int HLLength, int HSLength, const float* LongWindow,
                      const float* ShortWindow, BlockShape* shape) {
  const bool longLeft = type == 0 || type == 1;
  const bool longRight = type == 0 || type == 3;
  if (type < 0 || type > 3) return false;
  shape->left = longLeft ? HLLength : HSLength;
  shape->rising = longLeft ? LongWindow : ShortWindow;
  shape->right = longRight ? HLLength : HSLength;
  shape->falling = longRight ? LongWindow + HLLength : ShortWindow + HSLength;
  return true;
}

}  // namespace ostrel
