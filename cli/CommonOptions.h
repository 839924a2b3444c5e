// The options both programs take alike: -o, -f, -q, --progress, -h, -V, the inputs, and what
// getopt_long reports about a missing value or an unknown option.
#pragma once

#include <string>
#include <vector>

namespace ostrel {

// The long-only option code of --progress; a program's own long-only codes start above it.
constexpr int OPTION_PROGRESS = 999;

struct CommonOptions {
  std::string output;               // -o; "-": standard output
  bool haveOutput = false;          // -o was given
  bool force = false;               // -f: replace an existing output
  bool quiet = false;               // -q
  bool progress = false;            // --progress: also when standard error is not a terminal
  std::vector<std::string> inputs;  // "-": standard input
};

enum class CommonOption { NotCommon, Taken, Help, Version, UsageError };

// Takes the getopt_long result `c` (with `optarg` and `argv` as getopt_long left them) when it
// is one of the shared options or getopt's ':' / '?' complaints. On UsageError `*problem` says
// what is wrong, without the program's name. NotCommon: the program's own option.
CommonOption TakeCommonOption(int c, char** argv, CommonOptions* options, std::string* problem);

// False, with `*problem` saying why, when -o comes with more than one input or standard input
// is named more than once: the checks on the inputs both programs make last.
bool CommonInputsFit(const CommonOptions& options, std::string* problem);

}  // namespace ostrel
