#include "psycho/MaskingModel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "psycho/QualityTuning.h"
#include "platform/StreamConstants.h"
#include "psycho/PsychoTools.h"

namespace ostrel {

namespace {

// Masking offsets in dB below the spread masker power: a tone masks noise far less than noise
// does (tone-masking-noise grows with the critical-band rate, noise-masking-noise is about flat).
const float TONE_MASKS_NOISE_DB = QUALITY_TUNABLE(TMN, 14.5f);
const float NOISE_MASKS_NOISE_DB = QUALITY_TUNABLE(NMN, 5.5f);
// Extra offset (dB) of the lowest band, falling to none at LOW_BAND_BARK.
const float LOW_BAND_DB = QUALITY_TUNABLE(LOWDB, 15.0f);
const float LOW_BAND_BARK = QUALITY_TUNABLE(LOWBARK, 24.0f);
// Spectral flatness (dB) from which a band counts as fully tonal, and as fully noisy: MDCT lines
// of noise have a flatness of about -2.5 dB.
const float TONAL_FLATNESS_DB = QUALITY_TUNABLE(TONALFL, -1000.0f);
const float NOISY_FLATNESS_DB = QUALITY_TUNABLE(NOISYFL, -4.0f);

// log2 of a positive, finite v to about 0.01: the exponent plus a parabola through the mantissa.
float RoughLog2(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const float exponent = static_cast<float>(static_cast<int>((bits >> 23) & 0xFF) - 127);
  bits = (bits & 0x007FFFFFu) | 0x3F800000u;
  float m;  // 1 .. 2
  std::memcpy(&m, &bits, sizeof m);
  return exponent + (-0.34484843f * m + 2.02466578f) * m - 1.65487759f;
}

// 2^v for v in about -126 .. 126, to about 0.1 %: the integer part into the exponent, a cubic
// for the fraction.
float RoughExp2(float v) {
  v = std::min(std::max(v, -126.0f), 126.0f);
  const float whole = std::floor(v);
  const float f = v - whole;
  const float mantissa = 1.0f + f * (0.6951786f + f * (0.2261357f + f * 0.0786857f));
  const uint32_t bits = static_cast<uint32_t>(static_cast<int>(whole) + 127) << 23;
  float scale;
  std::memcpy(&scale, &bits, sizeof scale);
  return mantissa * scale;
}

constexpr float LOG2_10_OVER_10 = 0.33219281f;  // dB to log2 of power

}  // namespace

double MaskingModel::QuietDb(double hz) {
  const double f = std::max(hz, 20.0) / 1000.0;
  return 3.64 * std::pow(f, -0.8) - 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) + 0.001 * std::pow(f, 3.3);
}

MaskingModel::MaskingModel(int XfmSize, float fullScalePower) : lines(XfmSize / 2) {
  bands = CriticalBands(XfmSize, 1.0f, STREAM_SAMPLE_RATE, &count);
  const size_t n = static_cast<size_t>(count);
  barks.assign(n, 0.0f);
  SetCBval(barks.data(), bands.get(), STREAM_SAMPLE_RATE, XfmSize, count);
  std::vector<float> matrix(n * n);
  std::vector<float*> rows(n);
  for (size_t b = 0; b < n; ++b) rows[b] = matrix.data() + b * n;
  Spreading(rows.data(), barks.data(), count);
  spread = matrix;
  quiet.assign(n, 0.0f);
  tonalDb.assign(n, 0.0f);
  noiseDb.assign(n, 0.0f);
  int line = 0;
  for (size_t b = 0; b < n; ++b) {
    double lowest = 1e9;
    for (int i = 0; i < bands[b]; ++i, ++line) {
      const double hz = (line + 0.5) * STREAM_SAMPLE_RATE / XfmSize;
      lowest = std::min(lowest, QuietDb(hz));
    }
    // Noise spread over a band is as audible as a tone of its whole power.
    quiet[b] = static_cast<float>(fullScalePower * std::pow(10.0, (lowest - FULL_SCALE_SPL) / 10.0) / bands[b]);
    tonalDb[b] = TONE_MASKS_NOISE_DB + barks[b];
    noiseDb[b] = NOISE_MASKS_NOISE_DB + LOW_BAND_DB * std::max(0.0f, (LOW_BAND_BARK - barks[b]) / LOW_BAND_BARK);
  }
}

void MaskingModel::Analyse(const float* x, float* mask, float* peak, float* energy) const {
  // Masker power after its offset, per band; stays on the stack (at most 26 bands).
  float masker[32];
  const float* in = x;
  for (int b = 0; b < count; ++b) {
    const int width = bands[static_cast<size_t>(b)];
    float e = 0.0f, pk = 0.0f, logSum = 0.0f;
    int counted = 0;
    for (int i = 0; i < width; ++i) {
      const float p = in[i] * in[i];
      e += p;
      pk = std::max(pk, std::fabs(in[i]));
      if (p > 0.0f) {
        logSum += RoughLog2(p);
        ++counted;
      }
    }
    in += width;
    float tonality = 0.0f;
    if (counted >= 3 && e > 0.0f) {
      // Spectral flatness: geometric over arithmetic mean of the lines' power, in dB.
      const float flatnessDb = (logSum / static_cast<float>(counted) - RoughLog2(e / static_cast<float>(counted))) /
                               LOG2_10_OVER_10;
      tonality = std::min(1.0f, std::max(0.0f, (NOISY_FLATNESS_DB - flatnessDb) / (NOISY_FLATNESS_DB - TONAL_FLATNESS_DB)));
    }
    const size_t s = static_cast<size_t>(b);
    const float offsetDb = tonality * tonalDb[s] + (1.0f - tonality) * noiseDb[s];
    masker[b] = e * RoughExp2(-offsetDb * LOG2_10_OVER_10);
    peak[b] = pk;
    energy[b] = e;
  }
  for (int r = 0; r < count; ++r) {
    const float* row = spread.data() + static_cast<size_t>(r) * static_cast<size_t>(count);
    float m = 0.0f;
    for (int b = 0; b < count; ++b) m += masker[b] * row[b];
    mask[r] = m / static_cast<float>(bands[static_cast<size_t>(r)]);
  }
}

}  // namespace ostrel
