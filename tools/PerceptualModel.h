// The comparator's ear: an FFT masking model of its own, kept apart from the encoder's model so
// that the encoder is never judged by the model it was built around.
//
// One frame is EAR_WINDOW samples under a Hann window; frames advance by EAR_HOP (50 % overlap, so
// the windows of every sample add up to one). The power spectrum is calibrated so that a
// full-scale 16-bit sine (amplitude 32768) reads FULL_SCALE_SINE_SPL dB SPL; energies below are in
// units of 0 dB SPL (an energy of 1.0 is 0 dB SPL). Lines 1 .. EAR_WINDOW/2 - 1 (no DC, no Nyquist)
// are grouped into Bark bands by Zwicker's formula z(f) = 13 atan(0.00076 f) + 3.5 atan((f/7500)^2):
// band b holds the lines with b <= z < b + 1 (25 bands at 44100 Hz).
//
// The mask of band i from the source's band energies E_j:
//  - spreading: C_i = sum_j E_j s(i - j) / sum_j s(i - j), with Schroeder's spreading function
//    10 log10 s(dz) = 15.81 + 7.5 (dz + 0.474) - 17.5 sqrt(1 + (dz + 0.474)^2) dB (about +25 dB per
//    Bark below a masker and -10 dB per Bark above it), normalised so that a flat spectrum keeps
//    its level;
//  - tonality: the spectral flatness of each band's lines, SFM_j = geometric / arithmetic mean in
//    dB, gives a_j = (SFM_j - SFM_NOISE_DB) / (SFM_TONE_DB - SFM_NOISE_DB) within 0 .. 1 (0
//    noise-like, 1 tone-like); band i takes the mean of a_j weighted as its spread energy C_i is
//    made up;
//  - offset: O_i = a_i (14.5 + i) + (1 - a_i) 5.5 dB below C_i;
//  - threshold in quiet: Terhardt's ATH(f) = 3.64 (f/1000)^-0.8 - 6.5 exp(-0.6 (f/1000 - 3.3)^2)
//    + 0.001 (f/1000)^4 dB SPL, the lowest value over the band's lines;
//  mask_i = max(C_i 10^(-O_i / 10), 10^(ATH_i / 10)).
#pragma once

#include <vector>

namespace ostrel::tools {

constexpr int EAR_WINDOW = 2048;  // samples per analysis window (a power of two)
constexpr int EAR_HOP = EAR_WINDOW / 2;  // samples between window starts
constexpr int EAR_LINES = EAR_WINDOW / 2 + 1;  // power lines of one window, DC to Nyquist
constexpr double FULL_SCALE_SINE_SPL = 96.0;  // dB SPL of a 16-bit sine of amplitude 32768
// Spectral flatness (dB) of a band of white noise (the mean log of exponentially distributed line
// powers, -10 log10(e) * Euler's gamma) and of a band that counts as a pure tone: a Hann-windowed
// sine reads -14 dB or less in the narrowest bands, far less in wide ones.
constexpr double SFM_NOISE_DB = -2.5;
constexpr double SFM_TONE_DB = -12.0;

// Holds work arrays of its own: one object serves one thread.
class PerceptualModel {
 public:
  // `sampleRate` in samples per second, 8000 .. 192000 (every Bark band then holds lines).
  explicit PerceptualModel(double sampleRate);

  double SampleRate() const { return rate_; }
  int BandCount() const { return static_cast<int>(bandFirst_.size()) - 1; }
  // Lowest and highest frequency (Hz) of the lines of `band`.
  double BandLowHz(int band) const;
  double BandHighHz(int band) const;

  // Calibrated power spectrum (EAR_LINES values, units of 0 dB SPL) of the EAR_WINDOW samples at
  // `frame` (16-bit scale, borrowed; unwindowed: the model applies the Hann window). `power` is
  // resized once and then reused.
  void PowerSpectrum(const double* frame, std::vector<double>& power) const;

  // Energy of each band of a power spectrum; `energies` gets BandCount() values.
  void BandEnergies(const std::vector<double>& power, std::vector<double>& energies) const;

  // Masking threshold of each band (energy, units of 0 dB SPL) caused by the spectrum `power` of
  // the source; `mask` gets BandCount() values, each at least the band's threshold in quiet.
  void Mask(const std::vector<double>& power, std::vector<double>& mask) const;

  // Terhardt's threshold in quiet at `hz` (> 0), dB SPL.
  static double ThresholdInQuietDb(double hz);
  // Bark number of `hz` (Zwicker).
  static double Bark(double hz);

 private:
  double rate_;
  std::vector<double> window_;             // Hann window, EAR_WINDOW values
  std::vector<double> cosTable_, sinTable_;  // twiddles, EAR_WINDOW / 2 values
  std::vector<int> bandFirst_;             // first line of each band, then one past the last line
  std::vector<double> quietEnergy_;        // threshold in quiet per band, energy
  std::vector<double> spread_;             // s(i - j), BandCount()^2 values, row i = maskee
  std::vector<double> spreadGain_;         // sum_j s(i - j) per band i
  mutable std::vector<double> re_, im_;    // FFT work arrays
  mutable std::vector<double> energy_, tonality_;  // per-band work arrays of Mask
};

}  // namespace ostrel::tools
