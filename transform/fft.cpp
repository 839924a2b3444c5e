#include "transform/fft.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "platform/CpuFeatures.h"
#include "platform/Fatal.h"

namespace ostrel {

namespace {

// Allocates `count` floats for a cache. A transform that cannot get its work storage has no way
// to produce a result: std::bad_alloc goes to the caller, the cache staying as it was or empty,
// so that a later call tries again. The process goes on: a library or a program decides what
// running out of memory means for it.
std::unique_ptr<float[]> AllocateCache(long count) {
  return std::unique_ptr<float[]>(new float[static_cast<size_t>(count)]);
}

// Library sine and cosine are always evaluated in double and rounded once to float.
float SinF(float x) { return static_cast<float>(std::sin(static_cast<double>(x))); }
float CosF(float x) { return static_cast<float>(std::cos(static_cast<double>(x))); }

struct CompFFTCache {
  std::unique_ptr<float[]> intermed;  // oldp1 rows of 2*oldq1 floats, rows laid end to end
  int oldp1 = 0;
  int oldq1 = 0;
};

// One table per thread: encoders and decoders in different threads never share it.
CompFFTCache& GetCompFFTCache() {
  thread_local CompFFTCache cache;
  return cache;
}

// The transform proper on a work table of `rowStride` floats a row (at least 2 * q1), with at
// least p1 rows; the result does not depend on the stride.
void CompFFTWith(float* data, int nn, int isign, int p1, int q1, float* table, int rowStride);

}  // namespace

namespace {

// FFT's stage twiddles for stages up to kFftTableStages (transforms up to 2^kFftTableStages
// points). Stage s (mmax = 2^(s+1) floats) advances w_0 = 1 by w_{m+1} = w_m * (wpr + i*wpi) in
// float arithmetic; the stage steps come from the same one-sine-per-stage sequence whatever the
// length, so one table serves every length. Stored as the recurrence gives them, in pairs for
// two butterflies a vector: wr as (wr, wr) and wi as (-wi, wi), the sign of a float product
// being exact.
constexpr int kFftTableStages = 11;

struct FftTwiddles {
  std::unique_ptr<float[]> wr[2], wi[2];  // [isign > 0]; stage s starts at pair 2^s - 1
};

const FftTwiddles& GetFftTwiddles() {
  static const FftTwiddles tables = [] {
    FftTwiddles t;
    const long pairs = (1L << kFftTableStages) - 1;
    for (int positive = 0; positive < 2; ++positive) {
      t.wr[positive] = AllocateCache(2 * pairs);
      t.wi[positive] = AllocateCache(2 * pairs);
      float theta = 1.5707963705062866f;
      if (positive == 0) theta = -theta;
      float wpin = 0.0f;
      for (int stage = 0; stage < kFftTableStages; ++stage) {
        const int mmax = 2 << stage;
        const float wpi = wpin;
        wpin = SinF(theta);
        const float wpr = (1.0f - wpin * wpin) - wpin * wpin;
        theta = theta * 0.5f;
        float* wr = t.wr[positive].get() + 2 * ((1L << stage) - 1);
        float* wi = t.wi[positive].get() + 2 * ((1L << stage) - 1);
        float w_r = 1.0f;
        float w_i = 0.0f;
        for (int m = 0; m < mmax / 2; ++m) {
          wr[2 * m] = w_r;
          wr[2 * m + 1] = w_r;
          wi[2 * m] = -w_i;
          wi[2 * m + 1] = w_i;
          const float wrOld = w_r;
          w_r = wrOld * wpr - w_i * wpi;
          w_i = wrOld * wpi + w_i * wpr;
        }
      }
    }
    return t;
  }();
  return tables;
}

// The butterfly of FFT: element k (at data + k) is rotated by (wr, wi) and combined with
// element i.
inline void Butterfly(float* data, int i, int k, float wr, float wi) {
  const float tempr = wr * data[k] - wi * data[k + 1];
  const float tempi = wr * data[k + 1] + wi * data[k];
  data[k] = data[i] - tempr;
  data[k + 1] = data[i + 1] - tempi;
  data[i] = data[i] + tempr;
  data[i + 1] = data[i + 1] + tempi;
}

// The swaps of FFT's bit-reversal permutation for each length up to 2^kFftTableStages, as the
// counting loop finds them (float offsets i < j, in its order); built once for all threads.
struct BitReversal {
  std::unique_ptr<int[]> pairs;  // i, j, i, j, ...
  int count = 0;
};

const BitReversal& GetBitReversal(int nn) {
  static const std::unique_ptr<BitReversal[]> all = [] {
    std::unique_ptr<BitReversal[]> t(new BitReversal[kFftTableStages + 1]);
    for (int log = 0; log <= kFftTableStages; ++log) {
      const int points = 1 << log;
      const int n = 2 * points;
      BitReversal& r = t[log];
      r.pairs.reset(new int[static_cast<size_t>(points)]);
      int j = 0;
      for (int i = 0; i < n; i += 2) {
        if (j > i) {
          r.pairs[2 * r.count] = i;
          r.pairs[2 * r.count + 1] = j;
          ++r.count;
        }
        int m = points;
        while (m >= 2 && j >= m) {
          j -= m;
          m /= 2;
        }
        j += m;
      }
    }
    return t;
  }();
  int log = 0;
  while ((1 << log) < nn) ++log;
  return all[log];
}

#if defined(__x86_64__)
// One stage of FFT's table loop (mmax >= 8 floats) four butterflies a vector, the SSE2 loop's
// operations per lane.
__attribute__((target("avx2"))) void FftStageAvx2(float* data, int n, int mmax, const float* wr,
                                                  const float* wi) {
  const int istep = 2 * mmax;
  for (int i0 = 0; i0 < n; i0 += istep) {
    for (int m = 0; m < mmax; m += 8) {
      float* a = data + i0 + m;
      float* d = a + mmax;
      const __m256 x = _mm256_loadu_ps(d);
      const __m256 swapped = _mm256_permute_ps(x, _MM_SHUFFLE(2, 3, 0, 1));
      const __m256 t =
          _mm256_add_ps(_mm256_mul_ps(_mm256_loadu_ps(wr + m), x), _mm256_mul_ps(_mm256_loadu_ps(wi + m), swapped));
      const __m256 y = _mm256_loadu_ps(a);
      _mm256_storeu_ps(d, _mm256_sub_ps(y, t));
      _mm256_storeu_ps(a, _mm256_add_ps(y, t));
    }
  }
  _mm256_zeroupper();
}
#endif

}  // namespace

void FFT(float* data, int nn, int isign) {
  const int n = 2 * nn;
  static const SimdPath path = ChosenSimdPath();

  // Bit-reversal permutation; i and j count floats, so each step moves one complex element.
  if (nn <= (1 << kFftTableStages) && path != SimdPath::Scalar) {
    const BitReversal& swaps = GetBitReversal(nn);
    for (int k = 0; k < swaps.count; ++k) {
      // A complex element moves as one 8-byte word: the same bits, half the moves.
      float* const p = data + swaps.pairs[2 * k];
      float* const q = data + swaps.pairs[2 * k + 1];
      uint64_t x, y;
      std::memcpy(&x, p, sizeof x);
      std::memcpy(&y, q, sizeof y);
      std::memcpy(p, &y, sizeof y);
      std::memcpy(q, &x, sizeof x);
    }
  } else {
    int j = 0;
    for (int i = 0; i < n; i += 2) {
      if (j > i) {
        std::swap(data[j], data[i]);
        std::swap(data[j + 1], data[i + 1]);
      }
      int m = nn;
      while (m >= 2 && j >= m) {
        j -= m;
        m /= 2;
      }
      j += m;
    }
  }

  if (nn <= (1 << kFftTableStages)) {
    const FftTwiddles& tables = GetFftTwiddles();
    const float* wrAll = tables.wr[isign < 0 ? 0 : 1].get();
    const float* wiAll = tables.wi[isign < 0 ? 0 : 1].get();
    int stage = 0;
    int mmax = 2;
#if defined(__SSE2__)
    if (path != SimdPath::Scalar && n >= 8) {
      // The first stage two butterflies a vector from two neighbouring pairs, with its unit
      // twiddles taken from the table as the loop below would take them.
      const __m128 wr = _mm_loadu_ps(wrAll);
      const __m128 wi = _mm_loadu_ps(wiAll);
      const __m128 wr2 = _mm_movelh_ps(wr, wr);
      const __m128 wi2 = _mm_movelh_ps(wi, wi);
      for (int i0 = 0; i0 < n; i0 += 8) {
        const __m128 p = _mm_loadu_ps(data + i0), q = _mm_loadu_ps(data + i0 + 4);
        const __m128 y = _mm_movelh_ps(p, q);
        const __m128 x = _mm_movehl_ps(q, p);
        const __m128 swapped = _mm_shuffle_ps(x, x, _MM_SHUFFLE(2, 3, 0, 1));
        const __m128 t = _mm_add_ps(_mm_mul_ps(wr2, x), _mm_mul_ps(wi2, swapped));
        const __m128 sum = _mm_add_ps(y, t), difference = _mm_sub_ps(y, t);
        _mm_storeu_ps(data + i0, _mm_movelh_ps(sum, difference));
        _mm_storeu_ps(data + i0 + 4, _mm_movehl_ps(difference, sum));
      }
      mmax = 4;
      stage = 1;
    }
#endif
    for (; mmax < n; mmax *= 2, ++stage) {
      const float* wr = wrAll + 2 * ((1L << stage) - 1);
      const float* wi = wiAll + 2 * ((1L << stage) - 1);
      const int istep = 2 * mmax;
#if defined(__x86_64__)
      if (path == SimdPath::Avx2 && mmax >= 8) {
        FftStageAvx2(data, n, mmax, wr, wi);
        continue;
      }
#endif
      for (int i0 = 0; i0 < n; i0 += istep) {
        int m = 0;
#if defined(__SSE2__)
        // Two butterflies a vector: tempr = wr*dr + (-wi)*di, tempi = wr*di + wi*dr.
        for (; m + 4 <= mmax; m += 4) {
          float* a = data + i0 + m;
          float* d = a + mmax;
          const __m128 x = _mm_loadu_ps(d);
          const __m128 swapped = _mm_shuffle_ps(x, x, _MM_SHUFFLE(2, 3, 0, 1));
          const __m128 t = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(wr + m), x), _mm_mul_ps(_mm_loadu_ps(wi + m), swapped));
          const __m128 y = _mm_loadu_ps(a);
          _mm_storeu_ps(d, _mm_sub_ps(y, t));
          _mm_storeu_ps(a, _mm_add_ps(y, t));
        }
#endif
        for (; m < mmax; m += 2) Butterfly(data, i0 + m, i0 + m + mmax, wr[m], wi[m + 1]);
      }
    }
    return;
  }

  // Longer transforms advance the twiddles in the loop, as the tables were built.
  // The stage step (wpr, wpi) = (cos phi, sin phi), phi = +-2*pi/mmax, comes from one sine per
  // stage: sin(phi) is the previous stage's sin(theta), and cos(phi) = 1 - 2*sin^2(phi/2).
  float theta = 1.5707963705062866f;
  if (isign < 0) theta = -theta;
  float wpin = 0.0f;
  for (int mmax = 2; mmax < n; mmax *= 2) {
    const float wpi = wpin;
    wpin = SinF(theta);
    const float wpr = (1.0f - wpin * wpin) - wpin * wpin;
    theta = theta * 0.5f;

    const int istep = 2 * mmax;
    float wr = 1.0f;
    float wi = 0.0f;
    for (int m = 0; m < mmax; m += 2) {
      for (int i = m; i < n; i += istep) Butterfly(data, i, i + mmax, wr, wi);
      const float wrOld = wr;
      wr = wrOld * wpr - wi * wpi;
      wi = wrOld * wpi + wi * wpr;
    }
  }
}

namespace {

// Writes nn as p1 * q1 with q1 the largest power of two that divides it (p1 odd).
void SplitPowerOfTwo(int nn, int* p1, int* q1) {
  int logq1 = 0;
  *p1 = nn;
  while (*p1 % 2 == 0) {
    *p1 /= 2;
    ++logq1;
  }
  *q1 = 1 << logq1;
}

}  // namespace

void CompFFT(float* data, int nn, int isign) {
  // An empty transform has nothing to do; without this guard nn = 0 would never finish factoring.
  if (nn < 1) return;
  OSTREL_DASSERT(isign == 1 || isign == -1);

  int p1 = 0, q1 = 0;
  SplitPowerOfTwo(nn, &p1, &q1);

  // The table only grows, each dimension to the largest value met so far.
  CompFFTCache& cache = GetCompFFTCache();
  if (p1 > cache.oldp1 || q1 > cache.oldq1) {
    cache.intermed.reset();
    if (cache.oldp1 < p1) cache.oldp1 = p1;
    if (cache.oldq1 < q1) cache.oldq1 = q1;
  }
  if (!cache.intermed) {
    cache.intermed = AllocateCache(static_cast<long>(cache.oldp1) * 2 * cache.oldq1);
  }
  CompFFTWith(data, nn, isign, p1, q1, cache.intermed.get(), 2 * cache.oldq1);
}

void CompFFT(float* data, int nn, int isign, float* table) {
  if (nn < 1) return;
  OSTREL_DASSERT(isign == 1 || isign == -1);
  int p1 = 0, q1 = 0;
  SplitPowerOfTwo(nn, &p1, &q1);
  CompFFTWith(data, nn, isign, p1, q1, table, 2 * q1);
}

namespace {

void CompFFTWith(float* data, int nn, int isign, int p1, int q1, float* table, int rowStride) {
  if (p1 == 1) {
    // A power of two: the one row is the data itself, and the recombination below reduces to
    // the same float operations with the unit rotation, done here without the round trip
    // through the table.
    FFT(data, nn, isign);
    const float ai = static_cast<float>(isign) * 0.0f;
    int k = 0;
#if defined(__SSE2__)
    static const SimdPath path = ChosenSimdPath();
    if (path != SimdPath::Scalar) {
      // Two values a vector: r0 * 1 - r1 * ai as r0 * 1 + -(r1 * ai), and r1 * 1 + r0 * ai
      // reordered as r0 * ai + r1 * 1, both exact rewrites of the scalar operations.
      const __m128 one = _mm_set1_ps(1.0f);
      const __m128 rotation = _mm_set1_ps(ai);
      const __m128 negateReal = _mm_setr_ps(-0.0f, 0.0f, -0.0f, 0.0f);
      const __m128 zero = _mm_set1_ps(0.0f);
      for (; k + 2 <= nn; k += 2) {
        const __m128 v = _mm_loadu_ps(data + 2 * k);
        const __m128 swapped = _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1));
        const __m128 cross = _mm_xor_ps(_mm_mul_ps(swapped, rotation), negateReal);
        _mm_storeu_ps(data + 2 * k, _mm_add_ps(zero, _mm_add_ps(_mm_mul_ps(v, one), cross)));
      }
    }
#endif
    for (; k < nn; ++k) {
      const float r0 = data[2 * k];
      const float r1 = data[2 * k + 1];
      data[2 * k] = 0.0f + (r0 * 1.0f - r1 * ai);
      data[2 * k + 1] = 0.0f + (r0 * ai + r1 * 1.0f);
    }
    return;
  }
  const float d2pn = static_cast<float>(6.283185307179586 / nn);
  for (int i = 0; i < p1; ++i) {
    float* row = table + static_cast<long>(i) * rowStride;
    for (int m = 0; m < q1; ++m) {
      row[2 * m] = data[2 * (i + p1 * m)];
      row[2 * m + 1] = data[2 * (i + p1 * m) + 1];
    }
  }
  for (int i = 0; i < p1; ++i) FFT(table + static_cast<long>(i) * rowStride, q1, isign);

  // X[k] = sum_j exp(i*isign*j*k*d2pn) * R_j[k mod q1]; the angles k*d2pn and j*(k*d2pn) are
  // advanced by float rotations, two library calls per transform.
  const float sign = static_cast<float>(isign);
  const float ca1 = CosF(d2pn);
  const float sa1 = SinF(d2pn);
  float curcos1 = 1.0f;
  float cursin1 = 0.0f;
  for (int k = 0; k < nn; ++k) {
    const int kk = k % q1;
    const float ca = curcos1;
    const float sa = cursin1;
    float curcos = 1.0f;
    float cursin = 0.0f;
    float sumr = 0.0f;
    float sumi = 0.0f;
    for (int j = 0; j < p1; ++j) {
      const float* r = table + static_cast<long>(j) * rowStride + 2 * kk;
      const float ar = curcos;
      const float ai = sign * cursin;
      sumr += r[0] * ar - r[1] * ai;
      sumi += r[0] * ai + r[1] * ar;
      const float curcosOld = curcos;
      curcos = curcosOld * ca - cursin * sa;
      cursin = curcosOld * sa + cursin * ca;
    }
    data[2 * k] = sumr;
    data[2 * k + 1] = sumi;
    const float curcos1Old = curcos1;
    curcos1 = curcos1Old * ca1 - cursin1 * sa1;
    cursin1 = curcos1Old * sa1 + cursin1 * ca1;
  }
}

}  // namespace

void CompFFTCacheShape(int* rows, int* rowComplex) {
  const CompFFTCache& cache = GetCompFFTCache();
  *rows = cache.intermed ? cache.oldp1 : 0;
  *rowComplex = cache.intermed ? cache.oldq1 : 0;
}

namespace {

constexpr int kFftlRows = 7;     // lengths 4096 down to 64
constexpr int kFftlStages = 12;  // log2 of the longest length

// Row r serves log2 length m = 12 - r. Stage l of that length (l = 0 .. m - 2) rotates by the
// twiddles u_j, j = 0 .. le1 - 1 (le1 = 2^(m-l-1)): u_0 = 1 and u_{j+1} = u_j * w in float
// arithmetic, w = exp(-i*pi/le1) evaluated in extended precision from pi as the nearest float.
// They are stored as the recurrence gives them, so every butterfly of a stage is independent of
// the others and the result is the same bit for bit as advancing the recurrence in the loop.
struct FftlTables {
  std::unique_ptr<float[]> real, imag;  // every row's stages laid end to end
  int offset[kFftlRows][kFftlStages];   // where stage l of row r starts
  std::unique_ptr<int[]> reversed;      // row r: where output k < N/2 ends up, at reversedAt[r]
  int reversedAt[kFftlRows];
};

const FftlTables& GetFftlTables() {
  static const FftlTables tables = [] {
    FftlTables t{};
    long total = 0;
    for (int r = 0; r < kFftlRows; ++r) {
      const int m = kFftlStages - r;
      for (int l = 0; l + 1 < m; ++l) {
        t.offset[r][l] = static_cast<int>(total);
        total += 1L << (m - l - 1);
      }
    }
    t.real = AllocateCache(total);
    t.imag = AllocateCache(total);
    long reversedTotal = 0;
    for (int r = 0; r < kFftlRows; ++r) {
      t.reversedAt[r] = static_cast<int>(reversedTotal);
      reversedTotal += 1L << (kFftlStages - r - 1);
    }
    t.reversed.reset(new int[static_cast<size_t>(reversedTotal)]);
    for (int r = 0; r < kFftlRows; ++r) {
      const int m = kFftlStages - r;
      for (int k = 0; k < (1 << (m - 1)); ++k) {
        int p = 0;
        for (int b = 0; b < m; ++b) p |= ((k >> b) & 1) << (m - 1 - b);
        t.reversed[t.reversedAt[r] + k] = p;
      }
    }
    const long double pi = static_cast<long double>(3.1415927410125732f);
    for (int r = 0; r < kFftlRows; ++r) {
      const int m = kFftlStages - r;
      for (int l = 0; l + 1 < m; ++l) {
        const int le1 = 1 << (m - l - 1);
        const float wr = static_cast<float>(std::cos(pi / static_cast<long double>(le1)));
        const float wi = static_cast<float>(-std::sin(pi / static_cast<long double>(le1)));
        float* ur = t.real.get() + t.offset[r][l];
        float* ui = t.imag.get() + t.offset[r][l];
        float u_r = 1.0f;
        float u_i = 0.0f;
        for (int j = 0; j < le1; ++j) {
          ur[j] = u_r;
          ui[j] = u_i;
          const float urOld = u_r;
          u_r = urOld * wr - u_i * wi;
          u_i = urOld * wi + u_i * wr;
        }
      }
    }
    return t;
  }();
  return tables;
}

int FftlLog2(int N) {
  switch (N) {
    case 64: return 6;
    case 128: return 7;
    case 256: return 8;
    case 512: return 9;
    case 1024: return 10;
    case 2048: return 11;
    case 4096: return 12;
    default: FatalError("FFT ERROR!\n");
  }
}

// The decimation-in-frequency stages of fftl before the last (le = 2) one.
void FftlStages(float* xreal, float* ximag, int N, int m) {
  const FftlTables& tables = GetFftlTables();
  const int r = kFftlStages - m;
  for (int l = 0; l + 1 < m; ++l) {
    const int le = 1 << (m - l);
    const int le1 = le / 2;
    const float* ur = tables.real.get() + tables.offset[r][l];
    const float* ui = tables.imag.get() + tables.offset[r][l];
    for (int i0 = 0; i0 < N; i0 += le) {
      float* ar = xreal + i0;
      float* ai = ximag + i0;
      float* br = ar + le1;
      float* bi = ai + le1;
      int j = 0;
#if defined(__SSE2__)
      // The same operations on four butterflies at a time.
      for (; j + 4 <= le1; j += 4) {
        const __m128 xr = _mm_loadu_ps(ar + j), yr = _mm_loadu_ps(br + j);
        const __m128 xi = _mm_loadu_ps(ai + j), yi = _mm_loadu_ps(bi + j);
        const __m128 wr = _mm_loadu_ps(ur + j), wi = _mm_loadu_ps(ui + j);
        const __m128 dr = _mm_sub_ps(xr, yr);
        const __m128 di = _mm_sub_ps(xi, yi);
        _mm_storeu_ps(ar + j, _mm_add_ps(xr, yr));
        _mm_storeu_ps(ai + j, _mm_add_ps(xi, yi));
        _mm_storeu_ps(br + j, _mm_sub_ps(_mm_mul_ps(dr, wr), _mm_mul_ps(di, wi)));
        _mm_storeu_ps(bi + j, _mm_add_ps(_mm_mul_ps(di, wr), _mm_mul_ps(dr, wi)));
      }
#endif
      for (; j < le1; ++j) {
        const float tr = ar[j] + br[j];
        const float ti = ai[j] + bi[j];
        const float dr = ar[j] - br[j];
        const float di = ai[j] - bi[j];
        ar[j] = tr;
        ai[j] = ti;
        br[j] = dr * ur[j] - di * ui[j];
        bi[j] = di * ur[j] + dr * ui[j];
      }
    }
  }
}

}  // namespace

void fftl(float* xreal, float* ximag, int N) {
  const int m = FftlLog2(N);
  FftlStages(xreal, ximag, N, m);
  for (int i = 0; i < N; i += 2) {
    const float tr = xreal[i] + xreal[i + 1];
    const float ti = ximag[i] + ximag[i + 1];
    xreal[i + 1] = xreal[i] - xreal[i + 1];
    ximag[i + 1] = ximag[i] - ximag[i + 1];
    xreal[i] = tr;
    ximag[i] = ti;
  }

  int j = 0;
  for (int i = 0; i < N - 1; ++i) {
    if (i < j) {
      std::swap(xreal[i], xreal[j]);
      std::swap(ximag[i], ximag[j]);
    }
    int k = N / 2;
    while (k <= j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }
}

float fftlBandPower(float* xreal, float* ximag, int N, int first, int last) {
  const int m = FftlLog2(N);
  OSTREL_DASSERT(first >= 0 && first <= last && last <= N / 2);
  FftlStages(xreal, ximag, N, m);
  // Outputs below N/2 come from the sums of the last stage at even positions; the differences
  // and the reordering are not needed.
  const FftlTables& tables = GetFftlTables();
  const int* reversed = tables.reversed.get() + tables.reversedAt[kFftlStages - m];
  float Power = 0.0f;
  for (int k = first; k < last; ++k) {
    const int p = reversed[k];
    const float re = xreal[p] + xreal[p + 1];
    const float im = ximag[p] + ximag[p + 1];
    Power = Power + (re * re + im * im);
  }
  return Power;
}

void ifft(float* xreal, float* ximag, int N) {
  for (int i = 0; i < N; ++i) ximag[i] = -ximag[i];
  fftl(xreal, ximag, N);
  const float scale = static_cast<float>(N);
  for (int i = 0; i < N; ++i) {
    xreal[i] = xreal[i] / scale;
    ximag[i] = ximag[i] / -scale;
  }
}

namespace {

constexpr int kFft640Points = 640;
constexpr int kFft640Rows = 5;
constexpr int kFft640RowPoints = 128;

// Read-only once built, so threads may share it; the scratch rows live on each call's stack.
struct Fft640Cache {
  std::unique_ptr<float[]> twiddler, twiddlei;
  std::unique_ptr<float[]> wr, wi;  // 5 x 5, row k then column j
};

// Tables in extended precision from 2*pi as the nearest double, evaluated as (2*pi*a*b)/len.
const Fft640Cache& GetFft640Cache() {
  static const Fft640Cache cache = [] {
    Fft640Cache c;
    c.twiddler = AllocateCache(kFft640Points);
    c.twiddlei = AllocateCache(kFft640Points);
    c.wr = AllocateCache(kFft640Rows * kFft640Rows);
    c.wi = AllocateCache(kFft640Rows * kFft640Rows);
    const long double twoPi = 6.283185307179586;
    for (int k = 0; k < kFft640Rows; ++k) {
      for (int j = 0; j < kFft640Rows; ++j) {
        const long double arg = twoPi * k * j / kFft640Rows;
        c.wr[k * kFft640Rows + j] = static_cast<float>(std::cos(arg));
        c.wi[k * kFft640Rows + j] = static_cast<float>(std::sin(arg));
      }
    }
    for (int k = 0; k < kFft640Rows; ++k) {
      for (int n = 0; n < kFft640RowPoints; ++n) {
        const long double arg = twoPi * n * k / kFft640Points;
        c.twiddler[kFft640RowPoints * k + n] = static_cast<float>(std::cos(arg));
        c.twiddlei[kFft640RowPoints * k + n] = static_cast<float>(-std::sin(arg));
      }
    }
    return c;
  }();
  return cache;
}

}  // namespace

void fft640(float* xr, float* xi) {
  const Fft640Cache& c = GetFft640Cache();
  float tempr[kFft640Points];
  float tempi[kFft640Points];

  // 5-point DFTs across the rows: T[128k + n] = sum_j z[n + 128j] * exp(-2*pi*i*j*k/5).
  for (int n = 0; n < kFft640RowPoints; ++n) {
    for (int k = 0; k < kFft640Rows; ++k) {
      float sumr = 0.0f;
      float sumi = 0.0f;
      for (int j = 0; j < kFft640Rows; ++j) {
        const float zr = xr[n + kFft640RowPoints * j];
        const float zi = xi[n + kFft640RowPoints * j];
        const float wr = c.wr[k * kFft640Rows + j];
        const float wi = c.wi[k * kFft640Rows + j];
        sumr += zr * wr + zi * wi;
        sumi += zi * wr - zr * wi;
      }
      tempr[kFft640RowPoints * k + n] = sumr;
      tempi[kFft640RowPoints * k + n] = sumi;
    }
  }
  for (int i = 0; i < kFft640Points; ++i) {
    const float tr = tempr[i] * c.twiddler[i] - tempi[i] * c.twiddlei[i];
    tempi[i] = tempr[i] * c.twiddlei[i] + tempi[i] * c.twiddler[i];
    tempr[i] = tr;
  }
  for (int k = 0; k < kFft640Rows; ++k) {
    fftl(tempr + kFft640RowPoints * k, tempi + kFft640RowPoints * k, kFft640RowPoints);
  }
  for (int n = 0; n < kFft640RowPoints; ++n) {
    for (int k = 0; k < kFft640Rows; ++k) {
      xr[kFft640Rows * n + k] = tempr[kFft640RowPoints * k + n];
      xi[kFft640Rows * n + k] = tempi[kFft640RowPoints * k + n];
    }
  }
}

int iceil(float x) {
  OSTREL_DASSERT(x > -2147483648.0f && x < 2147483648.0f);
  const int t = static_cast<int>(x);
  if (x - static_cast<float>(t) != 0.0f) return t + 1;
  return t;
}

}  // namespace ostrel
