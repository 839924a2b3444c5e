// ostreldec: decodes an Ostrel compressed file to a WAV file, or shows what the file holds.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "decoder/Decoder.h"

namespace {

const char* const USAGE =
    "Usage: ostreldec [-v] IN.ost OUT.wav   decode IN.ost to a 16-bit stereo 44100 Hz WAV file\n"
    "       ostreldec --info [-v] IN.ost    show the header; with -v one line per frame\n"
    "       ostreldec --help                show this text\n";

const char* const HELP =
    "\n"
    "Options:\n"
    "  -v, --verbose   list every frame: step size, switch locations per channel (- for none),\n"
    "                  symbol count and bits used\n"
    "  --info          print the header (rate, frame size, frame count, duration, title, author,\n"
    "                  comments) instead of decoding\n"
    "\n"
    "The output is written under a temporary name beside OUT.wav and renamed into place when\n"
    "decoding completes; it never replaces the input. Damaged frames are reported on standard\n"
    "error with their number (counted from 0) and decoded as silence.\n"
    "\n"
    "Exit status: 0 success; 1 decoded, but frames were damaged or missing; 2 the input is not\n"
    "a compressed file that can be decoded, or the command line is wrong; 3 the output could\n"
    "not be written.\n";

int Usage(const char* problem) {
  std::cerr << "ostreldec: " << problem << "\n" << USAGE;
  return ostrel::DECODE_BAD_INPUT;
}

}  // namespace

int main(int argc, char** argv) {
  bool info = false;
  bool verbose = false;
  std::vector<std::string> paths;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!optionsDone && arg == "--") {
      optionsDone = true;
    } else if (!optionsDone && (arg == "--help" || arg == "-h")) {
      std::cout << USAGE << HELP;
      return ostrel::DECODE_OK;
    } else if (!optionsDone && arg == "--info") {
      info = true;
    } else if (!optionsDone && (arg == "-v" || arg == "--verbose")) {
      verbose = true;
    } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else {
      paths.push_back(arg);
    }
  }

  ostrel::DecodeOptions options;
  options.verbose = verbose;
  if (info) {
    if (paths.size() != 1) return Usage("--info takes one input file");
    return ostrel::PrintInfo(paths[0], options, std::cout, std::cerr);
  }
  if (paths.size() != 2) return Usage("expected an input and an output file");
  if (verbose) {
    options.onFrame = [](uint32_t frame, const ostrel::FrameReport& report) {
      ostrel::PrintFrameLine(std::cout, frame, report);
      return true;
    };
  }
  return ostrel::DecodeFile(paths[0], paths[1], options, std::cerr);
}
