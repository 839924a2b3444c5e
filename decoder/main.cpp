// ostreldec: decodes Ostrel compressed files to WAV files, checks them, plays them, or shows what
// they hold.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>
#include <string>

#include "cli/OutputName.h"
#include "cli/ProgramVersion.h"
#include "cli/ProgressLine.h"
#include "decoder/CommandLine.h"
#include "decoder/Decoder.h"
#include "decoder/Player.h"
#include "platform/Console.h"
#include "platform/OutputFile.h"
#include "platform/Arguments.h"
#include "platform/SignalChain.h"

namespace {

using namespace ostrel;

constexpr const char* kProgram = "ostreldec";
constexpr unsigned kSampleRate = 44100;

// True once q (or Q) was pressed. End of input or any other key leaves playback going; after
// the end of input the console is no longer asked.
bool QuitPressed() {
  static bool inputEnded = false;
  while (!inputEnded && KeyWaiting()) {
    const int key = ReadKey();
    if (key < 0) inputEnded = true;
    if (key == 'q' || key == 'Q') return true;
  }
  return false;
}

int Worse(int a, int b) { return a > b ? a : b; }

// What messages call an input.
std::string Shown(const std::string& in) { return in == STANDARD_STREAM_NAME ? "standard input" : in; }

int DecodeOne(const DecoderOptions& o, const std::string& inName, bool show) {
  const std::string shownIn = Shown(inName);
  DecodeOptions options;
  options.join = o.join;
  options.applyGain = o.applyGain;
  options.replace = o.force;

  std::string output = "/dev/null";  // -t: decoded, checked, dropped
  std::string shownOut = output;
  const bool test = o.mode == DecoderMode::Test;
  bool toStdout = false;
  if (!test) {
    output = !o.output.empty() ? o.output
             : inName == STANDARD_STREAM_NAME ? std::string(STANDARD_STREAM_NAME)
                                              : OutputBeside(inName, ".wav");
    shownOut = output;
    if (output == STANDARD_STREAM_NAME) {
      toStdout = true;
      shownOut = "standard output";
      if (IsTerminal(STDOUT_FILENO)) {
        std::fprintf(stderr, "%s: not writing audio to a terminal; name an output with -o\n", kProgram);
        return DECODE_WRITE_FAILED;
      }
      output = "/dev/stdout";
    } else if (!o.force) {
      const std::string refusal = ExistingOutputRefusal(output);
      if (!refusal.empty()) {
        std::fprintf(stderr, "%s\n", CannotWrite(kProgram, output, refusal).c_str());
        return DECODE_WRITE_FAILED;
      }
    }
  }

  std::unique_ptr<ProgressLine> progress;
  int kbps = 0;
  options.onStart = [&](const ostrel_info& info) {
    kbps = info.kbps;
    progress = std::make_unique<ProgressLine>(stderr, show, std::string(kProgram) + ": " + shownIn, info.samples,
                                              kSampleRate);
  };
  uint32_t framesDone = 0;
  // The frame listing goes where the audio does not.
  std::ostream& listing = toStdout ? std::cerr : std::cout;
  options.onFrame = [&](uint32_t frame, const ostrel_frame_report& report) {
    framesDone = frame + 1;
    if (o.verbose) PrintFrameLine(listing, frame, report);
    if (progress) progress->Update(static_cast<uint64_t>(ostrel_stream_samples(kbps, framesDone)));
    return true;
  };
  std::cerr.flush();
  const int status = DecodeFile(inName, output, options, std::cerr);
  const double elapsed = progress ? progress->Elapsed() : 0.0;
  progress.reset();
  if (test && !o.quiet) {
    if (status == DECODE_OK) std::fprintf(stderr, "%s: %s: ok\n", kProgram, shownIn.c_str());
    if (status == DECODE_DAMAGED) std::fprintf(stderr, "%s: %s: damaged\n", kProgram, shownIn.c_str());
  } else if (show && (status == DECODE_OK || status == DECODE_DAMAGED) && kbps != 0) {
    const double seconds = static_cast<double>(ostrel_stream_samples(kbps, framesDone)) / kSampleRate;
    std::fprintf(stderr, "%s: %s -> %s: %.1f s of audio, %.1f s, %s\n", kProgram, shownIn.c_str(), shownOut.c_str(),
                 seconds, elapsed, SpeedText(seconds, elapsed).c_str());
  }
  return status;
}

int RunDecoder(int argc, char** argv) {
  // Past a file-size limit a write then fails, which is reported and removes the partial output,
  // instead of the process being killed with the temporary file left behind; a signal that ends
  // the process removes it too.
  InstallSignalChain();
  DecoderOptions o;
  std::string problem;
  switch (ParseDecoderCommandLine(argc, argv, &o, &problem)) {
    case DecoderAction::Help:
      PrintDecoderHelp(stdout);
      return DECODE_OK;
    case DecoderAction::Version:
      PrintVersion(stdout, kProgram);
      return DECODE_OK;
    case DecoderAction::UsageError:
      std::fprintf(stderr, "%s: %s\n", kProgram, problem.c_str());
      PrintDecoderUsage(stderr);
      std::fprintf(stderr, "Try '%s --help' for the options.\n", kProgram);
      return DECODE_BAD_INPUT;
    case DecoderAction::Run:
      break;
  }

  int worst = DECODE_OK;
  if (o.mode == DecoderMode::Play) {
    bool stopped = false;
    // Standard input that holds a file to play is no keyboard.
    bool keys = true;
    for (const std::string& in : o.inputs) keys = keys && in != STANDARD_STREAM_NAME;
    o.play.stopWanted = [&stopped, keys] { return stopped = stopped || (keys && QuitPressed()); };
    o.play.join = o.join;
    o.play.applyGain = o.applyGain;
    for (const std::string& in : o.inputs) {
      if (stopped) break;
      if (!o.quiet) std::cout << "Playing " << Shown(in) << " (press q to stop)" << std::endl;
      worst = Worse(worst, PlayFile(in, o.play, std::cerr));
    }
    return worst;
  }
  if (o.mode == DecoderMode::Info) {
    bool first = true;
    for (const std::string& in : o.inputs) {
      if (!first) std::cout << "\n";
      first = false;
      DecodeOptions options;
      options.verbose = o.verbose;
      options.join = o.join;
      worst = Worse(worst, PrintInfo(in, options, std::cout, std::cerr));
    }
    return worst;
  }
  const bool show = !o.quiet && (o.progress || IsTerminal(STDERR_FILENO));
  for (const std::string& in : o.inputs) worst = Worse(worst, DecodeOne(o, in, show));
  return worst;
}

}  // namespace

int main(int argc, char** argv) {
  UseUtf8Arguments(argc, argv);
  try {
    return RunDecoder(argc, argv);
  } catch (const std::bad_alloc&) {
    // Everything made on the way (a temporary output, a copy of standard input) is gone by now;
    // nothing goes to standard output, which may carry the audio.
    std::fprintf(stderr, "%s: out of memory\n", kProgram);
    return DECODE_WRITE_FAILED;
  }
}
