// Whole-file encoding speed: a generated 60-second stereo signal, music-like (a few tones with a
// slow swell, noise, a click now and then), encoded at 128 and at 256 kb/s. Reports the speed as
// a multiple of real time and the average number of step sizes the search tries per frame.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "audio/Waveio.h"
#include "encoder/Dialogue.h"
#include "library/FrameEncoder.h"
#include "platform/StreamConstants.h"

namespace {

using namespace ostrel;

constexpr int kSeconds = 60;
constexpr int kRate = static_cast<int>(ostrel::STREAM_SAMPLE_RATE);

// The generated source as a WAV file in the build's bench folder, removed again with the object.
class Source {
 public:
  Source() : path(OSTREL_BENCH_DIR "/ostrel-bench-encoder-" + std::to_string(getpid()) + ".wav") { Write(path); }
  ~Source() { std::remove(path.c_str()); }
  const std::string path;

 private:
  static void Write(const std::string& p) {
    const uint32_t frames = kSeconds * kRate;
    // The project's own WAV writer makes the canonical header.
    ostrel::Waveio out(p.c_str(), ostrel::WAVE_WRITE);
    std::mt19937 rng(2024);
    std::normal_distribution<double> noise(0.0, 400.0);
    const double tones[] = {110.0, 220.0, 277.2, 329.6, 440.0, 1318.5, 3520.0};
    const double levels[] = {3000, 4000, 2500, 2500, 2000, 800, 300};
    for (uint32_t n = 0; n < frames; ++n) {
      const double time = static_cast<double>(n) / kRate;
      const double swell = 0.6 + 0.4 * std::sin(2.0 * M_PI * 0.25 * time);
      double left = 0.0, right = 0.0;
      for (int k = 0; k < 7; ++k) {
        const double v = levels[k] * std::sin(2.0 * M_PI * tones[k] * time + k);
        left += v * swell;
        right += v * (k % 2 == 0 ? 1.0 : swell);
      }
      left += noise(rng);
      right += noise(rng);
      // A sharp click about every 0.7 s, alternating between the channels.
      const uint32_t phase = n % 30870;
      if (phase < 12) ((n / 30870) % 2 == 0 ? left : right) += (phase % 2 == 0 ? 20000.0 : -20000.0);
      short first = static_cast<short>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, left))));
      short second = static_cast<short>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, right))));
      out.IO(&first, &second, 1);
    }
    out.CloseWave();
  }
};

// The stream's bytes into a file, as a program writes them.
class FileBytes final : public ByteSink {
 public:
  explicit FileBytes(std::FILE* file) : file_(file) {}
  bool Put(const unsigned char* data, std::size_t bytes) override { return std::fwrite(data, 1, bytes, file_) == bytes; }

 private:
  std::FILE* file_;
};

void BM_EncodeSixtySeconds(benchmark::State& state) {
  const auto DataRate = static_cast<unsigned char>(state.range(0));
  const Source generated;
  const std::string& source = generated.path;
  const std::string target = source + "." + std::to_string(DataRate) + ".ost";
  RunParameters params = DeriveRunParameters(DataRate, kSeconds * kRate * 4, kRate);
  params.sourcePath = source;
  params.targetPath = target;
  int64_t frames = 0, evaluations = 0;
  for (auto _ : state) {
    Waveio in(source.c_str(), 0);
    std::FILE* fptr = std::fopen(target.c_str(), "wb");
    {
      FileBytes sink(fptr);
      FrameEncoder encoder(params.DataRate, in, &sink);
      encoder.WriteHeader();
      bool ended = false;
      while (!ended) {
        ended = encoder.EncodeFrame().inputEnded;
        ++frames;
        evaluations += encoder.LastEvaluations();
      }
      encoder.FlushBits();
    }
    in.CloseWave();
    std::fclose(fptr);
  }
  std::remove(target.c_str());
  state.counters["x_real_time"] =
      benchmark::Counter(static_cast<double>(kSeconds) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["steps_per_frame"] = static_cast<double>(evaluations) / static_cast<double>(frames);
  state.SetLabel(std::to_string(DataRate * 2) + " kb/s");
}

// Rate codes 64 (128 kb/s) and 128 (256 kb/s).
BENCHMARK(BM_EncodeSixtySeconds)->Arg(64)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
