// ostrelgen: writes a generated 16-bit stereo 44100 Hz test signal as a WAV file.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/Waveio.h"
#include "platform/Arguments.h"

namespace {

constexpr double RATE = 44100.0;  // samples per second
constexpr double PI = 3.14159265358979323846;

const char* const USAGE =
    "Usage: ostrelgen OUT.wav [SECONDS] [SIGNAL]\n"
    "  SECONDS  length, default 10 (fractions allowed)\n"
    "  SIGNAL   mix (default): tones, a sweep, noise and clicks; or tone, noise, silence, clicks\n";

// A small deterministic generator, so every run writes the same file.
class Noise {
 public:
  explicit Noise(uint32_t seed) : state_(seed) {}
  double Next() {  // uniform in [-1, 1)
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<double>(state_ >> 8) / 8388608.0 - 1.0;
  }

 private:
  uint32_t state_;
};

short Clip(double v) {
  if (v > 32767.0) return 32767;
  if (v < -32768.0) return -32768;
  return static_cast<short>(std::lround(v));
}

// One sample of each channel at sample index n.
void Sample(const std::string& kind, long n, Noise& noise, double& first, double& second) {
  const double t = static_cast<double>(n) / RATE;
  first = second = 0.0;
  if (kind == "silence") return;
  if (kind == "tone") {
    first = second = 12000.0 * std::sin(2.0 * PI * 1000.0 * t);
    return;
  }
  if (kind == "noise") {
    first = 8000.0 * noise.Next();
    second = 8000.0 * noise.Next();
    return;
  }
  // Clicks: a sharp pulse decaying within a millisecond every 0.75 s, alternating between the
  // channels: broadband, so it sets off block switching and is audible across the spectrum.
  const long clickPeriod = static_cast<long>(0.75 * RATE);
  const long inPeriod = n % clickPeriod;
  const bool clickInFirst = (n / clickPeriod) % 2 == 0;
  double click = 0.0;
  if (inPeriod < 48) click = 28000.0 * std::exp(-static_cast<double>(inPeriod) / 6.0);
  if (kind == "clicks") {
    (clickInFirst ? first : second) = click;
    return;
  }
  // mix: a chord with a slow tremolo, a rising sweep, quiet noise and the clicks.
  const double tremolo = 0.75 + 0.25 * std::sin(2.0 * PI * 0.5 * t);
  const double chord = 4000.0 * std::sin(2.0 * PI * 220.0 * t) + 2500.0 * std::sin(2.0 * PI * 554.37 * t) +
                       1500.0 * std::sin(2.0 * PI * 1318.5 * t);
  const double sweepHz = 200.0 + 800.0 * t;  // instantaneous frequency rises by 1600 Hz per second
  const double sweep = 1500.0 * std::sin(2.0 * PI * (200.0 * t + 400.0 * t * t)) * (sweepHz < 12000.0 ? 1.0 : 0.0);
  first = tremolo * chord + sweep + 300.0 * noise.Next();
  second = tremolo * 0.8 * chord - sweep + 300.0 * noise.Next();
  (clickInFirst ? first : second) += click;
}

}  // namespace

int main(int argc, char** argv) {
  ostrel::UseUtf8Arguments(argc, argv);
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(USAGE, stdout);
    return 0;
  }
  if (argc < 2 || argc > 4) {
    std::fputs(USAGE, stderr);
    return 2;
  }
  const std::string out = argv[1];
  double seconds = 10.0;
  if (argc >= 3) {
    char* end = nullptr;
    seconds = std::strtod(argv[2], &end);
    if (end == argv[2] || *end != '\0' || !(seconds >= 0.0) || seconds > 3600.0) {
      std::fprintf(stderr, "ostrelgen: bad length %s (seconds, 0 to 3600)\n", argv[2]);
      return 2;
    }
  }
  const std::string kind = argc >= 4 ? argv[3] : "mix";
  if (kind != "mix" && kind != "tone" && kind != "noise" && kind != "silence" && kind != "clicks") {
    std::fprintf(stderr, "ostrelgen: unknown signal %s\n%s", kind.c_str(), USAGE);
    return 2;
  }

  ostrel::Waveio wav(out.c_str(), ostrel::WAVE_WRITE);
  if (wav.Error() != 0) {
    std::fprintf(stderr, "ostrelgen: cannot create %s\n", out.c_str());
    return 1;
  }
  const long total = std::lround(seconds * RATE);
  constexpr int CHUNK = 4096;  // sample frames per write
  std::vector<short> first(CHUNK), second(CHUNK);
  Noise noise(12345u);
  for (long done = 0; done < total;) {
    const int n = static_cast<int>(total - done < CHUNK ? total - done : CHUNK);
    for (int i = 0; i < n; ++i) {
      double a = 0.0, b = 0.0;
      Sample(kind, done + i, noise, a, b);
      first[static_cast<size_t>(i)] = Clip(a);
      second[static_cast<size_t>(i)] = Clip(b);
    }
    wav.IO(first.data(), second.data(), n);
    done += n;
  }
  wav.CloseWave();  // patches the lengths, flushes and closes
  if (wav.Error() != 0) {
    std::fprintf(stderr, "ostrelgen: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}
