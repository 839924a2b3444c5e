// The perceptual quality meter: compares a decoded signal with its source as listeners grade
// coded audio, giving the eleven model output variables, the distortion index and the objective
// difference grade (ODG: 0 imperceptible, -1 perceptible but not annoying, -2 slightly annoying,
// -3 annoying, -4 very annoying), for the whole signal and for consecutive segments.
#pragma once

#include <string>
#include <vector>

#include "tools/peaq/FrameRecord.h"
#include "tools/peaq/ModelOutputs.h"
#include "tools/peaq/QualityNetwork.h"

namespace ostrel::peaq {

using Channels = std::vector<std::vector<double>>;  // samples in 16-bit units (full scale 32768)

struct Segment {
  double start = 0.0;  // seconds
  double end = 0.0;
  bool graded = false;  // false when the reference holds no signal there (grade left at 0)
  Grade grade;
};

struct Quality {
  Movs movs{};
  Grade grade;
  std::vector<Segment> segments;  // with a segment length only
};

// The frame-by-frame analysis of a reference and a test signal at 48 kHz: 1 or 2 channels, the
// same in both; each channel compared over the shortest length. Frames start every HOP samples
// while a frame holds at least HOP samples of signal (zeros after its end).
FrameSeries AnalyseFrames(const Channels& reference, const Channels& test);

// Grades `test` against `reference`, both at `rate` Hz (resampled to 48 kHz and rounded to 16-bit
// sample values when at another rate), aligned
// at their first samples and compared over the shorter length. With segmentSeconds > 0 also grades
// consecutive segments of that length (the last may be shorter): the frames are analysed once,
// each segment averages the frames that start in it, the settling time counts from the file's
// start and the detection's running maximum starts afresh in each segment. False with *error set when the
// input cannot be graded (channel counts, under HOP samples, no resampler for a rate other than
// 48 kHz, a reference without signal: no sum of 5 consecutive sample magnitudes over 200).
bool MeasureQuality(const Channels& reference, const Channels& test, int rate, double segmentSeconds, Quality* out,
                    std::string* error);

}  // namespace ostrel::peaq
