// What tests may set on a libostrel encoder beyond its public interface.
#pragma once

#include "ostrel/ostrel.h"

namespace ostrel {

// Replaces the frame budget the encoder codes to (FrameEncoder::SetBudget), so that a test can make
// a frame that does not fit. Before the first samples only.
void SetFrameBudget(ostrel_encoder* enc, int bits);

}  // namespace ostrel
