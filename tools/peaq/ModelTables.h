// The fixed quantities of the perceptual quality meter's ear model: its frame geometry, its 109
// auditory bands and every per-bin and per-band table the frames use, built once.
#pragma once

#include <array>
#include <vector>

namespace ostrel::peaq {

constexpr int SAMPLE_RATE = 48000;                        // Hz; other rates are resampled first
constexpr int FRAME = 2048;                               // samples per analysis frame
constexpr int HOP = FRAME / 2;                            // samples from one frame to the next
constexpr int BINS = FRAME / 2 + 1;                       // spectrum bins 0 .. FRAME / 2
constexpr int BANDS = 109;                                // auditory bands of 0.25 Bark, 80 Hz .. 18 kHz
constexpr double BAND_WIDTH_BARK = 0.25;                  // Bark
constexpr double FRAME_RATE = double(SAMPLE_RATE) / HOP;  // frames per second (46.875)
constexpr double FULL_SCALE = 32768.0;                    // sample value of digital full scale (16-bit units)
constexpr double FULL_SCALE_SPL = 92.0;                   // dB SPL of a full-scale sine's spectral peak

struct ModelTables {
  std::array<double, FRAME> window;     // Hann window, scaled to unit mean power (sqrt(8/3))
  double levelScale;                    // spectrum amplitude scale putting a full-scale sine at 92 dB
  std::array<double, BINS> earWeight;   // outer and middle ear power weighting times levelScale^2

  // Band edges and centres, Hz, on the Bark scale z = 7 asinh(f / 650).
  std::array<double, BANDS> lowHz, centreHz, highHz;
  // Grouping of bins into bands: band b takes bins groupFirst[b] .. groupFirst[b + 1] - 1 of the
  // flat list, each bin groupBin[i] with the share groupShare[i] of its width inside the band.
  std::vector<int> groupFirst, groupBin;
  std::vector<double> groupShare;

  std::array<double, BANDS> internalNoise;    // energy of the ear's own noise in each band
  std::array<double, BANDS> internalNoise03;  // its 0.3 power, the modulation weights' floor
  std::array<double, BANDS> quietThreshold;   // threshold in quiet (energy), the loudness reference
  std::array<double, BANDS> loudnessFactor;   // the specific loudness' constant factor per band
  std::array<double, BANDS> loudnessIndex;    // s: the threshold index of the loudness formula
  std::array<double, BANDS> upperSlopeBase;   // upward spreading at 0 dB: 10^((-24 - 230/fc) dz / 10)
  std::array<double, BANDS> spreadNorm;       // the spreading of a flat 0 dB pattern, to divide out
  std::array<double, BANDS> timeSpreadKeep;   // forward masking: share of last frame's excitation kept
  std::array<double, BANDS> adaptKeep;        // level/pattern adaptation and modulation smoothing
  std::array<double, BANDS> maskGain;         // mask = excitation * maskGain (the mask offset)
};

// The tables, built on first use (thread-safe) and never changed.
const ModelTables& Tables();

// The smoothing factor exp(-1 / (FRAME_RATE * tau)) of a band centred at `centreHz` whose time
// constant runs from tauMin (high bands) to tau100 (at 100 Hz): tau = tauMin + 100 / fc (tau100 - tauMin).
double SmoothingFactor(double centreHz, double tau100, double tauMin);

}  // namespace ostrel::peaq
