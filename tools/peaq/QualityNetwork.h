// The quality meter's neural network: from the eleven model output variables to the distortion
// index and the objective difference grade (0 imperceptible .. -4 very annoying).
#pragma once

#include "tools/peaq/ModelOutputs.h"

namespace ostrel::peaq {

struct Grade {
  double di = 0.0;   // distortion index: the network's output before the final mapping
  double odg = 0.0;  // objective difference grade, -3.98 .. +0.22
};

// Each variable is scaled by its published range, through three sigmoid units to the distortion
// index, and the grade is -3.98 + 4.2 * sigmoid(DI). The variables are not clipped to their
// ranges: the published method does not clip them and the output sigmoid bounds the grade anyway.
Grade NetworkGrade(const Movs& movs);

}  // namespace ostrel::peaq
