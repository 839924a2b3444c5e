#include "encoder/StopSignal.h"

namespace ostrel {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void OnStopSignal(int) { stopRequested = 1; }

}  // namespace

StopSignalGuard::StopSignalGuard() {
  stopRequested = 0;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Restart interrupted system calls so that console and file I/O in the loop never sees EINTR.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, &oldInterrupt);
  sigaction(SIGTERM, &action, &oldTerminate);
  // A signal the caller chose to ignore (a job started in the background) stays ignored.
  if (oldInterrupt.sa_handler == SIG_IGN) sigaction(SIGINT, &oldInterrupt, nullptr);
  if (oldTerminate.sa_handler == SIG_IGN) sigaction(SIGTERM, &oldTerminate, nullptr);
}

StopSignalGuard::~StopSignalGuard() {
  sigaction(SIGINT, &oldInterrupt, nullptr);
  sigaction(SIGTERM, &oldTerminate, nullptr);
}

bool StopRequested() { return stopRequested != 0; }

}  // namespace ostrel
