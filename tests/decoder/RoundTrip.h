// Helpers for the decoder's end-to-end tests: encode a generated WAV file with the real encoder,
// read decoded WAV files and compare them with their source.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "common/Process.h"
#include "common/TempDir.h"
#include "common/StreamFixture.h"
#include "common/WavFixture.h"

namespace ostrel::test {

inline bool HaveEncoder() { return access(Program("ostrelenc").c_str(), X_OK) == 0; }

// Encodes `wav` into `ost` with the encoder's dialogue answered on its standard input.
inline void Encode(const std::string& wav, const std::string& ost, int row) {
  RunResult r = Run({Program("ostrelenc")}, wav + "\n" + ost + "\n" + std::to_string(row) + "\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
}

inline uint32_t FrameCount(const std::vector<unsigned char>& ost) { return HeaderFrameCount(ost); }

// The interleaved samples of a canonical 16-bit WAV file: the data chunk after its 44-byte header
// (to the end of the file when its size says "to the end of the stream"; a LIST chunk may follow).
inline Stereo WavSamples(const std::string& path) {
  std::vector<unsigned char> bytes = ReadAll(path);
  Stereo samples;
  const uint32_t data = bytes.size() < 44 ? 0 : bytes[40] | bytes[41] << 8 | bytes[42] << 16 | uint32_t{bytes[43]} << 24;
  const size_t end = data == 0xFFFFFFFFu || 44 + size_t{data} > bytes.size() ? bytes.size() : 44 + size_t{data};
  for (size_t i = 44; i + 1 < end; i += 2) {
    samples.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
  }
  return samples;
}

// Signal-to-noise ratio in dB of `decoded` against `source` over the samples both hold; +inf when
// they are equal, -inf for a silent source with a non-silent difference.
inline double SnrDb(const Stereo& source, const Stereo& decoded) {
  const size_t n = source.size() < decoded.size() ? source.size() : decoded.size();
  double signal = 0.0, noise = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double d = static_cast<double>(source[i]) - decoded[i];
    signal += static_cast<double>(source[i]) * source[i];
    noise += d * d;
  }
  if (noise == 0.0) return INFINITY;
  if (signal == 0.0) return -INFINITY;
  return 10.0 * std::log10(signal / noise);
}

}  // namespace ostrel::test
