#include "tools/NoiseToMask.h"

#include <algorithm>
#include <cmath>

namespace ostrel::tools {

double RatioDb(double ratio) { return ratio > 0.0 ? 10.0 * std::log10(ratio) : -INFINITY; }

NmrMap MeasureNmr(const PerceptualModel& model, const Channels& source, const Channels& decoded, size_t length) {
  NmrMap map;
  map.bands = model.BandCount();
  map.frames = length == 0 ? 0 : static_cast<int>((length - 1) / EAR_HOP + 2);
  map.ratio.assign(static_cast<size_t>(map.frames) * map.bands, 0.0);
  std::vector<double> sourceFrame(EAR_WINDOW), noiseFrame(EAR_WINDOW), power, mask, noise;
  for (size_t c = 0; c < source.size(); ++c) {
    for (int f = 0; f < map.frames; ++f) {
      const long start = (static_cast<long>(f) - 1) * EAR_HOP;
      for (int n = 0; n < EAR_WINDOW; ++n) {
        const long at = start + n;
        const bool inside = at >= 0 && static_cast<size_t>(at) < length;
        sourceFrame[n] = inside ? source[c][static_cast<size_t>(at)] : 0.0;
        noiseFrame[n] = inside ? decoded[c][static_cast<size_t>(at)] - sourceFrame[n] : 0.0;
      }
      model.PowerSpectrum(sourceFrame.data(), power);
      model.Mask(power, mask);
      model.PowerSpectrum(noiseFrame.data(), power);
      model.BandEnergies(power, noise);
      for (int b = 0; b < map.bands; ++b) {
        double& r = map.ratio[static_cast<size_t>(f) * map.bands + b];
        r = std::max(r, noise[b] / mask[b]);
      }
    }
  }
  return map;
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
