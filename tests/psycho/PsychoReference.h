// Test-only: the per-block psycho model in double precision, on the tables of the psycho tools.
#pragma once

#include <cmath>
#include <memory>
#include <vector>

#include "psycho/PsychoTools.h"

namespace ostrel {

class ReferenceModel {
 public:
  ReferenceModel(int XfmSize, float offset, bool isShort) : half_(XfmSize / 2), isShort_(isShort) {
    int count = 0;
    std::unique_ptr<int[]> lines = CriticalBands(XfmSize, 1.0f, 44100, &count);
    lines_.assign(lines.get(), lines.get() + count);
    std::vector<float> cbval(count), store(count * count);
    std::vector<float*> rows(count);
    for (int n = 0; n < count; ++n) rows[n] = &store[n * count];
    SetCBval(cbval.data(), lines_.data(), 44100, XfmSize, count);
    Spreading(rows.data(), cbval.data(), count);
    mask_.assign(store.begin(), store.end());
    tonal_.resize(count);
    TonalTable(tonal_.data(), cbval.data(), count);
    thr_.resize(half_);
    SetAbthr(thr_.data(), XfmSize, 44100, offset);
  }

  // Zeroes the lines of x below the threshold and returns each band's normalised mask level.
  std::vector<double> Levels(std::vector<float>& x) const {
    const int count = static_cast<int>(lines_.size());
    std::vector<double> power(half_);
    for (int k = 0; k < half_; ++k) {
      double p = 0.0;
      for (int b = 0; b < (isShort_ ? 3 : 1); ++b) p += double(x[b * half_ + k]) * x[b * half_ + k];
      power[k] = isShort_ ? p / 3.0 : p;
      if (power[k] < thr_[k]) {
        for (int b = 0; b < (isShort_ ? 3 : 1); ++b) x[b * half_ + k] = 0.0f;
        if (!isShort_) power[k] = 0.0;
      }
    }
    std::vector<double> ge(count, 0.0), level(count, 0.0);
    for (int k = 0, line = 0; k < count; ++k) {
      for (int i = 0; i < lines_[k]; ++i) ge[k] += power[line++];
    }
    for (int n = 0; n < count; ++n) {
      double se = 0.0, normal = 0.0;
      for (int k = 0; k < count; ++k) {
        se += ge[k] * mask_[n * count + k] / tonal_[k];
        normal += lines_[k] * double(mask_[n * count + k]);
      }
      level[n] = se / normal;
    }
    return level;
  }

 private:
  int half_;
  bool isShort_;
  std::vector<int> lines_;
  std::vector<double> mask_;
  std::vector<float> tonal_, thr_;
};

}  // namespace ostrel
