// Where the decoder's frame synthesis hands its samples: a WAV file or the sound card (Waveio),
// or nothing when the caller takes them from the synthesis' own output buffers.
#pragma once

namespace ostrel {

class SampleSink {
 public:
  virtual ~SampleSink() = default;
  // Takes the next `size` sample frames from `right` (the first sample of each pair) and `left`,
  // floats on the 16-bit scale. The sink may overwrite the caller's values (a sum/difference
  // writer does). Returns 0; a sink keeps its own errors.
  virtual int Write(float* right, float* left, int size) = 0;
};

}  // namespace ostrel
