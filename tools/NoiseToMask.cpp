#include "tools/NoiseToMask.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace ostrel::tools {

double RatioDb(double ratio) { return ratio > 0.0 ? 10.0 * std::log10(ratio) : -INFINITY; }

NmrMeter::NmrMeter(const PerceptualModel& model, int channels)
    : model_(model), filled_(EAR_HOP),
      source_(static_cast<size_t>(channels), std::vector<double>(EAR_WINDOW, 0.0)),
      noise_(static_cast<size_t>(channels), std::vector<double>(EAR_WINDOW, 0.0)) {
  map_.bands = model.BandCount();
  map_.frameSeconds = EAR_HOP / model.SampleRate();
}

void NmrMeter::Add(const double* const* source, const double* const* decoded, size_t count) {
  for (size_t done = 0; done < count;) {
    const size_t take = std::min(count - done, static_cast<size_t>(EAR_WINDOW - filled_));
    for (size_t c = 0; c < source_.size(); ++c) {
      for (size_t n = 0; n < take; ++n) {
        source_[c][filled_ + n] = source[c][done + n];
        noise_[c][filled_ + n] = decoded[c][done + n] - source[c][done + n];
      }
    }
    filled_ += static_cast<int>(take);
    done += take;
    length_ += take;
    if (filled_ == EAR_WINDOW) MeasureFrame();
  }
}

void NmrMeter::MeasureFrame() {
  const size_t first = map_.ratio.size();
  map_.ratio.resize(first + map_.bands, 0.0);
  for (size_t c = 0; c < source_.size(); ++c) {
    model_.PowerSpectrum(source_[c].data(), power_);
    model_.Mask(power_, mask_);
    model_.PowerSpectrum(noise_[c].data(), power_);
    model_.BandEnergies(power_, noiseEnergy_);
    for (int b = 0; b < map_.bands; ++b) map_.ratio[first + b] = std::max(map_.ratio[first + b], noiseEnergy_[b] / mask_[b]);
    // The second half of this window is the first half of the next.
    std::copy(source_[c].begin() + EAR_HOP, source_[c].end(), source_[c].begin());
    std::copy(noise_[c].begin() + EAR_HOP, noise_[c].end(), noise_[c].begin());
  }
  ++map_.frames;
  filled_ = EAR_HOP;
}

NmrMap NmrMeter::Finish() {
  const int frames = length_ == 0 ? 0 : static_cast<int>((length_ - 1) / EAR_HOP + 2);
  while (map_.frames < frames) {
    for (size_t c = 0; c < source_.size(); ++c) {
      std::fill(source_[c].begin() + filled_, source_[c].end(), 0.0);
      std::fill(noise_[c].begin() + filled_, noise_[c].end(), 0.0);
    }
    MeasureFrame();
  }
  return std::move(map_);
}

NmrMap MeasureNmr(const PerceptualModel& model, const Channels& source, const Channels& decoded, size_t length) {
  NmrMeter meter(model, static_cast<int>(source.size()));
  std::vector<const double*> s, d;
  for (size_t c = 0; c < source.size(); ++c) {
    s.push_back(source[c].data());
    d.push_back(decoded[c].data());
  }
  meter.Add(s.data(), d.data(), length);
  return meter.Finish();
}

NmrSummary Summarise(const NmrMap& map, int worst) {
  NmrSummary summary;
  double total = 0.0;
  std::vector<double> bandMean(map.bands, 0.0);
  for (int f = 0; f < map.frames; ++f) {
    bool audible = false;
    for (int b = 0; b < map.bands; ++b) {
      const double r = map.At(f, b);
      total += r;
      bandMean[b] += r;
      audible = audible || r > 1.0;
    }
    summary.audibleFrames += audible ? 1 : 0;
  }
  const double cells = static_cast<double>(map.frames) * map.bands;
  summary.totalDb = RatioDb(cells > 0 ? total / cells : 0.0);
  summary.audibleShare = map.frames > 0 ? static_cast<double>(summary.audibleFrames) / map.frames : 0.0;
  std::vector<int> order(map.bands);
  for (int b = 0; b < map.bands; ++b) order[b] = b;
  std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return bandMean[x] > bandMean[y]; });
  for (int i = 0; i < std::min(worst, map.bands); ++i) {
    const int b = order[i];
    summary.worstBands.push_back({b, RatioDb(map.frames > 0 ? bandMean[b] / map.frames : 0.0)});
  }
  return summary;
}

}  // namespace ostrel::tools
