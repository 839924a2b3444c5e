// ostrelenc's command line: the options, their parsing, and the help and usage texts.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cli/CommonOptions.h"

namespace ostrel {

// Exit statuses of ostrelenc with arguments (a run stopped by a signal: 128 + its number).
constexpr int ENCODE_EXIT_OK = 0;
constexpr int ENCODE_EXIT_FAILED = 1;  // a file could not be read, coded or written
constexpr int ENCODE_EXIT_USAGE = 2;
constexpr int ENCODE_EXIT_SIGNAL_BASE = 128;

struct EncoderOptions : CommonOptions {
  int kbps = 128;
  bool quality = false;                // --quality: the quality mode instead of the reference choices
  bool haveTitle = false, haveArtist = false, haveComment = false;
  std::string title, artist, comment;  // the header's title, author and comments
  std::vector<std::pair<std::string, std::string>> tags;  // --tag KEY=VALUE, keys in upper case
  bool replayGain = false, albumGain = false;               // --replay-gain, --album-gain
  int jobs = 1;                        // without -o each input's output is its name with .ost
  int threads = 0;                     // --threads N; 0: the default (see CodingThreads)
};

// The largest thread count --threads takes.
constexpr int MAX_THREADS = 64;

// The cores this process may run on (its CPU affinity, else the machine's count), at least 1
// and at most MAX_THREADS.
int AvailableCores();

// The threads each file is coded with: --threads when given, else 1 per file when -j codes
// several files at once, else AvailableCores().
int CodingThreads(const EncoderOptions& options);

enum class CommandLineAction { Run, Help, Version, UsageError };

// Parses argv with getopt_long. On UsageError, `*problem` says what is wrong (without the
// program's name). Checks: the rate is one of the seven, the tags fit their fields, a job count
// from 1 to 64, a thread count from 1 to MAX_THREADS, at least one input, -o only with one input, "-" as an input at most once.
CommandLineAction ParseEncoderCommandLine(int argc, char** argv, EncoderOptions* options, std::string* problem);

// The one-line synopsis and the full help (usage, options, the rates, exit statuses).
void PrintEncoderUsage(std::FILE* out);
void PrintEncoderHelp(std::FILE* out);

}  // namespace ostrel
