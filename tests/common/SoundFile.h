// Sound files of every kind the encoder reads, written by the tests with libsndfile, and the
// libsoxr conversion the encoder's reader is held against. Only for test targets that link
// libsndfile and libsoxr (OSTREL_TEST_HAVE_SNDFILE).
#pragma once

#include <sndfile.h>
#include <soxr.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace ostrel::test {

// Interleaved float samples on the file's scale (-1..1), `channels` per frame.
struct Sound {
  int rate = 44100;
  int channels = 2;
  std::vector<float> samples;
  size_t frames() const { return samples.size() / static_cast<size_t>(channels); }
};

// Seeded noise and a tone in every channel (each channel its own tone), peak about `peak`.
inline Sound TestSound(size_t frames, int rate, int channels, double peak = 0.5, unsigned seed = 7) {
  Sound s;
  s.rate = rate;
  s.channels = channels;
  s.samples.resize(frames * static_cast<size_t>(channels));
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> noise(-0.2, 0.2);
  for (size_t n = 0; n < frames; ++n) {
    for (int c = 0; c < channels; ++c) {
      const double tone = std::sin(2.0 * M_PI * (330.0 + 110.0 * c) * static_cast<double>(n) / rate);
      s.samples[n * static_cast<size_t>(channels) + static_cast<size_t>(c)] =
          static_cast<float>(peak * (0.8 * tone + noise(gen)));
    }
  }
  return s;
}

// Writes `sound` as `format` (SF_FORMAT_* major | sub-format); false when libsndfile refuses.
inline bool WriteSound(const std::string& path, const Sound& sound, int format) {
  SF_INFO info{};
  info.samplerate = sound.rate;
  info.channels = sound.channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f == nullptr) return false;
  const sf_count_t frames = static_cast<sf_count_t>(sound.frames());
  const bool ok = sf_writef_float(f, sound.samples.data(), frames) == frames;
  return sf_close(f) == 0 && ok;
}

// What libsndfile reads back from `path`, interleaved floats on the file's scale.
inline Sound ReadSound(const std::string& path) {
  Sound s;
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) return s;
  s.rate = info.samplerate;
  s.channels = info.channels;
  s.samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
  const sf_count_t got = sf_readf_float(f, s.samples.data(), info.frames);
  s.samples.resize(static_cast<size_t>(got > 0 ? got : 0) * static_cast<size_t>(info.channels));
  sf_close(f);
  return s;
}

// Stereo `sound` (its first two channels, or its one channel twice) resampled to 44100 Hz by
// libsoxr in one go at the very-high-quality setting, on the 16-bit scale: what the encoder's
// reader must deliver for it.
inline std::vector<float> SoxrReference(const Sound& sound) {
  const size_t frames = sound.frames();
  std::vector<float> stereo(2 * frames);
  for (size_t n = 0; n < frames; ++n) {
    const float* s = sound.samples.data() + n * static_cast<size_t>(sound.channels);
    stereo[2 * n] = s[0] * 32768.0f;
    stereo[2 * n + 1] = (sound.channels > 1 ? s[1] : s[0]) * 32768.0f;
  }
  if (sound.rate == 44100) return stereo;
  const size_t outFrames = static_cast<size_t>(static_cast<double>(frames) * 44100.0 / sound.rate + 1.0);
  std::vector<float> out(2 * outFrames);
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
  size_t done = 0;
  soxr_oneshot(sound.rate, 44100, 2, stereo.data(), frames, nullptr, out.data(), outFrames, &done, &io, &quality,
               nullptr);
  out.resize(2 * done);
  return out;
}

}  // namespace ostrel::test
