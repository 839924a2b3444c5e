#include "library/FrameDecoder.h"

#include "analysis/CodingSetup.h"
#include "analysis/FrameInvTransform.h"
#include "format/FrameGeometry.h"
#include "platform/StreamConstants.h"

namespace ostrel {

struct FrameDecoder::Parts {
  // The band tables are shared by every decoder of the same block size; no model is built. The
  // synthesis and the reader that fills its coefficient arrays are made once: a reset only
  // clears the synthesis's overlap.
  explicit Parts(unsigned char DataRate)
      : geometry(FrameGeometry::ForRate(DataRate)), setup(geometry, 0, CodingSide::Synthesis) {
    float** x = nullptr;
    synthesis = setup.MakeInvTransform(nullptr, &x);
    reader = std::make_unique<FrameReader>(static_cast<int>(geometry.LSIZE), static_cast<int>(geometry.NBlocks),
                                           static_cast<int>(STREAM_CHANNELS), setup.LongBandCount,
                                           setup.ShortBandCount, setup.TranBandCount, setup.SwitchUsed(),
                                           setup.Location(), setup.Gains(), setup.Weights(), x);
  }

  FrameGeometry geometry;
  CodingSetup setup;
  std::unique_ptr<FrameInvTransform> synthesis;
  std::unique_ptr<FrameReader> reader;
};

FrameDecoder::FrameDecoder(unsigned char DataRate) : parts(std::make_unique<Parts>(DataRate)) {
  total = parts->geometry.TOTAL;
  delay = DelayOf(parts->geometry);
  pendingSkip = delay;
  frameBits = parts->geometry.FrameBits;
}

FrameDecoder::~FrameDecoder() = default;

bool FrameDecoder::Read(const unsigned char* frame, std::size_t bytes) {
  return parts->reader->ReadFrame(frame, bytes, frameBits);
}

bool FrameDecoder::Decode(const unsigned char* frame, std::size_t bytes) {
  const bool intact = Read(frame, bytes);
  if (!intact) parts->reader->Silence();
  parts->synthesis->NewFrame(parts->setup.SwitchUsed(), parts->setup.Location());
  skip = pendingSkip < total ? pendingSkip : total;
  pendingSkip -= skip;
  return intact;
}

void FrameDecoder::Reset() noexcept {
  parts->synthesis->Reset();
  pendingSkip = delay;
  skip = 0;
}

float* FrameDecoder::Output(unsigned channel) { return parts->synthesis->MutableOutput(channel); }

const FrameReport& FrameDecoder::Report() const { return parts->reader->Report(); }

}  // namespace ostrel
