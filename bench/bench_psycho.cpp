// Per-block cost of the psycho model on realistic coefficient magnitudes.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "platform/StreamConstants.h"
#include "psycho/Psycho.h"

namespace {

// Seeded noise with a falling spectral envelope, as MDCT coefficients of music tend to have.
std::vector<float> Coefficients(int lines, int blockLines, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  std::vector<float> x(lines);
  for (int n = 0; n < lines; ++n) {
    x[n] = noise(rng) * 3000.0f / (1.0f + 40.0f * (n % blockLines) / blockLines);
  }
  return x;
}

void Run(benchmark::State& state, unsigned XfmSize, int isShort) {
  ostrel::Psycho model(XfmSize, ostrel::STREAM_SAMPLE_RATE, 1.0f, 0.0f, isShort);
  int count = 0;
  model.GetPsychBands(&count);
  const int blockLines = static_cast<int>(XfmSize / 2);
  const std::vector<float> source = Coefficients(blockLines * (isShort ? 3 : 1), blockLines, 7);
  std::vector<float> x(source.size());
  std::vector<int> weights(count);
  for (auto _ : state) {
    std::copy(source.begin(), source.end(), x.begin());  // the model zeroes lines in place
    model.ComputeModel(x.data(), weights.data());
    benchmark::DoNotOptimize(weights.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_PsychoLongBlock2048(benchmark::State& state) { Run(state, 2048, 0); }
void BM_PsychoShortTriple512(benchmark::State& state) { Run(state, 512, 1); }

}  // namespace

BENCHMARK(BM_PsychoLongBlock2048);
BENCHMARK(BM_PsychoShortTriple512);
