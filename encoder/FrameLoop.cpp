#include "encoder/FrameLoop.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "cli/ProgressLine.h"
#include "encoder/Progress.h"
#include "format/FileHeader.h"
#include "library/FrameEncoder.h"
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

// Samples per channel of the source, 0 when its length is not known (read to its end).
uint64_t SourceSamples(const Waveio& in) {
  if (!in.wave || in.wave->nSamples == 0xFFFFFFFFu) return 0;
  return in.wave->nSamples / 4u;
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

}  // namespace

int EncodeFrames(const RunParameters& params, Waveio& in, FileHandle target, int budgetBits) {
  StopOnSignal stopSignals;
  std::FILE* const fptr = target.get();
  const uint64_t sourceSamples = SourceSamples(in);
  int status = 0;
  int stopSignal = 0;
  bool stoppedByKey = false;
  bool writeFailed = false;
  int writeError = 0;
  int countError = 0;  // errno of a failed seek back to the frame count; the frames are all there
  {
    FrameEncoder encoder(params.DataRate, in, fptr);
    if (budgetBits > 0) encoder.SetBudget(budgetBits);
    encoder.SetThreads(params.threads);
    encoder.WriteHeader();
    Progress progress(params.Length);
    std::printf("Progress:\n");
    std::fflush(stdout);

    uint32_t FRAMES = 0;
    int end = 0;
    bool inputEnded = false;
    const char* lastMark = nullptr;
    while (end == 0) {
      if (const char* mark = progress.StartFrame()) {
        std::fputs(mark, stdout);
        std::fflush(stdout);
        lastMark = mark;
      }
      const FrameEncoder::FrameOutcome frame = encoder.EncodeFrame();
      if (frame.inputEnded) {
        ++end;
        inputEnded = true;
      }
      if (frame.overBudget) {
        RestoreConsole();  // the box waits for an ordinary, echoed Enter on a terminal
        ErrorReport("Padding Error!", 0);
        ++end;
        status = 1;
      }
      if (frame.writerFailed) {
        ReportWriterFailure(FRAMES);
        ++end;
        status = 1;
      }
      if (KeyWaiting()) {
        const int a = ReadKey();
        if (a == 'q') {
          ++end;
          stoppedByKey = !inputEnded;
        }
      }
      if (StopRequested()) {
        ++end;
        if (!inputEnded) stopSignal = StopSignal();
      }
      // No point coding the rest of the source into a file that no longer takes it.
      if (encoder.WriteFailed()) {
        ++end;
        writeFailed = true;
      }
      progress.FrameDone(params.TOTAL);
      ++FRAMES;
    }
    RestoreConsole();
    // The marks share one line; end it, so that what follows (a message, the shell's prompt)
    // starts on a line of its own. A complete run ends its marks with "100%", which the counters
    // reach late or, for a short source, never.
    const bool complete = inputEnded && status == 0 && !writeFailed;
    if (complete && (lastMark == nullptr || std::strcmp(lastMark, "100%") != 0)) {
      std::fputs("100%", stdout);
      lastMark = "100%";
    }
    if (lastMark != nullptr) std::fputs("\n", stdout);
    if (stopSignal != 0 || stoppedByKey) {
      std::printf("Stopped: %s of the source coded.\n",
                  CodedText(uint64_t{FRAMES} * static_cast<uint64_t>(params.TOTAL), sourceSamples, params.SAMPLERATE)
                      .c_str());
    }
    std::fflush(stdout);

    encoder.FlushBits();
    // Flushing also retries what an earlier failed write left buffered, which names the cause.
    errno = 0;
    if (std::fflush(fptr) != 0) {
      writeError = errno;
      writeFailed = true;
    }
    if (encoder.WriteFailed()) writeFailed = true;
    // A file whose frames did not all reach the disk keeps the frame count 0 of its header, so
    // that no reader takes it for a complete one.
    if (!writeFailed) {
      // A target that cannot seek back (a pipe) would get the patch appended after the frames.
      if (std::fseek(fptr, 0, SEEK_SET) != 0) {
        countError = errno;
      } else {
        UpdateFileHeader(params.DataRate, params.SAMPLERATE, static_cast<unsigned char>(params.CHANNELS), FRAMES,
                         fptr);
        if (std::fflush(fptr) != 0 || std::ferror(fptr) != 0) {
          writeError = errno;
          writeFailed = true;
        }
      }
    }
    in.CloseWave();
    if (std::fclose(target.release()) != 0 && !writeFailed) {
      writeError = errno;
      writeFailed = true;
    }
  }
  if (writeFailed) {
    ReportWriteFailure(params.targetPath, writeError);
    status = 1;
  } else if (countError != 0) {
    std::fflush(stdout);
    std::fprintf(stderr, "\nCannot store the frame count in \"%s\": %s. Its header keeps the frame count 0.\n",
                 params.targetPath.c_str(), std::strerror(countError));
    status = 1;
  }
  if (status == 0 && stopSignal != 0) return 128 + stopSignal;
  return status;
}

int RunFrameLoop(const RunParameters& params, SourceReader& source, FileHandle fptr) {
  const char* name = params.sourcePath.c_str();
  const std::string conversion = source.Conversion();
  if (!conversion.empty()) {
    std::printf("%s: %s\n", name, conversion.c_str());
    std::fflush(stdout);
  }
  int status = EncodeFrames(params, *source.wave(), std::move(fptr));
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
