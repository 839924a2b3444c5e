// Loudness of an excitation pattern, and the partial loudness of the noise a test signal adds to
// its reference.
#pragma once

#include "tools/peaq/ModelTables.h"

namespace ostrel::peaq {

// Total loudness in sone of an excitation pattern (BANDS values, borrowed): 24/BANDS times the sum
// of the bands' specific loudness, negative values counted as 0.
double TotalLoudness(const double* excitation, const ModelTables& tables);

// Noise loudness in sone of a frame from the adapted patterns and the modulation patterns of both
// signals (BANDS values each, borrowed); at least 0.
double NoiseLoudness(const double* adaptedRef, const double* adaptedTest, const double* modulationRef,
                     const double* modulationTest, const ModelTables& tables);

}  // namespace ostrel::peaq
