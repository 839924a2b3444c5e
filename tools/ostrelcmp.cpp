// ostrelcmp: compares a decoded WAV file with its source and prints the signal-to-noise ratio.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/Waveio.h"

namespace {

const char* const USAGE =
    "Usage: ostrelcmp SOURCE.wav DECODED.wav\n"
    "Compares both channels over the length the two files share and prints the signal-to-noise\n"
    "ratio of DECODED against SOURCE in dB (the source's power over the difference's power).\n";

// Sample frames of a 16-bit stereo file.
bool Frames(const ostrel::Waveio& wav, uint32_t* frames) {
  if (wav.Error() != 0 || wav.infochannels() != 2 || wav.inforesolution() != 16) return false;
  *frames = wav.infosamples();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(USAGE, stdout);
    return 0;
  }
  if (argc != 3) {
    std::fputs(USAGE, stderr);
    return 2;
  }
  ostrel::Waveio source(argv[1], ostrel::WAVE_READ), decoded(argv[2], ostrel::WAVE_READ);
  uint32_t sourceFrames = 0, decodedFrames = 0;
  for (int i = 1; i <= 2; ++i) {
    ostrel::Waveio& wav = i == 1 ? source : decoded;
    if (!Frames(wav, i == 1 ? &sourceFrames : &decodedFrames)) {
      std::fprintf(stderr, "ostrelcmp: %s is not a readable 16-bit stereo WAV file\n", argv[i]);
      return 2;
    }
  }
  const uint32_t frames = sourceFrames < decodedFrames ? sourceFrames : decodedFrames;
  constexpr int CHUNK = 4096;  // sample frames per read
  std::vector<short> a1(CHUNK), a2(CHUNK), b1(CHUNK), b2(CHUNK);
  double signal = 0.0, noise = 0.0;
  int peak = 0;
  for (uint32_t done = 0; done < frames;) {
    const int n = static_cast<int>(frames - done < CHUNK ? frames - done : CHUNK);
    source.IO(a1.data(), a2.data(), n);
    decoded.IO(b1.data(), b2.data(), n);
    for (int i = 0; i < n; ++i) {
      const size_t k = static_cast<size_t>(i);
      const int d1 = a1[k] - b1[k], d2 = a2[k] - b2[k];
      signal += double(a1[k]) * a1[k] + double(a2[k]) * a2[k];
      noise += double(d1) * d1 + double(d2) * d2;
      peak = std::abs(d1) > peak ? std::abs(d1) : peak;
      peak = std::abs(d2) > peak ? std::abs(d2) : peak;
    }
    done += static_cast<uint32_t>(n);
  }
  source.CloseWave();
  decoded.CloseWave();
  std::printf("source  %u sample frames (%.3f s)\n", sourceFrames, sourceFrames / 44100.0);
  std::printf("decoded %u sample frames (%.3f s)\n", decodedFrames, decodedFrames / 44100.0);
  if (noise == 0.0) {
    std::printf("SNR     identical over %u sample frames\n", frames);
  } else if (signal == 0.0) {
    std::printf("SNR     -inf dB (silent source), peak difference %d\n", peak);
  } else {
    std::printf("SNR     %.2f dB over %u sample frames, peak difference %d\n", 10.0 * std::log10(signal / noise),
                frames, peak);
  }
  return 0;
}
