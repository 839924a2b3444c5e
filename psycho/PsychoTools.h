// Psychoacoustic tools: the fixed tables of a perceptual model (Bark scale, band layout, spreading,
// tonality, threshold in quiet) and the weight quantiser whose codes the stream carries per band.
//
// Arithmetic: every stored value is a 32-bit float; each expression is evaluated in double and
// rounded to float once, where it is assigned. The band layout decides how many weights each block
// carries, so encoder and decoder must obtain bit-identical tables from the same arguments.
#pragma once

#include <climits>
#include <cmath>
#include <memory>

#include "platform/StreamConstants.h"  // WEIGHT_CODE_MIN .. WEIGHT_CODE_MAX, the quantiser's range

namespace ostrel {

// Fills z[0 .. N/2 - 1] with the critical-band rate in Bark of each spectral line of a transform of
// N samples at SRate samples per second (line n stands for n / N * SRate Hz). z[0] = 0.
void BarkSpectrum(float* z, unsigned SRate, int N);

// Groups the N/2 lines into consecutive bands of about Res Bark each, in ascending frequency. A band
// starting at line k0 takes lines up to, not including, the first line k1 with z[k1] - z[k0] >= Res
// (the first band measures from 0.0); the last band takes what remains. Every band has at least one
// line and the counts sum to N/2. Stores the band count in *Count and returns the line counts
// (Count entries, owned by the caller through the returned pointer). Res = 1.0 at 44100 Hz gives
// 24, 24, 23, 23, 21, 22, 21, 16 bands for N = 2048, 1280, 1024, 640, 512, 320, 256, 128.
// Res <= 0 (or NaN) degenerates to one line per band.
std::unique_ptr<int[]> CriticalBands(int N, float Res, unsigned SRate, int* Count);

// Writes to cbval[0 .. Count - 1] the mean Bark value of the lines of each band of `Lines` (the
// table CriticalBands returned for the same N and SRate; borrowed).
void SetCBval(float* cbval, const int* Lines, unsigned SRate, int N, int Count);

// Fills the spreading matrix: B[n][k] is the linear power factor with which band k masks band n,
// from the bands' mean Bark values CBval (Count entries). B must point to Count caller-owned rows of
// Count floats. The diagonal is 1.0, factors whose main term is -100 dB or less are exactly 0.0,
// and the matrix is not symmetric (masking reaches further upward than downward).
void Spreading(float** B, const float* CBval, int Count);

// Writes to Tonal[0 .. Count - 1] the tonality divisor (linear power) of each band, looked up by
// the band's mean Bark value CBval truncated to an integer.
void TonalTable(float* Tonal, const float* CBval, int Count);

// Writes to abthr[0 .. N/2 - 1] the threshold in quiet of each line, in linear power, raised by
// `offset` dB. Line 0 uses a fixed low-frequency term in place of the infinite one.
void SetAbthr(float* abthr, int N, unsigned SRate, float offset);

// Float to int, halves rounded toward positive infinity: 2.5 -> 3, -2.5 -> -2, -2.6 -> -3.
// Inputs beyond the int range saturate to INT_MIN / INT_MAX, NaN gives 0.
// Call it as ostrel::round: unqualified, it would clash with ::round of <cmath> under a
// using-directive.
inline int round(float input) {
  // Within +-2^23 every float with a fraction converts exactly, so a truncation and two compares
  // used as numbers give the result without a library call or a jump that depends on the data
  // (the one test below is as good as always true). Beyond 2^23 every float is whole.
  if (std::fabs(input) < 8388608.0f) {
    int output = static_cast<int>(input);
    output -= static_cast<int>(input < static_cast<float>(output));
    // Exact: input and its floor are close floats.
    output += static_cast<int>(input - static_cast<float>(output) >= 0.5f);
    return output;
  }
  // Outside the int range the conversion would be undefined; saturate instead. NaN gives 0.
  if (!(input >= -2147483648.0f)) return std::isnan(input) ? 0 : INT_MIN;
  if (input >= 2147483648.0f) return INT_MAX;
  return static_cast<int>(input);
}

// Weight quantiser: maps a power-domain mask level (>= 0) to the code round(7.5 * log10(Weight)),
// clamped to -32 .. 223; zero, negative and NaN levels give -32. DecompressWeights undoes it, so the
// pair maps a power P to an amplitude of about sqrt(P).
int CompressWeights(float Weight);

// The amplitude weight 10^(Weight / 15) of a code in -32 .. 223, from a table built once on the first
// call (thread-safe). Codes outside the range are clamped into it, so a damaged stream cannot make
// the lookup read outside the table.
float DecompressWeights(int Weight);

}  // namespace ostrel
