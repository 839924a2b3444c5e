#include "format/RateTables.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

TEST(RateTables, LayoutOfEveryCode) {
  struct Row {
    unsigned char code;
    int blocks, longBlock;
    float res, offset;
    uint32_t bits;
  };
  const Row rows[] = {{196, 32, 512, 0.5f, -40.0f, 72824}, {128, 32, 512, 0.8f, -20.0f, 47560},
                      {96, 16, 1024, 1.0f, -10.0f, 35672}, {80, 16, 2048, 1.0f, 0.0f, 59448},
                      {64, 16, 2048, 1.0f, 15.0f, 47560},  {56, 16, 2048, 1.0f, 20.0f, 41616},
                      {48, 16, 2048, 1.0f, 30.0f, 35672}};
  for (const Row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.code));
    EXPECT_TRUE(IsValidDataRate(r.code));
    EXPECT_EQ(GetBlocks(r.code), r.blocks);
    EXPECT_EQ(GetLongBlock(r.code), r.longBlock);
    EXPECT_EQ(GetPercepResolution(r.code), r.res);
    EXPECT_EQ(GetPercepOffset(r.code), r.offset);
    EXPECT_EQ(GetAvailableBits(r.code, 44100, 2), r.bits);
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
