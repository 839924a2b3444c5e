// Noise-to-mask ratio of a decoded signal against its source, frame by frame and Bark band by
// Bark band, with the PerceptualModel as the ear.
//
// The noise is decoded - source, sample for sample (the decoder's output is lined up with the
// encoder's input). Frame f is the EAR_WINDOW samples starting at (f - 1) * EAR_HOP, zeros outside
// the signal, so it is centred on sample f * EAR_HOP and every sample lies under two windows. In
// each frame and band the ratio is the noise's band energy over the source's mask; with two
// channels the larger ratio of the two counts (noise is heard when either channel carries it).
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "tools/PerceptualModel.h"

namespace ostrel::tools {

struct NmrMap {
  int frames = 0;
  int bands = 0;
  double frameSeconds = 0.0;  // seconds from one frame centre to the next (EAR_HOP / sample rate)
  std::vector<double> ratio;  // noise energy / mask energy, frames * bands values, frame by frame
  double At(int frame, int band) const { return ratio[static_cast<size_t>(frame) * bands + band]; }
};

// Channels of samples on the 16-bit scale: channels[c][n].
using Channels = std::vector<std::vector<double>>;

// Measures a signal as it arrives, a block of samples at a time, holding one window per channel.
// The model is borrowed and must outlive the meter.
class NmrMeter {
 public:
  // `channels` 1 or more.
  NmrMeter(const PerceptualModel& model, int channels);

  // Adds `count` samples of every channel: source[c][0 .. count) and decoded[c][0 .. count)
  // (borrowed, 16-bit scale).
  void Add(const double* const* source, const double* const* decoded, size_t count);

  // Ends the signal: measures the frames that reach past its end (zeros there) and hands over the
  // map. The meter is spent afterwards.
  NmrMap Finish();

 private:
  void MeasureFrame();

  const PerceptualModel& model_;
  NmrMap map_;
  size_t length_ = 0;  // samples added per channel
  int filled_;         // samples in the current window, counting the zeros before the signal
  std::vector<std::vector<double>> source_, noise_;  // the current window of each channel
  std::vector<double> power_, mask_, noiseEnergy_;
};

// Measures `decoded` against `source` over the first `length` samples of each channel (both hold
// at least that many, in the same number of channels, 1 or more); `length` 0 gives no frames.
NmrMap MeasureNmr(const PerceptualModel& model, const Channels& source, const Channels& decoded, size_t length);

struct NmrSummary {
  // 10 log10 of the mean of the ratio over all frames and bands; -INFINITY when there is no noise.
  double totalDb = 0.0;
  int audibleFrames = 0;       // frames with a ratio above 1 (0 dB) in at least one band
  double audibleShare = 0.0;   // audibleFrames / frames, 0 .. 1 (0 without frames)
  // The bands with the highest mean ratio over the frames, worst first: (band, 10 log10 of the mean).
  std::vector<std::pair<int, double>> worstBands;
};

// `worst` is how many bands worstBands lists (at most map.bands).
NmrSummary Summarise(const NmrMap& map, int worst);

// 10 log10 of a ratio; -INFINITY for 0.
double RatioDb(double ratio);

}  // namespace ostrel::tools
