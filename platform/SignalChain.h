// The one owner of the signals that end a process (SIGINT, SIGTERM, SIGHUP, SIGQUIT) and of job
// control (SIGTSTP, SIGCONT).
//
// One handler runs an ordered chain for every ending signal:
//   1. a terminal left in key mode by the console gets its saved settings back;
//   2. SIGINT, SIGTERM and SIGHUP only: an output that is not complete (a RemoveOnSignal is
//      armed) is removed; or, while a run is to be stopped (a StopOnSignal is alive), a stop is
//      requested and the process goes on, the run being what completes the output;
//   3. the signal is passed on to the disposition found when the chain was installed: the
//      default action ends the process, an earlier function handler is called.
// SIGQUIT (Ctrl-\, asking for a core dump) only restores the terminal before its default action.
// A signal that was ignored when the chain was installed is left ignored and does none of this.
// Removal and stop are one state, changed by single atomic stores: arming a stop ends a removal
// armed before, so there is no moment at which neither is armed. The handlers block each other
// and restart interrupted system calls.
//
// A write past the file-size limit fails with EFBIG, for the writer to report (and to remove or
// mark what it wrote), instead of SIGXFSZ killing the process without a word: it is ignored.
//
// Job control: Ctrl-Z (SIGTSTP) restores the terminal before the process stops; on being
// continued (also after SIGSTOP) key mode comes back if the process is in the foreground. These
// two are installed only where they have their default disposition.
//
// On Windows the console's control handler takes the place of the signals: Ctrl-C is SIGINT,
// Ctrl-Break SIGBREAK, and closing the console, logging off or shutting down SIGTERM; they remove
// or stop as SIGINT does above, and otherwise end the process with the console's modes restored.
// There is no job control, and nothing is blocked: DeferEndingSignals holds the handler back.
#pragma once

#include <signal.h>

#include <string>

namespace ostrel {

// Installs the chain; later calls do nothing. Called by the guards below and by the console's
// key mode; a program calls it first thing so that no signal finds it half set up.
void InstallSignalChain();

// While armed, SIGINT, SIGTERM or SIGHUP first remove `path`, then go on down the chain. One
// removal at a time: arming a second one replaces the first. The path is taken as given
// (relative paths resolve against the working folder at the time of the signal); one longer
// than PATH_MAX is not armed, nor is any while a StopOnSignal is alive.
class RemoveOnSignal {
 public:
  explicit RemoveOnSignal(const std::string& path);
  ~RemoveOnSignal();  // Disarm()
  RemoveOnSignal(const RemoveOnSignal&) = delete;
  RemoveOnSignal& operator=(const RemoveOnSignal&) = delete;

  // From now on the file is kept, also on a signal. Leaves a stop armed meanwhile alone.
  void Disarm();

 private:
  bool armed_ = false;
};

// While alive, SIGINT, SIGTERM and SIGHUP only request a stop (StopRequested) after restoring the
// terminal; a removal armed before is over. The request is cleared on construction, unless a stop
// is armed already (an outer one, or the parent's in a forked job): then this one goes on with it
// and its request, and leaves it armed when it goes.
class StopOnSignal {
 public:
  StopOnSignal();
  ~StopOnSignal();  // back to ending the process, unless it went on with a stop armed before
  StopOnSignal(const StopOnSignal&) = delete;
  StopOnSignal& operator=(const StopOnSignal&) = delete;

 private:
  bool continued_ = false;
};

// True once SIGINT, SIGTERM or SIGHUP arrived under the current StopOnSignal.
bool StopRequested();

// The signal that requested the stop (the first one, when several came), or 0 when none did.
int StopSignal();

// How messages name signal `sig` ("Interrupt", and on Windows "Ctrl-C", ...).
std::string SignalName(int sig);

// While alive, SIGINT, SIGTERM and SIGHUP wait (blocked) until it goes: for creating a file and
// arming its removal as one step.
class DeferEndingSignals {
 public:
  DeferEndingSignals();
  ~DeferEndingSignals();
  DeferEndingSignals(const DeferEndingSignals&) = delete;
  DeferEndingSignals& operator=(const DeferEndingSignals&) = delete;

 private:
#if !defined(_WIN32)
  sigset_t previous_;
#endif
};

}  // namespace ostrel
