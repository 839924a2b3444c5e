#include "tools/peaq/EarModel.h"

#include <algorithm>
#include <cmath>

namespace ostrel::peaq {

void GroupIntoBands(const double* power, const ModelTables& tables, double* out) {
  for (int b = 0; b < BANDS; ++b) {
    double sum = 0.0;
    for (int i = tables.groupFirst[static_cast<size_t>(b)]; i < tables.groupFirst[static_cast<size_t>(b) + 1]; ++i) {
      sum += tables.groupShare[static_cast<size_t>(i)] * power[tables.groupBin[static_cast<size_t>(i)]];
    }
    out[b] = std::max(sum, 1e-12);
  }
}

void SpreadBands(const double* energy, const ModelTables& tables, double* scratch, double* out) {
  static const double lower = std::pow(10.0, -27.0 * BAND_WIDTH_BARK / 10.0);  // per band, downwards
  static const double lowerPow = std::pow(lower, 0.4);
  // Upper part: out[i] = sum_{j <= i} c_j u_j^(i - j), with each band's own slope u_j.
  std::fill(out, out + BANDS, 0.0);
  for (int j = 0; j < BANDS; ++j) {
    const double upper = tables.upperSlopeBase[static_cast<size_t>(j)] * std::pow(energy[j], 0.05);  // 10^(0.2 L dz / 10)
    // The whole spread of band j, from band 0 to the last, for the normalisation.
    const double below = lower * (1.0 - std::pow(lower, j)) / (1.0 - lower);
    const double above = upper == 1.0 ? double(BANDS - j) : (1.0 - std::pow(upper, BANDS - j)) / (1.0 - upper);
    const double c = std::pow(energy[j] / (below + above), 0.4);
    scratch[j] = c;
    const double step = std::pow(upper, 0.4);
    double term = c;
    for (int i = j; i < BANDS; ++i) {
      out[i] += term;
      term *= step;
    }
  }
  // Lower part by recursion from the top: L_i = lower^0.4 (c_{i+1} + L_{i+1}).
  double fromAbove = 0.0;
  for (int i = BANDS - 1; i >= 0; --i) {
    const double sum = out[i] + fromAbove;
    out[i] = sum * sum * std::sqrt(sum);  // ^(1 / 0.4)
    fromAbove = lowerPow * (scratch[i] + fromAbove);
  }
}

EarModel::EarModel() : tables_(Tables()) {}

void EarModel::Process(const double* weightedPower) {
  GroupIntoBands(weightedPower, tables_, pattern_.data());
  for (int b = 0; b < BANDS; ++b) pattern_[static_cast<size_t>(b)] += tables_.internalNoise[static_cast<size_t>(b)];
  SpreadBands(pattern_.data(), tables_, scratch_.data(), unsmeared_.data());
  for (int b = 0; b < BANDS; ++b) {
    const size_t i = static_cast<size_t>(b);
    unsmeared_[i] /= tables_.spreadNorm[i];
    const double keep = tables_.timeSpreadKeep[i];
    smeared_[i] = keep * smeared_[i] + (1.0 - keep) * unsmeared_[i];
    excitation_[i] = std::max(smeared_[i], unsmeared_[i]);
  }
}

}  // namespace ostrel::peaq
