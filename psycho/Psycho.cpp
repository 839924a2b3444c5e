#include "psycho/Psycho.h"

#include <cmath>

#include "platform/Fatal.h"
#include "psycho/PsychoTools.h"

// Stored values are floats; an expression is evaluated in double and rounded once on assignment.

namespace ostrel {

void LimitWeightSteps(int* weights, int count) {
  // Each step is measured from the already limited predecessor, so a jump is approached over
  // several bands.
  for (int n = 1; n < count; ++n) {
    int d = weights[n] - weights[n - 1];
    if (d <= WEIGHT_STEP_DOWN) d = WEIGHT_STEP_DOWN;
    if (d >= WEIGHT_STEP_UP) d = WEIGHT_STEP_UP;
    weights[n] = weights[n - 1] + d;
  }
}

std::unique_ptr<int[]> PsychBandTable(unsigned XfmSize, int SRate, int* Count) {
  return CriticalBands(static_cast<int>(XfmSize), 1.0f, static_cast<unsigned>(SRate), Count);
}

Psycho::Psycho(unsigned XfmSize, int SRate, float res, float offset, int isshort) {
  (void)res;  // the bands are always 1.0 Bark wide
  IsShort = isshort;
  HSIZE = static_cast<int>(XfmSize >> 1);
  OSTREL_DASSERT(HSIZE > 0);

  const unsigned rate = static_cast<unsigned>(SRate);
  PsychBands = PsychBandTable(XfmSize, SRate, &PSYCHBANDCOUNT);

  const size_t bands = static_cast<size_t>(PSYCHBANDCOUNT);
  std::vector<float> cbval(bands);
  Tonality.assign(bands, 0.0f);
  ge.assign(bands, 0.0f);
  se.assign(bands, 0.0f);
  Data.assign(static_cast<size_t>(HSIZE), 0.0f);
  AbsoluteThresh.assign(static_cast<size_t>(HSIZE), 0.0f);
  Normal.assign(bands, 0.0f);
  MaskStore.assign(bands * bands, 0.0f);
  Mask.resize(bands);
  for (size_t n = 0; n < bands; ++n) Mask[n] = MaskStore.data() + n * bands;

  SetCBval(cbval.data(), PsychBands.get(), rate, static_cast<int>(XfmSize), PSYCHBANDCOUNT);
  Spreading(Mask.data(), cbval.data(), PSYCHBANDCOUNT);

  // Normalisation: the spread power of a spectrum with power 1.0 on every line, before any
  // tonality offset applies.
  for (int n = 0; n < PSYCHBANDCOUNT; ++n) {
    Tonality[n] = 1.0f;
    ge[n] = static_cast<float>(PsychBands[n]);
  }
  BuildSpread();
  SpreadEnergy();
  for (int n = 0; n < PSYCHBANDCOUNT; ++n) Normal[n] = se[n] > 0.0 ? se[n] : 1.0f;

  SetAbthr(AbsoluteThresh.data(), static_cast<int>(XfmSize), rate, offset);
  TonalTable(Tonality.data(), cbval.data(), PSYCHBANDCOUNT);
  BuildSpread();
}

void Psycho::BuildSpread() {
  const size_t bands = static_cast<size_t>(PSYCHBANDCOUNT);
  Spread.resize(bands * bands);
  for (size_t n = 0; n < bands; ++n) {
    for (size_t k = 0; k < bands; ++k) {
      Spread[n * bands + k] = static_cast<double>(Mask[n][k]) / Tonality[k];
    }
  }
}

int* Psycho::GetPsychBands(int* Count) {
  *Count = PSYCHBANDCOUNT;
  return PsychBands.get();
}

void Psycho::ComputeModel(float* x, int* weights) {
  Process(x);
  GroupEnergy();
  SpreadEnergy();
  ComputeWeights(weights);
}

void Psycho::ComputeModel(float* x, float* weights) {
  Process(x);
  GroupEnergy();
  SpreadEnergy();
  ComputeWeights(weights);
}

void Psycho::Process(float* x) {
  if (!IsShort) {
    for (int n = 0; n < HSIZE; ++n) {
      Data[n] = x[n] * x[n];
      // A line exactly at the threshold survives.
      if (Data[n] < AbsoluteThresh[n]) {
        x[n] = 0.0f;
        Data[n] = 0.0f;
      }
    }
    return;
  }

  // Three short spectra one after the other; a line is judged by its mean power over the three,
  // and that mean stays in Data even where the line is removed.
  const float* x0 = x;
  const float* x1 = x + HSIZE;
  const float* x2 = x + 2 * HSIZE;
  // The three squares, their sum and the division form one expression: evaluated in double and
  // rounded to float once, when the mean is stored.
  for (int k = 0; k < HSIZE; ++k) {
    const double p0 = static_cast<double>(x0[k]) * x0[k];
    const double p1 = static_cast<double>(x1[k]) * x1[k];
    const double p2 = static_cast<double>(x2[k]) * x2[k];
    Data[k] = static_cast<float>((p0 + p1 + p2) / 3.0);
  }
  for (int b = 0; b < 3; ++b) {
    float* block = x + b * HSIZE;
    for (int k = 0; k < HSIZE; ++k) {
      if (Data[k] < AbsoluteThresh[k]) block[k] = 0.0f;
    }
  }
}

void Psycho::GroupEnergy() {
  int line = 0;
  for (int k = 0; k < PSYCHBANDCOUNT; ++k) {
    float sum = 0.0f;
    for (int i = 0; i < PsychBands[k]; ++i) sum += Data[line++];
    ge[k] = sum;
  }
}

void Psycho::SpreadEnergy() {
  const size_t bands = static_cast<size_t>(PSYCHBANDCOUNT);
  for (size_t n = 0; n < bands; ++n) {
    const double* row = Spread.data() + n * bands;
    // The masker's power is divided by its own tonality offset before it spreads (the quotient
    // is in the table). Each term and its addition to the running float sum are evaluated in
    // double, rounded once per band step.
    float sum = 0.0f;
    for (size_t k = 0; k < bands; ++k) {
      sum = static_cast<float>(sum + static_cast<double>(ge[k]) * row[k]);
    }
    se[n] = sum;
  }
}

void Psycho::ComputeWeights(int* weights) {
  for (int n = 0; n < PSYCHBANDCOUNT; ++n) {
    se[n] = se[n] / Normal[n];
    weights[n] = CompressWeights(se[n]);
  }
  LimitWeightSteps(weights, PSYCHBANDCOUNT);
}

void Psycho::ComputeWeights(float* weights) {
  for (int n = 0; n < PSYCHBANDCOUNT; ++n) {
    se[n] = se[n] / Normal[n];
    if (se[n] > 0.0) {
      se[n] = std::sqrt(se[n]);
    } else {
      se[n] = 100000.0f;
    }
    weights[n] = se[n];
  }
}

}  // namespace ostrel
