#include "platform/FloatKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace ostrel {
namespace {

// Every path gives the scalar loop's floats bit for bit, at every tail length after the vector
// steps, without touching the element past the end.
TEST(FloatKernels, EveryPathEqualsTheScalarLoopBitForBit) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> value(-3e4f, 3e4f);
  for (std::size_t n = 0; n <= 140; ++n) {
    SCOPED_TRACE(n);
    std::vector<float> x(n + 1), w(n + 1), add(n + 1);
    for (std::size_t i = 0; i <= n; ++i) {
      x[i] = value(rng);
      w[i] = value(rng) / 3e4f;
      add[i] = value(rng);
    }
    const float factor = value(rng) / 7.0f;
    const float divisor = static_cast<float>(1 + rng() % 32);
    // Shrinking: a fixed amount that some products equal exactly (a zero difference) and that
    // others fall short of.
    const float shrink = n > 1 ? std::fabs(x[1] * factor) : 1.0f;
    // Small values between larger ones, alone and side by side, at every offset from the vectors'
    // edges.
    const float levels[] = {2.0f, 0.45f, -0.45f, 2.0f, 0.45f, 2.0f, 0.3f, -2.0f, -0.4f, 0.5f, 0.0f, 0.45f, 0.5f};
    std::vector<float> small(n + 1);
    for (std::size_t i = 0; i <= n; ++i) small[i] = levels[(i + n) % 13];
    std::vector<float> scaled[3], divided[3], added[3], windowed[3], copied[3], shrunk[3], sandwiched[3];
    float own[3], sent[3];
    int runs = 0;
    for (SimdPath path : {SimdPath::Scalar, SimdPath::Sse2, SimdPath::Avx2}) {
      if (!CanRun(path)) continue;
      const int r = runs++;
      scaled[r].assign(n + 1, 7.0f);
      ScaleFloats(path, scaled[r].data(), x.data(), factor, n);
      divided[r] = x;
      DivideFloats(path, divided[r].data(), divisor, n);
      added[r] = x;
      WindowAdd(path, added[r].data(), w.data(), add.data(), n);
      windowed[r] = x;
      copied[r].assign(n + 1, 7.0f);
      WindowCopy(path, windowed[r].data(), w.data(), copied[r].data(), n);
      shrunk[r].assign(n + 1, 7.0f);
      ShrinkScaled(path, shrunk[r].data(), x.data(), factor, shrink, n);
      sandwiched[r] = small;
      KeepSandwiched(path, sandwiched[r].data(), 0.4f, 0.5f, 1.0f, n);
      FillPowers(path, x.data(), small.data(), factor / 3e4f, 3.0f, n, &own[r], &sent[r]);
    }
    // The fill's powers: the same floats on every path, and the sums they stand for.
    double ownSum = 0.0, sentSum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      const double v = std::fabs(x[i] * (factor / 3e4f)) * 3.0f;
      const double level = std::floor(std::fabs(small[i]) * 3.0 + 0.5);
      ownSum += v * v;
      sentSum += level * level;
    }
    EXPECT_NEAR(own[0], ownSum, 1e-4 * ownSum + 1e-6);
    EXPECT_EQ(sent[0], static_cast<float>(sentSum));
    for (int r = 0; r < runs; ++r) {
      for (std::size_t i = 0; i <= n; ++i) {
        const bool inside = i < n;
        const float s = inside ? x[i] * factor : 7.0f;
        const float d = inside ? x[i] / divisor : x[i];
        const float a = inside ? x[i] * w[i] + add[i] : x[i];
        const float c = inside ? x[i] * w[i] : x[i];
        ASSERT_EQ(std::memcmp(&scaled[r][i], &s, sizeof s), 0) << r << " " << i;
        ASSERT_EQ(std::memcmp(&divided[r][i], &d, sizeof d), 0) << r << " " << i;
        ASSERT_EQ(std::memcmp(&added[r][i], &a, sizeof a), 0) << r << " " << i;
        ASSERT_EQ(std::memcmp(&windowed[r][i], &c, sizeof c), 0) << r << " " << i;
        const float kept = inside ? c : 7.0f;
        ASSERT_EQ(std::memcmp(&copied[r][i], &kept, sizeof kept), 0) << r << " " << i;
        const float v = x[i] * factor;
        const float k = inside ? std::copysign(std::max(std::fabs(v) - shrink, 0.0f), v) : 7.0f;
        ASSERT_EQ(std::memcmp(&shrunk[r][i], &k, sizeof k), 0) << r << " " << i;
        const float m = std::fabs(small[i]);
        const bool between = i > 0 && i + 1 < n && m >= 0.4f && m < 0.5f && std::fabs(small[i - 1]) >= 0.5f &&
                             std::fabs(small[i + 1]) >= 0.5f;
        const float e = between ? std::copysign(1.0f, small[i]) : small[i];
        ASSERT_EQ(std::memcmp(&sandwiched[r][i], &e, sizeof e), 0) << r << " " << i;
      }
      ASSERT_EQ(std::memcmp(&own[r], &own[0], sizeof own[0]), 0) << r;
      ASSERT_EQ(std::memcmp(&sent[r], &sent[0], sizeof sent[0]), 0) << r;
    }
  }
}

}  // namespace
}  // namespace ostrel
