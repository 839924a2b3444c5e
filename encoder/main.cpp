// ostrelenc: the encoder. Without arguments (or with only --threads) the dialogue asks for source,
// target and data rate and the frame loop codes the source; other arguments are the command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "encoder/CommandLine.h"
#include "encoder/CommandLineRun.h"
#include "encoder/Dialogue.h"
#include "encoder/FrameLoop.h"
#include "platform/Arguments.h"
#include "platform/SignalChain.h"

namespace {

// True when every argument is part of a `--threads N` pair: the dialogue's own option.
bool DialogueArguments(int argc, char** argv) {
  for (int i = 1; i < argc; i += 2) {
    if (std::strcmp(argv[i], "--threads") != 0) return false;
  }
  return true;
}

// `--threads N` (1 .. MAX_THREADS): the frame loop's threads, by default one per available core.
// Returns 0, or -1 after a usage message.
int ParseThreads(int argc, char** argv, int* threads) {
  *threads = ostrel::AvailableCores();
  for (int i = 1; i < argc; ++i) {
    char* end = nullptr;
    const long n = std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : 0;
    if (end == nullptr || *end != '\0' || n < 1 || n > ostrel::MAX_THREADS) {
      std::fprintf(stderr, "Usage: ostrelenc [--threads N]   (N from 1 to 64; the dialogue asks for the rest)\n");
      return -1;
    }
    *threads = static_cast<int>(n);
    ++i;
  }
  return 0;
}

int RunEncoder(int argc, char** argv) {
  if (!DialogueArguments(argc, argv)) {
    ostrel::InstallSignalChain();
    return ostrel::RunEncoderCommandLine(argc, argv);
  }
  int threads = 1;
  if (ParseThreads(argc, argv, &threads) != 0) return 2;
  // Before anything else, so that no signal finds the program half set up. Past a file-size
  // limit a write then fails, which the frame loop reports (the file keeps the frame count 0).
  ostrel::InstallSignalChain();
  // `dialogue` keeps the target's removal on a signal armed until the frame loop's stop on a
  // signal takes over.
  ostrel::DialogueResult dialogue = ostrel::RunDialogue(ostrel::StandardDialogueConsole());
  if (dialogue.status != 0) return dialogue.status;
  dialogue.params.threads = threads;
  return ostrel::RunFrameLoop(dialogue.params, *dialogue.in, std::move(dialogue.fptr));
}

}  // namespace

int main(int argc, char** argv) {
  ostrel::UseUtf8Arguments(argc, argv);
  try {
    return RunEncoder(argc, argv);
  } catch (const std::bad_alloc&) {
    // The dialogue's console shows the coder's own words for it; the command line, whose standard
    // output may carry the stream, says it on standard error. A temporary output is gone by now.
    if (DialogueArguments(argc, argv)) {
      std::fputs("Not enough memory!\n", stdout);
    } else {
      std::fputs("ostrelenc: out of memory\n", stderr);
    }
    return 1;
  }
}
