// Discrete Fourier transforms in single precision, and a rounding helper.
//
// The routines keep their work storage in caches that are built on first use, only grow, and are
// never released; a call at a size already met allocates nothing. CompFFT's table is kept per
// thread, and the read-only tables of fftl and fft640 are built once for all threads, so threads
// may transform at the same time. The CompFFT form with a caller's table uses no cache at all.
#pragma once

namespace ostrel {

// In-place radix-2 complex FFT of `nn` points on an interleaved array: data[2k] is the real part
// and data[2k+1] the imaginary part of element k (2*nn floats, borrowed).
// Computes X[k] = sum_n z[n] * exp(+i*s*2*pi*n*k/nn), s = -1 when isign < 0 and +1 otherwise,
// in natural order and unscaled. `nn` must be a power of two >= 1. Calling it again with the
// opposite sign and dividing by nn undoes it.
void FFT(float* data, int nn, int isign);

// In-place complex DFT of `nn` = 2^m * odd points, same layout and convention as FFT, with
// `isign` exactly +1 or -1. Radix-2 FFTs over the power-of-two factor, then a direct
// recombination over the odd factor. nn < 1 leaves `data` untouched. Throws std::bad_alloc when
// its work table cannot be allocated (the table is built again on the next call).
void CompFFT(float* data, int nn, int isign);

// As above with the caller's work table of 2 * nn floats (borrowed, overwritten) instead of the
// thread's cache: allocates nothing and never ends the process. Same results, bit for bit.
void CompFFT(float* data, int nn, int isign, float* table);

// Shape of the calling thread's CompFFT work table: the number of rows (largest odd factor met so far) and
// the complex values per row (largest power-of-two factor met so far); both 0 before the first
// call. Diagnostic only.
void CompFFTCacheShape(int* rows, int* rowComplex);

// In-place forward FFT on split arrays (N floats each, borrowed): X[k] = sum_n z[n]*exp(-2*pi*i*n*k/N),
// natural order, unscaled. N must be one of 64, 128, 256, 512, 1024, 2048, 4096; any other N
// prints "FFT ERROR!\n" on standard output and ends the process with exit status 1.
void fftl(float* xreal, float* ximag, int N);

// The power sum of fftl's outputs first .. last - 1 (0 <= first <= last <= N / 2): Power +=
// re * re + im * im in ascending order from 0, in single precision, the same float as summing
// what fftl leaves in xreal and ximag. Computes only what those outputs need; xreal and ximag are
// left with intermediate values. The same lengths and failure as fftl.
float fftlBandPower(float* xreal, float* ximag, int N, int first, int last);

// Inverse of fftl (positive exponent, scaled by 1/N), in place; the same lengths and failure.
void ifft(float* xreal, float* ximag, int N);

// In-place forward 640-point DFT on split arrays of 640 floats (5 x 128 split built on fftl),
// same convention as fftl. Throws std::bad_alloc when its first-call tables cannot be allocated
// (they are built on the next call then).
void fft640(float* xr, float* xi);

// Float to int rounding up: the integer part (toward zero), plus 1 when x has a fractional part.
// Exact ceiling for x >= 0; a negative non-integral x yields its truncation plus one (-1.5 -> 0).
int iceil(float x);

}  // namespace ostrel
