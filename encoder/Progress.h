// The progress display of an encoding run: one mark per sixteenth of the source's length.
#pragma once

#include <cstdint>

namespace ostrel {

// Counts the samples coded and turns them into marks: "." for most sixteenths, "25%", "50%",
// "75%" and "100%" at the quarters, and more dots if the counters run past sixteen. Seconds are
// counted at most one per frame, and only once more than 44100 samples have accumulated, so the
// marks trail the audio slightly; a source shorter than 16 seconds gets a mark per counted second.
class Progress {
 public:
  // `Length` is the source length in whole seconds.
  explicit Progress(uint32_t Length) : sixteenth(Length / 16) {}

  // Called at the start of every frame: advances the second and sixteenth counters and returns
  // the mark to print, or nullptr when there is none this frame.
  const char* StartFrame();

  // Called at the end of every frame with the samples per channel the frame coded.
  void FrameDone(int samples) { t += samples; }

  int Sixteenths() const { return percent; }

 private:
  uint32_t sixteenth;  // whole seconds in a sixteenth of the source
  int t = 0;           // samples into the current second
  int T = 0;           // seconds into the current sixteenth
  int percent = 0;     // sixteenths done
};

}  // namespace ostrel
