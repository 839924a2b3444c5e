#include "cli/CommonOptions.h"

#include <getopt.h>

namespace ostrel {

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
      *problem = std::string("option ") + argv[optind - 1] + " needs a value";
      return CommonOption::UsageError;
    case '?':
      *problem = std::string("unknown option ") + argv[optind - 1];
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
