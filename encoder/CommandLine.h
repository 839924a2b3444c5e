// ostrelenc's command line: the options, their parsing, and the help and usage texts.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace ostrel {

// Exit statuses of ostrelenc with arguments (a run stopped by a signal: 128 + its number).
constexpr int ENCODE_EXIT_OK = 0;
constexpr int ENCODE_EXIT_FAILED = 1;  // a file could not be read, coded or written
constexpr int ENCODE_EXIT_USAGE = 2;
constexpr int ENCODE_EXIT_SIGNAL_BASE = 128;

struct EncoderOptions {
  int kbps = 128;
  bool quality = false;                // --quality: the quality mode instead of the reference choices
  bool haveTitle = false, haveArtist = false, haveComment = false;
  std::string title, artist, comment;  // the header's title, author and comments
  std::string output;                  // -o; empty: each input's name with .ost; "-": standard output
  bool force = false;
  int jobs = 1;
  bool quiet = false;
  bool progress = false;               // --progress: also when standard error is not a terminal
  std::vector<std::string> inputs;     // "-": standard input
};

enum class CommandLineAction { Run, Help, Version, UsageError };

// Parses argv with getopt_long. On UsageError, `*problem` says what is wrong (without the
// program's name). Checks: the rate is one of the seven, the tags fit their fields, a job count
// from 1 to 64, at least one input, -o only with one input, "-" as an input at most once.
CommandLineAction ParseEncoderCommandLine(int argc, char** argv, EncoderOptions* options, std::string* problem);

// The one-line synopsis and the full help (usage, options, the rates, exit statuses).
void PrintEncoderUsage(std::FILE* out);
void PrintEncoderHelp(std::FILE* out);

}  // namespace ostrel
