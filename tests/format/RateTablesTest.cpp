#include "format/RateTables.h"

#include <gtest/gtest.h>

#include "common/StreamFixture.h"
#include "format/FrameGeometry.h"

namespace ostrel {
namespace {

TEST(RateTables, LayoutOfEveryCode) {
  for (const test::RateRow& r : test::RateRows()) {
    SCOPED_TRACE(static_cast<int>(r.code));
    EXPECT_TRUE(IsValidDataRate(r.code));
    EXPECT_EQ(GetBlocks(r.code), r.nBlocks);
    EXPECT_EQ(GetLongBlock(r.code), r.longSize);
    EXPECT_EQ(GetPercepResolution(r.code), r.res);
    EXPECT_EQ(GetPercepOffset(r.code), r.offset);
    EXPECT_EQ(GetAvailableBits(r.code, 44100, 2), r.frameBits);
    // The geometry both front ends take from the code.
    const FrameGeometry g = FrameGeometry::ForRate(r.code);
    EXPECT_EQ(g.NBlocks, static_cast<unsigned>(r.nBlocks));
    EXPECT_EQ(g.LSIZE, static_cast<unsigned>(r.longSize));
    EXPECT_EQ(g.TOTAL, static_cast<unsigned>(r.Total()));
    EXPECT_EQ(g.FrameBits, r.frameBits);
    EXPECT_EQ(g.Res, r.res);
    EXPECT_EQ(g.dBOffset, r.offset);
  }
}

TEST(RateTables, DerivedSizesAndDurations) {
  EXPECT_EQ(GetBytesPerFrame(47560), 5945u);
  EXPECT_EQ(GetAvailableBits(196, 44100, 1), 36416u);
  EXPECT_EQ(GetTimeSec(64, 44100, 100), 37u);
  EXPECT_EQ(GetTimeMS(64, 44100, 100), 37151u);
  EXPECT_EQ(GetTimeSec(128, 44100, 100), 18u);
}

TEST(RateTablesDeathTest, UnknownCodesReportAndExitWithStatusOne) {
  for (unsigned char code : {0, 49, 98, 255}) {
    EXPECT_FALSE(IsValidDataRate(code));
    EXPECT_EXIT(GetBlocks(code), ::testing::ExitedWithCode(1), "Invalid Coding Rate");
  }
  EXPECT_EXIT(GetAvailableBits(49, 44100, 2), ::testing::ExitedWithCode(1), "Internal Error");
  EXPECT_EXIT(GetTimeMS(0, 44100, 1), ::testing::ExitedWithCode(1), "");
}

}  // namespace
}  // namespace ostrel
