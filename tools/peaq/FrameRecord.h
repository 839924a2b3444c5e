// What the quality meter keeps of each analysis frame: the per-frame values its model output
// variables average, for each channel, and the detection figures of both channels together.
#pragma once

#include <array>
#include <vector>

namespace ostrel::peaq {

constexpr int MAX_CHANNELS = 2;

struct ChannelFrame {
  int bandwidthRef = 0;     // bins below the reference's upper band edge; 0 when not found
  int bandwidthTest = 0;    // the same for the test, searched below the reference's
  double nmr = 0.0;         // mean over bands of noise / mask energy
  double nmrMax = 0.0;      // largest band's noise / mask energy
  double modDiff1 = 0.0;    // modulation differences, two weightings
  double modDiff2 = 0.0;
  double modWeight = 0.0;   // the frame's weight in the averages of the modulation differences
  double noiseLoudness = 0.0;  // sone
  double loudnessRef = 0.0;    // sone
  double loudnessTest = 0.0;
  double harmonics = 0.0;      // error harmonic structure
  bool energetic = false;      // the frame's newest half carries enough energy in either signal
};

struct FrameRecord {
  std::array<ChannelFrame, MAX_CHANNELS> channel;
  double detection = 0.0;  // probability that the difference is heard in some band (channels' maximum)
  double steps = 0.0;      // sum over bands of the steps above the detection threshold (channels' maximum)
};

struct FrameSeries {
  int channels = 0;
  std::vector<FrameRecord> frames;
  // The frames the averages cover: from the first to the last frame holding the reference's
  // signal (the data boundaries); first > last when the reference holds none.
  int dataFirst = 0;
  int dataLast = -1;
};

}  // namespace ostrel::peaq
