#include "encoder/FrameLoop.h"

#include <utility>

#include "encoder/FrameEncoder.h"

namespace ostrel {

int RunFrameLoop(const RunParameters& params, Waveio& in, FileHandle fptr) {
  return EncodeFrames(params, in, std::move(fptr));
}

}  // namespace ostrel
