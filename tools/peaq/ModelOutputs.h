// The eleven model output variables of the quality meter, averaged over a run of analysis frames
// and over the channels.
#pragma once

#include <array>

#include "tools/peaq/FrameRecord.h"

namespace ostrel::peaq {

enum Mov {
  BANDWIDTH_REF,
  BANDWIDTH_TEST,
  TOTAL_NMR,
  WIN_MOD_DIFF1,
  ADB,
  EHS,
  AVG_MOD_DIFF1,
  AVG_MOD_DIFF2,
  RMS_NOISE_LOUD,
  MFPD,
  REL_DIST_FRAMES,
  MOV_COUNT
};

// The variables' names, in Mov order.
extern const std::array<const char*, MOV_COUNT> MOV_NAMES;

using Movs = std::array<double, MOV_COUNT>;

// Frames from the start of the signals whose modulation and loudness figures are left out of the
// averages while the ear settles: 0.5 s, rounded up to whole frames (23.4 -> 24). Counted from the
// signals' start, so frames before the data boundary count towards it.
constexpr int SETTLING_FRAMES = 24;

// The variables over frames first .. last (inclusive, clipped to the series' data boundaries).
// Frames before SETTLING_FRAMES never count for the modulation and noise loudness variables, nor
// frames before both signals' loudness first reaches 0.1 sone for the noise loudness. An empty
// run gives each average its neutral value (see ModelOutputs.cpp).
Movs AverageMovs(const FrameSeries& series, int first, int last);

}  // namespace ostrel::peaq
