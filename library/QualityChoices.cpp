#include "library/QualityChoices.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "coding/FrameLayout.h"
#include "platform/Fatal.h"  // OSTREL_DASSERT
#include "coding/WeightCoding.h"
#include "psycho/Psycho.h"
#include "psycho/PsychoTools.h"
#include "transform/fft.h"  // iceil

namespace ostrel {

namespace {

// The bits one code step lower costs per line quantised to a non-zero value: a code step is 1/15
// decade of amplitude, log2(10^(1/15)) bits.
constexpr float BITS_PER_CODE_STEP = 0.2215f;
// One code step in dB of amplitude: 20 / 15.
constexpr float CODE_STEP_DB = 1.3333f;
// Code steps by which one call of LowerAudible lowers a band at most.
constexpr int MAX_PASSES = 4;

// Code steps by which the sets of a transient are refined at most: more took so many bits from
// the long blocks around a speech onset that its noise grew (speech at 112 kb/s lost 0.6 dB with
// no limit, nothing with two).
constexpr int MAX_TRANSIENT_STEPS = 2;

// Bits added to a band's estimated cost of a code step when the bands are ranked by noise over
// mask per bit: the estimate misses what lines coming up from 0 cost, and with this margin the
// order weighs the cost only for bands of many lines. (With 1 bit: 0.15 dB more at 256 kb/s but
// more audible frames at 112 and 192 kb/s. By noise over mask alone: up to 0.1 dB less.)
constexpr float WORTH_EXTRA_BITS = 16.0f;

// Frame bits per coefficient from which no lines are zeroed below the mask: at 392 kb/s (4.4)
// zeroing cost 2.2 dB NMR, at 256 kb/s (2.9) it gained 0.24 dB and at 192 kb/s (2.2) 0.37 dB.
constexpr float AMPLE_BITS_PER_LINE = 4.0f;

// How far below the model's mask the mask of a fully tonal band lies, in dB.
constexpr float TONAL_DB = 12.0f;
// A line whose power lies below this share of its band's mask per line is zeroed before
// quantisation: it is masked anyway, and its bits go to audible bands.
constexpr float ZERO_BELOW = 0.05f;

// log2 of a positive, finite v to about 0.01: the exponent plus a parabola through the mantissa,
// ample for a flatness measure and much cheaper than a library logarithm per line.
float RoughLog2(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const float exponent = static_cast<float>(static_cast<int>((bits >> 23) & 0xFF) - 127);
  bits = (bits & 0x007FFFFFu) | 0x3F800000u;
  float m;  // 1 .. 2
  std::memcpy(&m, &bits, sizeof m);
  return exponent + (-0.34484843f * m + 2.02466578f) * m - 1.65487759f;
}

}  // namespace

QualityChoices::QualityChoices(const FrameGeometry& frameGeometry, CodingSetup& codingSetup)
    : geometry(frameGeometry),
      setup(codingSetup),
      zeroMasked(static_cast<float>(frameGeometry.FrameBits) <
                 AMPLE_BITS_PER_LINE * static_cast<float>(STREAM_CHANNELS * frameGeometry.TOTAL)),
      weightCodes(GetHuffEnc00()),
      gainCodes(GetGainHuffEnc(static_cast<int>(frameGeometry.LSIZE))) {
  const size_t slots = STREAM_CHANNELS * (geometry.NBlocks + 1) * static_cast<size_t>(setup.MaxBandCount());
  raw.assign(STREAM_CHANNELS * geometry.TOTAL, 0.0f);
  modelCodes.assign(slots, WEIGHT_CODE_MIN);
  peaks.assign(slots, 0.0f);
  modelGains.assign(STREAM_CHANNELS * (geometry.NBlocks + 1), GAIN_MIN);
  mask.assign(slots, 0.0f);
  tonalOffset.assign(slots, 0.0f);
  nonzero.assign(slots, 0.0f);
  priority.assign(slots, 0.0f);
  worth.assign(slots, 0.0f);
  saved.assign(slots, WEIGHT_CODE_MIN);
  savedGains.assign(STREAM_CHANNELS * (geometry.NBlocks + 1), GAIN_MIN);
  changedSets.assign(STREAM_CHANNELS * (geometry.NBlocks + 1), 1);
  staleSets.assign(STREAM_CHANNELS * (geometry.NBlocks + 1), 1);
  order.assign(slots, 0);
  athLong.assign(geometry.HLSIZE, 0.0f);
  athTran.assign(geometry.TSIZE, 0.0f);
  athShort.assign(geometry.HSSIZE, 0.0f);
  SetAbthr(athLong.data(), static_cast<int>(geometry.LSIZE), STREAM_SAMPLE_RATE, geometry.dBOffset);
  SetAbthr(athTran.data(), static_cast<int>(geometry.TRANSIZE), STREAM_SAMPLE_RATE, geometry.dBOffset);
  SetAbthr(athShort.data(), static_cast<int>(geometry.SSIZE), STREAM_SAMPLE_RATE, geometry.dBOffset);
}

template <typename Visit>
void QualityChoices::ForEachSet(Visit&& visit) const {
  for (unsigned c = 0; c < STREAM_CHANNELS; ++c) {
    const bool switched = setup.SwitchUsed()[c] != 0;
    ForEachWeightSet(geometry, geometry.NBlocks, switched, setup.Location()[c], [&](const WeightSetSpan& set) {
      switch (set.kind) {
        case WeightSetKind::Long:
          visit(c, set, setup.LongBands, setup.LongBandCount, 1, athLong.data());
          break;
        case WeightSetKind::Start:
        case WeightSetKind::Stop:
          visit(c, set, setup.TranBands, setup.TranBandCount, 1, athTran.data());
          break;
        case WeightSetKind::Short:
          visit(c, set, setup.ShortBands, setup.ShortBandCount, 3, athShort.data());
          break;
      }
    });
  }
}

void QualityChoices::Capture(float* const* x) {
  int*** W = setup.Weights();
  int** G = setup.Gains();
  std::fill(changedSets.begin(), changedSets.end(), 1);
  std::fill(staleSets.begin(), staleSets.end(), 1);
  ForEachSet([&](unsigned c, const WeightSetSpan& set, const int* bands, int count, int repeats, const float* ath) {
    const float* in = x[c] + set.line;
    float* out = raw.data() + c * geometry.TOTAL + set.line;
    const float gain = static_cast<float>(G[c][set.set]);
    modelGains[c * (geometry.NBlocks + 1) + set.set] = G[c][set.set];
    for (int k = 0; k < count; ++k) {
      const int s = Slot(c, set.set, k);
      modelCodes[s] = W[c][set.set][k];
      mask[s] = 0.0f;
      tonalOffset[s] = 0.0f;
      peaks[s] = 0.0f;
    }
    unsigned h = 0;
    for (int r = 0; r < repeats; ++r) {
      unsigned line = 0;
      for (int k = 0; k < count; ++k) {
        const int s = Slot(c, set.set, k);
        const float w = DecompressWeights(modelCodes[s]);
        const float level = w * w;
        float peak = 0.0f;
        float logSum = 0.0f;  // base 2
        double powerSum = 0.0;
        int counted = 0;
        float bandMask = 0.0f;
        for (int i = 0; i < bands[k]; ++i, ++h, ++line) {
          out[h] = in[h] * gain * w;
          peak = std::max(peak, std::fabs(out[h]));
          bandMask += std::max(level, ath[line]);
          const float p = out[h] * out[h];
          if (p > 0.0f) {
            logSum += RoughLog2(p);
            powerSum += p;
            ++counted;
          }
        }
        // Spectral flatness of the band: near 0 dB for noise, far below for a few strong lines
        // (a tone), whose masking of noise is much weaker than the model's mask assumes.
        float tonalDb = 0.0f;
        if (counted >= 4 && bands[k] >= 4) {
          const double flatnessDb = 10.0 * std::log10(2.0) * (logSum / counted - std::log2(powerSum / counted));
          const double tonality = std::min(1.0, std::max(0.0, -flatnessDb / 20.0));
          tonalDb = static_cast<float>(tonality) * TONAL_DB;
        }
        tonalOffset[s] = std::max(tonalOffset[s], tonalDb);
        mask[s] += bandMask;
        peaks[s] = std::max(peaks[s], peak);
      }
    }
    for (int k = 0; k < count; ++k) {
      const int s = Slot(c, set.set, k);
      mask[s] *= std::pow(10.0f, -tonalOffset[s] / 10.0f);
    }
    // Not in the sets of a transient (start, short, stop): there the zeroed lines' noise lands on
    // the attack itself, which the model's mask covers less well than it says (a click train at
    // 256 kb/s lost 1.4 dB NMR to it).
    // Nor in frames of ample bits, where the lines' quantisation noise lies further below the mask
    // than the zeroed lines' noise would.
    if (set.kind != WeightSetKind::Long || !zeroMasked) return;
    unsigned z = 0;
    for (int r = 0; r < repeats; ++r) {
      for (int k = 0; k < count; ++k) {
        const int s = Slot(c, set.set, k);
        const float limit = ZERO_BELOW * mask[s] / static_cast<float>(bands[k] * repeats);
        for (int i = 0; i < bands[k]; ++i, ++z) {
          if (out[z] * out[z] < limit) out[z] = 0.0f;
        }
      }
    }
  });
}

void QualityChoices::StartCodes() {
  int*** W = setup.Weights();
  ForEachSet([&](unsigned c, const WeightSetSpan& set, const int*, int count, int, const float*) {
    int* codes = W[c][set.set];
    const int gain = modelGains[c * (geometry.NBlocks + 1) + set.set];
    // One step at a time and band by band, so that every step the neighbours allow is taken.
    bool moved = true;
    while (moved) {
      moved = false;
      for (int k = 0; k < count; ++k) {
        const int s = Slot(c, set.set, k);
        const int target = modelCodes[s] - static_cast<int>(tonalOffset[s] / CODE_STEP_DB + 0.5f);
        if (codes[k] > target && CanLower(codes, count, k, peaks[s], gain)) {
          --codes[k];
          moved = true;
        }
      }
    }
  });
}

int QualityChoices::RefineTransients(int steps) {
  int*** W = setup.Weights();
  int** G = setup.Gains();
  int lowered = 0;
  ForEachSet([&](unsigned c, const WeightSetSpan& set, const int*, int count, int, const float*) {
    if (set.kind == WeightSetKind::Long) return;
    int* codes = W[c][set.set];
    const int gain = G[c][set.set];
    const unsigned j = c * (geometry.NBlocks + 1) + set.set;
    // A step at a time across the set, so that the neighbour limits let every band follow.
    for (int pass = 0; pass < steps; ++pass) {
      for (int k = 0; k < count; ++k) {
        if (!CanLower(codes, count, k, peaks[static_cast<size_t>(Slot(c, set.set, k))], gain)) continue;
        --codes[k];
        ++lowered;
        changedSets[j] = 1;
        staleSets[j] = 1;
      }
    }
  });
  return lowered;
}

int QualityChoices::TransientSteps(float referenceSteps, float frameSteps) {
  if (frameSteps >= referenceSteps) return 0;
  // A code step changes a weight by CODE_STEP_DB of amplitude; a hair over whole steps is not
  // another step.
  const float steps = std::ceil(20.0f * std::log10(referenceSteps / frameSteps) / CODE_STEP_DB - 0.01f);
  return std::min(static_cast<int>(steps), MAX_TRANSIENT_STEPS);
}

bool QualityChoices::CanLower(const int* codes, int count, int k, float peak, int gain) {
  const int lower = codes[k] - 1;
  if (k > 0 && lower - codes[k - 1] < WEIGHT_STEP_DOWN) return false;
  if (k + 1 < count && codes[k + 1] - lower > WEIGHT_STEP_UP) return false;
  return Fits(lower, peak, gain);
}

bool QualityChoices::Fits(int code, float peak, int gain) {
  return code >= WEIGHT_CODE_MIN && DecompressWeights(code) * static_cast<float>(gain) >= peak;
}

void QualityChoices::Apply(float* const* x) {
  int*** W = setup.Weights();
  int** G = setup.Gains();
  ForEachSet([&](unsigned c, const WeightSetSpan& set, const int* bands, int count, int repeats, const float*) {
    unsigned char& changed = changedSets[c * (geometry.NBlocks + 1) + set.set];
    if (changed == 0) return;
    changed = 0;
    const float* in = raw.data() + c * geometry.TOTAL + set.line;
    float* out = x[c] + set.line;
    const int* codes = W[c][set.set];
    unsigned h = 0;
    float m = 1.0f;
    for (int r = 0; r < repeats; ++r) {
      for (int k = 0; k < count; ++k) {
        const float inverse = 1.0f / DecompressWeights(codes[k]);
        for (int i = 0; i < bands[k]; ++i, ++h) {
          out[h] = in[h] * inverse;
          m = std::max(m, std::fabs(out[h]));
        }
      }
    }
    m = std::min(std::max(m, static_cast<float>(GAIN_MIN)), static_cast<float>(GAIN_MAX));
    const int gain = iceil(m);
    G[c][set.set] = gain;
    const float inverse = 1.0f / static_cast<float>(gain);
    for (unsigned i = 0; i < h; ++i) out[i] *= inverse;
  });
}

int QualityChoices::SideBits() const {
  int*** W = setup.Weights();
  int** G = setup.Gains();
  int bits = 0;
  ForEachSet([&](unsigned c, const WeightSetSpan& set, const int*, int count, int, const float*) {
    const int* codes = W[c][set.set];
    OSTREL_DASSERT(G[c][set.set] >= GAIN_MIN && G[c][set.set] <= GAIN_MAX);
    OSTREL_DASSERT(codes[0] >= WEIGHT_CODE_MIN && codes[0] <= WEIGHT_CODE_MAX);
    bits += gainCodes[static_cast<size_t>(G[c][set.set] - GAIN_OFFSET)].length + LEADING_WEIGHT_LEN;
    for (int k = 1; k < count; ++k) {
      // What the writer sends is what the decoder uses only while the step is in range.
      OSTREL_DASSERT(codes[k] - codes[k - 1] >= WEIGHT_STEP_DOWN && codes[k] - codes[k - 1] <= WEIGHT_STEP_UP);
      const int index = codes[k] - codes[k - 1] + WEIGHT_DIFF_INDEX_OFFSET;
      bits += weightCodes[static_cast<size_t>(std::min(std::max(index, 0), WEIGHT_DIFF_INDEX_MAX))].length;
    }
  });
  return bits;
}

int QualityChoices::LowerAudible(const float* const* x, int Steps, int bits) {
  EstimateNoise(x, Steps);
  return LowerAgain(bits);
}

void QualityChoices::EstimateNoise(const float* const* x, int Steps) {
  int*** W = setup.Weights();
  int** G = setup.Gains();
  const float S = static_cast<float>(Steps);
  int candidates = 0;
  ForEachSet([&](unsigned c, const WeightSetSpan& set, const int* bands, int count, int repeats, const float*) {
    const float* in = raw.data() + c * geometry.TOTAL + set.line;
    const float* xc = x[c] + set.line;
    const int* codes = W[c][set.set];
    const float g = static_cast<float>(G[c][set.set]);
    unsigned char& stale = staleSets[c * (geometry.NBlocks + 1) + set.set];
    for (int k = 0; k < count && stale != 0; ++k) {
      const int s = Slot(c, set.set, k);
      nonzero[s] = 0.0f;
      priority[s] = 0.0f;
    }
    unsigned h = 0;
    for (int r = 0; r < repeats && stale != 0; ++r) {
      for (int k = 0; k < count; ++k) {
        const int s = Slot(c, set.set, k);
        const float step = DecompressWeights(codes[k]) * g / S;
        float noise = 0.0f;
        for (int i = 0; i < bands[k]; ++i, ++h) {
          // The quantiser's rule, halves up (an estimate: the rounding of v + 0.5 may differ at a
          // tie from QuantiseValues, which does not matter here). Most lines quantise to 0.
          const float v = xc[h] * S;
          if (std::fabs(v) < 0.5f) {
            noise += in[h] * in[h];
            continue;
          }
          const float q = std::min(std::max(std::floor(v + 0.5f), -S), S);
          const float e = in[h] - q * step;
          noise += e * e;
          nonzero[s] += 1.0f;
        }
        priority[s] += noise;
      }
    }
    for (int k = 0; k < count; ++k) {
      const int s = Slot(c, set.set, k);
      if (stale != 0) priority[s] = mask[s] > 0.0f ? priority[s] / mask[s] : 0.0f;
      // A band can go lower while it stays within the largest gain and its noise is not nil.
      if (priority[s] > 0.0f && Fits(codes[k] - 1, peaks[s], G[c][set.set])) {
        order[static_cast<size_t>(candidates++)] = s;
      }
    }
    stale = 0;
  });
  // Most noise over mask per bit first: the bits go where they take off the most of the frame's
  // summed noise-to-mask ratio.
  for (int n = 0; n < candidates; ++n) {
    const size_t s = static_cast<size_t>(order[static_cast<size_t>(n)]);
    worth[s] = priority[s] / (BITS_PER_CODE_STEP * nonzero[s] + WORTH_EXTRA_BITS);
  }
  std::sort(order.begin(), order.begin() + candidates, [this](int a, int b) {
    return worth[static_cast<size_t>(a)] > worth[static_cast<size_t>(b)] || (worth[static_cast<size_t>(a)] == worth[static_cast<size_t>(b)] && a < b);
  });
  candidateCount = candidates;
}

int QualityChoices::LowerAgain(int bits) {
  int*** W = setup.Weights();
  int** G = setup.Gains();
  const int candidates = candidateCount;
  // Lower the most audible bands first until their estimated cost reaches `bits`; when every
  // band has been lowered and bits are left (a frame at the top step size), go round again.
  const int rowLength = setup.MaxBandCount();
  const int perChannel = static_cast<int>(geometry.NBlocks + 1) * rowLength;
  float spent = 0.0f;
  int lowered = 0;
  for (int pass = 0; pass < MAX_PASSES && spent < static_cast<float>(bits); ++pass) {
    for (int n = 0; n < candidates && spent < static_cast<float>(bits); ++n) {
      const int s = order[static_cast<size_t>(n)];
      const int c = s / perChannel;
      const int set = (s % perChannel) / rowLength;
      const int k = s % rowLength;
      if (!CanLower(W[c][set], WeightSetBands(set, setup.SwitchUsed()[c] != 0, setup.Location()[c],
                                              setup.LongBandCount, setup.ShortBandCount, setup.TranBandCount),
                    k, peaks[static_cast<size_t>(s)], G[c][set])) {
        continue;
      }
      --W[c][set][k];
      changedSets[static_cast<size_t>(c * static_cast<int>(geometry.NBlocks + 1) + set)] = 1;
      staleSets[static_cast<size_t>(c * static_cast<int>(geometry.NBlocks + 1) + set)] = 1;
      spent += BITS_PER_CODE_STEP * nonzero[static_cast<size_t>(s)] + 1.0f;
      ++lowered;
    }
  }
  return lowered;
}

void QualityChoices::Save() {
  int*** W = setup.Weights();
  int** G = setup.Gains();
  ForEachSet([&](unsigned c, const WeightSetSpan& set, const int*, int count, int, const float*) {
    for (int k = 0; k < count; ++k) saved[static_cast<size_t>(Slot(c, set.set, k))] = W[c][set.set][k];
    savedGains[c * (geometry.NBlocks + 1) + set.set] = G[c][set.set];
  });
}

void QualityChoices::Restore() {
  int*** W = setup.Weights();
  int** G = setup.Gains();
  ForEachSet([&](unsigned c, const WeightSetSpan& set, const int*, int count, int, const float*) {
    const unsigned j = c * (geometry.NBlocks + 1) + set.set;
    for (int k = 0; k < count; ++k) {
      int& code = W[c][set.set][k];
      const int before = saved[static_cast<size_t>(Slot(c, set.set, k))];
      if (code != before) changedSets[j] = 1;
      code = before;
    }
    G[c][set.set] = savedGains[j];
  });
}

}  // namespace ostrel
