// The signal chain's states in one process, without timing: removal, its hand-over to a stop,
// and what comes after both. Each scenario runs in a child process forked from the test.
#include "platform/SignalChain.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/TempDir.h"

namespace ostrel {
namespace {

using test::TempDir;

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void Create(const std::string& path) { test::WriteAll(path, {'x'}); }

TEST(SignalChainDeathTest, RemovalHandsOverToAStopWithoutAGapAndEndsWithIt) {
  GTEST_FLAG_SET(death_test_style, "fast");  // the child must share the parent's scratch folder
  TempDir dir;
  const std::string file = dir.File("target");
  // Armed removal: the signal removes the file and ends the process as it would have.
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    Create(file);
    EXPECT_EXIT(
        {
          RemoveOnSignal remove(file);
          raise(sig);
          _exit(0);
        },
        testing::KilledBySignal(sig), "");
    EXPECT_FALSE(Exists(file)) << sig;
  }
  // A stop takes over from the removal: the file stays, the process goes on; once the stop is
  // over the signal ends the process again, and the removal armed before does not come back.
  Create(file);
  EXPECT_EXIT(
      {
        RemoveOnSignal remove(file);
        {
          StopOnSignal stop;
          raise(SIGHUP);
          if (!StopRequested() || !Exists(file)) _exit(1);
        }
        raise(SIGHUP);
        _exit(2);
      },
      testing::KilledBySignal(SIGHUP), "");
  EXPECT_TRUE(Exists(file));
}

}  // namespace
}  // namespace ostrel
