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

#include "analysis/FrameTransform.h"
#include "audio/Waveio.h"
#include "psycho/Psycho.h"

namespace {

constexpr int kFramesInFile = 24;

// Writes a canonical 16-bit stereo WAV of kFramesInFile frames, in the build's bench folder: a
// tone plus noise, and with `clicks` a full-scale click in the middle of every frame.
std::string MakeWav(unsigned total, bool clicks) {
  std::string path = OSTREL_BENCH_DIR "/ostrel-bench-analysis-" + std::to_string(getpid()) + "-" +
                     std::to_string(total) + (clicks ? "-click.wav" : "-steady.wav");
  const uint32_t frames = kFramesInFile * total;
  std::vector<int16_t> samples(2 * static_cast<size_t>(frames));
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> noise(-500.0, 500.0);
  for (uint32_t n = 0; n < frames; ++n) {
    double tone = 8000.0 * std::sin(2.0 * M_PI * 1000.0 * n / 44100.0);
    for (int c = 0; c < 2; ++c) samples[2 * n + c] = static_cast<int16_t>(tone + noise(rng));
    if (clicks && n % total >= total / 2 && n % total < total / 2 + 16) {
      samples[2 * n] = static_cast<int16_t>(n % 2 ? 30000 : -30000);
    }
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  auto put = [f](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) std::fputc(static_cast<int>((v >> (8 * i)) & 0xFF), f);
  };
  const uint32_t dataBytes = frames * 4;
  std::fputs("RIFF", f);
  put(36 + dataBytes, 4);
  std::fputs("WAVEfmt ", f);
  put(16, 4);
  put(1, 2);
  put(2, 2);
  put(44100, 4);
  put(176400, 4);
  put(4, 2);
  put(16, 2);
  std::fputs("data", f);
  put(dataBytes, 4);
  for (int16_t s : samples) put(static_cast<uint16_t>(s), 2);
  std::fclose(f);
  return path;
}

void BM_NewFrame(benchmark::State& state) {
  const unsigned lsize = static_cast<unsigned>(state.range(0));
  const bool clicks = state.range(1) != 0;
  const unsigned char nblocks = lsize == 512 ? 32 : 16;
  const unsigned total = lsize / 2 * nblocks;
  const std::string path = MakeWav(total, clicks);

  ostrel::Psycho longModel(lsize, 44100, 1.0f, 0.0f, 0);
  ostrel::Psycho tranModel(lsize / 2 + lsize / 8, 44100, 1.0f, 0.0f, 0);
  ostrel::Psycho shortModel(lsize / 4, 44100, 1.0f, 0.0f, 1);
  int longCount, tranCount, shortCount;
  int* longBands = longModel.GetPsychBands(&longCount);
  int* tranBands = tranModel.GetPsychBands(&tranCount);
  int* shortBands = shortModel.GetPsychBands(&shortCount);
  std::vector<std::vector<int>> weightStore(2 * (nblocks + 1), std::vector<int>(32));
  std::vector<int*> sets;
  for (auto& w : weightStore) sets.push_back(w.data());
  int** weights[2] = {sets.data(), sets.data() + nblocks + 1};
  std::vector<int> gainStore(2 * (nblocks + 1));
  int* gains[2] = {gainStore.data(), gainStore.data() + nblocks + 1};
  int switchUsed[2], location[2];

  std::unique_ptr<ostrel::Waveio> in;
  std::unique_ptr<ostrel::FrameTransform> transform;
  float** x = nullptr;
  int framesLeft = 0;
  for (auto _ : state) {
    if (framesLeft == 0) {
      state.PauseTiming();
      transform.reset();
      in = std::make_unique<ostrel::Waveio>(path.c_str(), 0);
      transform = std::make_unique<ostrel::FrameTransform>(
          2, nblocks, lsize, lsize / 4, in.get(), &longModel, &tranModel, &shortModel, longCount, shortCount,
          tranCount, longBands, shortBands, tranBands, &x, weights, gains, 0);
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
