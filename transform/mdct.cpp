#include "transform/mdct.h"

#include <cmath>
#include <memory>
#include <new>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "platform/CpuFeatures.h"
#include "platform/Fatal.h"
#include "transform/fft.h"

namespace ostrel {

namespace {

struct MdctWork {
  std::unique_ptr<float[]> FFTarray;  // oldN/2 floats: oldN/4 interleaved complex values
  int oldN = 0;
};

// One work array per thread, like CompFFT's table.
float* GetFFTarray(int N) {
  thread_local MdctWork work;
  if (N > work.oldN) {
    work.FFTarray.reset();
    work.oldN = N;
  }
  if (!work.FFTarray) {
    // std::bad_alloc leaves the array empty, to be tried again on the next call.
    work.FFTarray.reset(new float[static_cast<size_t>(work.oldN / 2)]);
  }
  return work.FFTarray.get();
}

// The pre- and post-rotation of a length: (c_i, s_i), i = 0 .. N/4 - 1, from the float
// recurrence c_{i+1} = c_i * cos(freq) - s_i * sin(freq), s_{i+1} = s_i * cos(freq) + c_i * sin(freq)
// seeded by the eighth angle, stored as the recurrence gives them so the rotation loops carry no
// dependence from one value to the next. Per thread: a few lengths up to 2048 in fixed storage
// (no allocation), a longer one in an array that only grows, like the work array.
constexpr int kRotationSlots = 6;
constexpr int kRotationFixed = 512;  // N / 4 for N = 2048

struct RotationSlot {
  int N = 0;
  float c[kRotationFixed];
  float s[kRotationFixed];
};

struct LongRotation {
  int N = 0;
  int room = 0;
  std::unique_ptr<float[]> cs;  // room cosines, then room sines
};

void BuildRotation(int N, float* cs, float* ss) {
  const float freq = static_cast<float>(6.28318530717959 / N);
  const float cfreq = static_cast<float>(std::cos(static_cast<double>(freq)));
  const float sfreq = static_cast<float>(std::sin(static_cast<double>(freq)));
  const double eighth = static_cast<double>(freq) * 0.125;
  float c = static_cast<float>(std::cos(eighth));
  float s = static_cast<float>(std::sin(eighth));
  for (int i = 0; i < N / 4; ++i) {
    cs[i] = c;
    ss[i] = s;
    const float cOld = c;
    c = cOld * cfreq - s * sfreq;
    s = s * cfreq + cOld * sfreq;
  }
}

// Sets *cs and *ss to the rotation of length N.
void GetRotation(int N, const float** cs, const float** ss) {
  const int quarter = N / 4;
  if (quarter > kRotationFixed) {
    thread_local LongRotation longest;
    if (longest.N != N) {
      if (quarter > longest.room) {
        // std::bad_alloc leaves the old rotation in place and unchanged.
        longest.cs.reset(new float[2 * static_cast<size_t>(quarter)]);
        longest.room = quarter;
      }
      BuildRotation(N, longest.cs.get(), longest.cs.get() + longest.room);
      longest.N = N;
    }
    *cs = longest.cs.get();
    *ss = longest.cs.get() + longest.room;
    return;
  }
  thread_local RotationSlot slots[kRotationSlots];
  thread_local int next = 0;
  for (const RotationSlot& r : slots) {
    if (r.N == N) {
      *cs = r.c;
      *ss = r.s;
      return;
    }
  }
  RotationSlot& r = slots[next];
  next = (next + 1) % kRotationSlots;
  BuildRotation(N, r.c, r.s);
  r.N = N;
  *cs = r.c;
  *ss = r.s;
}

// The transform on `work` (N/2 floats); `table` is CompFFT's work table (N/2 floats), or null
// for the thread's cache.
void MdctWith(float* data, int N, int b, int isign, float* work, float* table);

}  // namespace

void mdct(float* data, int N, int b, int isign) { MdctWith(data, N, b, isign, GetFFTarray(N), nullptr); }

void mdct(float* data, int N, int b, int isign, float* work) { MdctWith(data, N, b, isign, work, work + N / 2); }

namespace {

#if defined(__x86_64__)
// The inverse's pre-rotation, four values a vector, with the scalar loop's operations per lane
// (sign = -1): tempr = -data[2i], tempi = data[half - 1 - 2i], work[2i] = tempr * c + (sign *
// tempi) * s, work[2i + 1] = tempi * c - (sign * tempr) * s. Returns where the scalar loop goes on.
int InversePreRotationSse2(const float* data, int half, int quarter, const float* cs, const float* ss,
                           float* work) {
  const __m128 sign = _mm_set1_ps(-1.0f);
  const __m128 negate = _mm_set1_ps(-0.0f);
  int i = 0;
  for (; i + 4 <= quarter; i += 4) {
    const __m128 lo = _mm_loadu_ps(data + 2 * i), hi = _mm_loadu_ps(data + 2 * i + 4);
    const __m128 tempr = _mm_xor_ps(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)), negate);
    const __m128 rlo = _mm_loadu_ps(data + half - 8 - 2 * i), rhi = _mm_loadu_ps(data + half - 4 - 2 * i);
    const __m128 tempi = _mm_shuffle_ps(rhi, rlo, _MM_SHUFFLE(1, 3, 1, 3));
    const __m128 c = _mm_loadu_ps(cs + i), s = _mm_loadu_ps(ss + i);
    const __m128 re = _mm_add_ps(_mm_mul_ps(tempr, c), _mm_mul_ps(_mm_mul_ps(sign, tempi), s));
    const __m128 im = _mm_sub_ps(_mm_mul_ps(tempi, c), _mm_mul_ps(_mm_mul_ps(sign, tempr), s));
    _mm_storeu_ps(work + 2 * i, _mm_unpacklo_ps(re, im));
    _mm_storeu_ps(work + 2 * i + 4, _mm_unpackhi_ps(re, im));
  }
  return i;
}

// The inverse's post-rotation in two passes. First, in place on `work`, the scalar loop's
// values: work[2i] = tempr_i = (re * c + (sign * im) * s) * fac and work[2i + 1] = tempi_i =
// (im * c - (sign * re) * s) * fac. Then the unfolding, which only moves and negates them: the
// scalar loop's stores, gathered by destination, fill data with pairs taken from one value
// ascending and another descending:
//   data[2j], data[2j + 1]                  = -tempr_{b/4 + j}, -tempi_{a/4 - 1 - j}, j < a/4
//   data[a/2 + 2j], data[a/2 + 2j + 1]       = tempi_j, tempr_{N/4 - 1 - j},           j < N/4
//   data[N/2 + a/2 + 2j], data[... + 1]      = tempr_j, tempi_{N/4 - 1 - j},           j < b/4
void InversePostRotationSse2(float* data, int N, int b, int quarter, const float* cs, const float* ss,
                             float* work, float factor) {
  const __m128 sign = _mm_set1_ps(-1.0f);
  const __m128 fac = _mm_set1_ps(factor);
  int i = 0;
  for (; i + 4 <= quarter; i += 4) {
    const __m128 lo = _mm_loadu_ps(work + 2 * i), hi = _mm_loadu_ps(work + 2 * i + 4);
    const __m128 re = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 im = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
    const __m128 c = _mm_loadu_ps(cs + i), s = _mm_loadu_ps(ss + i);
    const __m128 tempr = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(re, c), _mm_mul_ps(_mm_mul_ps(sign, im), s)), fac);
    const __m128 tempi = _mm_mul_ps(_mm_sub_ps(_mm_mul_ps(im, c), _mm_mul_ps(_mm_mul_ps(sign, re), s)), fac);
    _mm_storeu_ps(work + 2 * i, _mm_unpacklo_ps(tempr, tempi));
    _mm_storeu_ps(work + 2 * i + 4, _mm_unpackhi_ps(tempr, tempi));
  }
  for (; i < quarter; ++i) {
    const float c = cs[i];
    const float s = ss[i];
    const float re = work[2 * i];
    const float im = work[2 * i + 1];
    work[2 * i] = (re * c + -1.0f * im * s) * factor;
    work[2 * i + 1] = (im * c - -1.0f * re * s) * factor;
  }
  const int a = N - b;
  // out[2j] = first_(j0 + j), out[2j + 1] = second_(k0 - j), each negated when asked: `first`
  // and `second` pick the tempr (0) or tempi (1) values.
  const auto unfold = [work](float* out, int count, int first, int j0, int second, int k0, bool negated) {
    const __m128 flip = _mm_set1_ps(negated ? -0.0f : 0.0f);
    int j = 0;
    for (; j + 4 <= count; j += 4) {
      const __m128 alo = _mm_loadu_ps(work + 2 * (j0 + j)), ahi = _mm_loadu_ps(work + 2 * (j0 + j) + 4);
      const __m128 up = first == 0 ? _mm_shuffle_ps(alo, ahi, _MM_SHUFFLE(2, 0, 2, 0))
                                   : _mm_shuffle_ps(alo, ahi, _MM_SHUFFLE(3, 1, 3, 1));
      // second_(k0 - j - 3) .. second_(k0 - j), then reversed.
      const __m128 blo = _mm_loadu_ps(work + 2 * (k0 - j - 3)), bhi = _mm_loadu_ps(work + 2 * (k0 - j - 3) + 4);
      const __m128 down = second == 0 ? _mm_shuffle_ps(bhi, blo, _MM_SHUFFLE(0, 2, 0, 2))
                                      : _mm_shuffle_ps(bhi, blo, _MM_SHUFFLE(1, 3, 1, 3));
      _mm_storeu_ps(out + 2 * j, _mm_xor_ps(_mm_unpacklo_ps(up, down), flip));
      _mm_storeu_ps(out + 2 * j + 4, _mm_xor_ps(_mm_unpackhi_ps(up, down), flip));
    }
    for (; j < count; ++j) {
      const float x = work[2 * (j0 + j) + first];
      const float y = work[2 * (k0 - j) + second];
      out[2 * j] = negated ? -x : x;
      out[2 * j + 1] = negated ? -y : y;
    }
  };
  unfold(data, a / 4, 0, b / 4, 1, a / 4 - 1, true);
  unfold(data + a / 2, quarter, 1, 0, 0, quarter - 1, false);
  unfold(data + N / 2 + a / 2, b / 4, 0, 0, 1, quarter - 1, false);
}
#endif

void MdctWith(float* data, int N, int b, int isign, float* work, float* table) {
  OSTREL_DASSERT(N > 0 && N % 4 == 0);
  OSTREL_DASSERT(b > 0 && b < N && b % 4 == 0);
  OSTREL_DASSERT(isign == 1 || isign == -1);

  const int a = N - b;
  const int quarter = N / 4;
  const int half = N / 2;
  const float fac = isign == 1 ? 2.0f : static_cast<float>(2.0 / N);
  const float sign = static_cast<float>(isign);
  const float* cs = nullptr;
  const float* ss = nullptr;
  GetRotation(N, &cs, &ss);
#if defined(__x86_64__)
  static const bool vectors = ChosenSimdPath() != SimdPath::Scalar;
  const bool inverseVectors = vectors && isign == -1;
#else
  const bool inverseVectors = false;
#endif

  int start = 0;
#if defined(__x86_64__)
  if (inverseVectors) start = InversePreRotationSse2(data, half, quarter, cs, ss, work);
#endif
  for (int i = start; i < quarter; ++i) {
    float tempr;
    float tempi;
    if (isign == 1) {
      // Fold the N inputs onto N/2 values around the two alias points, then pair them.
      int n = half - 1 - 2 * i;
      if (i < b / 4) {
        tempr = data[a / 2 + n] + data[a / 2 + N - 1 - n];
      } else {
        tempr = data[a / 2 + n] - data[a / 2 - 1 - n];
      }
      n = 2 * i;
      if (i < a / 4) {
        tempi = data[a / 2 + n] - data[a / 2 - 1 - n];
      } else {
        tempi = data[a / 2 + n] + data[a / 2 + N - 1 - n];
      }
    } else {
      tempr = -data[2 * i];
      tempi = data[half - 1 - 2 * i];
    }
    const float c = cs[i];
    const float s = ss[i];
    work[2 * i] = tempr * c + sign * tempi * s;
    work[2 * i + 1] = tempi * c - sign * tempr * s;
  }

  if (table != nullptr) {
    CompFFT(work, quarter, -isign, table);
  } else {
    CompFFT(work, quarter, -isign);
  }

#if defined(__x86_64__)
  if (inverseVectors) {
    InversePostRotationSse2(data, N, b, quarter, cs, ss, work, fac);
    return;
  }
#endif
  for (int i = 0; i < quarter; ++i) {
    const float c = cs[i];
    const float s = ss[i];
    const float re = work[2 * i];
    const float im = work[2 * i + 1];
    const float tempr = (re * c + sign * im * s) * fac;
    const float tempi = (im * c - sign * re * s) * fac;
    if (isign == 1) {
      data[2 * i] = -tempr;
      data[half - 1 - 2 * i] = tempi;
      data[half + 2 * i] = -tempi;
      data[N - 1 - 2 * i] = tempr;
    } else {
      // Unfold: each output value lands on one sample and its alias partner.
      data[half + a / 2 - 1 - 2 * i] = tempr;
      if (i < b / 4) {
        data[half + a / 2 + 2 * i] = tempr;
      } else {
        data[2 * i - b / 2] = -tempr;
      }
      data[a / 2 + 2 * i] = tempi;
      if (i < a / 4) {
        data[a / 2 - 1 - 2 * i] = -tempi;
      } else {
        data[a / 2 + N - 1 - 2 * i] = tempi;
      }
    }
  }
}

}  // namespace

}  // namespace ostrel
