#include "psycho/MaskingModel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "psycho/QualityTuning.h"
#include "platform/Fatal.h"
#include "platform/StreamConstants.h"
#include "psycho/PsychoTools.h"

namespace ostrel {

namespace {

// Masking offset in dB below the spread masker power of noise masking noise.
const float NOISE_MASKS_NOISE_DB = QUALITY_TUNABLE(NMN, 5.5f);
// Extra offset (dB) of the lowest band, falling to none at LOW_BAND_BARK.
const float LOW_BAND_DB = QUALITY_TUNABLE(LOWDB, 15.0f);
const float LOW_BAND_BARK = QUALITY_TUNABLE(LOWBARK, 24.0f);
// A tonal line's power over the lines two away (7 dB), and the extra offset of a band whose power
// is all in tonal lines.
const float TONAL_PEAK_RATIO = QUALITY_TUNABLE(PEAKRATIO, 5.0f);
const float TONAL_EXTRA_DB = QUALITY_TUNABLE(TONALDB, 3.0f);
// The outer and middle ear pass low frequencies weakly (-0.6 x 3.64 f^-0.8 dB, f in kHz: -24 dB at
// 50 Hz, -4 dB at 400 Hz), and masking spreads from what reaches the inner ear: so a masker's spread
// into other bands is weighted by that curve, the masker's band's against the receiving band's
// (this share of it; 0: none). A loud sub-bass then masks the bass and low mids above it less:
// a drum loop whose sub-bass lies 18 dB above the rest graded +0.41, +0.77 and +0.86 higher at 96,
// 128 and 192 kb/s. Within a band the two weights cancel. The curve's resonance near 3 kHz and
// its fall at the top are left out: with them the noise class lost 0.44 at 96 kb/s.
const float LOW_EAR_WEIGHTING = QUALITY_TUNABLE(EARW, 1.0f);
// The design's spreading falls 25 dB per Bark below its masker (and 10 above); the ear model of
// the measure lets it fall 27. A fall 2 dB steeper graded 0.002 to 0.010 higher on the tuning set
// from 96 to 256 kb/s (-0.001 at 392), -0.003 to +0.014 on the check set and +0.003 to +0.017
// on the bass set; 6 and 10 dB no better. 3 dB, with the pre-echo limit at 4 and the longer
// post-masking of the 2048-sample blocks, graded a little higher again on all three sets. A fall
// above the masker 2 dB steeper (or shallower) graded lower.
const float EXTRA_DOWNWARD_DB = QUALITY_TUNABLE(SPREADDOWN, 3.0f);

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
// Lines of the longest block the model is built for (2048-sample transforms).
constexpr int MAX_LINES = 1024;

// Terhardt's rise of the threshold in quiet towards low frequencies, in dB at `khz` (from 20 Hz
// up): the term the outer and middle ear's weighting takes -0.6 times.
double LowFrequencyRiseDb(double khz) { return 3.64 * std::pow(std::max(khz, 0.02), -0.8); }

}  // namespace

double MaskingModel::QuietDb(double hz) {
  const double f = std::max(hz, 20.0) / 1000.0;
  return LowFrequencyRiseDb(f) - 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) + 0.001 * std::pow(f, 3.3);
}

MaskingModel::MaskingModel(int XfmSize, float fullScalePower) : lines(XfmSize / 2), fullScale(fullScalePower) {
  OSTREL_DASSERT(lines <= MAX_LINES);
  bands = CriticalBands(XfmSize, 1.0f, STREAM_SAMPLE_RATE, &count);
  const size_t n = static_cast<size_t>(count);
  barks.assign(n, 0.0f);
  SetCBval(barks.data(), bands.get(), STREAM_SAMPLE_RATE, XfmSize, count);
  std::vector<float> matrix(n * n);
  std::vector<float*> rows(n);
  for (size_t b = 0; b < n; ++b) rows[b] = matrix.data() + b * n;
  Spreading(rows.data(), barks.data(), count);
  spread = matrix;
  // Below a masker the spreading falls EXTRA_DOWNWARD_DB per Bark faster than the design's.
  for (size_t r = 0; r < n; ++r) {
    for (size_t b = 0; b < n; ++b) {
      const float dz = barks[b] - barks[r];  // how far the masker lies above the band it masks
      if (dz > 0.0f) spread[r * n + b] *= std::pow(10.0f, -EXTRA_DOWNWARD_DB * dz / 10.0f);
    }
  }
  quiet.assign(n, 0.0f);
  noiseDb.assign(n, 0.0f);
  earWeight.assign(n, 1.0f);
  centreHz.assign(n, 0.0f);
  int line = 0;
  for (size_t b = 0; b < n; ++b) {
    centreHz[b] = static_cast<float>((line + 0.5 * bands[b]) * STREAM_SAMPLE_RATE / XfmSize);
    double lowest = 1e9;
    for (int i = 0; i < bands[b]; ++i, ++line) {
      const double hz = (line + 0.5) * STREAM_SAMPLE_RATE / XfmSize;
      lowest = std::min(lowest, QuietDb(hz));
    }
    // Noise spread over a band is as audible as a tone of its whole power.
    quiet[b] = static_cast<float>(fullScalePower * std::pow(10.0, (lowest - FULL_SCALE_SPL) / 10.0) / bands[b]);
    noiseDb[b] = NOISE_MASKS_NOISE_DB + LOW_BAND_DB * std::max(0.0f, (LOW_BAND_BARK - barks[b]) / LOW_BAND_BARK);
    const double earDb = -0.6 * LowFrequencyRiseDb(static_cast<double>(centreHz[b]) / 1000.0);
    earWeight[b] = static_cast<float>(std::pow(10.0, LOW_EAR_WEIGHTING * earDb / 10.0));
  }
}

void MaskingModel::Analyse(const float* x, float* mask, float* peak, float* energy, unsigned char* peaks,
                           float* tonal) const {
  // Masker power after its offset, per band; stays on the stack (at most 26 bands).
  float masker[32];
  // Tonal lines: local maxima of the block's power that stand TONAL_PEAK_RATIO above the lines
  // two away on either side and that were such a maximum (or next to one) in the block before
  // too: a tone lasts, a peak of noise does not. With their two neighbours they hold a tone's power.
  float tonalPower[32];
  for (int b = 0; b < count; ++b) tonalPower[b] = 0.0f;
  if (peaks != nullptr) {
    // Each line's power, and its power times the ratio (formed as (ratio x) x, the order the
    // model has always used), once per line rather than five times.
    float power[MAX_LINES], scaled[MAX_LINES];
    for (int i = 0; i < lines; ++i) {
      power[i] = x[i] * x[i];
      scaled[i] = TONAL_PEAK_RATIO * x[i] * x[i];
    }
    int b = 0, end = bands[0];
    unsigned char before = 0;  // peaks[i - 1] as it was
    for (int i = 2; i < lines - 2; ++i) {
      while (i >= end) end += bands[static_cast<size_t>(++b)];
      const float p = power[i];
      const float left = power[i - 1], right = power[i + 1];
      const bool peak = (p > left) & (p >= right) & (p > scaled[i - 2]) & (p > scaled[i + 2]);
      const unsigned char was = peaks[i];
      if (peak && (before != 0 || was != 0 || peaks[i + 1] != 0)) tonalPower[b] += p + left + right;
      before = was;
      peaks[i] = peak ? 1 : 0;
    }
  }
  const float* in = x;
  for (int b = 0; b < count; ++b) {
    const int width = bands[static_cast<size_t>(b)];
    float e = 0.0f, pk = 0.0f;
    for (int i = 0; i < width; ++i) {
      e += in[i] * in[i];
      pk = std::max(pk, std::fabs(in[i]));
    }
    in += width;
    const float tonality = e > 0.0f ? std::min(1.0f, tonalPower[b] / e) : 0.0f;
    const size_t s = static_cast<size_t>(b);
    const float offsetDb = noiseDb[s] + tonality * TONAL_EXTRA_DB;
    masker[b] = e * RoughExp2(-offsetDb * LOG2_10_OVER_10) * earWeight[s];
    peak[b] = pk;
    energy[b] = e;
    if (tonal != nullptr) tonal[b] = tonalPower[b];
  }
  for (int r = 0; r < count; ++r) {
    const float* row = spread.data() + static_cast<size_t>(r) * static_cast<size_t>(count);
    float m = 0.0f;
    for (int b = 0; b < count; ++b) m += masker[b] * row[b];
    mask[r] = m / (static_cast<float>(bands[static_cast<size_t>(r)]) * earWeight[static_cast<size_t>(r)]);
  }
}

}  // namespace ostrel
