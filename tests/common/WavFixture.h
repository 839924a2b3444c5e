// Test signals and canonical 44-byte WAV files made by the tests themselves.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "platform/ByteOrder.h"

namespace ostrel::test {

// Interleaved 16-bit stereo samples: first, second, first, second, ...
using Stereo = std::vector<int16_t>;

// Appends the low `bytes` bytes of `value`, least significant first (the product's helper).
using ostrel::AppendLE;
inline void PutLE(std::vector<unsigned char>& out, uint32_t value, int bytes) { AppendLE(out, value, bytes); }

// The bytes of a canonical WAV file (RIFF, 16-byte fmt chunk, data chunk) holding `samples`.
inline std::vector<unsigned char> WavBytes(const std::vector<int16_t>& samples, uint16_t channels = 2,
                                           uint32_t rate = 44100, uint16_t bits = 16) {
  std::vector<unsigned char> out;
  const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  PutLE(out, 36 + dataBytes, 4);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  PutLE(out, 16, 4);
  PutLE(out, 1, 2);
  PutLE(out, channels, 2);
  PutLE(out, rate, 4);
  PutLE(out, rate * channels * bits / 8, 4);
  PutLE(out, channels * bits / 8, 2);
  PutLE(out, bits, 2);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  PutLE(out, dataBytes, 4);
  for (int16_t s : samples) PutLE(out, static_cast<uint16_t>(s), 2);
  return out;
}

inline void WriteWav(const std::string& path, const std::vector<int16_t>& samples, uint16_t channels = 2,
                     uint32_t rate = 44100) {
  WriteAll(path, WavBytes(samples, channels, rate));
}

inline int16_t Clip16(double v) {
  if (v > 32767.0) return 32767;
  if (v < -32768.0) return -32768;
  return static_cast<int16_t>(std::lround(v));
}

// A sine of `hz` at `amplitude` (16-bit scale) in both channels, `frames` sample frames long.
inline Stereo Sine(size_t frames, double hz, double amplitude, double rate = 44100.0) {
  Stereo s(frames * 2);
  for (size_t n = 0; n < frames; ++n) {
    int16_t v = Clip16(amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(n) / rate));
    s[2 * n] = v;
    s[2 * n + 1] = v;
  }
  return s;
}

// Uniform white noise of the given peak, independent in the two channels; fixed seed.
inline Stereo Noise(size_t frames, double peak, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> dist(-peak, peak);
  Stereo s(frames * 2);
  for (auto& v : s) v = Clip16(dist(rng));
  return s;
}

inline Stereo Silence(size_t frames) { return Stereo(frames * 2, 0); }

// Sets a short full-scale click of `width` sample frames at frame `at` in one channel (0 first, 1 second).
inline void AddClick(Stereo& s, size_t at, int channel, size_t width = 16) {
  for (size_t n = at; n < at + width && n * 2 + 1 < s.size(); ++n) {
    s[2 * n + static_cast<size_t>(channel)] = static_cast<int16_t>((n - at) % 2 == 0 ? 30000 : -30000);
  }
}

}  // namespace ostrel::test
