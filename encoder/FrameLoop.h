// The encoder's second half: set-up of the coding objects, the frame loop and the shut-down.
#pragma once

#include <cstdio>

#include "audio/Waveio.h"
#include "encoder/Dialogue.h"
#include "platform/FileHandle.h"

namespace ostrel {

// Codes the source `in` (read mode, positioned at the first sample) into the empty target `fptr`
// (open for binary writing) with the run parameters of the dialogue. Closes both `in` (CloseWave)
// and `fptr` before it returns. Returns the process exit status.
int RunFrameLoop(const RunParameters& params, Waveio& in, FileHandle fptr);

}  // namespace ostrel
