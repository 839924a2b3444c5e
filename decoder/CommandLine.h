// ostreldec's command line: the options, their parsing, and the help and usage texts.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/CommonOptions.h"
#include "decoder/Player.h"

namespace ostrel {

enum class DecoderMode { Decode, Test, Info, Play };

struct DecoderOptions : CommonOptions {  // output: also the older form's second name
  DecoderMode mode = DecoderMode::Decode;
  bool verbose = false;
  bool join = false;                // --join: the input may start in the middle of a stream
  std::string applyGain;            // --apply-gain: "track", "album" or "" (none)
  bool playSettings = false;        // --device or --volume given
  PlayOptions play;                 // --device, --volume (stopWanted is the program's)
};

enum class DecoderAction { Run, Help, Version, UsageError };

// Parses argv with getopt_long. On UsageError, `*problem` says what is wrong (without the
// program's name). The older form "ostreldec IN.ost OUT.wav" (two names, the second not ending
// in .ost, no mode) is taken as "ostreldec -f IN.ost -o OUT.wav": it replaces OUT.wav as it always did.
DecoderAction ParseDecoderCommandLine(int argc, char** argv, DecoderOptions* options, std::string* problem);

void PrintDecoderUsage(std::FILE* out);
void PrintDecoderHelp(std::FILE* out);

}  // namespace ostrel
