#include "psycho/PsychoTools.h"

#include <array>
#include <climits>
#include <cmath>
#include <vector>

#include "platform/Fatal.h"

// Arithmetic convention (see the header): stored values are floats, expressions are evaluated in
// double and rounded once on assignment. A single +, -, *, / of two floats gives the same float
// whether done in float or in double and then rounded, so such lone operations are written in float.

namespace ostrel {

namespace {

// Tonality offsets in dB, indexed by the integer Bark value of a band. Index 9 is 4.4 dB, one
// tenth below its upper neighbours.
constexpr int kTonalEntries = 27;
constexpr float kTonalDb[kTonalEntries] = {
    20.0f, 20.0f, 20.0f, 20.0f, 20.0f,                             // 0-4
    17.0f, 15.0f, 10.0f, 7.0f,  4.4f,                              // 5-9
    4.5f,  4.5f,  4.5f,  4.5f,  4.5f, 4.5f, 4.5f, 4.5f, 4.5f, 4.5f,  // 10-19
    4.5f,  4.5f,  4.5f,  4.5f,                                     // 20-23
    3.5f,  3.5f,  3.5f};                                           // 24-26

constexpr int kWeightCodeCount = WEIGHT_CODE_MAX - WEIGHT_CODE_MIN + 1;

const std::array<float, kWeightCodeCount>& WeightTable() {
  // Built on first use; the initialisation of a function-local static is thread-safe.
  static const std::array<float, kWeightCodeCount> LUT = [] {
    std::array<float, kWeightCodeCount> table{};
    for (int i = 0; i < kWeightCodeCount; ++i) {
      // (i - 32) / 15 is a fraction of a decade, so the quotient is taken in floating point.
      table[i] = static_cast<float>(std::pow(10.0, (i + WEIGHT_CODE_MIN) / 15.0));
    }
    return table;
  }();
  return LUT;
}

}  // namespace

void BarkSpectrum(float* z, unsigned SRate, int N) {
  for (int n = 0; n < N / 2; ++n) {
    // Line n lies at the fraction n / N of the sampling rate. Both are ints, but the fraction is
    // meant, not an integer quotient (always 0 here): it is evaluated in double, and the frequency
    // is kept as a float like every other stored value.
    const float f = static_cast<float>(static_cast<double>(n) / N * SRate);
    const double q = f / 7500.0;
    z[n] = static_cast<float>(13.0 * std::atan(0.76 * f / 1000.0) + 3.5 * std::atan(q * q));
  }
}

std::unique_ptr<int[]> CriticalBands(int N, float Res, unsigned SRate, int* Count) {
  const int lineCount = N / 2;
  // One extra entry repeats the last line's Bark value: the scan reads z[k] after k has reached
  // the last line.
  std::vector<float> z(static_cast<size_t>(lineCount > 0 ? lineCount : 0) + 1, 0.0f);
  if (lineCount > 0) {
    BarkSpectrum(z.data(), SRate, N);
    z[lineCount] = z[lineCount - 1];
  }

  // Grows as needed, so a small Res cannot run past a fixed bound on the band count.
  std::vector<int> CompLines;
  float Start = 0.0f;
  int k = 0;
  while (k < lineCount) {
    float BW = 0.0f;
    int lines = 0;
    // The first line always joins the band: for Res > 0 the test would pass anyway, and for
    // Res <= 0 or NaN this keeps the scan moving (one line per band) instead of looping forever.
    do {
      ++k;
      ++lines;
      BW = z[k] - Start;
    } while (BW < Res && k < lineCount);
    CompLines.push_back(lines);
    Start = z[k];
  }

  *Count = static_cast<int>(CompLines.size());
  std::unique_ptr<int[]> result(new int[CompLines.size()]);
  for (size_t i = 0; i < CompLines.size(); ++i) result[i] = CompLines[i];
  return result;
}

void SetCBval(float* cbval, const int* Lines, unsigned SRate, int N, int Count) {
  std::vector<float> z(static_cast<size_t>(N / 2 > 0 ? N / 2 : 0) + 1, 0.0f);
  BarkSpectrum(z.data(), SRate, N);
  int line = 0;
  for (int k = 0; k < Count; ++k) {
    OSTREL_DASSERT(Lines[k] > 0 && line + Lines[k] <= N / 2);
    float sum = 0.0f;
    for (int i = 0; i < Lines[k]; ++i) sum += z[line++];
    cbval[k] = sum / static_cast<float>(Lines[k]);
  }
}

void Spreading(float** B, const float* CBval, int Count) {
  for (int k = 0; k < Count; ++k) {
    for (int n = 0; n < Count; ++n) {
      float dz = CBval[n] - CBval[k];
      // The dip deepens the masking 0.5 to 2.5 Bark above the masker, by at most 8.8 dB at 1.5.
      float dip = 0.0f;
      if (dz >= 0.5 && dz <= 2.5) {
        const float t = dz - 0.5f;  // exact: dz lies in [0.5, 2.5]
        dip = static_cast<float>(8.8 * (static_cast<double>(t) * t - 2.0 * t));
      }
      dz = static_cast<float>(dz + 0.474);
      const float main = static_cast<float>(15.811389 + 7.5 * dz -
                                            17.5 * std::sqrt(1.0 + static_cast<double>(dz) * dz));
      // The cut-off looks at the main term alone, before the dip is added.
      if (main <= -100.0) {
        B[n][k] = 0.0f;
      } else {
        B[n][k] = static_cast<float>(std::pow(10.0, (static_cast<double>(main) + dip) / 10.0));
      }
    }
  }
}

void TonalTable(float* Tonal, const float* CBval, int Count) {
  for (int n = 0; n < Count; ++n) {
    // Bark values stay below 26 for every sampling rate; the clamp only guards foreign input.
    int index = static_cast<int>(CBval[n]);
    OSTREL_DASSERT(index >= 0 && index < kTonalEntries);
    if (index < 0) index = 0;
    if (index >= kTonalEntries) index = kTonalEntries - 1;
    Tonal[n] = static_cast<float>(std::pow(10.0, kTonalDb[index] / 10.0));
  }
}

void SetAbthr(float* abthr, int N, unsigned SRate, float offset) {
  // Running value of fk^-0.8; at line 0 (0 Hz) the fixed 5.0 stands in for the infinite power.
  float temp2 = 5.0f;
  for (int n = 0; n < N / 2; ++n) {
    // Frequency in kHz; the fraction n / N is taken in floating point, as in BarkSpectrum.
    const float fk = static_cast<float>(static_cast<double>(n) / N * SRate / 1000.0);
    if (n > 0) temp2 = static_cast<float>(std::pow(static_cast<double>(fk), -0.8));
    const double d = fk - 3.3;
    const float dB = static_cast<float>(3.64 * temp2 - 6.5 * std::exp(-0.6 * (d * d)) +
                                        0.001 * std::pow(static_cast<double>(fk), 4.0) + offset);
    abthr[n] = static_cast<float>(std::pow(10.0, dB / 10.0));
  }
}

int CompressWeights(float Weight) {
  int RetValue;
  if (Weight > 0.0) {
    // The product is kept as a float before it is rounded to a code.
    const float product = static_cast<float>(7.5 * std::log10(static_cast<double>(Weight)));
    RetValue = ostrel::round(product);
  } else {
    RetValue = WEIGHT_CODE_MIN;
  }
  if (RetValue <= WEIGHT_CODE_MIN) RetValue = WEIGHT_CODE_MIN;
  if (RetValue >= WEIGHT_CODE_MAX) RetValue = WEIGHT_CODE_MAX;
  return RetValue;
}

float DecompressWeights(int Weight) {
  if (Weight < WEIGHT_CODE_MIN) Weight = WEIGHT_CODE_MIN;
  if (Weight > WEIGHT_CODE_MAX) Weight = WEIGHT_CODE_MAX;
  return WeightTable()[static_cast<size_t>(Weight - WEIGHT_CODE_MIN)];
}

}  // namespace ostrel
