// Run parameters and sources for tests that drive the encoder's frame loop in-process.
#pragma once

#include <cstdint>
#include <string>

#include "common/WavFixture.h"
#include "encoder/Dialogue.h"

namespace ostrel::test {

// The parameters the dialogue derives for `DataRate` and a source of `Length` whole seconds.
inline RunParameters ParametersFor(unsigned char DataRate, uint32_t Length, const std::string& source,
                                   const std::string& target) {
  RunParameters p = DeriveRunParameters(DataRate, Length * 44100u * 4u, 44100);
  p.sourcePath = source;
  p.targetPath = target;
  return p;
}

// Music-like test material: two tones, a little noise, and a click every `clickEvery` sample
// frames alternating between the channels (so frames switch to short blocks).
inline Stereo Material(size_t frames, size_t clickEvery, unsigned seed) {
  Stereo s = Sine(frames, 440.0, 6000.0);
  Stereo high = Sine(frames, 3150.0, 1500.0);
  Stereo noise = Noise(frames, 300.0, seed);
  for (size_t i = 0; i < s.size(); ++i) s[i] = Clip16(double(s[i]) + high[i] + noise[i]);
  for (size_t at = clickEvery / 2, n = 0; at < frames; at += clickEvery, ++n) AddClick(s, at, int(n % 2));
  return s;
}

// Bytes of a file of `frames` frames of `frameBits` bits after the 30-byte header: the bit writer
// moves whole 32-bit words and its final word always follows, four zero bytes when nothing is pending.
inline size_t ExpectedFileSize(uint64_t frames, uint64_t frameBits, size_t headerBytes = 30) {
  return headerBytes + 4 * static_cast<size_t>(frames * frameBits / 32 + 1);
}

}  // namespace ostrel::test
