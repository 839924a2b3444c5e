// ostrelenc with arguments: every input coded to its output, one after another or several at
// once, with the progress line, the summaries and the exit status of the whole call.
#pragma once

namespace ostrel {

// Runs the command line `argv` (which has at least one argument). Returns the exit status of
// encoder/CommandLine.h: the worst of all files, 128 + N after signal N stopped the run.
int RunEncoderCommandLine(int argc, char** argv);

}  // namespace ostrel
