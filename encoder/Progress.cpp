#include "encoder/Progress.h"

namespace ostrel {

namespace {
constexpr int SAMPLES_PER_SECOND = 44100;
}

const char* Progress::StartFrame() {
  if (t <= SAMPLES_PER_SECOND) return nullptr;
  ++T;
  t -= SAMPLES_PER_SECOND;
  // The sixteenth is tested only when a second was counted: T changes nowhere else when a
  // sixteenth is at least a second, and a source shorter than 16 seconds (a sixteenth of 0)
  // then gets one mark per counted second rather than one per frame.
  if (static_cast<uint32_t>(T) > sixteenth) {
    T -= static_cast<int>(sixteenth);
    ++percent;
    switch (percent) {
      case 4: return "25%";
      case 8: return "50%";
      case 12: return "75%";
      case 16: return "100%";
      default: return ".";
    }
  }
  return nullptr;
}

}  // namespace ostrel
