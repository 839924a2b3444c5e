#include "platform/Semaphore.h"

#include <gtest/gtest.h>

#include <thread>

namespace ostrel {
namespace {

TEST(Semaphore, CountsReleasesUpToItsMaximum) {
  Semaphore sem(1, 3);
  EXPECT_TRUE(sem.Release(2));
  EXPECT_EQ(sem.Count(), 3);
  EXPECT_FALSE(sem.Release(1)) << "a release beyond the maximum must be refused";
  EXPECT_FALSE(sem.Release(0));
  EXPECT_EQ(sem.Count(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(sem.Wait(0));
  EXPECT_FALSE(sem.Wait(0)) << "an empty semaphore times out";
  EXPECT_EQ(sem.Count(), 0);
}

TEST(Semaphore, WaitTakesACountReleasedOnAnotherThread) {
  Semaphore sem(0, 1024);
  std::thread releaser([&sem] {
    for (int i = 0; i < 100; ++i) sem.Release(1);
  });
  int taken = 0;
  // Generous timeout: only a lost wake-up could make a wait expire.
  while (taken < 100 && sem.Wait(60000)) ++taken;
  releaser.join();
  EXPECT_EQ(taken, 100);
  EXPECT_EQ(sem.Count(), 0);
}

}  // namespace
}  // namespace ostrel
