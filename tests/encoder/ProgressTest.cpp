#include "encoder/Progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ostrel {
namespace {

struct Marks {
  std::string text;
  std::vector<int> frames;  // the frame (counted from 1) at whose start each mark appears
};

Marks MarksOver(uint32_t Length, int frames, int samplesPerFrame) {
  Progress progress(Length);
  Marks marks;
  for (int frame = 1; frame <= frames; ++frame) {
    if (const char* mark = progress.StartFrame()) {
      marks.text += mark;
      marks.frames.push_back(frame);
    }
    progress.FrameDone(samplesPerFrame);
  }
  return marks;
}

TEST(Progress, SixtySecondsInFramesOf16384Samples) {
  // 162 frames; a sixteenth is three seconds; the first mark comes at the fourth counted second.
  Marks m = MarksOver(60, 162, 16384);
  EXPECT_EQ(m.text, "...25%...50%...75%...100%...");
  ASSERT_EQ(m.frames.size(), 19u);
  EXPECT_EQ(m.frames[15], 133);  // "100%"
}

TEST(Progress, ShortSourceMarksEveryCountedSecond) {
  // Five seconds (14 frames of 16384): seconds are counted at frames 4, 7, 10 and 12.
  Marks m = MarksOver(5, 14, 16384);
  EXPECT_EQ(m.text, "...25%");
  EXPECT_EQ(m.frames, (std::vector<int>{4, 7, 10, 12}));
  // Under a second: nothing is counted at all.
  EXPECT_EQ(MarksOver(0, 3, 16384).text, "");
}

}  // namespace
}  // namespace ostrel
