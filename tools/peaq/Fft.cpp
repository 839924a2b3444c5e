#include "tools/peaq/Fft.h"

#include <cmath>
#include <utility>

namespace ostrel::peaq {

Fft::Fft(int size)
    : size_(size),
      reversed_(static_cast<size_t>(size)),
      cos_(static_cast<size_t>(size)),
      sin_(static_cast<size_t>(size)) {
  int bits = 0;
  while ((1 << bits) < size) ++bits;
  for (int i = 0; i < size; ++i) {
    int r = 0;
    for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    reversed_[static_cast<size_t>(i)] = r;
  }
  const double pi = std::acos(-1.0);
  for (int h = 1; h < size; h *= 2) {
    for (int k = 0; k < h; ++k) {
      cos_[static_cast<size_t>(h + k)] = std::cos(pi * k / h);
      sin_[static_cast<size_t>(h + k)] = std::sin(pi * k / h);
    }
  }
}

void Fft::Forward(double* re, double* im) const {
  const int n = size_;
  for (int i = 0; i < n; ++i) {
    const int r = reversed_[static_cast<size_t>(i)];
    if (r > i) {
      std::swap(re[i], re[r]);
      std::swap(im[i], im[r]);
    }
  }
  for (int i = 0; i < n; i += 2) {
    const double ar = re[i], ai = im[i], br = re[i + 1], bi = im[i + 1];
    re[i] = ar + br;
    im[i] = ai + bi;
    re[i + 1] = ar - br;
    im[i + 1] = ai - bi;
  }
  for (int h = 2; h < n; h *= 2) {
    const double* wc = cos_.data() + h;
    const double* ws = sin_.data() + h;
    for (int start = 0; start < n; start += 2 * h) {
      double* r0 = re + start;
      double* i0 = im + start;
      double* r1 = r0 + h;
      double* i1 = i0 + h;
      for (int k = 0; k < h; ++k) {
        // t = (r1 + i i1) * (cos - i sin)
        const double tr = wc[k] * r1[k] + ws[k] * i1[k];
        const double ti = wc[k] * i1[k] - ws[k] * r1[k];
        r1[k] = r0[k] - tr;
        i1[k] = i0[k] - ti;
        r0[k] += tr;
        i0[k] += ti;
      }
    }
  }
}

RealFft::RealFft(int size)
    : size_(size),
      half_(size / 2),
      re_(static_cast<size_t>(size / 2)),
      im_(static_cast<size_t>(size / 2)),
      twiddle_(static_cast<size_t>(size / 2 + 1)) {
  const double pi = std::acos(-1.0);
  for (int k = 0; k <= size / 2; ++k) twiddle_[static_cast<size_t>(k)] = std::polar(1.0, -2.0 * pi * k / size);
}

void RealFft::Forward(const double* x, std::complex<double>* out) {
  const int half = size_ / 2;
  for (int n = 0; n < half; ++n) {
    re_[static_cast<size_t>(n)] = x[2 * n];
    im_[static_cast<size_t>(n)] = x[2 * n + 1];
  }
  half_.Forward(re_.data(), im_.data());
  // Even samples' spectrum E and odd samples' O from Z = E + iO, then X[k] = E[k] + w^k O[k].
  for (int k = 0; k <= half; ++k) {
    const size_t a = static_cast<size_t>(k % half), b = static_cast<size_t>((half - k) % half);
    const double zr = re_[a], zi = im_[a], cr = re_[b], ci = -im_[b];  // z and conj(z at -k)
    const double er = 0.5 * (zr + cr), ei = 0.5 * (zi + ci);
    const double orr = 0.5 * (zi - ci), oi = -0.5 * (zr - cr);  // (z - zc) / 2i
    const std::complex<double> w = twiddle_[static_cast<size_t>(k)];
    out[k] = std::complex<double>(er + w.real() * orr - w.imag() * oi, ei + w.real() * oi + w.imag() * orr);
  }
}

}  // namespace ostrel::peaq
