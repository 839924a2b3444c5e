#include "encoder/CommandLine.h"

#include <getopt.h>
#if defined(__linux__)
#include <sched.h>
#endif

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <thread>

#include "audio/SourceReader.h"
#include "encoder/ReplayGain.h"
#include "ostrel/ostrel.h"

namespace ostrel {

namespace {

constexpr int kMaxJobs = 64;

enum LongOnly { kTitle = OPTION_PROGRESS + 1, kArtist, kComment, kQuality, kThreads, kTag, kReplayGain, kAlbumGain };

const struct option kLongOptions[] = {
    {"bitrate", required_argument, nullptr, 'b'},
    {"quality", no_argument, nullptr, kQuality},
    {"title", required_argument, nullptr, kTitle},
    {"artist", required_argument, nullptr, kArtist},
    {"comment", required_argument, nullptr, kComment},
    {"tag", required_argument, nullptr, kTag},
    {"replay-gain", no_argument, nullptr, kReplayGain},
    {"album-gain", no_argument, nullptr, kAlbumGain},
    {"output", required_argument, nullptr, 'o'},
    {"force", no_argument, nullptr, 'f'},
    {"jobs", required_argument, nullptr, 'j'},
    {"threads", required_argument, nullptr, kThreads},
    {"quiet", no_argument, nullptr, 'q'},
    {"progress", no_argument, nullptr, OPTION_PROGRESS},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// A whole decimal number from `low` to `high`, nothing else.
bool ParseNumber(const char* text, long low, long high, long* value) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

// The seven data rates in kb/s, ascending, from the library.
std::string RateList() {
  std::string list;
  int count = 0;
  const int* kbps = ostrel_bitrates(&count);
  for (int i = 0; i < count; ++i) list += (list.empty() ? "" : " ") + std::to_string(kbps[i]);
  return list;
}

bool TagFits(const std::string& value, size_t maxBytes, const char* option, std::string* problem) {
  if (value.size() <= maxBytes) return true;
  *problem = std::string(option) + " is " + std::to_string(value.size()) + " bytes long; the header holds at most " +
             std::to_string(maxBytes);
  return false;
}

}  // namespace

CommandLineAction ParseEncoderCommandLine(int argc, char** argv, EncoderOptions* o, std::string* problem) {
  opterr = 0;  // the messages are ours
  optind = 1;
  int c;
  while ((c = getopt_long(argc, argv, ":b:o:fj:qhV", kLongOptions, nullptr)) != -1) {
    switch (TakeCommonOption(c, argv, o, problem)) {
      case CommonOption::Taken: continue;
      case CommonOption::Help: return CommandLineAction::Help;
      case CommonOption::Version: return CommandLineAction::Version;
      case CommonOption::UsageError: return CommandLineAction::UsageError;
      case CommonOption::NotCommon: break;
    }
    long value = 0;
    switch (c) {
      case 'b':
        if (!ParseNumber(optarg, 1, 1000, &value) || ostrel_samples_per_frame(static_cast<int>(value)) < 0) {
          *problem = std::string("unknown data rate '") + optarg + "' (kb/s: " + RateList() + ")";
          return CommandLineAction::UsageError;
        }
        o->kbps = static_cast<int>(value);
        break;
      case kQuality:
        o->quality = true;
        break;
      case kTitle:
        o->haveTitle = true;
        o->title = optarg;
        if (!TagFits(o->title, OSTREL_TAG_MAX_BYTES, "--title", problem)) return CommandLineAction::UsageError;
        break;
      case kArtist:
        o->haveArtist = true;
        o->artist = optarg;
        if (!TagFits(o->artist, OSTREL_TAG_MAX_BYTES, "--artist", problem)) return CommandLineAction::UsageError;
        break;
      case kComment:
        o->haveComment = true;
        o->comment = optarg;
        if (!TagFits(o->comment, OSTREL_COMMENT_MAX_BYTES, "--comment", problem)) return CommandLineAction::UsageError;
        break;
      case kTag: {
        const std::string tag = optarg;
        const size_t eq = tag.find('=');
        const std::string key = eq == std::string::npos ? "" : tag.substr(0, eq);
        bool plainKey = !key.empty();
        for (char k : key) plainKey = plainKey && k >= 0x20 && k <= 0x7D;
        if (!plainKey) {
          *problem = "--tag takes KEY=VALUE (a key of letters, digits and the like, no '='), not '" + tag + "'";
          return CommandLineAction::UsageError;
        }
        std::string upper = key;
        for (char& k : upper) k = static_cast<char>(k >= 'a' && k <= 'z' ? k - 'a' + 'A' : k);
        if (upper == "LENGTH") {
          *problem = "--tag LENGTH=...: the encoder writes LENGTH itself";
          return CommandLineAction::UsageError;
        }
        o->tags.emplace_back(upper, tag.substr(eq + 1));
        break;
      }
      case kAlbumGain:
        o->albumGain = true;
        [[fallthrough]];
      case kReplayGain:
        o->replayGain = true;
        if (!ReplayGainAvailable()) {
          *problem = "--replay-gain and --album-gain: this build cannot measure loudness (it was built without "
                     "libebur128; apt-get install libebur128-dev)";
          return CommandLineAction::UsageError;
        }
        break;
      case 'j':
        if (!ParseNumber(optarg, 1, kMaxJobs, &value)) {
          *problem = std::string("--jobs takes a number from 1 to ") + std::to_string(kMaxJobs) + ", not '" + optarg + "'";
          return CommandLineAction::UsageError;
        }
        o->jobs = static_cast<int>(value);
        break;
      case kThreads:
        if (!ParseNumber(optarg, 1, MAX_THREADS, &value)) {
          *problem = std::string("--threads takes a number from 1 to ") + std::to_string(MAX_THREADS) + ", not '" +
                     optarg + "'";
          return CommandLineAction::UsageError;
        }
        o->threads = static_cast<int>(value);
        break;
      default:  // taken above
        break;
    }
  }
  for (int i = optind; i < argc; ++i) o->inputs.emplace_back(argv[i]);
  if (o->inputs.empty()) {
    *problem = "no input file";
    return CommandLineAction::UsageError;
  }
  if (!CommonInputsFit(*o, problem)) return CommandLineAction::UsageError;
  return CommandLineAction::Run;
}

int AvailableCores() {
  int cores = 0;
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) cores = CPU_COUNT(&set);
#endif
  if (cores <= 0) cores = static_cast<int>(std::thread::hardware_concurrency());
  return cores < 1 ? 1 : (cores > MAX_THREADS ? MAX_THREADS : cores);
}

int CodingThreads(const EncoderOptions& options) {
  if (options.threads > 0) return options.threads;
  return options.jobs > 1 && options.inputs.size() > 1 ? 1 : AvailableCores();
}

void PrintEncoderUsage(std::FILE* out) {
  std::fputs("Usage: ostrelenc [OPTIONS] INPUT...          INPUT.wav -> INPUT.ost beside it\n"
             "       ostrelenc [OPTIONS] INPUT -o OUTPUT   one input; OUTPUT may be - (standard output)\n"
             "       ostrelenc [--threads N]               the dialogue (source, target, data rate)\n",
             out);
}

void PrintEncoderHelp(std::FILE* out) {
  PrintEncoderUsage(out);
  std::fputs(
      "\n"
      "Codes sound files into Ostrel compressed files (44100 Hz stereo). A 16-bit PCM WAV file of\n"
      "2 channels at 44100 Hz is coded as it is, other sources are converted. INPUT may be - for a\n"
      "WAV on standard input.\n",
      out);
  // What this build reads, as a sentence of its own ("The encoder reads ..." or, without
  // libsndfile, "This build reads only 16-bit PCM WAV, ...").
  std::string reads = SourceReaderReads();
  reads[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reads[0])));
  std::fprintf(out, "(%s.)\n\nOptions:\n", reads.c_str());
  std::fprintf(out, "  -b, --bitrate KBPS  data rate in kb/s: %s (default 128)\n", RateList().c_str());
  std::fputs(
      "      --quality       the quality mode: weights and gains chosen against the audibility of\n"
      "                      the noise, the frame filled; the same format for every decoder, and\n"
      "                      about 1.5 times the coding time (default: the reference encoder's\n"
      "                      choices)\n"
      "      --title TEXT    the header's title (at most 255 bytes)\n"
      "      --artist TEXT   the header's author (at most 255 bytes)\n"
      "      --comment TEXT  the header's comments (at most 65535 bytes)\n"
      "      --tag KEY=VALUE a tag (Vorbis comment keys: ALBUM, TRACKNUMBER, DATE, GENRE, ...);\n"
      "                      may be repeated; replaces the source's tags of that key\n"
      "                      Without them: the source's tags (WAV LIST/INFO, AIFF, FLAC, Ogg),\n"
      "                      else none (the header's title and author then hold \"None\").\n"
      "      --replay-gain   measure each source's loudness (EBU R 128) and true peak and write\n"
      "                      REPLAYGAIN_TRACK_GAIN and _PEAK (reference -18 LUFS)\n"
      "      --album-gain    also REPLAYGAIN_ALBUM_GAIN and _PEAK over all the inputs\n"
      "  -o, --output FILE   the output of the one input; - for standard output\n"
      "  -f, --force         replace an existing output (otherwise it is refused and the other\n"
      "                      inputs go on)\n"
      "  -j, --jobs N        code N inputs at once (default 1)\n"
      "      --threads N     threads per file, 1 to 64; the stream is the same for every count\n"
      "                      (default: the available cores; 1 under -j with several inputs)\n"
      "  -q, --quiet         no progress, no summary; only errors\n"
      "      --progress      show progress also when standard error is not a terminal\n"
      "  -h, --help          show this text\n"
      "  -V, --version       show the version\n"
      "\n"
      "An output is written under a temporary name beside it and renamed when complete. While a\n"
      "file is coded on a terminal, one line shows the percent done, the time elapsed, the speed\n"
      "and the time left; a summary follows each file.\n"
      "\n"
      "Exit status: 0 done; 1 a file could not be read, coded or written; 2 usage error; 128 + N\n"
      "when signal N (SIGINT, SIGTERM, SIGHUP) stopped the run: the file being coded is valid and\n"
      "shorter, and a message says how far it got. In the dialogue, q ends the run normally (0).\n",
      out);
}

}  // namespace ostrel
