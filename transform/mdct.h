// MDCT of any length that is a multiple of 4, with a free split between the left and right
// overlap regions, computed through an N/4-point complex DFT.
#pragma once

namespace ostrel {

// In-place MDCT on `data` (N floats, borrowed). N and b are multiples of 4 with 0 < b < N;
// b = N/2 is the ordinary symmetric MDCT. With a = N - b the left slope has a samples and the
// right slope b samples, and the basis is cos((2*pi/N) * (n + b/2 + 1/2) * (k + 1/2)).
//
// isign = +1 (forward): reads data[0..N-1]; writes X[k] = 2 * sum_n data[n] * basis(n, k) into
//   data[k], k = 0..N/2-1, and -X[k] into data[N-1-k] (the upper half is a mirror of no use).
// isign = -1 (inverse): reads X[k] from data[0..N/2-1]; writes
//   y[n] = (2/N) * sum_k X[k] * basis(n, k) into data[n], n = 0..N-1. Inverse after forward gives
//   the input plus its time-domain aliases: odd about a/2 - 1/2, even about N - b/2 - 1/2.
//
// Keeps a work array per thread sized by the largest N met (N/2 floats), and uses CompFFT's
// per-thread table; throws std::bad_alloc (the caches kept usable) if either cannot be allocated.
void mdct(float* data, int N, int b, int isign);

// As above with the caller's work array of N floats (borrowed, overwritten) in place of both
// caches: allocates nothing and never ends the process. Same results, bit for bit.
void mdct(float* data, int N, int b, int isign, float* work);

}  // namespace ostrel
