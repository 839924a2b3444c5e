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

// The pre- and post-rotation of a length: (c_i, s_i), i = 0 .. N/4 - 1, from the float
// recurrence c_{i+1} = c_i * cos(freq) - s_i * sin(freq), s_{i+1} = s_i * cos(freq) + c_i * sin(freq)
// seeded by the eighth angle, stored as the recurrence gives them so the rotation loops carry no
// dependence from one value to the next. Per thread: a few lengths up to 2048 in fixed storage
// (no allocation), a longer one in an array that only grows, like the work array.
constexpr int kRotationSlots = 6;
constexpr int kRotationFixed = 512;  // N / 4 for N = 2048

struct RotationSlot {
  int N = 0;
  float c[kRotationFixed];
  float s[kRotationFixed];
};

struct LongRotation {
  int N = 0;
  int room = 0;
  std::unique_ptr<float[]> cs;  // room cosines, then room sines
};

void BuildRotation(int N, float* cs, float* ss) {
  const float freq = static_cast<float>(6.28318530717959 / N);
  const float cfreq = static_cast<float>(std::cos(static_cast<double>(freq)));
  const float sfreq = static_cast<float>(std::sin(static_cast<double>(freq)));
  const double eighth = static_cast<double>(freq) * 0.125;
  float c = static_cast<float>(std::cos(eighth));
  float s = static_cast<float>(std::sin(eighth));
  for (int i = 0; i < N / 4; ++i) {
    cs[i] = c;
    ss[i] = s;
    const float cOld = c;
    c = cOld * cfreq - s * sfreq;
    s = s * cfreq + cOld * sfreq;
  }
}

// Sets *cs and *ss to the rotation of length N.
void GetRotation(int N, const float** cs, const float** ss) {
  const int quarter = N / 4;
  if (quarter > kRotationFixed) {
    thread_local LongRotation longest;
    if (longest.N != N) {
      if (quarter > longest.room) {
        longest.cs.reset(new (std::nothrow) float[2 * static_cast<size_t>(quarter)]);
        if (!longest.cs) FatalError("Not enough memory!\n");
        longest.room = quarter;
      }
      BuildRotation(N, longest.cs.get(), longest.cs.get() + longest.room);
      longest.N = N;
    }
    *cs = longest.cs.get();
    *ss = longest.cs.get() + longest.room;
    return;
  }
  thread_local RotationSlot slots[kRotationSlots];
  thread_local int next = 0;
  for (const RotationSlot& r : slots) {
    if (r.N == N) {
      *cs = r.c;
      *ss = r.s;
      return;
    }
  }
  RotationSlot& r = slots[next];
  next = (next + 1) % kRotationSlots;
  BuildRotation(N, r.c, r.s);
  r.N = N;
  *cs = r.c;
  *ss = r.s;
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
  const float fac = isign == 1 ? 2.0f : static_cast<float>(2.0 / N);
  const float sign = static_cast<float>(isign);
  const float* cs = nullptr;
  const float* ss = nullptr;
  GetRotation(N, &cs, &ss);

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
    const float c = cs[i];
    const float s = ss[i];
    work[2 * i] = tempr * c + sign * tempi * s;
    work[2 * i + 1] = tempi * c - sign * tempr * s;
  }

  if (table != nullptr) {
    CompFFT(work, quarter, -isign, table);
  } else {
    CompFFT(work, quarter, -isign);
  }

  for (int i = 0; i < quarter; ++i) {
    const float c = cs[i];
    const float s = ss[i];
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
  }
}

}  // namespace

}  // namespace ostrel
