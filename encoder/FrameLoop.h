// The encoder's run loop: the header, the frame loop with its progress, stop and failure
// handling, and the shut-down, for the dialogue and for a file of the command line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "audio/Waveio.h"
#include "encoder/Dialogue.h"
#include "platform/FileHandle.h"

namespace ostrel {

// How a run is driven and reported.
struct EncodeSettings {
  int budgetBits = 0;  // > 0 replaces the frame budget (tests only)
  std::string Title = "None", Author = "None", Comments = "None";  // the header strings
  // The dialogue's run: "Progress:" and the marks on standard output, the q key, and messages in
  // the dialogue's words. Otherwise nothing goes to standard output (it may be the target), no
  // key is read, and every message is one line "ostrelenc: FILE: ..." on standard error.
  bool dialogue = true;
  // Called after every frame with the frames written so far.
  std::function<void(uint32_t frames)> onFrame;
};

struct EncodeOutcome {
  int status = 0;            // 0, or 1 after a failure (reported)
  uint32_t frames = 0;       // frames written
  int stopSignal = 0;        // SIGINT, SIGTERM or SIGHUP when one stopped the run
  bool stoppedByKey = false; // q stopped it (dialogue only)
  bool countStored = false;  // the header's frame count was patched in
};

// The whole run after the dialogue: set-up, the file header with a frame count of 0, the frame
// loop, and the shut-down (last bits, frame count patched, source closed, target closed). The
// loop ends after the frame in which the source ends, a frame does not fit ("Padding Error!"), the
// frame writer fails (an internal error, named on standard error), a lower-case q is typed
// (dialogue only), SIGINT, SIGTERM or SIGHUP arrives (a removal of the target armed before is over
// from the start), or a write to the target fails. Failures are
// reported on standard error with the target's name: "Padding Error!", a frame writer failure, a
// write failure, and, in
// the dialogue, a target that cannot seek back to store the frame count (a pipe; its header keeps
// 0), which is status 1 there and not a failure otherwise. In the dialogue the marks always end
// with "100%" after a complete run, and a stopped run's marks are followed by a line saying how
// much of the source was coded. Closes `fptr`.
EncodeOutcome EncodeStream(const RunParameters& params, Waveio& in, FileHandle fptr, const EncodeSettings& settings);

// The dialogue's run (EncodeStream with the dialogue's settings). Returns the exit status: 0 after
// a complete run or one stopped by q; 128 + the signal after one stopped by a signal; 1 after a
// failure. `budgetBits` > 0 replaces the frame budget (tests only).
int EncodeFrames(const RunParameters& params, Waveio& in, FileHandle fptr, int budgetBits = 0);

// Codes the source `in` (read mode, positioned at the first sample) into the empty target `fptr`
// (open for binary writing) with the run parameters of the dialogue. Closes both `in` (CloseWave)
// and `fptr` before it returns. Returns the process exit status.
int RunFrameLoop(const RunParameters& params, Waveio& in, FileHandle fptr);

}  // namespace ostrel
