// Entropy coding costs per frame: symbol construction plus statistics (run once per trial step
// size of the search), and the arithmetic coder in both directions.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

#include "coding/ArithDecoder.h"
#include "coding/ArithEncoder.h"
#include "coding/SymbolSet.h"

namespace {

constexpr int kSteps = 10;
constexpr unsigned kValuesPerChannel = 16384;

// Quantised coefficients of a typical frame: about half zeros, the rest Laplacian-like with
// magnitudes mostly 1 or 2, within -kSteps..kSteps.
std::vector<std::vector<float>> QuantisedFrame() {
  std::mt19937 rng(1);
  std::geometric_distribution<int> magnitude(0.55);
  std::vector<std::vector<float>> frame(2, std::vector<float>(kValuesPerChannel));
  for (auto& channel : frame) {
    for (auto& v : channel) {
      const int m = rng() % 2 == 0 ? 0 : std::min(kSteps, 1 + magnitude(rng));
      v = static_cast<float>(rng() % 2 == 0 ? m : -m);
    }
  }
  return frame;
}

void BM_SymbolsAndStatistics(benchmark::State& state) {
  auto frame = QuantisedFrame();
  float* x[] = {frame[0].data(), frame[1].data()};
  std::vector<int> symbols(2 * kValuesPerChannel);
  std::vector<unsigned> stats(320);
  std::vector<unsigned char> comp(320);
  for (auto _ : state) {
    const int count = ostrel::ConstructSymbolSet(x, symbols.data(), kSteps, 2, kValuesPerChannel);
    benchmark::DoNotOptimize(
        ostrel::CollectStatistics(symbols.data(), stats.data(), comp.data(), count, kSteps));
  }
  state.SetItemsProcessed(state.iterations() * 2 * kValuesPerChannel);
}
BENCHMARK(BM_SymbolsAndStatistics);

// 20 000 symbols of the frame above with its compressed table.
struct CoderInput {
  std::vector<int> symbols;
  std::vector<unsigned char> table;
  unsigned char count;
};

CoderInput MakeCoderInput() {
  auto frame = QuantisedFrame();
  float* x[] = {frame[0].data(), frame[1].data()};
  CoderInput in;
  in.symbols.resize(2 * kValuesPerChannel);
  in.symbols.resize(ostrel::ConstructSymbolSet(x, in.symbols.data(), kSteps, 2, kValuesPerChannel));
  in.symbols.resize(20000);
  std::vector<unsigned> stats(320);
  in.table.resize(320);
  ostrel::CollectStatistics(in.symbols.data(), stats.data(), in.table.data(), 20000, kSteps);
  in.count = static_cast<unsigned char>(2 * kSteps + 64);
  return in;
}

void BM_ArithEncoder(benchmark::State& state) {
  const CoderInput in = MakeCoderInput();
  std::FILE* file = std::tmpfile();
  ostrel::Bitstream out(file, 1);
  ostrel::ArithEncoder enc(&out);
  uint32_t bits = 0;
  for (auto _ : state) {
    std::rewind(file);
    enc.ReNewStats(in.count, in.table.data());
    for (int s : in.symbols) enc.Code(static_cast<unsigned char>(s));
    bits = enc.CloseEncoder();
  }
  state.counters["bits"] = bits;
  state.SetItemsProcessed(state.iterations() * in.symbols.size());
  std::fclose(file);
}
BENCHMARK(BM_ArithEncoder);

void BM_ArithDecoder(benchmark::State& state) {
  const CoderInput in = MakeCoderInput();
  std::FILE* file = std::tmpfile();
  uint32_t bits;
  {
    ostrel::Bitstream out(file, 1);
    ostrel::ArithEncoder enc(in.count, in.table.data(), &out);
    for (int s : in.symbols) enc.Code(static_cast<unsigned char>(s));
    bits = enc.CloseEncoder();
    out.close();
  }
  for (auto _ : state) {
    std::rewind(file);
    ostrel::Bitstream input(file, 0);
    ostrel::ArithDecoder dec(in.count, in.table.data(), &input, bits);
    uint32_t sum = 0;
    for (size_t i = 0; i < in.symbols.size(); ++i) sum += dec.Decode();
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * in.symbols.size());
  std::fclose(file);
}
BENCHMARK(BM_ArithDecoder);

}  // namespace
