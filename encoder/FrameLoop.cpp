#include "encoder/FrameLoop.h"

namespace ostrel {

// Until the coding path is in place the run ends after the dialogue: the target stays empty.
int RunFrameLoop(const RunParameters& params, Waveio& in, std::FILE* fptr) {
  (void)params;
  in.CloseWave();
  return std::fclose(fptr) == 0 ? 0 : 1;
}

}  // namespace ostrel
