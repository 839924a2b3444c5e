// Two encoders and two decoders in two threads at once give the bytes and samples they give one
// after the other: no instance shares mutable state with another. An encoder with threads gives
// the bytes of one without (which EncoderApi pins to ostrelenc's). CI runs it under ThreadSanitizer.
#include <gtest/gtest.h>

#include <thread>

#include "library/LibraryStreams.h"

namespace ostrel::test {
namespace {

TEST(LibraryThreads, ConcurrentEncodersAndDecodersMatchSequentialOnes) {
  // Different rates, so the two threads run transforms of different sizes.
  const Stereo a = Material(40000, 6000, 1), b = Material(50000, 4000, 2);
  const Bytes soloA = LibraryEncode(a, 128, 1, 4000), soloB = LibraryEncode(b, 392, 2, 3000);
  const Stereo soloPcmA = LibraryDecode(soloA, 1), soloPcmB = LibraryDecode(soloB, 2);

  Bytes threadA, threadB;
  Stereo pcmA, pcmB;
  std::thread first([&] {
    threadA = LibraryEncode(a, 128, 1, 4000);
    pcmA = LibraryDecode(threadA, 1);
  });
  std::thread second([&] {
    threadB = LibraryEncode(b, 392, 2, 3000);
    pcmB = LibraryDecode(threadB, 2);
  });
  first.join();
  second.join();
  EXPECT_EQ(threadA, soloA);
  EXPECT_EQ(threadB, soloB);
  EXPECT_EQ(pcmA, soloPcmA);
  EXPECT_EQ(pcmB, soloPcmB);
}

TEST(LibraryThreads, ThreadCountsGiveTheSameStream) {
  // Sources shorter than the frames the analysis reads ahead, ending inside a frame, on a frame
  // boundary and a sample short of one; pushed in random chunks; both modes, chosen before and
  // after the threads.
  const size_t total = static_cast<size_t>(RateRows()[4].Total());  // row 5, 128 kb/s
  for (size_t frames : {total / 2, 2 * total, 7 * total + 123, 6 * total - 1}) {
    for (bool quality : {false, true}) {
      SCOPED_TRACE(testing::Message() << frames << " sample frames, quality " << quality);
      const Stereo samples = Material(frames, 5000, 3);
      const Bytes one = LibraryEncode(samples, 128, 1, 3000, false, true, quality, 1);
      EXPECT_EQ(LibraryEncode(samples, 128, 2, 700, false, true, quality, 2), one);
      EXPECT_EQ(LibraryEncode(samples, 128, 3, 9000, true, true, quality, 3, true), one);
    }
  }
  ostrel_encoder* enc = ostrel_encoder_create(128, [](void*, const void*, size_t) { return 0; }, nullptr, nullptr,
                                              nullptr);
  ASSERT_NE(enc, nullptr);
  EXPECT_EQ(ostrel_encoder_set_threads(enc, 0), OSTREL_ERR_ARGUMENT);
  EXPECT_EQ(ostrel_encoder_set_threads(enc, 2), OSTREL_OK);
  EXPECT_EQ(ostrel_encoder_set_threads(enc, 2), OSTREL_ERR_STATE);
  ostrel_encoder_destroy(enc);  // threads started, nothing pushed
}

}  // namespace
}  // namespace ostrel::test
