// The sizes of one frame's block layout, the same for the frame transform and its inverse.
#pragma once

#include "platform/Fatal.h"

namespace ostrel {

struct FrameSizes {
  // nblocks long blocks per frame (at least 2) of long transform size lsize (512, 1024 or
  // 2048); ssize must be lsize / 4.
  FrameSizes(unsigned char nblocks, unsigned lsize, unsigned ssize)
      : LSIZE(lsize),
        HLSIZE(lsize / 2),
        TSIZE((lsize / 2 + ssize / 2) / 2),
        SSIZE(ssize),
        HSSIZE(ssize / 2),
        TOTAL((lsize / 2) * nblocks) {
    OSTREL_DASSERT(nblocks >= 2);
    OSTREL_DASSERT(SSIZE * 4 == LSIZE);
  }

  unsigned LSIZE;   // long transform size
  unsigned HLSIZE;  // lines of a long block, and new samples per long block
  unsigned TSIZE;   // lines of a transition block: (HLSIZE + HSSIZE) / 2
  unsigned SSIZE;   // short transform size
  unsigned HSSIZE;  // lines of a short block, and new samples per short block
  unsigned TOTAL;   // samples per channel and frame, and coefficients per channel and frame
};

}  // namespace ostrel
