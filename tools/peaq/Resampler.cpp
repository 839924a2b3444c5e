#include "tools/peaq/Resampler.h"

#include <cmath>

#include "tools/peaq/ModelTables.h"

#ifdef OSTREL_HAVE_SOXR
#include <soxr.h>
#endif

namespace ostrel::peaq {

bool CanResample() {
#ifdef OSTREL_HAVE_SOXR
  return true;
#else
  return false;
#endif
}

bool ResampleTo48k(const std::vector<std::vector<double>>& channels, int rate,
                   std::vector<std::vector<double>>* out, std::string* error) {
  if (rate == SAMPLE_RATE) {
    *out = channels;
    return true;
  }
#ifdef OSTREL_HAVE_SOXR
  const size_t count = channels.empty() ? 0 : channels[0].size();
  const size_t outCount = static_cast<size_t>(std::llround(double(count) * SAMPLE_RATE / rate));
  const unsigned n = static_cast<unsigned>(channels.size());
  std::vector<double> in(count * n), resampled(outCount * n + 16);
  for (size_t i = 0; i < count; ++i) {
    for (unsigned c = 0; c < n; ++c) in[i * n + c] = channels[c][i];
  }
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
  size_t made = 0;
  // The one-shot call flushes the filter and returns the output from its first aligned sample.
  const soxr_error_t failure = soxr_oneshot(double(rate), double(SAMPLE_RATE), n, in.data(), count, nullptr,
                                            resampled.data(), outCount, &made, &io, &quality, nullptr);
  if (failure != nullptr) {
    *error = std::string("resampling to 48000 Hz failed: ") + failure;
    return false;
  }
  out->assign(n, std::vector<double>(outCount, 0.0));
  for (size_t i = 0; i < made && i < outCount; ++i) {
    for (unsigned c = 0; c < n; ++c) (*out)[c][i] = resampled[i * n + c];
  }
  return true;
#else
  (void)channels;
  (void)out;
  *error = "the quality grade is computed at 48000 Hz and this build cannot resample " + std::to_string(rate) +
           " Hz input (it was built without libsoxr: install libsoxr-dev and reconfigure)";
  return false;
#endif
}

}  // namespace ostrel::peaq
