#include "encoder/FrameLoop.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "cli/ProgressLine.h"
#include "encoder/LibraryEncode.h"
#include "encoder/Progress.h"
#include "platform/Console.h"
#include "platform/ErrorReport.h"
#include "platform/SignalChain.h"

namespace ostrel {

namespace {

constexpr const char* kProgram = "ostrelenc";

// Says on standard error that the target could not be written completely. `error` is the errno
// of the failing call when one is known, else 0.
void ReportWriteFailure(const std::string& path, int error) {
  std::fflush(stdout);
  if (error != 0) {
    std::fprintf(stderr, "\nError writing \"%s\": %s. The file is incomplete.\n", path.c_str(),
                 std::strerror(error));
  } else {
    std::fprintf(stderr, "\nError writing \"%s\". The file is incomplete.\n", path.c_str());
  }
  std::fflush(stderr);
}

// Says on standard error that the frame writer had to send a substitute for a value its field
// cannot carry in frame `frame` (counted from 0): the stream no longer decodes to what was coded.
void ReportWriterFailure(uint32_t frame) {
  RestoreConsole();
  std::fflush(stdout);
  std::fprintf(stderr, "\nInternal error: frame %u held a value the frame layout cannot carry; the stream is "
               "damaged from there on.\n", frame);
  std::fflush(stderr);
}

// The progress marks and the stop requests of the frame loop, asked before every frame.
struct LoopState {
  explicit LoopState(const RunParameters& p) : params(p), progress(p.Length) {}

  // Before frame `frame`: the last frame's samples count, the key and the signals are looked at
  // (a stop ends the loop before this frame), then this frame's mark is printed.
  static int BeforeFrame(void* user, uint32_t frame) {
    auto* self = static_cast<LoopState*>(user);
    if (frame > 0) {
      self->progress.FrameDone(self->params.TOTAL);
      bool stop = false;
      if (KeyWaiting() && ReadKey() == 'q') stop = self->stoppedByKey = true;
      if (StopRequested()) {
        stop = true;
        self->stopSignal = StopSignal();
      }
      if (stop) return 1;
    }
    if (const char* mark = self->progress.StartFrame()) {
      std::fputs(mark, stdout);
      std::fflush(stdout);
      self->lastMark = mark;
    }
    return 0;
  }

  const RunParameters& params;
  Progress progress;
  const char* lastMark = nullptr;
  bool stoppedByKey = false;
  int stopSignal = 0;
};

}  // namespace

int RunFrameLoop(const RunParameters& params, SourceReader& source, FileHandle target,
                 const std::function<void(ostrel_encoder*)>& adjust) {
  const char* name = params.sourcePath.c_str();
  const std::string conversion = source.Conversion();
  if (!conversion.empty()) {
    std::printf("%s: %s\n", name, conversion.c_str());
    std::fflush(stdout);
  }
  StopOnSignal stopSignals;
  LoopState loop(params);
  std::printf("Progress:\n");
  std::fflush(stdout);

  EncodeSettings settings;
  settings.kbps = params.DataRate * 2;
  settings.threads = params.threads;
  settings.alwaysSeek = true;  // a target that cannot seek back is said to keep the count 0
  // The dialogue writes the header it always wrote ("None" three times, no tags, no LENGTH): its
  // streams are pinned byte for byte, and scripts that drive it rely on them.
  settings.fields = false;
  settings.onFrame = &LoopState::BeforeFrame;
  settings.frameUser = &loop;
  settings.adjust = adjust;
  const EncodeRun run = EncodeSource(settings, source, target.get());

  int status = 0;
  if (run.status == OSTREL_ERR_INTERNAL) {
    RestoreConsole();  // the box waits for an ordinary, echoed Enter on a terminal
    ErrorReport("Padding Error!", 0);
    status = 1;
  } else if (run.status == OSTREL_ERR_FRAME_VALUE) {
    ReportWriterFailure(run.frames - 1);
    status = 1;
  }
  RestoreConsole();
  // The marks share one line; end it, so that what follows (a message, the shell's prompt)
  // starts on a line of its own. A complete run shows "100%", which the counters reach late
  // or, for a short source, never; once they have shown it, the dots they print after it stay.
  // (A count that could not be stored afterwards leaves the run complete.)
  const bool complete = (run.status == OSTREL_OK || run.status == OSTREL_ERR_SEEK) && !run.stopped;
  if (complete && loop.progress.Sixteenths() < 16) {
    std::fputs("100%", stdout);
    loop.lastMark = "100%";
  }
  if (loop.lastMark != nullptr) std::fputs("\n", stdout);
  if (run.stopped) {
    const uint64_t sourceSamples = source.rate() != 0 ? source.promisedFrames() : 0;
    std::printf("Stopped: %s of the source coded.\n",
                CodedText(uint64_t{run.frames} * static_cast<uint64_t>(params.TOTAL), sourceSamples, params.SAMPLERATE)
                    .c_str());
  }
  std::fflush(stdout);

  bool writeFailed = run.status == OSTREL_ERR_WRITE;
  int writeError = run.writeError;
  if (std::fclose(target.release()) != 0 && !writeFailed) {
    writeError = errno;
    writeFailed = true;
  }
  if (writeFailed) {
    ReportWriteFailure(params.targetPath, writeError);
    status = 1;
  } else if (run.status == OSTREL_ERR_SEEK) {
    std::fflush(stdout);
    std::fprintf(stderr, "\nCannot store the frame count in \"%s\": %s. Its header keeps the frame count 0.\n",
                 params.targetPath.c_str(), std::strerror(run.seekError != 0 ? run.seekError : ESPIPE));
    status = 1;
  } else if (run.status != OSTREL_OK && status == 0) {
    std::fflush(stdout);
    std::fprintf(stderr, "\nError coding \"%s\": %s.\n", params.targetPath.c_str(), ostrel_strerror(run.status));
    status = 1;
  }
  if (status == 0 && loop.stopSignal != 0) status = 128 + loop.stopSignal;

  std::fflush(stdout);
  if (source.clipped() > 0) {
    std::fprintf(stderr, "%s: %s: %llu samples beyond full scale were limited to it.\n", kProgram, name,
                 static_cast<unsigned long long>(source.clipped()));
  }
  if (source.EndedEarly()) {
    std::fprintf(stderr,
                 "%s: %s ended early: its header promised %llu sample frames, it held %llu; the stream "
                 "codes those %llu.\n",
                 kProgram, name, static_cast<unsigned long long>(source.promisedFrames()),
                 static_cast<unsigned long long>(source.framesRead()),
                 static_cast<unsigned long long>(source.framesRead()));
    status = 1;
  }
  return status;
}

}  // namespace ostrel
