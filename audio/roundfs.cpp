#include "audio/roundfs.h"

#include <cmath>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace ostrel {

short roundfs(float input) {
  if (std::isnan(input)) return 0;
  float clamped = input;
  if (clamped > 32767.0f) clamped = 32767.0f;
  if (clamped < -32768.0f) clamped = -32768.0f;
  const float whole = std::floor(clamped);
  int result = static_cast<int>(whole);
  if (clamped - whole >= 0.5f) result += 1;
  return static_cast<short>(result);
}

namespace {

void InterleaveScalar(const float* first, const float* second, int16_t* interleaved, std::size_t frames) {
  for (std::size_t n = 0; n < frames; ++n) {
    interleaved[2 * n] = roundfs(first[n]);
    interleaved[2 * n + 1] = roundfs(second[n]);
  }
}

#if defined(__x86_64__)
// roundfs on four lanes: within the clamped range truncation is exact, floor is truncation less
// one where that went up, and the half test is the scalar one on the same floats. NaN lanes are
// masked to 0.
inline __m128i RoundLanes(__m128 x) {
  const __m128 ordered = _mm_cmpord_ps(x, x);
  const __m128 clamped = _mm_max_ps(_mm_min_ps(x, _mm_set1_ps(32767.0f)), _mm_set1_ps(-32768.0f));
  __m128i t = _mm_cvttps_epi32(clamped);
  t = _mm_add_epi32(t, _mm_castps_si128(_mm_cmplt_ps(clamped, _mm_cvtepi32_ps(t))));
  const __m128 fraction = _mm_sub_ps(clamped, _mm_cvtepi32_ps(t));
  t = _mm_sub_epi32(t, _mm_castps_si128(_mm_cmpge_ps(fraction, _mm_set1_ps(0.5f))));
  return _mm_and_si128(t, _mm_castps_si128(ordered));
}

void InterleaveSse2(const float* first, const float* second, int16_t* interleaved, std::size_t frames) {
  std::size_t n = 0;
  for (; n + 8 <= frames; n += 8) {
    // Every lane is within -32768 .. 32767, so the saturating packs are plain narrowings.
    const __m128i a = _mm_packs_epi32(RoundLanes(_mm_loadu_ps(first + n)), RoundLanes(_mm_loadu_ps(first + n + 4)));
    const __m128i b = _mm_packs_epi32(RoundLanes(_mm_loadu_ps(second + n)), RoundLanes(_mm_loadu_ps(second + n + 4)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(interleaved + 2 * n), _mm_unpacklo_epi16(a, b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(interleaved + 2 * n + 8), _mm_unpackhi_epi16(a, b));
  }
  InterleaveScalar(first + n, second + n, interleaved + 2 * n, frames - n);
}
#endif

}  // namespace

void InterleavePcm(SimdPath path, const float* first, const float* second, int16_t* interleaved,
                   std::size_t frames) {
#if defined(__x86_64__)
  if (path != SimdPath::Scalar) {
    InterleaveSse2(first, second, interleaved, frames);
    return;
  }
#endif
  (void)path;
  InterleaveScalar(first, second, interleaved, frames);
}

void InterleavePcm(const float* first, const float* second, int16_t* interleaved, std::size_t frames) {
  static const SimdPath path = ChosenSimdPath();
  InterleavePcm(path, first, second, interleaved, frames);
}

}  // namespace ostrel
