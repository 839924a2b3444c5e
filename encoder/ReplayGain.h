// ReplayGain for ostrelenc --replay-gain and --album-gain: the integrated loudness (EBU R 128)
// and true peak of the sources as they are coded (44100 Hz stereo, after any conversion),
// measured by libebur128 before the coding starts, as the REPLAYGAIN_* tags.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ostrel {

// The loudness the gains bring a source to: -18 LUFS (ReplayGain 2.0; about the 89 dB SPL of
// the first ReplayGain).
constexpr double REPLAYGAIN_REFERENCE_LUFS = -18.0;

// Whether this build measures loudness (libebur128).
bool ReplayGainAvailable();

struct GainFigures {
  bool measured = false;
  double gainDb = 0.0;  // REPLAYGAIN_REFERENCE_LUFS minus the integrated loudness
  double peak = 0.0;    // the true peak, 1.0 being full scale
};

// Measures every source in `inputs` (files; each read once through the encoder's source reader)
// and, with `album`, all of them together. A source that cannot be read or holds only silence is
// left unmeasured and `*problems` gets a line about it.
void MeasureGains(const std::vector<std::string>& inputs, bool album, std::vector<GainFigures>* tracks,
                  GainFigures* albumFigures, std::vector<std::string>* problems);

// The tags of the figures: REPLAYGAIN_TRACK_GAIN ("-3.21 dB") and REPLAYGAIN_TRACK_PEAK
// ("0.912345"), or with `album` the REPLAYGAIN_ALBUM_ pair.
std::vector<std::pair<std::string, std::string>> GainTags(const GainFigures& figures, bool album);

}  // namespace ostrel
