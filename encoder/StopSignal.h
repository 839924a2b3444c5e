// Interrupt and termination requests during encoding: they end the run the way the q key does,
// after the frame in progress, so the file is always closed with its true frame count.
#pragma once

#include <csignal>

namespace ostrel {

// While alive, SIGINT and SIGTERM set a flag instead of ending the process; the previous
// dispositions come back when it is destroyed. The flag is cleared on construction. One guard at
// a time.
class StopSignalGuard {
 public:
  StopSignalGuard();
  ~StopSignalGuard();
  StopSignalGuard(const StopSignalGuard&) = delete;
  StopSignalGuard& operator=(const StopSignalGuard&) = delete;

 private:
  struct sigaction oldInterrupt;
  struct sigaction oldTerminate;
};

// True once SIGINT or SIGTERM arrived under the current guard.
bool StopRequested();

}  // namespace ostrel
