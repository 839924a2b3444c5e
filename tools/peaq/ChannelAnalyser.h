// One channel of the quality meter: both signals' ears, adaptation, modulation and loudness, and
// from them the frame's values of the model output variables.
#pragma once

#include <array>
#include <complex>
#include <vector>

#include "tools/peaq/Adaptation.h"
#include "tools/peaq/EarModel.h"
#include "tools/peaq/Fft.h"
#include "tools/peaq/FrameRecord.h"
#include "tools/peaq/Harmonics.h"
#include "tools/peaq/Modulation.h"

namespace ostrel::peaq {

// Energy in 16-bit units^2 the newest half (HOP samples) of a frame needs, in the reference or in
// the test (decision: either suffices), for the frame's error harmonic structure to count.
constexpr double FRAME_ENERGY_THRESHOLD = 8000.0;

class ChannelAnalyser {
 public:
  ChannelAnalyser();
  // The next frame: FRAME samples of each signal in 16-bit units (borrowed; zeros past the end).
  // Allocates nothing.
  void Process(const double* reference, const double* test, ChannelFrame* out);
  // The frame's detection probability and steps per band, BANDS values each.
  const double* Probability() const { return probability_.data(); }
  const double* Steps() const { return steps_.data(); }

 private:
  const ModelTables& tables_;
  RealFft fft_;
  EarModel earRef_, earTest_;
  Adaptation adaptation_;
  Modulation modRef_, modTest_;
  Harmonics harmonics_;
  std::vector<double> windowedRef_, windowedTest_;
  std::vector<std::complex<double>> spectrumRef_, spectrumTest_;
  std::vector<double> powerRef_, powerTest_, weightedRef_, weightedTest_, noiseSpectrum_;
  std::array<double, BANDS> noise_{}, probability_{}, steps_{};
};

}  // namespace ostrel::peaq
