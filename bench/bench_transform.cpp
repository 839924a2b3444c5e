// Speed of the transform kernels at the sizes the codec runs them. Each iteration restores its
// input first (a copy of at most 8 KB), so repeated in-place transforms do not blow up.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "transform/VariableMDCT.h"
#include "transform/fft.h"
#include "transform/mdct.h"

namespace {

std::vector<float> Noise(size_t count) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(count);
  for (float& x : v) x = dist(rng);
  return v;
}

void BM_fftl(benchmark::State& state) {
  const int N = static_cast<int>(state.range(0));
  const std::vector<float> re = Noise(N);
  const std::vector<float> im = Noise(N);
  std::vector<float> xr(N), xi(N);
  for (auto _ : state) {
    std::memcpy(xr.data(), re.data(), N * sizeof(float));
    std::memcpy(xi.data(), im.data(), N * sizeof(float));
    ostrel::fftl(xr.data(), xi.data(), N);
    benchmark::DoNotOptimize(xr.data());
  }
}
BENCHMARK(BM_fftl)->Arg(256);

void BM_CompFFT(benchmark::State& state) {
  const int nn = static_cast<int>(state.range(0));
  const std::vector<float> input = Noise(2 * nn);
  std::vector<float> data(2 * nn);
  for (auto _ : state) {
    std::memcpy(data.data(), input.data(), data.size() * sizeof(float));
    ostrel::CompFFT(data.data(), nn, 1);
    benchmark::DoNotOptimize(data.data());
  }
}
BENCHMARK(BM_CompFFT)->Arg(320)->Arg(512);

// Long block, transition block and short block of the highest-resolution rate.
void BM_mdct(benchmark::State& state) {
  const int N = static_cast<int>(state.range(0));
  const int b = static_cast<int>(state.range(1));
  const std::vector<float> input = Noise(N);
  std::vector<float> data(N);
  for (auto _ : state) {
    std::memcpy(data.data(), input.data(), N * sizeof(float));
    ostrel::mdct(data.data(), N, b, 1);
    benchmark::DoNotOptimize(data.data());
  }
}
BENCHMARK(BM_mdct)->Args({2048, 1024})->Args({1280, 256})->Args({512, 256});

// One block of the given type at (2048, 512). The object's overlap is whatever the previous
// iteration left, which does not change the work done.
void BM_VariableMDCT(benchmark::State& state) {
  const int type = static_cast<int>(state.range(0));
  const std::vector<float> input = Noise(2048);
  std::vector<float> x(2048);
  ostrel::VariableMDCT analysis(2048, 512);
  for (auto _ : state) {
    std::memcpy(x.data(), input.data(), x.size() * sizeof(float));
    analysis.Transform(x.data(), type);
    benchmark::DoNotOptimize(x.data());
  }
}
BENCHMARK(BM_VariableMDCT)->Arg(0)->Arg(1)->Arg(2)->Arg(3);

}  // namespace
