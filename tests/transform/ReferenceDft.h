// Slow, independent references for the transform tests: direct DFT and MDCT sums in extended
// precision, plus the error measures the tests bound.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

namespace ostrel {
namespace test {

using Complex = std::complex<double>;

// X[k] = sum_n z[n] * exp(i * sign * 2*pi*n*k/N); the angle is reduced exactly (n*k mod N) so
// the reference error stays near double rounding for every length.
inline std::vector<Complex> DirectDft(const std::vector<Complex>& z, int sign) {
  const long N = static_cast<long>(z.size());
  const long double twoPi = 6.283185307179586476925286766559L;
  std::vector<long double> cosTable(N);
  std::vector<long double> sinTable(N);
  for (long m = 0; m < N; ++m) {
    cosTable[m] = std::cos(twoPi * m / N);
    sinTable[m] = sign * std::sin(twoPi * m / N);
  }
  std::vector<Complex> X(z.size());
  for (long k = 0; k < N; ++k) {
    long double re = 0.0L;
    long double im = 0.0L;
    for (long n = 0; n < N; ++n) {
      const long m = (n * k) % N;
      re += z[n].real() * cosTable[m] - z[n].imag() * sinTable[m];
      im += z[n].real() * sinTable[m] + z[n].imag() * cosTable[m];
    }
    X[k] = Complex(static_cast<double>(re), static_cast<double>(im));
  }
  return X;
}

// Basis of the MDCT with split b: cos((2*pi/N) * (n + b/2 + 1/2) * (k + 1/2))
// = cos(pi * (2n + b + 1)(2k + 1) / (2N)), with the phase reduced modulo 4N in exact integer
// arithmetic and looked up in a table of the 4N distinct values.
class MdctBasis {
 public:
  MdctBasis(int N, int b) : N_(N), b_(b), table_(4 * N) {
    const long double pi = 3.141592653589793238462643383279L;
    for (long m = 0; m < 4L * N; ++m) table_[m] = std::cos(pi * m / (2L * N));
  }
  long double operator()(long n, long k) const {
    return table_[((2 * n + b_ + 1) * (2 * k + 1)) % (4L * N_)];
  }

 private:
  long N_;
  long b_;
  std::vector<long double> table_;
};

// X[k] = 2 * sum_n x[n] * basis(n, k), k = 0 .. N/2-1.
inline std::vector<double> MdctForwardReference(const std::vector<float>& x, int N, int b) {
  const MdctBasis basis(N, b);
  std::vector<double> X(N / 2);
  for (int k = 0; k < N / 2; ++k) {
    long double sum = 0.0L;
    for (int n = 0; n < N; ++n) sum += x[n] * basis(n, k);
    X[k] = static_cast<double>(2.0L * sum);
  }
  return X;
}

// y[n] = (2/N) * sum_k X[k] * basis(n, k), n = 0 .. N-1.
inline std::vector<double> MdctInverseReference(const std::vector<float>& X, int N, int b) {
  const MdctBasis basis(N, b);
  std::vector<double> y(N);
  for (int n = 0; n < N; ++n) {
    long double sum = 0.0L;
    for (int k = 0; k < N / 2; ++k) sum += X[k] * basis(n, k);
    y[n] = static_cast<double>(2.0L * sum / N);
  }
  return y;
}

// Signal-to-error ratio in dB of `actual` against `expected`, over all components.
template <typename A, typename E>
double SnrDb(const A& actual, const E& expected) {
  double signal = 0.0;
  double noise = 0.0;
  for (size_t i = 0; i < expected.size(); ++i) {
    signal += std::norm(expected[i]);
    noise += std::norm(Complex(actual[i]) - Complex(expected[i]));
  }
  if (noise == 0.0) return 400.0;
  return 10.0 * std::log10(signal / noise);
}

// Seeded noise, uniform in [-1, 1).
inline std::vector<float> Noise(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(count);
  for (float& x : v) x = dist(rng);
  return v;
}

}  // namespace test
}  // namespace ostrel
