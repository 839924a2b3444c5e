// One FrameTransform::NewFrame at each long-block size, on a steady signal and on one whose every
// frame holds a transient pair.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "analysis/CodingSetup.h"
#include "analysis/FrameTransform.h"
#include "audio/Waveio.h"
#include "platform/StreamConstants.h"

namespace {

constexpr int kFramesInFile = 24;

// Writes a canonical 16-bit stereo WAV of kFramesInFile frames, in the build's bench folder: a
// tone plus noise, and with `clicks` a full-scale click in the middle of every frame.
std::string MakeWav(unsigned total, bool clicks) {
  std::string path = OSTREL_BENCH_DIR "/ostrel-bench-analysis-" + std::to_string(getpid()) + "-" +
                     std::to_string(total) + (clicks ? "-click.wav" : "-steady.wav");
  const uint32_t frames = kFramesInFile * total;
  std::vector<short> samples(2 * static_cast<size_t>(frames));
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> noise(-500.0, 500.0);
  for (uint32_t n = 0; n < frames; ++n) {
    double tone = 8000.0 * std::sin(2.0 * M_PI * 1000.0 * n / ostrel::STREAM_SAMPLE_RATE);
    for (int c = 0; c < 2; ++c) samples[2 * n + c] = static_cast<short>(tone + noise(rng));
    if (clicks && n % total >= total / 2 && n % total < total / 2 + 16) {
      samples[2 * n] = static_cast<short>(n % 2 ? 30000 : -30000);
    }
  }
  // The project's own WAV writer makes the canonical header.
  ostrel::Waveio out(path.c_str(), ostrel::WAVE_WRITE);
  for (uint32_t n = 0; n < frames; ++n) out.IO(&samples[2 * n], &samples[2 * n + 1], 1);
  out.CloseWave();
  return path;
}

void BM_NewFrame(benchmark::State& state) {
  const unsigned lsize = static_cast<unsigned>(state.range(0));
  const bool clicks = state.range(1) != 0;
  const unsigned nblocks = lsize == 512 ? 32 : 16;
  const ostrel::BlockSizes sizes = ostrel::BlockSizes::For(nblocks, lsize);
  const unsigned total = sizes.TOTAL;
  const std::string path = MakeWav(total, clicks);

  ostrel::CodingSetup setup(sizes, nblocks, 1.0f, 0.0f);
  int* switchUsed = setup.SwitchUsed();
  int* location = setup.Location();

  std::unique_ptr<ostrel::Waveio> in;
  std::unique_ptr<ostrel::FrameTransform> transform;
  float** x = nullptr;
  int framesLeft = 0;
  for (auto _ : state) {
    if (framesLeft == 0) {
      state.PauseTiming();
      transform.reset();
      in = std::make_unique<ostrel::Waveio>(path.c_str(), 0);
      transform = setup.MakeTransform(in.get(), &x);
      // The first frame always switches at the onset; skip it so every timed frame is typical.
      transform->NewFrame(switchUsed, location);
      framesLeft = kFramesInFile - 1;
      state.ResumeTiming();
    }
    transform->NewFrame(switchUsed, location);
    benchmark::DoNotOptimize(x[0][0]);
    --framesLeft;
  }
  state.counters["pairs"] = switchUsed[0] + switchUsed[1];
  state.SetItemsProcessed(state.iterations() * total * 2);
  transform.reset();
  in.reset();
  std::remove(path.c_str());
}

BENCHMARK(BM_NewFrame)
    ->ArgNames({"lsize", "transient"})
    ->Args({2048, 0})
    ->Args({2048, 1})
    ->Args({1024, 0})
    ->Args({1024, 1})
    ->Args({512, 0})
    ->Args({512, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
