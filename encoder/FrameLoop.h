// The encoder's second half: set-up of the coding objects, the frame loop and the shut-down.
#pragma once

#include <cstdio>

#include "audio/SourceReader.h"
#include "encoder/Dialogue.h"
#include "platform/FileHandle.h"

namespace ostrel {

// The whole run after the dialogue: set-up, the file header with a frame count of 0, "Progress:"
// and the progress marks, the frame loop, and the shut-down (last bits, frame count patched,
// source closed, target closed). The loop ends after the frame in which the source ends, a frame
// does not fit ("Padding Error!"), the frame writer fails (an internal error, named on standard
// error), a lower-case q is typed, SIGINT, SIGTERM or SIGHUP arrives (a removal of the target
// armed before is over from the start), or a write to the target fails. The marks of a complete
// run always end with "100%" (the counters reach it late or, for a short source, never); those of
// a stopped run are followed by a line saying how much of the source was coded. Returns the exit
// status: 0 after a complete run or one stopped by q; 128 + the signal after one stopped by
// SIGINT, SIGTERM or SIGHUP; 1 after "Padding Error!", a frame writer failure, a write failure,
// or a target that cannot seek back to store the frame count (a pipe; its header keeps 0), each
// reported on standard error with the target's name. `budgetBits` > 0 replaces the frame budget
// (tests only). Closes `fptr`.
int EncodeFrames(const RunParameters& params, Waveio& in, FileHandle fptr, int budgetBits = 0);

// Codes `source` (at its first sample, problem() empty) into the empty target `fptr` (open for
// binary writing) with the run parameters of the dialogue. A converted source's conversion line
// ("song.flac: 48000 Hz, 1 channel, 24-bit -> 44100 Hz stereo") comes first on standard output.
// Afterwards, on standard error: how many converted samples were limited to full scale, and a
// source that ended before the samples its header promised, with both counts (its stream holds
// what there was; exit status 1). Closes the source and `fptr` before it returns. Returns the
// process exit status.
int RunFrameLoop(const RunParameters& params, SourceReader& source, FileHandle fptr);

}  // namespace ostrel
