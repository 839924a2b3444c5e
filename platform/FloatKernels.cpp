#include "platform/FloatKernels.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cmath>

namespace ostrel {

namespace {

void ScaleScalar(float* dst, const float* src, float factor, std::size_t i, std::size_t n) {
  for (; i < n; ++i) dst[i] = src[i] * factor;
}
void DivideScalar(float* x, float divisor, std::size_t i, std::size_t n) {
  for (; i < n; ++i) x[i] = x[i] / divisor;
}
void WindowAddScalar(float* x, const float* window, const float* add, std::size_t i, std::size_t n) {
  for (; i < n; ++i) x[i] = x[i] * window[i] + add[i];
}
void WindowCopyScalar(float* x, const float* window, float* copy, std::size_t i, std::size_t n) {
  for (; i < n; ++i) {
    x[i] = x[i] * window[i];
    copy[i] = x[i];
  }
}
void ShrinkScalar(float* dst, const float* src, float factor, float shrink, std::size_t i, std::size_t n) {
  for (; i < n; ++i) {
    const float v = src[i] * factor;
    dst[i] = std::copysign(std::max(std::fabs(v) - shrink, 0.0f), v);
  }
}

#if defined(__x86_64__)
// Each form takes whole vectors from the start and returns where the scalar tail begins.
std::size_t ScaleSse2(float* dst, const float* src, float factor, std::size_t n) {
  const __m128 f = _mm_set1_ps(factor);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) _mm_storeu_ps(dst + i, _mm_mul_ps(_mm_loadu_ps(src + i), f));
  return i;
}
std::size_t DivideSse2(float* x, float divisor, std::size_t n) {
  const __m128 d = _mm_set1_ps(divisor);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) _mm_storeu_ps(x + i, _mm_div_ps(_mm_loadu_ps(x + i), d));
  return i;
}
std::size_t WindowAddSse2(float* x, const float* window, const float* add, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 product = _mm_mul_ps(_mm_loadu_ps(x + i), _mm_loadu_ps(window + i));
    _mm_storeu_ps(x + i, _mm_add_ps(product, _mm_loadu_ps(add + i)));
  }
  return i;
}
std::size_t WindowCopySse2(float* x, const float* window, float* copy, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 product = _mm_mul_ps(_mm_loadu_ps(x + i), _mm_loadu_ps(window + i));
    _mm_storeu_ps(x + i, product);
    _mm_storeu_ps(copy + i, product);
  }
  return i;
}
// The sign bit is taken off and put back by masks: the same magnitude, difference and maximum
// as the scalar loop (a zero difference stays +0 there too, and copysign gives it v's sign).
std::size_t ShrinkSse2(float* dst, const float* src, float factor, float shrink, std::size_t n) {
  const __m128 f = _mm_set1_ps(factor);
  const __m128 s = _mm_set1_ps(shrink);
  const __m128 sign = _mm_set1_ps(-0.0f);
  const __m128 zero = _mm_setzero_ps();
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 v = _mm_mul_ps(_mm_loadu_ps(src + i), f);
    const __m128 magnitude = _mm_max_ps(_mm_sub_ps(_mm_andnot_ps(sign, v), s), zero);
    _mm_storeu_ps(dst + i, _mm_or_ps(magnitude, _mm_and_ps(sign, v)));
  }
  return i;
}

// The AVX2 forms leave clean upper register halves for the SSE code that follows.
__attribute__((target("avx2"))) std::size_t ScaleAvx2(float* dst, const float* src, float factor, std::size_t n) {
  const __m256 f = _mm256_set1_ps(factor);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) _mm256_storeu_ps(dst + i, _mm256_mul_ps(_mm256_loadu_ps(src + i), f));
  _mm256_zeroupper();
  return i;
}
__attribute__((target("avx2"))) std::size_t DivideAvx2(float* x, float divisor, std::size_t n) {
  const __m256 d = _mm256_set1_ps(divisor);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) _mm256_storeu_ps(x + i, _mm256_div_ps(_mm256_loadu_ps(x + i), d));
  _mm256_zeroupper();
  return i;
}
__attribute__((target("avx2"))) std::size_t WindowAddAvx2(float* x, const float* window, const float* add,
                                                          std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 product = _mm256_mul_ps(_mm256_loadu_ps(x + i), _mm256_loadu_ps(window + i));
    _mm256_storeu_ps(x + i, _mm256_add_ps(product, _mm256_loadu_ps(add + i)));
  }
  _mm256_zeroupper();
  return i;
}
__attribute__((target("avx2"))) std::size_t WindowCopyAvx2(float* x, const float* window, float* copy,
                                                           std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 product = _mm256_mul_ps(_mm256_loadu_ps(x + i), _mm256_loadu_ps(window + i));
    _mm256_storeu_ps(x + i, product);
    _mm256_storeu_ps(copy + i, product);
  }
  _mm256_zeroupper();
  return i;
}
__attribute__((target("avx2"))) std::size_t ShrinkAvx2(float* dst, const float* src, float factor, float shrink,
                                                       std::size_t n) {
  const __m256 f = _mm256_set1_ps(factor);
  const __m256 s = _mm256_set1_ps(shrink);
  const __m256 sign = _mm256_set1_ps(-0.0f);
  const __m256 zero = _mm256_setzero_ps();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 v = _mm256_mul_ps(_mm256_loadu_ps(src + i), f);
    const __m256 magnitude = _mm256_max_ps(_mm256_sub_ps(_mm256_andnot_ps(sign, v), s), zero);
    _mm256_storeu_ps(dst + i, _mm256_or_ps(magnitude, _mm256_and_ps(sign, v)));
  }
  _mm256_zeroupper();
  return i;
}
#endif

SimdPath Chosen() {
  static const SimdPath path = ChosenSimdPath();
  return path;
}

}  // namespace

void ScaleFloats(SimdPath path, float* dst, const float* src, float factor, std::size_t n) {
  std::size_t i = 0;
#if defined(__x86_64__)
  if (path == SimdPath::Avx2) i = ScaleAvx2(dst, src, factor, n);
  if (path != SimdPath::Scalar) i += ScaleSse2(dst + i, src + i, factor, n - i);
#endif
  ScaleScalar(dst, src, factor, i, n);
}

void DivideFloats(SimdPath path, float* x, float divisor, std::size_t n) {
  std::size_t i = 0;
#if defined(__x86_64__)
  if (path == SimdPath::Avx2) i = DivideAvx2(x, divisor, n);
  if (path != SimdPath::Scalar) i += DivideSse2(x + i, divisor, n - i);
#endif
  DivideScalar(x, divisor, i, n);
}

void WindowAdd(SimdPath path, float* x, const float* window, const float* add, std::size_t n) {
  std::size_t i = 0;
#if defined(__x86_64__)
  if (path == SimdPath::Avx2) i = WindowAddAvx2(x, window, add, n);
  if (path != SimdPath::Scalar) i += WindowAddSse2(x + i, window + i, add + i, n - i);
#endif
  WindowAddScalar(x, window, add, i, n);
}

void WindowCopy(SimdPath path, float* x, const float* window, float* copy, std::size_t n) {
  std::size_t i = 0;
#if defined(__x86_64__)
  if (path == SimdPath::Avx2) i = WindowCopyAvx2(x, window, copy, n);
  if (path != SimdPath::Scalar) i += WindowCopySse2(x + i, window + i, copy + i, n - i);
#endif
  WindowCopyScalar(x, window, copy, i, n);
}

void ShrinkScaled(SimdPath path, float* dst, const float* src, float factor, float shrink, std::size_t n) {
  std::size_t i = 0;
#if defined(__x86_64__)
  if (path == SimdPath::Avx2) i = ShrinkAvx2(dst, src, factor, shrink, n);
  if (path != SimdPath::Scalar) i += ShrinkSse2(dst + i, src + i, factor, shrink, n - i);
#endif
  ShrinkScalar(dst, src, factor, shrink, i, n);
}

void ScaleFloats(float* dst, const float* src, float factor, std::size_t n) {
  ScaleFloats(Chosen(), dst, src, factor, n);
}
void ShrinkScaled(float* dst, const float* src, float factor, float shrink, std::size_t n) {
  ShrinkScaled(Chosen(), dst, src, factor, shrink, n);
}
void DivideFloats(float* x, float divisor, std::size_t n) { DivideFloats(Chosen(), x, divisor, n); }
void WindowAdd(float* x, const float* window, const float* add, std::size_t n) {
  WindowAdd(Chosen(), x, window, add, n);
}
void WindowCopy(float* x, const float* window, float* copy, std::size_t n) {
  WindowCopy(Chosen(), x, window, copy, n);
}

}  // namespace ostrel
