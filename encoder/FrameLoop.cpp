#include "encoder/FrameLoop.h"

#include "encoder/FrameEncoder.h"

namespace ostrel {

int RunFrameLoop(const RunParameters& params, Waveio& in, std::FILE* fptr) {
  return EncodeFrames(params, in, fptr);
}

}  // namespace ostrel
