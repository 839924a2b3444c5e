#include "tools/peaq/QualityMeter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <memory>

#include "tools/peaq/ChannelAnalyser.h"
#include "tools/peaq/Resampler.h"

namespace ostrel::peaq {
namespace {

constexpr int BOUNDARY_RUN = 5;            // samples summed to find where the signal starts and ends
constexpr double BOUNDARY_LEVEL = 200.0;   // their sum of magnitudes, 16-bit units

// The first and last sample of the reference's signal: the first (last) place where BOUNDARY_RUN
// consecutive samples of some channel add up to more than BOUNDARY_LEVEL in magnitude.
// -1, -1 when there is none.
void DataBoundaries(const Channels& reference, size_t length, long* start, long* end) {
  *start = -1;
  *end = -1;
  if (length < static_cast<size_t>(BOUNDARY_RUN)) return;
  for (const std::vector<double>& x : reference) {
    double sum = 0.0;
    for (size_t i = 0; i < length; ++i) {
      sum += std::fabs(x[i]);
      if (i >= static_cast<size_t>(BOUNDARY_RUN)) sum -= std::fabs(x[i - BOUNDARY_RUN]);
      if (i + 1 >= static_cast<size_t>(BOUNDARY_RUN) && sum > BOUNDARY_LEVEL) {
        const long first = static_cast<long>(i) - (BOUNDARY_RUN - 1);  // the run's first sample
        if (*start < 0 || first < *start) *start = first;
        *end = std::max(*end, static_cast<long>(i));  // the run's last sample
      }
    }
  }
}

}  // namespace

FrameSeries AnalyseFrames(const Channels& reference, const Channels& test) {
  FrameSeries series;
  series.channels = static_cast<int>(std::min(std::min(reference.size(), test.size()), size_t(MAX_CHANNELS)));
  size_t length = SIZE_MAX;
  for (int c = 0; c < series.channels; ++c) {
    length = std::min({length, reference[static_cast<size_t>(c)].size(), test[static_cast<size_t>(c)].size()});
  }
  if (series.channels == 0) length = 0;
  const size_t frames = length / HOP;
  series.frames.resize(frames);

  std::vector<std::unique_ptr<ChannelAnalyser>> analysers;
  for (int c = 0; c < series.channels; ++c) analysers.push_back(std::make_unique<ChannelAnalyser>());
  std::vector<double> ref(FRAME), tst(FRAME);
  for (size_t n = 0; n < frames; ++n) {
    const size_t begin = n * HOP;
    const size_t available = std::min<size_t>(FRAME, length - begin);
    FrameRecord& record = series.frames[n];
    for (int c = 0; c < series.channels; ++c) {
      const std::vector<double>& r = reference[static_cast<size_t>(c)];
      const std::vector<double>& t = test[static_cast<size_t>(c)];
      std::copy(r.begin() + static_cast<long>(begin), r.begin() + static_cast<long>(begin + available), ref.begin());
      std::copy(t.begin() + static_cast<long>(begin), t.begin() + static_cast<long>(begin + available), tst.begin());
      std::fill(ref.begin() + static_cast<long>(available), ref.end(), 0.0);
      std::fill(tst.begin() + static_cast<long>(available), tst.end(), 0.0);
      analysers[static_cast<size_t>(c)]->Process(ref.data(), tst.data(), &record.channel[static_cast<size_t>(c)]);
    }
    // Both channels together: in each band the larger probability and step count of the two.
    double undetected = 1.0, steps = 0.0;
    for (int b = 0; b < BANDS; ++b) {
      double p = 0.0, q = 0.0;
      for (int c = 0; c < series.channels; ++c) {
        p = std::max(p, analysers[static_cast<size_t>(c)]->Probability()[b]);
        q = std::max(q, analysers[static_cast<size_t>(c)]->Steps()[b]);
      }
      undetected *= 1.0 - p;
      steps += q;
    }
    record.detection = 1.0 - undetected;
    record.steps = steps;
  }

  // The frames holding the reference's signal: from the last frame to start before its first
  // sample to the last frame to start before its last one.
  long start = 0, end = 0;
  DataBoundaries(reference, length, &start, &end);
  if (start >= 0 && frames > 0) {
    series.dataFirst = static_cast<int>(std::max(0L, start / HOP - 1));
    series.dataLast = static_cast<int>(std::min(static_cast<long>(frames) - 1, end / HOP));
  } else {
    series.dataFirst = 0;
    series.dataLast = -1;
  }
  return series;
}

bool MeasureQuality(const Channels& reference, const Channels& test, int rate, double segmentSeconds, Quality* out,
                    std::string* error) {
  if (reference.empty() || reference.size() > MAX_CHANNELS || reference.size() != test.size()) {
    *error = "the quality grade needs 1 or 2 channels, the same in both signals";
    return false;
  }
  size_t length = SIZE_MAX;
  for (const std::vector<double>& c : reference) length = std::min(length, c.size());
  for (const std::vector<double>& c : test) length = std::min(length, c.size());
  Channels ref48, test48;
  if (rate != SAMPLE_RATE) {
    // Both signals through one resampler: its filter is designed once.
    std::vector<const double*> inputs;
    for (const std::vector<double>& c : reference) inputs.push_back(c.data());
    for (const std::vector<double>& c : test) inputs.push_back(c.data());
    Channels both;
    if (!ResampleTo48k(inputs, length, rate, &both, error)) return false;
    // Decision: the resampled signals are rounded to 16-bit samples, as a 48 kHz file would hold
    // them. The bandwidth variables read the test's noise floor above 21.6 kHz as the level of
    // "nothing"; an upsampled 44.1 kHz signal kept in double precision has no floor there (the
    // resampler's stop band lies 175 dB down), only the resampler's band edge below 22 kHz, and
    // every coder's low-pass would then go unseen (a 16 kHz low-pass measured as 21.5 kHz).
    for (std::vector<double>& channel : both) {
      for (double& v : channel) v = std::min(FULL_SCALE - 1.0, std::max(-FULL_SCALE, std::round(v)));
    }
    for (size_t c = 0; c < both.size(); ++c) (c < reference.size() ? ref48 : test48).push_back(std::move(both[c]));
  }
  const Channels& ref = rate == SAMPLE_RATE ? reference : ref48;
  const Channels& tst = rate == SAMPLE_RATE ? test : test48;
  const FrameSeries series = AnalyseFrames(ref, tst);
  if (series.frames.empty()) {
    *error = "the quality grade needs at least " + std::to_string(HOP) + " samples at 48000 Hz";
    return false;
  }
  if (series.dataFirst > series.dataLast) {
    // Every variable would be an empty average: there is nothing to grade.
    *error = "the source holds no signal to grade (it stays within a few units of silence)";
    return false;
  }
  const int last = static_cast<int>(series.frames.size()) - 1;
  out->movs = AverageMovs(series, 0, last);
  out->grade = NetworkGrade(out->movs);
  out->segments.clear();
  if (segmentSeconds > 0.0) {
    const size_t length48 = std::min(ref[0].size(), tst[0].size());
    const double segmentSamples = std::max(1.0, std::round(segmentSeconds * SAMPLE_RATE));
    // A frame belongs to the segment its first sample falls in.
    int first = 0;
    while (first <= last) {
      const long index = static_cast<long>(std::floor(double(first) * HOP / segmentSamples));
      int end = first;
      while (end + 1 <= last && static_cast<long>(std::floor(double(end + 1) * HOP / segmentSamples)) == index) ++end;
      Segment s;
      s.start = index * segmentSamples / SAMPLE_RATE;
      s.end = std::min((index + 1) * segmentSamples, double(length48)) / SAMPLE_RATE;
      s.graded = std::max(first, series.dataFirst) <= std::min(end, series.dataLast);
      if (s.graded) s.grade = NetworkGrade(AverageMovs(series, first, end));
      out->segments.push_back(s);
      first = end + 1;
    }
  }
  return true;
}

}  // namespace ostrel::peaq
