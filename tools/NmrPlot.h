// A heat map of noise-to-mask ratios as a PNG image: time across, Bark bands upwards, a colour
// per ratio (cool blues for noise under its mask, yellow to dark red from 0 dB up) and the colour
// scale beside it.
#pragma once

#include <string>

#include "tools/NoiseToMask.h"
#include "tools/PerceptualModel.h"

namespace ostrel::tools {

// Colour scale of the plot, dB: ratios are clamped to this range.
constexpr double PLOT_LOW_DB = -40.0;
constexpr double PLOT_HIGH_DB = 20.0;

// Whether this build writes PNG files (libpng was found when the build was configured).
bool PlotAvailable();

// Writes the heat map of `map` (bands labelled from `model`) to `path`. The image is written under
// a temporary name beside `path` and renamed into place once complete, so a failure leaves no
// partial file. Returns true on success; otherwise false with the reason in `error`.
bool WriteNmrPlot(const NmrMap& map, const PerceptualModel& model, const std::string& path, std::string* error);

}  // namespace ostrel::tools
