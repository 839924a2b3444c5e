// Speed of ostrelcmp's quality grade: a 10 s stereo pair at 44100 Hz, resampling included.
// The items per second are seconds of audio graded per second (the real-time factor).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "tools/peaq/QualityMeter.h"
#include "tools/peaq/Resampler.h"

namespace {

constexpr int RATE = 44100;
constexpr int SECONDS = 10;

// A chord with a slow tremolo and quiet noise as the source; the decoded copy adds noise 30 dB down.
void Pair(ostrel::peaq::Channels* source, ostrel::peaq::Channels* decoded) {
  std::mt19937 rng(11);
  std::normal_distribution<double> noise(0.0, 1.0);
  const size_t length = static_cast<size_t>(RATE) * SECONDS;
  source->assign(2, std::vector<double>(length));
  decoded->assign(2, std::vector<double>(length));
  const double pi = std::acos(-1.0);
  for (size_t i = 0; i < length; ++i) {
    const double t = double(i) / RATE;
    for (int c = 0; c < 2; ++c) {
      double x = 0.0;
      for (double f : {220.0, 277.2, 329.6, 440.0, 1760.0}) x += 2500.0 * std::sin(2.0 * pi * (f + c) * t);
      x *= 0.75 + 0.25 * std::sin(2.0 * pi * 3.0 * t);
      x += 200.0 * noise(rng);
      (*source)[static_cast<size_t>(c)][i] = x;
      (*decoded)[static_cast<size_t>(c)][i] = x + 300.0 * noise(rng);
    }
  }
}

void BM_QualityGrade44100Stereo(benchmark::State& state) {
  if (!ostrel::peaq::CanResample()) {
    state.SkipWithError("this build has no libsoxr");
    return;
  }
  ostrel::peaq::Channels source, decoded;
  Pair(&source, &decoded);
  for (auto _ : state) {
    ostrel::peaq::Quality quality;
    std::string error;
    ostrel::peaq::MeasureQuality(source, decoded, RATE, 0.0, &quality, &error);
    benchmark::DoNotOptimize(quality.grade.odg);
  }
  state.SetItemsProcessed(state.iterations() * SECONDS);
}
BENCHMARK(BM_QualityGrade44100Stereo)->Unit(benchmark::kMillisecond);

// The ear model and variables alone, on signals already at 48 kHz.
void BM_QualityFrames48000Stereo(benchmark::State& state) {
  ostrel::peaq::Channels source, decoded;
  Pair(&source, &decoded);
  for (auto _ : state) {
    const ostrel::peaq::FrameSeries series = ostrel::peaq::AnalyseFrames(source, decoded);
    benchmark::DoNotOptimize(series.frames.data());
  }
  state.SetItemsProcessed(state.iterations() * SECONDS * 48000 / RATE);
}
BENCHMARK(BM_QualityFrames48000Stereo)->Unit(benchmark::kMillisecond);

}  // namespace
