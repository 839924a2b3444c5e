// The probability that a listener detects the difference between the reference's and the test's
// excitation in one band, and the number of steps above the threshold of detection.
#pragma once

namespace ostrel::peaq {

// From the bands' excitations (BANDS values each, borrowed) into probability and steps (BANDS each).
void DetectionProbability(const double* excitationRef, const double* excitationTest, double* probability,
                          double* steps);

}  // namespace ostrel::peaq
