#include "tools/peaq/Fft.h"

#include <cmath>
#include <utility>

namespace ostrel::peaq {

Fft::Fft(int size) : size_(size), reversed_(static_cast<size_t>(size)), twiddle_(static_cast<size_t>(size / 2)) {
  int bits = 0;
  while ((1 << bits) < size) ++bits;
  for (int i = 0; i < size; ++i) {
    int r = 0;
    for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    reversed_[static_cast<size_t>(i)] = r;
  }
  const double pi = std::acos(-1.0);
  for (int k = 0; k < size / 2; ++k) twiddle_[static_cast<size_t>(k)] = std::polar(1.0, -2.0 * pi * k / size);
}

void Fft::Forward(std::complex<double>* data) const {
  for (int i = 0; i < size_; ++i) {
    const int r = reversed_[static_cast<size_t>(i)];
    if (r > i) std::swap(data[i], data[r]);
  }
  for (int half = 1; half < size_; half *= 2) {
    const int step = size_ / (2 * half);
    for (int start = 0; start < size_; start += 2 * half) {
      for (int k = 0; k < half; ++k) {
        const std::complex<double> w = twiddle_[static_cast<size_t>(k * step)];
        const std::complex<double> a = data[start + k];
        const std::complex<double> b = data[start + k + half];
        // Written out: std::complex multiplication checks for infinities on every call.
        const std::complex<double> t(w.real() * b.real() - w.imag() * b.imag(),
                                     w.real() * b.imag() + w.imag() * b.real());
        data[start + k] = a + t;
        data[start + k + half] = a - t;
      }
    }
  }
}

RealFft::RealFft(int size)
    : size_(size), half_(size / 2), work_(static_cast<size_t>(size / 2)), twiddle_(static_cast<size_t>(size / 2 + 1)) {
  const double pi = std::acos(-1.0);
  for (int k = 0; k <= size / 2; ++k) twiddle_[static_cast<size_t>(k)] = std::polar(1.0, -2.0 * pi * k / size);
}

void RealFft::Forward(const double* x, std::complex<double>* out) {
  const int half = size_ / 2;
  for (int n = 0; n < half; ++n) work_[static_cast<size_t>(n)] = std::complex<double>(x[2 * n], x[2 * n + 1]);
  half_.Forward(work_.data());
  // Even samples' spectrum E and odd samples' O from Z = E + iO, then X[k] = E[k] + w^k O[k].
  for (int k = 0; k <= half; ++k) {
    const std::complex<double> z = work_[static_cast<size_t>(k % half)];
    const std::complex<double> zc = std::conj(work_[static_cast<size_t>((half - k) % half)]);
    const std::complex<double> even = 0.5 * (z + zc);
    const std::complex<double> diff = z - zc;
    const std::complex<double> odd(0.5 * diff.imag(), -0.5 * diff.real());  // (z - zc) / 2i
    const std::complex<double> w = twiddle_[static_cast<size_t>(k)];
    out[k] = even + std::complex<double>(w.real() * odd.real() - w.imag() * odd.imag(),
                                         w.real() * odd.imag() + w.imag() * odd.real());
  }
}

}  // namespace ostrel::peaq
