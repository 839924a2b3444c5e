// ostreldec: decodes an Ostrel compressed file to a WAV file or plays it, or shows what the file
// holds.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "decoder/Decoder.h"
#include "decoder/Player.h"
#include "platform/Console.h"
#include "platform/SignalChain.h"

namespace {

const char* const USAGE =
    "Usage: ostreldec [-v] IN.ost OUT.wav   decode IN.ost to a 16-bit stereo 44100 Hz WAV file\n"
    "       ostreldec --info [-v] IN.ost    show the header; with -v one line per frame\n"
    "       ostreldec --play [--device NAME] [--volume PERCENT] IN.ost\n"
    "                                       play IN.ost on the sound card; q stops\n"
    "       ostreldec --help                show this text\n";

const char* const HELP =
    "\n"
    "Options:\n"
    "  -v, --verbose   list every frame: step size, switch locations per channel (- for none),\n"
    "                  symbol count and bits used\n"
    "  --info          print the header (rate, frame size, frame count, duration, title, author,\n"
    "                  comments) instead of decoding\n"
    "  --play          decode and play on the sound card instead of writing a file; press q to\n"
    "                  stop at once, otherwise everything is played to the end\n"
    "  --device NAME   with --play: the sound device; an ALSA device name such as default or\n"
    "                  hw:0 (default: the system's default output), or null, which plays\n"
    "                  nothing at the pace of real time\n"
    "  --volume PERCENT  with --play: the device volume, 0 to 100 (default: full)\n"
    "\n"
    "The output is written under a temporary name beside OUT.wav and renamed into place when\n"
    "decoding completes; it never replaces the input. Damaged frames are reported on standard\n"
    "error with their number (counted from 0) and decoded as silence.\n"
    "\n"
    "Exit status: 0 success; 1 decoded, but frames were damaged or missing; 2 the input is not\n"
    "a compressed file that can be decoded, or the command line is wrong; 3 the output could\n"
    "not be written (with --play: no usable sound device, or it stopped taking samples).\n";

int Usage(const char* problem) {
  std::cerr << "ostreldec: " << problem << "\n" << USAGE;
  return ostrel::DECODE_BAD_INPUT;
}

// Reads a volume in percent, 0 to 100, as a device volume 0 to 65535.
bool ParseVolume(const std::string& text, int* volume) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const int percent = std::stoi(text);
  if (percent > 100) return false;
  *volume = percent * 65535 / 100;
  return true;
}

// True once q (or Q) was pressed. End of input or any other key leaves playback going; after
// the end of input the console is no longer asked.
bool QuitPressed() {
  static bool inputEnded = false;
  while (!inputEnded && ostrel::KeyWaiting()) {
    const int key = ostrel::ReadKey();
    if (key < 0) inputEnded = true;
    if (key == 'q' || key == 'Q') return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // Past a file-size limit a write then fails, which is reported and removes the partial output,
  // instead of the process being killed with the temporary file left behind; a signal that ends
  // the process removes it too.
  ostrel::InstallSignalChain();
  bool info = false;
  bool verbose = false;
  bool play = false;
  bool playSettings = false;
  ostrel::PlayOptions playOptions;
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
    } else if (!optionsDone && arg == "--play") {
      play = true;
    } else if (!optionsDone && arg == "--device") {
      if (i + 1 >= argc) return Usage("--device needs a device name");
      playOptions.soundCard.device.Name = argv[++i];
      if (playOptions.soundCard.device.Name.empty()) return Usage("--device needs a device name");
      playSettings = true;
    } else if (!optionsDone && arg == "--volume") {
      if (i + 1 >= argc || !ParseVolume(argv[i + 1], &playOptions.volume)) {
        return Usage("--volume needs a whole percentage from 0 to 100");
      }
      ++i;
      playSettings = true;
    } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else {
      paths.push_back(arg);
    }
  }

  ostrel::DecodeOptions options;
  options.verbose = verbose;
  if (playSettings && !play) return Usage("--device and --volume go with --play");
  if (play) {
    if (info || verbose) return Usage("--play goes without --info and -v");
    if (paths.size() != 1) return Usage("--play takes one input file");
    playOptions.stopWanted = QuitPressed;
    std::cout << "Playing " << paths[0] << " (press q to stop)" << std::endl;
    return ostrel::PlayFile(paths[0], playOptions, std::cerr);
  }
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
