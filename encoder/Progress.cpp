#include "encoder/Progress.h"

#include "platform/StreamConstants.h"

namespace ostrel {

const char* Progress::StartFrame() {
  if (t <= static_cast<int>(STREAM_SAMPLE_RATE)) return nullptr;
  ++T;
  t -= static_cast<int>(STREAM_SAMPLE_RATE);
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
