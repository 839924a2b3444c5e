// The encoder's second half after the dialogue: the frame loop, its progress marks, the quit key
// and the shut-down, coding through libostrel's encoder.
#pragma once

#include <functional>

#include "audio/SourceReader.h"
#include "encoder/Dialogue.h"
#include "ostrel/ostrel.h"
#include "platform/FileHandle.h"

namespace ostrel {

// Codes `source` (at its first sample, problem() empty) into the empty target `fptr` (open for
// binary writing) with the run parameters of the dialogue. A converted source's conversion line
// ("song.flac: 48000 Hz, 1 channel, 24-bit -> 44100 Hz stereo") comes first on standard output,
// then "Progress:" and the progress marks. The loop ends after the frame in which the source ends,
// a frame does not fit ("Padding Error!"), the frame writer fails (an internal error, named on
// standard error), a lower-case q is typed, SIGINT, SIGTERM or SIGHUP arrives (a removal of the
// target armed before is over from the start), or a write to the target fails. The shut-down
// writes the last bits and patches the frame count (not after a failed write: such a file keeps
// the count 0). The marks of a complete run always end with "100%" (the counters reach it late
// or, for a short source, never); those of a stopped run are followed by a line saying how much of
// the source was coded. Afterwards, on standard error: how many converted samples were limited to
// full scale, and a source that ended before the samples its header promised, with both counts
// (its stream holds what there was; exit status 1). Closes `fptr`. Returns the exit status: 0
// after a complete run or one stopped by q; 128 + the signal after one stopped by SIGINT, SIGTERM
// or SIGHUP; 1 after "Padding Error!", a frame writer failure, a write failure, or a target that
// cannot seek back to store the frame count (a pipe; its header keeps 0), each reported on
// standard error with the target's name. `adjust` is called on the encoder before the first
// samples (tests only).
int RunFrameLoop(const RunParameters& params, SourceReader& source, FileHandle fptr,
                 const std::function<void(ostrel_encoder*)>& adjust = {});

}  // namespace ostrel
