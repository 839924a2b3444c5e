#include "transform/mdct.h"

#include <cmath>
#include <memory>
#include <new>

#include "platform/Fatal.h"
#include "transform/fft.h"

namespace ostrel {

namespace {

struct MdctWork {
  std::unique_ptr<float[]> FFTarray;  // oldN/2 floats: oldN/4 interleaved complex values
  int oldN = 0;
};

// One work array per thread, like CompFFT's table.
float* GetFFTarray(int N) {
  thread_local MdctWork work;
  if (N > work.oldN) {
    work.FFTarray.reset();
    work.oldN = N;
  }
  if (!work.FFTarray) {
    work.FFTarray.reset(new (std::nothrow) float[static_cast<size_t>(work.oldN / 2)]);
    if (!work.FFTarray) FatalError("Not enough memory!\n");
  }
  return work.FFTarray.get();
}

// The transform on `work` (N/2 floats); `table` is CompFFT's work table (N/2 floats), or null
// for the thread's cache.
void MdctWith(float* data, int N, int b, int isign, float* work, float* table);

}  // namespace

void mdct(float* data, int N, int b, int isign) { MdctWith(data, N, b, isign, GetFFTarray(N), nullptr); }

void mdct(float* data, int N, int b, int isign, float* work) { MdctWith(data, N, b, isign, work, work + N / 2); }

namespace {

void MdctWith(float* data, int N, int b, int isign, float* work, float* table) {
  OSTREL_DASSERT(N > 0 && N % 4 == 0);
  OSTREL_DASSERT(b > 0 && b < N && b % 4 == 0);
  OSTREL_DASSERT(isign == 1 || isign == -1);

  const int a = N - b;
  const int quarter = N / 4;
  const int half = N / 2;
  const float freq = static_cast<float>(6.28318530717959 / N);
  const float fac = isign == 1 ? 2.0f : static_cast<float>(2.0 / N);
  const float sign = static_cast<float>(isign);

  // Rotation seeds: library cos/sin in double of the float freq, rounded to float. freq / 8 is
  // exact in either precision, so the eighth-angle pair does not depend on where it is scaled.
  const float cfreq = static_cast<float>(std::cos(static_cast<double>(freq)));
  const float sfreq = static_cast<float>(std::sin(static_cast<double>(freq)));
  const double eighth = static_cast<double>(freq) * 0.125;

  float c = static_cast<float>(std::cos(eighth));
  float s = static_cast<float>(std::sin(eighth));
  for (int i = 0; i < quarter; ++i) {
    float tempr;
    float tempi;
    if (isign == 1) {
      // Fold the N inputs onto N/2 values around the two alias points, then pair them.
      int n = half - 1 - 2 * i;
      if (i < b / 4) {
        tempr = data[a / 2 + n] + data[a / 2 + N - 1 - n];
      } else {
        tempr = data[a / 2 + n] - data[a / 2 - 1 - n];
      }
      n = 2 * i;
      if (i < a / 4) {
        tempi = data[a / 2 + n] - data[a / 2 - 1 - n];
      } else {
        tempi = data[a / 2 + n] + data[a / 2 + N - 1 - n];
      }
    } else {
      tempr = -data[2 * i];
      tempi = data[half - 1 - 2 * i];
    }
    work[2 * i] = tempr * c + sign * tempi * s;
    work[2 * i + 1] = tempi * c - sign * tempr * s;
    const float cOld = c;
    c = cOld * cfreq - s * sfreq;
    s = s * cfreq + cOld * sfreq;
  }

  if (table != nullptr) {
    CompFFT(work, quarter, -isign, table);
  } else {
    CompFFT(work, quarter, -isign);
  }

  c = static_cast<float>(std::cos(eighth));
  s = static_cast<float>(std::sin(eighth));
  for (int i = 0; i < quarter; ++i) {
    const float re = work[2 * i];
    const float im = work[2 * i + 1];
    const float tempr = (re * c + sign * im * s) * fac;
    const float tempi = (im * c - sign * re * s) * fac;
    if (isign == 1) {
      data[2 * i] = -tempr;
      data[half - 1 - 2 * i] = tempi;
      data[half + 2 * i] = -tempi;
      data[N - 1 - 2 * i] = tempr;
    } else {
      // Unfold: each output value lands on one sample and its alias partner.
      data[half + a / 2 - 1 - 2 * i] = tempr;
      if (i < b / 4) {
        data[half + a / 2 + 2 * i] = tempr;
      } else {
        data[2 * i - b / 2] = -tempr;
      }
      data[a / 2 + 2 * i] = tempi;
      if (i < a / 4) {
        data[a / 2 - 1 - 2 * i] = -tempi;
      } else {
        data[a / 2 + N - 1 - 2 * i] = tempi;
      }
    }
    const float cOld = c;
    c = cOld * cfreq - s * sfreq;
    s = s * cfreq + cOld * sfreq;
  }
}

}  // namespace

}  // namespace ostrel
