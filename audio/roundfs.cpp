#include "audio/roundfs.h"

#include <cmath>

namespace ostrel {

short roundfs(float input) {
  if (std::isnan(input)) return 0;
  float clamped = input;
  if (clamped > 32767.0f) clamped = 32767.0f;
  if (clamped < -32768.0f) clamped = -32768.0f;
  const float whole = std::floor(clamped);
  int result = static_cast<int>(whole);
  if (clamped - whole >= 0.5f) result += 1;
  return static_cast<short>(result);
}

}  // namespace ostrel
