// The quality mode's masking model for one transform size: per band of the stream's band table,
// the level of noise that the block's own signal masks (spread over the bands, less for a tonal
// masker than for a noisy one) and the threshold in quiet, both as noise power per line in the
// transform's own scale. The tables are built once; a block's analysis allocates nothing.
#pragma once

#include <memory>
#include <vector>

namespace ostrel {

class MaskingModel {
 public:
  // A model for blocks of XfmSize / 2 lines at 44100 Hz, bands as CriticalBands(XfmSize, 1.0)
  // gives them (the stream's). `fullScalePower` is the summed squared coefficients of one block
  // of a full-scale sine: the level that stands for FULL_SCALE_SPL.
  MaskingModel(int XfmSize, float fullScalePower);

  // Sound pressure level of a full-scale sine: where the threshold in quiet lies. (92 dB, the
  // meter's own assumption, spent bits on barely audible detail: 80 dB gave a mean ODG 0.06
  // better at 96 and 128 kb/s; 72 dB no better.)
  static constexpr float FULL_SCALE_SPL = 80.0f;

  int BandCount() const { return count; }
  const int* Bands() const { return bands.get(); }
  int Lines() const { return lines; }
  // The summed squared coefficients of one block of a full-scale sine, as constructed.
  float FullScale() const { return fullScale; }

  // For the `lines` coefficients x of one block: per band the masked noise power per line
  // (`mask`, from the signal alone), the band's largest magnitude (`peak`) and its power (`energy`).
  // `peaks` (lines flags, or nullptr: no tonal masker) holds the tonal lines of the channel's
  // block before, of the same size, and receives this block's.
  // `tonal` (or nullptr) receives per band the power of its tonal lines.
  void Analyse(const float* x, float* mask, float* peak, float* energy, unsigned char* peaks,
               float* tonal = nullptr) const;

  // Per band, the threshold in quiet as noise power per line.
  float Quiet(int band) const { return quiet[static_cast<size_t>(band)]; }

  // Per band, the frequency in Hz at the middle of its lines.
  float CentreHz(int band) const { return centreHz[static_cast<size_t>(band)]; }

  // The threshold in quiet of a tone at `hz`, in dB SPL: Terhardt's curve with a gentler rise
  // above 10 kHz than its fourth-power term (listeners of compressed music do hear up to
  // 16-18 kHz at ordinary levels).
  static double QuietDb(double hz);

 private:
  int lines;
  float fullScale;
  int count;
  std::unique_ptr<int[]> bands;
  std::vector<float> barks;     // per band, mean Bark value
  std::vector<float> spread;    // [receiving band][masking band], power factors
  std::vector<float> quiet;     // per band, threshold in quiet per line
  std::vector<float> noiseDb;   // per band, masking offset of a noisy masker (dB)
  std::vector<float> centreHz;  // per band, the frequency at the middle of its lines
  std::vector<float> earWeight; // per band, the outer and middle ear's weighting of power at low frequencies
};

}  // namespace ostrel
