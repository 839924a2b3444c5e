// Double-precision FFTs of power-of-two size for the quality meter: complex, and real input
// through a complex transform of half the size.
#pragma once

#include <complex>
#include <vector>

namespace ostrel::peaq {

class Fft {
 public:
  // `size` is a power of two >= 2.
  explicit Fft(int size);
  int Size() const { return size_; }
  // In place: X[k] = sum_n x[n] exp(-2 pi i n k / size), natural order, unscaled. `data` has size
  // elements (borrowed). Allocates nothing.
  void Forward(std::complex<double>* data) const;

 private:
  int size_;
  std::vector<int> reversed_;                   // bit-reversed index of each position
  std::vector<std::complex<double>> twiddle_;   // exp(-2 pi i k / size), k < size / 2
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
  std::vector<std::complex<double>> work_, twiddle_;  // twiddle_: exp(-2 pi i k / size), k <= size / 2
};

}  // namespace ostrel::peaq
