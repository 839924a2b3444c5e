#include "cli/CommonOptions.h"

#include <getopt.h>

#include <string>

namespace ostrel {

namespace {

// The option getopt_long has just complained about. A long one is the argument it was given in
// (without a value after "="); a short one is named by its letter, since getopt may still be in
// the middle of its argument ("-q -dash": the d of -dash, not -q).
std::string Offending(char** argv) {
  const std::string last = argv[optind - 1];
  if (last.compare(0, 2, "--") == 0) return last.substr(0, last.find('='));
  if (optopt != 0) return std::string("-") + static_cast<char>(optopt);
  return last;
}

}  // namespace

CommonOption TakeCommonOption(int c, char** argv, CommonOptions* o, std::string* problem) {
  switch (c) {
    case 'o':
      o->haveOutput = true;
      o->output = optarg;
      if (o->output.empty()) {
        *problem = "-o needs a file name (or - for standard output)";
        return CommonOption::UsageError;
      }
      return CommonOption::Taken;
    case 'f':
      o->force = true;
      return CommonOption::Taken;
    case 'q':
      o->quiet = true;
      return CommonOption::Taken;
    case OPTION_PROGRESS:
      o->progress = true;
      return CommonOption::Taken;
    case 'h':
      return CommonOption::Help;
    case 'V':
      return CommonOption::Version;
    case ':':
      *problem = "option " + Offending(argv) + " needs a value";
      return CommonOption::UsageError;
    case '?':
      *problem = "unknown option " + Offending(argv);
      return CommonOption::UsageError;
    default:
      return CommonOption::NotCommon;
  }
}

bool CommonInputsFit(const CommonOptions& options, std::string* problem) {
  if (options.haveOutput && options.inputs.size() != 1) {
    *problem = "-o goes with one input file";
    return false;
  }
  int fromStdin = 0;
  for (const std::string& in : options.inputs) fromStdin += in == "-";
  if (fromStdin > 1) {
    *problem = "standard input (-) can be read only once";
    return false;
  }
  return true;
}

}  // namespace ostrel
