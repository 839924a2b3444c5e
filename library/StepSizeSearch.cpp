#include "library/StepSizeSearch.h"

#include "psycho/PsychoTools.h"

namespace ostrel {

void QuantiseCoefficients(float* const* x, float* const* TempData, float STEPS, int channels,
                          unsigned count) {
  const int limit = static_cast<int>(STEPS);
  for (int n = 0; n < channels; ++n) {
    const float* in = x[n];
    float* out = TempData[n];
    for (unsigned k = 0; k < count; ++k) {
      const float scaled = in[k] * STEPS;
      int q = ostrel::round(scaled);
      if (q > limit) q = limit;
      if (q < -limit) q = -limit;
      out[k] = static_cast<float>(q);
    }
  }
}

float CarryOverStep(float STEPS, float OldStep) {
  const float mean = (STEPS + OldStep) / 2.0f;
  return static_cast<float>(ostrel::round(mean));
}

}  // namespace ostrel
