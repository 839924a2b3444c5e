#include "audio/DownMix.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ostrel {

using P = ChannelPlace;

std::vector<ChannelPlace> DefaultPlaces(int channels, bool vorbisOrder) {
  static const std::vector<std::vector<P>> kWave = {
      {},
      {P::Centre},
      {P::FrontLeft, P::FrontRight},
      {P::FrontLeft, P::FrontRight, P::Centre},
      {P::FrontLeft, P::FrontRight, P::Left, P::Right},
      {P::FrontLeft, P::FrontRight, P::Centre, P::Left, P::Right},
      {P::FrontLeft, P::FrontRight, P::Centre, P::Lfe, P::Left, P::Right},
      {P::FrontLeft, P::FrontRight, P::Centre, P::Lfe, P::Middle, P::Left, P::Right},
      {P::FrontLeft, P::FrontRight, P::Centre, P::Lfe, P::Left, P::Right, P::Left, P::Right},
  };
  static const std::vector<std::vector<P>> kVorbis = {
      {},
      {P::Centre},
      {P::FrontLeft, P::FrontRight},
      {P::FrontLeft, P::Centre, P::FrontRight},
      {P::FrontLeft, P::FrontRight, P::Left, P::Right},
      {P::FrontLeft, P::Centre, P::FrontRight, P::Left, P::Right},
      {P::FrontLeft, P::Centre, P::FrontRight, P::Left, P::Right, P::Lfe},
      {P::FrontLeft, P::Centre, P::FrontRight, P::Left, P::Right, P::Middle, P::Lfe},
      {P::FrontLeft, P::Centre, P::FrontRight, P::Left, P::Right, P::Left, P::Right, P::Lfe},
  };
  const auto& table = vorbisOrder ? kVorbis : kWave;
  if (channels >= 0 && static_cast<size_t>(channels) < table.size()) return table[static_cast<size_t>(channels)];
  std::vector<P> places(table.back());
  places.resize(static_cast<size_t>(std::max(channels, 0)), P::Middle);
  return places;
}

DownMix MakeDownMix(const std::vector<ChannelPlace>& places) {
  DownMix mix;
  for (ChannelPlace place : places) {
    double a = 0.0, b = 0.0;
    switch (place) {
      case P::FrontLeft: a = 1.0; break;
      case P::FrontRight: b = 1.0; break;
      case P::Centre:
      case P::Middle: a = b = DOWNMIX_SIDE_WEIGHT; break;
      case P::Left: a = DOWNMIX_SIDE_WEIGHT; break;
      case P::Right: b = DOWNMIX_SIDE_WEIGHT; break;
      case P::Lfe: mix.lfeDropped = true; break;
    }
    mix.first.push_back(a);
    mix.second.push_back(b);
  }
  double sumFirst = 0.0, sumSecond = 0.0;
  for (size_t c = 0; c < places.size(); ++c) {
    sumFirst += mix.first[c];
    sumSecond += mix.second[c];
  }
  const double largest = std::max(sumFirst, sumSecond);
  if (largest > 1.0) mix.scale = 1.0 / largest;
  for (size_t c = 0; c < places.size(); ++c) {
    mix.first[c] *= mix.scale;
    mix.second[c] *= mix.scale;
  }
  return mix;
}

std::string DownMix::Describe() const {
  std::string text = "centre and surrounds at -3 dB";
  if (lfeDropped) text += ", LFE left out";
  if (scale < 1.0) {
    char db[32];
    std::snprintf(db, sizeof db, "%.1f", 20.0 * std::log10(scale));
    text += std::string(", scaled by ") + db + " dB so that it cannot clip";
  }
  return text;
}

}  // namespace ostrel
