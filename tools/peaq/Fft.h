// Double-precision FFTs of power-of-two size for the quality meter: complex on split real and
// imaginary arrays, and real input through a complex transform of half the size.
#pragma once

#include <complex>
#include <vector>

namespace ostrel::peaq {

class Fft {
 public:
  // `size` is a power of two >= 2.
  explicit Fft(int size);
  int Size() const { return size_; }
  // In place on re and im (size values each, borrowed): X[k] = sum_n x[n] exp(-2 pi i n k / size),
  // natural order, unscaled. Allocates nothing.
  void Forward(double* re, double* im) const;

 private:
  int size_;
  std::vector<int> reversed_;     // bit-reversed index of each position
  std::vector<double> cos_, sin_;  // stage of half-length h: cos(pi k / h), sin(pi k / h) at h + k
};

class RealFft {
 public:
  // `size` is a power of two >= 4.
  explicit RealFft(int size);
  // Bins 0 .. size/2 of the transform of `size` real samples x (borrowed) into out (size/2 + 1
  // elements), same convention as Fft::Forward. Equal inputs give bit-equal outputs. Allocates nothing.
  void Forward(const double* x, std::complex<double>* out);

 private:
  int size_;
  Fft half_;
  std::vector<double> re_, im_;
  std::vector<std::complex<double>> twiddle_;  // exp(-2 pi i k / size), k <= size / 2
};

}  // namespace ostrel::peaq
