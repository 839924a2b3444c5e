// The coefficients that fold a source of more than two channels into the encoder's two.
#pragma once

#include <string>
#include <vector>

namespace ostrel {

// Where a source channel is meant to sound; what a down-mix needs to know of it.
enum class ChannelPlace {
  FrontLeft,   // left, front left, front left of centre
  FrontRight,  // right, front right, front right of centre
  Centre,      // centre, front centre, mono
  Lfe,         // low-frequency effects: left out of the mix
  Left,        // any other place on the left: side, rear, top
  Right,       // any other place on the right
  Middle,      // any other place in the middle (rear centre, top centre) or not known
};

// -3 dB as an amplitude factor: the weight of the centre, the surrounds and the other places.
constexpr double DOWNMIX_SIDE_WEIGHT = 0.70710678118654752440;

// The places of an n-channel source whose file does not say them, in the order the common
// formats use: WAV, FLAC, AIFF and W64 put front left, front right, centre, LFE, then rear and
// side pairs; Ogg Vorbis and Opus (`vorbisOrder`) put the centre between the front pair and the
// LFE last. Channels beyond the known layouts (more than 8) are Middle.
std::vector<ChannelPlace> DefaultPlaces(int channels, bool vorbisOrder);

// first[c] and second[c] weigh source channel c into the first (left) and second (right) output
// channel. Fronts count 1, the centre and every surround or other place -3 dB (the centre and
// the middle places into both outputs), the LFE 0; then all weights are scaled by `scale`, so
// that neither output's weights sum to more than 1: a mix of full-scale channels cannot clip.
struct DownMix {
  std::vector<double> first, second;
  double scale = 1.0;  // 1 when the weights already sum to 1 or less
  bool lfeDropped = false;

  // What the mix does, for the conversion line: "centre and surrounds at -3 dB, LFE left out,
  // scaled by -7.7 dB so that it cannot clip".
  std::string Describe() const;
};

DownMix MakeDownMix(const std::vector<ChannelPlace>& places);

}  // namespace ostrel
