// The encoder's second half: set-up of the coding objects, the frame loop and the shut-down.
#pragma once

#include <cstdio>

#include "audio/SourceReader.h"
#include "encoder/Dialogue.h"
#include "platform/FileHandle.h"

namespace ostrel {

// Codes `source` (at its first sample, problem() empty) into the empty target `fptr` (open for
// binary writing) with the run parameters of the dialogue. A converted source's conversion line
// ("song.flac: 48000 Hz, 1 channel, 24-bit -> 44100 Hz stereo") comes first on standard output.
// Afterwards, on standard error: how many converted samples were limited to full scale, and a
// source that ended before the samples its header promised, with both counts (its stream holds
// what there was; exit status 1). Closes the source and `fptr` before it returns. Returns the
// process exit status.
int RunFrameLoop(const RunParameters& params, SourceReader& source, FileHandle fptr);

}  // namespace ostrel
