#include "library/StepSizeSearch.h"

#include <algorithm>
#include <cstdlib>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "coding/SymbolSet.h"
#include "platform/Fatal.h"
#include "psycho/PsychoTools.h"

namespace ostrel {

namespace {

// The rule one value at a time, as the search has always applied it.
inline int QuantiseOne(float value, float STEPS, int limit) {
  int q = ostrel::round(value * STEPS);
  if (q > limit) q = limit;
  if (q < -limit) q = -limit;
  return q;
}

void QuantiseScalar(const float* in, int* out, unsigned n, float STEPS) {
  const int limit = static_cast<int>(STEPS);
  for (unsigned k = 0; k < n; ++k) out[k] = QuantiseOne(in[k], STEPS, limit);
}

// The vector forms limit the product to -STEPS .. STEPS before rounding, which gives the same
// integer (STEPS is whole, so rounding never crosses it) and keeps every lane in the range where
// truncation is exact; floor is truncation less one where that went up, and the half test is the
// scalar one. NaN lanes are masked to 0.
#if defined(__x86_64__)
void QuantiseSse2(const float* in, int* out, unsigned n, float STEPS) {
  const __m128 steps = _mm_set1_ps(STEPS);
  const __m128 high = _mm_set1_ps(STEPS);
  const __m128 low = _mm_set1_ps(-STEPS);
  const __m128 half = _mm_set1_ps(0.5f);
  unsigned k = 0;
  for (; k + 4 <= n; k += 4) {
    const __m128 scaled = _mm_mul_ps(_mm_loadu_ps(in + k), steps);
    const __m128 ordered = _mm_cmpord_ps(scaled, scaled);
    const __m128 limited = _mm_max_ps(_mm_min_ps(scaled, high), low);
    __m128i q = _mm_cvttps_epi32(limited);
    q = _mm_add_epi32(q, _mm_castps_si128(_mm_cmplt_ps(limited, _mm_cvtepi32_ps(q))));
    q = _mm_sub_epi32(q, _mm_castps_si128(_mm_cmpge_ps(_mm_sub_ps(limited, _mm_cvtepi32_ps(q)), half)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_and_si128(q, _mm_castps_si128(ordered)));
  }
  QuantiseScalar(in + k, out + k, n - k, STEPS);
}

__attribute__((target("avx2"))) void QuantiseAvx2(const float* in, int* out, unsigned n, float STEPS) {
  const __m256 steps = _mm256_set1_ps(STEPS);
  const __m256 high = _mm256_set1_ps(STEPS);
  const __m256 low = _mm256_set1_ps(-STEPS);
  const __m256 half = _mm256_set1_ps(0.5f);
  unsigned k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m256 scaled = _mm256_mul_ps(_mm256_loadu_ps(in + k), steps);
    const __m256 ordered = _mm256_cmp_ps(scaled, scaled, _CMP_ORD_Q);
    const __m256 limited = _mm256_max_ps(_mm256_min_ps(scaled, high), low);
    __m256i q = _mm256_cvttps_epi32(limited);
    q = _mm256_add_epi32(q, _mm256_castps_si256(_mm256_cmp_ps(limited, _mm256_cvtepi32_ps(q), _CMP_LT_OQ)));
    const __m256 fraction = _mm256_sub_ps(limited, _mm256_cvtepi32_ps(q));
    q = _mm256_sub_epi32(q, _mm256_castps_si256(_mm256_cmp_ps(fraction, half, _CMP_GE_OQ)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), _mm256_and_si256(q, _mm256_castps_si256(ordered)));
  }
  // Clean upper register halves before any code built without AVX runs: otherwise every later
  // SSE instruction of the process pays for the transition.
  _mm256_zeroupper();
  QuantiseSse2(in + k, out + k, n - k, STEPS);
}
#endif

}  // namespace

void QuantiseValues(SimdPath path, const float* in, int* out, unsigned n, float STEPS) {
  OSTREL_DASSERT(STEPS >= static_cast<float>(STEP_SIZE_MIN) && STEPS <= static_cast<float>(STEP_SIZE_MAX));
  switch (path) {
#if defined(__x86_64__)
    case SimdPath::Avx2: QuantiseAvx2(in, out, n, STEPS); return;
    case SimdPath::Sse2: QuantiseSse2(in, out, n, STEPS); return;
#endif
    default: QuantiseScalar(in, out, n, STEPS); return;
  }
}

void QuantiseValues(const float* in, int* out, unsigned n, float STEPS) {
  static const SimdPath path = ChosenSimdPath();
  QuantiseValues(path, in, out, n, STEPS);
}

void QuantiseCoefficients(float* const* x, float* const* TempData, float STEPS, int channels,
                          unsigned count) {
  const int limit = static_cast<int>(STEPS);
  for (int n = 0; n < channels; ++n) {
    for (unsigned k = 0; k < count; ++k) TempData[n][k] = static_cast<float>(QuantiseOne(x[n][k], STEPS, limit));
  }
}

FrameCandidates::FrameCandidates(int channelCount, unsigned coefficients)
    : channels(channelCount),
      count(coefficients),
      values(static_cast<size_t>(channelCount) * coefficients),
      positions(static_cast<size_t>(channelCount) * coefficients),
      starts(static_cast<size_t>(channelCount) + 1, 0),
      quantised(static_cast<size_t>(channelCount) * coefficients) {}

namespace {

// A value rounds to a non-zero integer at STEP_SIZE_MAX where its product with it is at least
// 0.5 or below -0.5 (halves round upward), that is from this magnitude on; the product by a power
// of two is exact, so the two tests agree for every float, and NaN passes neither.
constexpr float CANDIDATE_FROM = 0.5f / static_cast<float>(STEP_SIZE_MAX);

// Candidates of in[from .. count - 1] appended at n of values and positions; returns the new n.
unsigned GatherScalar(const float* in, unsigned from, unsigned count, float* values, int* positions, unsigned n) {
  for (unsigned k = from; k < count; ++k) {
    // Written without a jump: a third of the coefficients pass, in no predictable pattern.
    values[n] = in[k];
    positions[n] = static_cast<int>(k);
    n += static_cast<unsigned>((in[k] >= CANDIDATE_FROM) | (in[k] < -CANDIDATE_FROM));
  }
  return n;
}

#if defined(__x86_64__)
// For each mask of 8 passing lanes, the passing lanes' indices first, in order (the first 16
// rows serve masks of 4 lanes).
struct LeftPackTable {
  int lanes[256][8];
  LeftPackTable() : lanes() {
    for (int mask = 0; mask < 256; ++mask) {
      unsigned n = 0;
      for (int lane = 0; lane < 8; ++lane) {
        if ((mask >> lane) & 1) lanes[mask][n++] = lane;
      }
    }
  }
};

// The table both vector forms share, built on first use.
const LeftPackTable& LeftPack() {
  static const LeftPackTable table;
  return table;
}

// For each mask of 4 passing lanes, how many they are (SSE2 has no POPCNT, and the library's
// count is a call), and how SSE2's whole-register shifts bring their values to the left: lane i
// moves down by the failing lanes below it, by one where `one` takes the lane above and then by
// two where `two` takes the lane two above. The passing lanes keep their order, so no lane is
// taken by two of them.
struct PackFourTable {
  alignas(16) int one[16][4];
  alignas(16) int two[16][4];
  unsigned passing[16];
  PackFourTable() : one(), two(), passing() {
    for (int mask = 0; mask < 16; ++mask) {
      unsigned n = 0;
      for (int lane = 0; lane < 4; ++lane) {
        if (((mask >> lane) & 1) == 0) continue;
        const int down = lane - static_cast<int>(n++);
        const int after = lane - (down & 1);
        if (down & 1) one[mask][after] = -1;
        if (down & 2) two[mask][after - 2] = -1;
      }
      passing[mask] = n;
    }
  }
};

const PackFourTable& PackFour() {
  static const PackFourTable table;
  return table;
}

// Four values at a time, packed to the left by the table's two steps, their positions the
// passing lanes plus k. The same bounds as GatherAvx2's.
unsigned GatherSse2(const float* in, unsigned count, float* values, int* positions, unsigned n, unsigned* done) {
  const PackFourTable& table = PackFour();
  const LeftPackTable& order = LeftPack();
  const __m128 high = _mm_set1_ps(CANDIDATE_FROM), low = _mm_set1_ps(-CANDIDATE_FROM);
  __m128i base = _mm_setzero_si128();
  const __m128i four = _mm_set1_epi32(4);
  unsigned k = 0;
  for (; k + 4 <= count; k += 4) {
    const __m128 v = _mm_loadu_ps(in + k);
    const int mask = _mm_movemask_ps(_mm_or_ps(_mm_cmpge_ps(v, high), _mm_cmplt_ps(v, low)));
    const __m128 one = _mm_load_ps(reinterpret_cast<const float*>(table.one[mask]));
    const __m128 two = _mm_load_ps(reinterpret_cast<const float*>(table.two[mask]));
    // x ^ ((x ^ y) & m): y's lanes where m is set, x's elsewhere.
    const __m128 above = _mm_castsi128_ps(_mm_srli_si128(_mm_castps_si128(v), 4));
    const __m128 once = _mm_xor_ps(v, _mm_and_ps(_mm_xor_ps(v, above), one));
    const __m128 twoAbove = _mm_castsi128_ps(_mm_srli_si128(_mm_castps_si128(once), 8));
    _mm_storeu_ps(values + n, _mm_xor_ps(once, _mm_and_ps(_mm_xor_ps(once, twoAbove), two)));
    const __m128i lanes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(order.lanes[mask]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(positions + n), _mm_add_epi32(lanes, base));
    n += table.passing[mask];
    base = _mm_add_epi32(base, four);
  }
  *done = k;
  return n;
}

// Eight values at a time, packed to the left with one permutation each. Every store writes
// eight lanes at n, which never passes the end: n is at most the values read before them. Returns
// the new n and leaves in *done where the scalar tail begins.
__attribute__((target("avx2"))) unsigned GatherAvx2(const float* in, unsigned count, float* values, int* positions,
                                                    unsigned n, unsigned* done) {
  const LeftPackTable& table = LeftPack();
  const __m256 high = _mm256_set1_ps(CANDIDATE_FROM), low = _mm256_set1_ps(-CANDIDATE_FROM);
  __m256i index = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i eight = _mm256_set1_epi32(8);
  unsigned k = 0;
  for (; k + 8 <= count; k += 8) {
    const __m256 v = _mm256_loadu_ps(in + k);
    const int mask = _mm256_movemask_ps(_mm256_or_ps(_mm256_cmp_ps(v, high, _CMP_GE_OQ), _mm256_cmp_ps(v, low, _CMP_LT_OQ)));
    const __m256i order = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(table.lanes[mask]));
    _mm256_storeu_ps(values + n, _mm256_permutevar8x32_ps(v, order));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(positions + n), _mm256_permutevar8x32_epi32(index, order));
    n += static_cast<unsigned>(__builtin_popcount(static_cast<unsigned>(mask)));
    index = _mm256_add_epi32(index, eight);
  }
  *done = k;
  return n;
}
#endif

}  // namespace

void FrameCandidates::Gather(const float* const* x) {
  static const SimdPath path = ChosenSimdPath();
  Gather(path, x);
}

void FrameCandidates::Gather(SimdPath path, const float* const* x) {
  unsigned n = 0;
  for (int c = 0; c < channels; ++c) {
    starts[static_cast<size_t>(c)] = n;
    unsigned done = 0;
#if defined(__x86_64__)
    if (path == SimdPath::Avx2) n = GatherAvx2(x[c], count, values.data(), positions.data(), n, &done);
    else if (path == SimdPath::Sse2) n = GatherSse2(x[c], count, values.data(), positions.data(), n, &done);
#else
    (void)path;
#endif
    n = GatherScalar(x[c], done, count, values.data(), positions.data(), n);
  }
  starts[static_cast<size_t>(channels)] = n;
}

int FrameCandidates::BuildSymbols(float STEPS, int* Symbols, unsigned* Stats) {
  QuantiseValues(values.data(), quantised.data(), Size(), STEPS);
  return ConstructSparseSymbolSet(positions.data(), quantised.data(), starts.data(), channels, count,
                                  static_cast<int>(STEPS), Symbols, Stats);
}

int FrameCandidates::CountSymbols(float STEPS, unsigned* Stats) {
  QuantiseValues(values.data(), quantised.data(), Size(), STEPS);
  return CountSparseSymbols(positions.data(), quantised.data(), starts.data(), channels, count,
                            static_cast<int>(STEPS), Stats);
}

int FrameCandidates::LargestMagnitude() const {
  int largest = 0;
  for (unsigned i = 0; i < Size(); ++i) largest = std::max(largest, std::abs(quantised[i]));
  return largest;
}

float CarryOverStep(float STEPS, float OldStep) {
  const float mean = (STEPS + OldStep) / 2.0f;
  return static_cast<float>(ostrel::round(mean));
}

}  // namespace ostrel
