// Two encoders and two decoders in two threads at once give the bytes and samples they give one
// after the other: no instance shares mutable state with another. CI runs it under ThreadSanitizer.
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

}  // namespace
}  // namespace ostrel::test
