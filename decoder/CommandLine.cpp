#include "decoder/CommandLine.h"

#include <getopt.h>

namespace ostrel {

namespace {

enum LongOnly { kInfo = OPTION_PROGRESS + 1, kPlay, kDevice, kVolume, kJoin, kApplyGain };

const struct option kLongOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"test", no_argument, nullptr, 't'},
    {"info", no_argument, nullptr, kInfo},
    {"play", no_argument, nullptr, kPlay},
    {"device", required_argument, nullptr, kDevice},
    {"volume", required_argument, nullptr, kVolume},
    {"join", no_argument, nullptr, kJoin},
    {"apply-gain", required_argument, nullptr, kApplyGain},
    {"verbose", no_argument, nullptr, 'v'},
    {"force", no_argument, nullptr, 'f'},
    {"quiet", no_argument, nullptr, 'q'},
    {"progress", no_argument, nullptr, OPTION_PROGRESS},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// Reads a volume in percent, 0 to 100, as a device volume 0 to 65535.
bool ParseVolume(const std::string& text, int* volume) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const int percent = std::stoi(text);
  if (percent > 100) return false;
  *volume = percent * 65535 / 100;
  return true;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

DecoderAction ParseDecoderCommandLine(int argc, char** argv, DecoderOptions* o, std::string* problem) {
  opterr = 0;
  optind = 1;
  bool modeGiven = false;
  auto setMode = [&](DecoderMode mode) {
    if (modeGiven && o->mode != mode) {
      *problem = "--test, --info and --play go one at a time";
      return false;
    }
    modeGiven = true;
    o->mode = mode;
    return true;
  };
  int c;
  while ((c = getopt_long(argc, argv, ":o:tvfqhV", kLongOptions, nullptr)) != -1) {
    switch (TakeCommonOption(c, argv, o, problem)) {
      case CommonOption::Taken: continue;
      case CommonOption::Help: return DecoderAction::Help;
      case CommonOption::Version: return DecoderAction::Version;
      case CommonOption::UsageError: return DecoderAction::UsageError;
      case CommonOption::NotCommon: break;
    }
    switch (c) {
      case 't':
        if (!setMode(DecoderMode::Test)) return DecoderAction::UsageError;
        break;
      case kInfo:
        if (!setMode(DecoderMode::Info)) return DecoderAction::UsageError;
        break;
      case kPlay:
        if (!setMode(DecoderMode::Play)) return DecoderAction::UsageError;
        break;
      case kDevice:
        o->play.soundCard.device.Name = optarg;
        if (o->play.soundCard.device.Name.empty()) {
          *problem = "--device needs a device name";
          return DecoderAction::UsageError;
        }
        o->playSettings = true;
        break;
      case kVolume:
        if (!ParseVolume(optarg, &o->play.volume)) {
          *problem = "--volume needs a whole percentage from 0 to 100";
          return DecoderAction::UsageError;
        }
        o->playSettings = true;
        break;
      case 'v':
        o->verbose = true;
        break;
      case kJoin:
        o->join = true;
        break;
      case kApplyGain:
        if (std::string(optarg) != "track" && std::string(optarg) != "album") {
          *problem = std::string("--apply-gain takes track or album, not '") + optarg + "'";
          return DecoderAction::UsageError;
        }
        o->applyGain = optarg;
        break;
      default:  // taken above
        break;
    }
  }
  for (int i = optind; i < argc; ++i) o->inputs.emplace_back(argv[i]);
  // The older form: an input and the output it decodes to, replaced as it always was, so that
  // the scripts written for it keep working.
  if (!modeGiven && !o->haveOutput && o->inputs.size() == 2 && !EndsWith(o->inputs[1], ".ost")) {
    o->output = o->inputs[1];
    o->inputs.pop_back();
    o->haveOutput = true;
    o->force = true;
  }
  if (o->inputs.empty()) {
    *problem = "no input file";
    return DecoderAction::UsageError;
  }
  if (o->playSettings && o->mode != DecoderMode::Play) {
    *problem = "--device and --volume go with --play";
    return DecoderAction::UsageError;
  }
  if (o->mode == DecoderMode::Play && o->verbose) {
    *problem = "--play goes without -v";
    return DecoderAction::UsageError;
  }
  if (o->haveOutput && o->mode != DecoderMode::Decode) {
    *problem = "-o goes with decoding, not with --test, --info or --play";
    return DecoderAction::UsageError;
  }
  if (!CommonInputsFit(*o, problem)) return DecoderAction::UsageError;
  return DecoderAction::Run;
}

void PrintDecoderUsage(std::FILE* out) {
  std::fputs("Usage: ostreldec [OPTIONS] INPUT...          INPUT.ost -> INPUT.wav beside it\n"
             "       ostreldec [OPTIONS] INPUT -o OUTPUT   one input; OUTPUT may be - (standard output)\n"
             "       ostreldec -t INPUT...                 check every frame, write nothing\n"
             "       ostreldec --info [-v] INPUT...        show the header; with -v one line per frame\n"
             "       ostreldec --play [--device NAME] [--volume PERCENT] INPUT...\n"
             "                                             play on the sound card; q stops\n",
             out);
}

void PrintDecoderHelp(std::FILE* out) {
  PrintDecoderUsage(out);
  std::fputs(
      "\n"
      "Decodes Ostrel compressed files to 16-bit stereo 44100 Hz WAV files. INPUT may be - for\n"
      "standard input. The older form 'ostreldec IN.ost OUT.wav' is the same as -f -o OUT.wav.\n"
      "\n"
      "Options:\n"
      "  -o, --output FILE  the output of the one input; - for standard output\n"
      "  -f, --force        replace an existing output (otherwise it is refused and the other\n"
      "                     inputs go on)\n"
      "  -t, --test         decode without writing and report per file 'ok' or what is damaged\n"
      "      --info         print the header (rate, frame size, frame count, duration, title,\n"
      "                     author, comments) instead of decoding\n"
      "  -v, --verbose      list every frame: step size, switch locations per channel (- for\n"
      "                     none), symbol count and bits used\n"
      "      --play         play on the sound card instead of writing a file; q stops at once\n"
      "      --device NAME  with --play: an ALSA device such as default or hw:0, or null, which\n"
      "                     plays nothing at the pace of real time\n"
      "      --volume PERCENT  with --play: the device volume, 0 to 100 (default: full)\n"
      "      --join         the input may begin in the middle of a stream (a broadcast joined\n"
      "                     late, a cut file): without a header it is decoded from its first\n"
      "                     whole frame\n"
      "      --apply-gain track|album  scale the output by the stream's ReplayGain (its\n"
      "                     REPLAYGAIN_TRACK_ or _ALBUM_GAIN), lowered where its peak would clip\n"
      "  -q, --quiet        no progress, no summary, no 'ok'; only errors\n"
      "      --progress     show progress also when standard error is not a terminal\n"
      "  -h, --help         show this text\n"
      "  -V, --version      show the version\n"
      "\n"
      "An output is written under a temporary name beside it and renamed into place when decoding\n"
      "completes; it never replaces the input. Standard input is decoded as it arrives. A WAV\n"
      "written to a pipe carries the lengths 0xFFFFFFFF (\"to the end of the stream\"). Damaged\n"
      "frames are reported on standard error with their number (counted from 0) and decoded as\n"
      "silence.\n"
      "\n"
      "Exit status (the worst of all files): 0 success; 1 decoded, but frames were damaged or\n"
      "missing; 2 the input is not a compressed file that can be decoded, or a usage error; 3 the\n"
      "output could not be written or already exists (with --play: no usable sound device).\n",
      out);
}

}  // namespace ostrel
