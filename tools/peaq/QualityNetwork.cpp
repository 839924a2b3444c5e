#include "tools/peaq/QualityNetwork.h"

#include <cmath>

namespace ostrel::peaq {
namespace {

constexpr int HIDDEN = 3;

// Scaling ranges, in Mov order.
constexpr double MOV_MIN[MOV_COUNT] = {393.916656, 361.965332, -24.045116, 1.110661, -0.206623, 0.074318,
                                       1.113683,   0.950345,   0.029985,   0.000101, 0.0};
constexpr double MOV_MAX[MOV_COUNT] = {921.0,     881.131226, 16.212030, 107.137772, 2.886017, 13.933351,
                                       63.257874, 1145.018555, 14.819740, 1.0,       1.0};
// Input weights, one row per variable, one column per hidden unit.
constexpr double INPUT_WEIGHT[MOV_COUNT][HIDDEN] = {
    {-0.502657, 0.436333, 1.219602},   {4.307481, 3.246017, 1.123743},   {4.984241, -2.211189, -0.192096},
    {0.051056, -1.762424, 4.331315},   {2.321580, 1.789971, -0.754560},  {-5.303901, -3.452257, -10.814982},
    {2.730991, -6.111805, 1.519223},   {0.624950, -1.331523, -5.955151}, {3.102889, 0.871260, -5.922878},
    {-1.051468, -0.939882, -0.142913}, {-1.804679, -0.503610, -0.620456}};
constexpr double HIDDEN_BIAS[HIDDEN] = {-2.518254, 0.654841, -2.207228};
constexpr double OUTPUT_WEIGHT[HIDDEN] = {-3.817048, 4.107138, 4.629582};
constexpr double OUTPUT_BIAS = -0.307594;
constexpr double GRADE_MIN = -3.98, GRADE_MAX = 0.22;

double Sigmoid(double x) { return 1.0 / (1.0 + std::exp(-x)); }

}  // namespace

Grade NetworkGrade(const Movs& movs) {
  Grade g;
  g.di = OUTPUT_BIAS;
  for (int j = 0; j < HIDDEN; ++j) {
    double sum = HIDDEN_BIAS[j];
    for (int i = 0; i < MOV_COUNT; ++i) {
      sum += INPUT_WEIGHT[i][j] * (movs[static_cast<size_t>(i)] - MOV_MIN[i]) / (MOV_MAX[i] - MOV_MIN[i]);
    }
    g.di += OUTPUT_WEIGHT[j] * Sigmoid(sum);
  }
  g.odg = GRADE_MIN + (GRADE_MAX - GRADE_MIN) * Sigmoid(g.di);
  return g;
}

}  // namespace ostrel::peaq
