#include "platform/FloatKernels.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdint>

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

void SandwichScalar(float* x, float from, float sent, float level, std::size_t i, std::size_t n) {
  for (; i + 1 < n; ++i) {
    const float v = std::fabs(x[i]);
    if (v >= from && v < sent && std::fabs(x[i - 1]) >= sent && std::fabs(x[i + 1]) >= sent) {
      x[i] = std::copysign(level, x[i]);
    }
  }
}

// The scalar and SSE2 paths test a block of 64 values at a time into bits, value j of the block
// at bit j: `small` where from <= |x| < sent (at least from and not at least sent, which NaN is
// neither), `big` where |x| >= sent. A value's neighbours are then the bits beside it; `before`
// holds the big bit of the value before the block (0 for the first block, whose first value is
// never changed) and the value after the block, if there is one, is tested before the block's
// values are changed. The tests read the values as they were, which changes nothing (see
// KeepSandwiched).
constexpr std::size_t SANDWICH_BLOCK = 64;

// Whole blocks from the start, each tested by test(block, &small, &big); returns where the
// value-by-value loop takes over.
template <typename TestBlock>
std::size_t SandwichBlocks(float* x, float sent, float level, std::size_t n, TestBlock test) {
  std::uint64_t before = 0;
  std::size_t b = 0;
  for (; b + SANDWICH_BLOCK <= n; b += SANDWICH_BLOCK) {
    std::uint64_t small = 0, big = 0;
    test(x + b, &small, &big);
    const std::uint64_t after = n - b > SANDWICH_BLOCK && std::fabs(x[b + SANDWICH_BLOCK]) >= sent ? 1 : 0;
    std::uint64_t sandwiched = small & ((big << 1) | before) & ((big >> 1) | (after << 63));
    before = big >> 63;
    // Few values are changed.
    for (; sandwiched != 0; sandwiched &= sandwiched - 1) {
      const std::size_t j = b + static_cast<std::size_t>(__builtin_ctzll(sandwiched));
      x[j] = std::copysign(level, x[j]);
    }
  }
  return b;
}

// The scalar path's test, a value at a time without a jump (the tests follow no pattern).
std::size_t SandwichBlocksScalar(float* x, float from, float sent, float level, std::size_t n) {
  return SandwichBlocks(x, sent, level, n, [&](const float* block, std::uint64_t* small, std::uint64_t* big) {
    for (std::size_t j = 0; j < SANDWICH_BLOCK; ++j) {
      const float magnitude = std::fabs(block[j]);
      const bool reaches = magnitude >= sent;
      *small = (*small >> 1) | (static_cast<std::uint64_t>(!reaches & (magnitude >= from)) << 63);
      *big = (*big >> 1) | (static_cast<std::uint64_t>(reaches) << 63);
    }
  });
}

// The fill's sums: eight parts, part j taking the values i with i % 8 == j, from i on.
constexpr std::size_t FILL_PARTS = 8;
void FillPowersScalar(const float* src, const float* dst, float factor, float levels, std::size_t i, std::size_t n,
                      float* own, float* sent) {
  for (; i < n; ++i) {
    const std::size_t j = i % FILL_PARTS;
    const float v = std::fabs(src[i] * factor) * levels;
    own[j] += v * v;
    const float level = static_cast<float>(static_cast<int>(std::fabs(dst[i]) * levels + 0.5f));
    sent[j] += level * level;
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
// Sixteen values' tests packed to bytes in order, a bit each by one movemask.
std::size_t SandwichSse2(float* x, float from, float sent, float level, std::size_t n) {
  const __m128 sign = _mm_set1_ps(-0.0f);
  const __m128 f = _mm_set1_ps(from), s = _mm_set1_ps(sent);
  auto test = [&](const float* p, __m128i* reaches) {
    const __m128 magnitude = _mm_andnot_ps(sign, _mm_loadu_ps(p));
    const __m128 large = _mm_cmpge_ps(magnitude, s);
    *reaches = _mm_castps_si128(large);
    return _mm_castps_si128(_mm_andnot_ps(large, _mm_cmpge_ps(magnitude, f)));
  };
  auto bits = [](__m128i m0, __m128i m1, __m128i m2, __m128i m3) {
    const __m128i bytes = _mm_packs_epi16(_mm_packs_epi32(m0, m1), _mm_packs_epi32(m2, m3));
    return static_cast<std::uint64_t>(_mm_movemask_epi8(bytes)) << 48;
  };
  return SandwichBlocks(x, sent, level, n, [&](const float* block, std::uint64_t* small, std::uint64_t* big) {
    for (std::size_t j = 0; j < SANDWICH_BLOCK; j += 16) {
      __m128i r0, r1, r2, r3;
      const __m128i i0 = test(block + j, &r0), i1 = test(block + j + 4, &r1), i2 = test(block + j + 8, &r2),
                    i3 = test(block + j + 12, &r3);
      *small = (*small >> 16) | bits(i0, i1, i2, i3);
      *big = (*big >> 16) | bits(r0, r1, r2, r3);
    }
  });
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
__attribute__((target("avx2"))) std::size_t SandwichAvx2(float* x, float from, float sent, float level,
                                                         std::size_t i, std::size_t n) {
  const __m256 sign = _mm256_set1_ps(-0.0f);
  const __m256 f = _mm256_set1_ps(from), s = _mm256_set1_ps(sent), l = _mm256_set1_ps(level);
  const __m256i up = _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6), last = _mm256_set1_epi32(7);
  __m256 carry = _mm256_set1_ps(x[i - 1]);
  for (; i + 8 < n; i += 8) {
    const __m256 v = _mm256_loadu_ps(x + i);
    const __m256 magnitude = _mm256_andnot_ps(sign, v);
    const __m256 left = _mm256_andnot_ps(sign, _mm256_blend_ps(_mm256_permutevar8x32_ps(v, up), carry, 1));
    const __m256 right = _mm256_andnot_ps(sign, _mm256_loadu_ps(x + i + 1));
    const __m256 sandwiched =
        _mm256_and_ps(_mm256_and_ps(_mm256_cmp_ps(magnitude, f, _CMP_GE_OQ), _mm256_cmp_ps(magnitude, s, _CMP_LT_OQ)),
                      _mm256_and_ps(_mm256_cmp_ps(left, s, _CMP_GE_OQ), _mm256_cmp_ps(right, s, _CMP_GE_OQ)));
    carry = _mm256_permutevar8x32_ps(v, last);
    const __m256 kept = _mm256_or_ps(l, _mm256_and_ps(sign, v));
    _mm256_storeu_ps(x + i, _mm256_or_ps(_mm256_and_ps(sandwiched, kept), _mm256_andnot_ps(sandwiched, v)));
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

// The fill's sums over whole groups of eight: parts 0-3 and 4-7 in a vector each.
std::size_t FillPowersSse2(const float* src, const float* dst, float factor, float levels, std::size_t n,
                           float* own, float* sent) {
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  const __m128 f = _mm_set1_ps(factor), l = _mm_set1_ps(levels), half = _mm_set1_ps(0.5f);
  __m128 own0 = _mm_setzero_ps(), own1 = _mm_setzero_ps(), sent0 = _mm_setzero_ps(), sent1 = _mm_setzero_ps();
  auto value = [&](const float* p) { return _mm_mul_ps(_mm_and_ps(_mm_mul_ps(_mm_loadu_ps(p), f), magnitude), l); };
  auto level = [&](const float* p) {
    const __m128 scaled = _mm_add_ps(_mm_mul_ps(_mm_and_ps(_mm_loadu_ps(p), magnitude), l), half);
    return _mm_cvtepi32_ps(_mm_cvttps_epi32(scaled));
  };
  std::size_t i = 0;
  for (; i + FILL_PARTS <= n; i += FILL_PARTS) {
    const __m128 v0 = value(src + i), v1 = value(src + i + 4);
    own0 = _mm_add_ps(own0, _mm_mul_ps(v0, v0));
    own1 = _mm_add_ps(own1, _mm_mul_ps(v1, v1));
    const __m128 q0 = level(dst + i), q1 = level(dst + i + 4);
    sent0 = _mm_add_ps(sent0, _mm_mul_ps(q0, q0));
    sent1 = _mm_add_ps(sent1, _mm_mul_ps(q1, q1));
  }
  _mm_storeu_ps(own, own0);
  _mm_storeu_ps(own + 4, own1);
  _mm_storeu_ps(sent, sent0);
  _mm_storeu_ps(sent + 4, sent1);
  return i;
}

// The same with the eight parts in one vector.
__attribute__((target("avx2"))) std::size_t FillPowersAvx2(const float* src, const float* dst, float factor,
                                                           float levels, std::size_t n, float* own, float* sent) {
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
  const __m256 f = _mm256_set1_ps(factor), l = _mm256_set1_ps(levels), half = _mm256_set1_ps(0.5f);
  __m256 ownSum = _mm256_setzero_ps(), sentSum = _mm256_setzero_ps();
  std::size_t i = 0;
  for (; i + FILL_PARTS <= n; i += FILL_PARTS) {
    const __m256 v = _mm256_mul_ps(_mm256_and_ps(_mm256_mul_ps(_mm256_loadu_ps(src + i), f), magnitude), l);
    ownSum = _mm256_add_ps(ownSum, _mm256_mul_ps(v, v));
    const __m256 scaled = _mm256_add_ps(_mm256_mul_ps(_mm256_and_ps(_mm256_loadu_ps(dst + i), magnitude), l), half);
    const __m256 q = _mm256_cvtepi32_ps(_mm256_cvttps_epi32(scaled));
    sentSum = _mm256_add_ps(sentSum, _mm256_mul_ps(q, q));
  }
  _mm256_storeu_ps(own, ownSum);
  _mm256_storeu_ps(sent, sentSum);
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

void KeepSandwiched(SimdPath path, float* x, float from, float sent, float level, std::size_t n) {
  if (n < 3) return;
  std::size_t i;
#if defined(__x86_64__)
  if (path == SimdPath::Avx2) i = SandwichAvx2(x, from, sent, level, 1, n);
  else if (path == SimdPath::Sse2) i = SandwichSse2(x, from, sent, level, n);
  else i = SandwichBlocksScalar(x, from, sent, level, n);
#else
  (void)path;
  i = SandwichBlocksScalar(x, from, sent, level, n);
#endif
  SandwichScalar(x, from, sent, level, std::max<std::size_t>(i, 1), n);
}

void FillPowers(SimdPath path, const float* src, const float* dst, float factor, float levels, std::size_t n,
                float* own, float* sent) {
  float ownParts[FILL_PARTS] = {}, sentParts[FILL_PARTS] = {};
  std::size_t i = 0;
#if defined(__x86_64__)
  if (path == SimdPath::Avx2) i = FillPowersAvx2(src, dst, factor, levels, n, ownParts, sentParts);
  else if (path == SimdPath::Sse2) i = FillPowersSse2(src, dst, factor, levels, n, ownParts, sentParts);
#else
  (void)path;
#endif
  FillPowersScalar(src, dst, factor, levels, i, n, ownParts, sentParts);
  auto total = [](const float* p) { return ((p[0] + p[1]) + (p[2] + p[3])) + ((p[4] + p[5]) + (p[6] + p[7])); };
  *own = total(ownParts);
  *sent = total(sentParts);
}

void ScaleFloats(float* dst, const float* src, float factor, std::size_t n) {
  ScaleFloats(Chosen(), dst, src, factor, n);
}
void FillPowers(const float* src, const float* dst, float factor, float levels, std::size_t n, float* own,
                float* sent) {
  FillPowers(Chosen(), src, dst, factor, levels, n, own, sent);
}
void KeepSandwiched(float* x, float from, float sent, float level, std::size_t n) {
  KeepSandwiched(Chosen(), x, from, sent, level, n);
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
