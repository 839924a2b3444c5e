// Where the encoder's frame transform takes its samples from: a WAV file (Waveio) or the
// library's buffer of samples pushed by a caller.
#pragma once

#include <cstdint>

namespace ostrel {

class SampleSource {
 public:
  virtual ~SampleSource() = default;
  // Stores the next `size` sample frames in `right` (the first sample of each pair) and `left`, as
  // floats on the 16-bit scale. Returns 1 when the read ran into the end of the input (the missing
  // samples are 0, and every later call gives zeros and 1), else 0. The end is noticed only by a
  // read past the last sample: a read that ends exactly on it returns 0.
  virtual int Read(float* right, float* left, int size) = 0;
  // Sample frames of real input Read has delivered so far (the zeros after the end not counted;
  // a pair cut in half by the end counts).
  virtual uint64_t FramesRead() const = 0;
};

}  // namespace ostrel
