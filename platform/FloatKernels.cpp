#include "platform/FloatKernels.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

void ScaleFloats(float* dst, const float* src, float factor, std::size_t n) {
  ScaleFloats(Chosen(), dst, src, factor, n);
}
void DivideFloats(float* x, float divisor, std::size_t n) { DivideFloats(Chosen(), x, divisor, n); }
void WindowAdd(float* x, const float* window, const float* add, std::size_t n) {
  WindowAdd(Chosen(), x, window, add, n);
}
void WindowCopy(float* x, const float* window, float* copy, std::size_t n) {
  WindowCopy(Chosen(), x, window, copy, n);
}

}  // namespace ostrel
