#include "tools/peaq/ModelOutputs.h"

#include <algorithm>
#include <cmath>

namespace ostrel::peaq {
namespace {

constexpr double LOUDNESS_THRESHOLD = 0.1;      // sone, both signals, before the noise loudness counts
constexpr double DISTORTED_NMR = 1.41253754;    // 10^(1.5 / 10): a band 1.5 dB over its mask
constexpr int MOD_WINDOW = 4;                   // frames of the sliding window of WinModDiff1

struct ChannelMovs {
  double bandwidthRef = 0, bandwidthTest = 0, totalNmr = 0, winModDiff1 = 0, ehs = 0;
  double avgModDiff1 = 0, avgModDiff2 = 0, rmsNoiseLoud = 0, relDistFrames = 0;
};

ChannelMovs OneChannel(const FrameSeries& series, int c, int first, int last) {
  ChannelMovs m;
  // Bandwidth, noise-to-mask ratio, distorted frames, harmonic structure: every frame of the run.
  double bwRef = 0, bwTest = 0, nmr = 0, ehs = 0;
  int bwFrames = 0, frames = 0, distorted = 0, ehsFrames = 0;
  for (int n = first; n <= last; ++n) {
    const ChannelFrame& f = series.frames[static_cast<size_t>(n)].channel[static_cast<size_t>(c)];
    ++frames;
    if (f.bandwidthRef > 0) {
      bwRef += f.bandwidthRef;
      bwTest += f.bandwidthTest;
      ++bwFrames;
    }
    nmr += f.nmr;
    if (f.nmrMax >= DISTORTED_NMR) ++distorted;
    if (f.energetic) {
      ehs += f.harmonics;
      ++ehsFrames;
    }
  }
  // Decision: no frame with a reference reaching 8.1 kHz gives bandwidths of 0; no frame at all a
  // noise-to-mask ratio of 0 dB and no distorted frames; no loud enough frame no harmonic structure.
  m.bandwidthRef = bwFrames > 0 ? bwRef / bwFrames : 0.0;
  m.bandwidthTest = bwFrames > 0 ? bwTest / bwFrames : 0.0;
  m.totalNmr = frames > 0 ? 10.0 * std::log10(nmr / frames) : 0.0;
  m.relDistFrames = frames > 0 ? double(distorted) / frames : 0.0;
  m.ehs = ehsFrames > 0 ? 1000.0 * ehs / ehsFrames : 0.0;

  // Modulation differences: after the settling frames.
  const int modFirst = std::max(first, SETTLING_FRAMES);
  double weighted1 = 0, weighted2 = 0, weights = 0, windowSum = 0;
  int windowCount = 0;
  for (int n = modFirst; n <= last; ++n) {
    const ChannelFrame& f = series.frames[static_cast<size_t>(n)].channel[static_cast<size_t>(c)];
    weighted1 += f.modWeight * f.modDiff1;
    weighted2 += f.modWeight * f.modDiff2;
    weights += f.modWeight;
    // The sliding window covers MOD_WINDOW frames of the run, the first ending at its fourth frame.
    if (n - modFirst + 1 >= MOD_WINDOW) {
      double mean = 0;
      for (int i = 0; i < MOD_WINDOW; ++i) {
        mean += std::sqrt(series.frames[static_cast<size_t>(n - i)].channel[static_cast<size_t>(c)].modDiff1);
      }
      mean /= MOD_WINDOW;
      windowSum += mean * mean * mean * mean;
      ++windowCount;
    }
  }
  m.avgModDiff1 = weights > 0 ? weighted1 / weights : 0.0;
  m.avgModDiff2 = weights > 0 ? weighted2 / weights : 0.0;
  m.winModDiff1 = windowCount > 0 ? std::sqrt(windowSum / windowCount) : 0.0;

  // Noise loudness: after the settling frames and from the first frame on in which both signals'
  // loudness reaches 0.1 sone (decision: a start, not a per-frame filter).
  int loudFirst = last + 1;
  for (int n = first; n <= last; ++n) {
    const ChannelFrame& f = series.frames[static_cast<size_t>(n)].channel[static_cast<size_t>(c)];
    if (f.loudnessRef >= LOUDNESS_THRESHOLD && f.loudnessTest >= LOUDNESS_THRESHOLD) {
      loudFirst = n;
      break;
    }
  }
  double squares = 0;
  int loudFrames = 0;
  for (int n = std::max(loudFirst, modFirst); n <= last; ++n) {
    const double nl = series.frames[static_cast<size_t>(n)].channel[static_cast<size_t>(c)].noiseLoudness;
    squares += nl * nl;
    ++loudFrames;
  }
  m.rmsNoiseLoud = loudFrames > 0 ? std::sqrt(squares / loudFrames) : 0.0;
  return m;
}

}  // namespace

const std::array<const char*, MOV_COUNT> MOV_NAMES = {
    "BandwidthRefB", "BandwidthTestB", "TotalNMRB",    "WinModDiff1B", "ADBB",           "EHSB",
    "AvgModDiff1B",  "AvgModDiff2B",   "RmsNoiseLoudB", "MFPDB",       "RelDistFramesB"};

Movs AverageMovs(const FrameSeries& series, int first, int last) {
  first = std::max(first, series.dataFirst);
  last = std::min(last, std::min(series.dataLast, static_cast<int>(series.frames.size()) - 1));
  Movs movs{};
  const int channels = std::max(series.channels, 1);
  for (int c = 0; c < series.channels; ++c) {
    const ChannelMovs m = OneChannel(series, c, first, last);
    movs[BANDWIDTH_REF] += m.bandwidthRef / channels;
    movs[BANDWIDTH_TEST] += m.bandwidthTest / channels;
    movs[TOTAL_NMR] += m.totalNmr / channels;
    movs[WIN_MOD_DIFF1] += m.winModDiff1 / channels;
    movs[EHS] += m.ehs / channels;
    movs[AVG_MOD_DIFF1] += m.avgModDiff1 / channels;
    movs[AVG_MOD_DIFF2] += m.avgModDiff2 / channels;
    movs[RMS_NOISE_LOUD] += m.rmsNoiseLoud / channels;
    movs[REL_DIST_FRAMES] += m.relDistFrames / channels;
  }

  // Detection of both channels together: the average distorted block over the frames whose
  // probability of detection passes 0.5, and the largest smoothed probability.
  double steps = 0, smoothed = 0, peak = 0;
  int distorted = 0;
  for (int n = first; n <= last; ++n) {
    const FrameRecord& f = series.frames[static_cast<size_t>(n)];
    if (f.detection > 0.5) {
      steps += f.steps;
      ++distorted;
    }
    smoothed = 0.9 * smoothed + 0.1 * f.detection;
    peak = std::max(peak, smoothed);  // decision: the running maximum does not decay (factor 1)
  }
  // Decision: no distorted frame gives 0; distorted frames without a single step give -0.5.
  movs[ADB] = distorted == 0 ? 0.0 : steps > 0 ? std::log10(steps / distorted) : -0.5;
  movs[MFPD] = peak;
  return movs;
}

}  // namespace ostrel::peaq
