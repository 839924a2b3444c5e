#include "tools/peaq/Resampler.h"

#include <algorithm>
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

bool ResampleTo48k(const std::vector<const double*>& channels, size_t length, int rate,
                   std::vector<std::vector<double>>* out, std::string* error) {
  if (rate == SAMPLE_RATE) {
    out->clear();
    for (const double* c : channels) out->emplace_back(c, c + length);
    return true;
  }
#ifdef OSTREL_HAVE_SOXR
  const size_t n = channels.size();
  const size_t outCount = static_cast<size_t>(std::llround(double(length) * SAMPLE_RATE / rate));
  out->assign(n, std::vector<double>(outCount, 0.0));
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);  // one thread: the caller's
  soxr_error_t failure = nullptr;
  soxr_t soxr = soxr_create(double(rate), double(SAMPLE_RATE), static_cast<unsigned>(n), &failure, &io, &quality,
                            &runtime);
  if (soxr == nullptr) {
    *error = std::string("resampling to 48000 Hz failed: ") + (failure != nullptr ? failure : "no resampler");
    return false;
  }
  // Streamed in chunks through small interleaved buffers; the output starts at the first aligned
  // sample (the library keeps the filter's delay out of it) and runs on after the flush.
  constexpr size_t CHUNK = 4096;  // sample frames per call
  std::vector<double> in(CHUNK * n), made(2 * CHUNK * n);
  size_t done = 0, written = 0;
  while (failure == nullptr) {
    const size_t take = std::min(CHUNK, length - done);
    for (size_t i = 0; i < take; ++i) {
      for (size_t c = 0; c < n; ++c) in[i * n + c] = channels[c][done + i];
    }
    size_t used = 0, produced = 0;
    // A null input once everything is in: the flush.
    failure = soxr_process(soxr, take > 0 ? in.data() : nullptr, take, &used, made.data(), 2 * CHUNK, &produced);
    if (take > 0 && used != take && failure == nullptr) failure = "the resampler did not take its input";
    done += take;
    for (size_t i = 0; i < produced && written < outCount; ++i, ++written) {
      for (size_t c = 0; c < n; ++c) (*out)[c][written] = made[i * n + c];
    }
    if (take == 0 && produced == 0) break;
  }
  soxr_delete(soxr);
  if (failure != nullptr) {
    *error = std::string("resampling to 48000 Hz failed: ") + failure;
    return false;
  }
  return true;
#else
  (void)out;
  (void)length;
  *error = "the quality grade is computed at 48000 Hz and this build cannot resample " + std::to_string(rate) +
           " Hz input (it was built without libsoxr: install libsoxr-dev and reconfigure)";
  return false;
#endif
}

}  // namespace ostrel::peaq
