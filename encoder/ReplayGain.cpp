#include "encoder/ReplayGain.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "audio/SourceReader.h"
#include "platform/StreamConstants.h"

#ifdef OSTREL_HAVE_EBUR128
#include <ebur128.h>
#endif

namespace ostrel {

bool ReplayGainAvailable() {
#ifdef OSTREL_HAVE_EBUR128
  return true;
#else
  return false;
#endif
}

#ifdef OSTREL_HAVE_EBUR128

namespace {

struct StateCloser {
  void operator()(ebur128_state* s) const { ebur128_destroy(&s); }
};
using State = std::unique_ptr<ebur128_state, StateCloser>;

GainFigures Figures(double lufs, double peak) {
  GainFigures f;
  f.measured = std::isfinite(lufs);
  f.gainDb = REPLAYGAIN_REFERENCE_LUFS - lufs;
  f.peak = peak;
  return f;
}

}  // namespace

void MeasureGains(const std::vector<std::string>& inputs, bool album, std::vector<GainFigures>* tracks,
                  GainFigures* albumFigures, std::vector<std::string>* problems) {
  constexpr size_t kChunk = 4096;  // sample frames at a time
  std::vector<State> states;
  std::vector<ebur128_state*> measured;
  double albumPeak = 0.0;
  tracks->assign(inputs.size(), GainFigures{});
  std::vector<float> first(kChunk), second(kChunk), interleaved(2 * kChunk);
  for (size_t i = 0; i < inputs.size(); ++i) {
    SourceReader reader(inputs[i]);
    if (!reader.problem().empty()) {
      problems->push_back(inputs[i] + " " + reader.problem() + "; no ReplayGain for it");
      continue;
    }
    State state(ebur128_init(STREAM_CHANNELS, STREAM_SAMPLE_RATE,
                             EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_HISTOGRAM));
    if (!state) {
      problems->push_back(inputs[i] + ": out of memory; no ReplayGain for it");
      continue;
    }
    for (;;) {
      const size_t got = reader.Read(first.data(), second.data(), kChunk);
      for (size_t n = 0; n < got; ++n) {  // the reader's 16-bit scale to full scale 1.0
        interleaved[2 * n] = first[n] / 32768.0f;
        interleaved[2 * n + 1] = second[n] / 32768.0f;
      }
      if (got > 0) ebur128_add_frames_float(state.get(), interleaved.data(), got);
      if (got < kChunk) break;
    }
    double lufs = -HUGE_VAL, peak = 0.0;
    ebur128_loudness_global(state.get(), &lufs);
    for (unsigned c = 0; c < STREAM_CHANNELS; ++c) {
      double p = 0.0;
      if (ebur128_true_peak(state.get(), c, &p) == EBUR128_SUCCESS && p > peak) peak = p;
    }
    (*tracks)[i] = Figures(lufs, peak);
    if (!(*tracks)[i].measured) {
      problems->push_back(inputs[i] + " holds only silence (no loudness to measure); no ReplayGain for it");
      continue;
    }
    albumPeak = std::max(albumPeak, peak);
    measured.push_back(state.get());
    states.push_back(std::move(state));
  }
  *albumFigures = GainFigures{};
  if (album && !measured.empty()) {
    double lufs = -HUGE_VAL;
    ebur128_loudness_global_multiple(measured.data(), measured.size(), &lufs);
    *albumFigures = Figures(lufs, albumPeak);
  }
}

#else

void MeasureGains(const std::vector<std::string>& inputs, bool, std::vector<GainFigures>* tracks,
                  GainFigures* albumFigures, std::vector<std::string>*) {
  tracks->assign(inputs.size(), GainFigures{});
  *albumFigures = GainFigures{};
}

#endif

std::vector<std::pair<std::string, std::string>> GainTags(const GainFigures& figures, bool album) {
  if (!figures.measured) return {};
  char gain[32], peak[32];
  std::snprintf(gain, sizeof gain, "%+.2f dB", figures.gainDb);
  std::snprintf(peak, sizeof peak, "%.6f", figures.peak);
  const std::string kind = album ? "ALBUM" : "TRACK";
  return {{"REPLAYGAIN_" + kind + "_GAIN", gain}, {"REPLAYGAIN_" + kind + "_PEAK", peak}};
}

}  // namespace ostrel
