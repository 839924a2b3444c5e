#include "format/FrameGeometry.h"

#include "format/RateTables.h"
#include "platform/StreamConstants.h"

namespace ostrel {

FrameGeometry FrameGeometry::ForRate(unsigned char DataRate) {
  FrameGeometry g;
  g.NBlocks = static_cast<unsigned>(GetBlocks(DataRate));
  static_cast<BlockSizes&>(g) = BlockSizes::For(g.NBlocks, static_cast<unsigned>(GetLongBlock(DataRate)));
  g.TRANSIZE = g.HLSIZE + g.HSSIZE;
  g.FrameBits = GetAvailableBits(DataRate, STREAM_SAMPLE_RATE, STREAM_CHANNELS);
  g.Res = GetPercepResolution(DataRate);
  g.dBOffset = GetPercepOffset(DataRate);
  return g;
}

}  // namespace ostrel
