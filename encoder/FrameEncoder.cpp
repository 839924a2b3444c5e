#include "encoder/FrameEncoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "cli/ProgressLine.h"
#include "coding/SymbolSet.h"
#include "coding/WeightCoding.h"
#include "encoder/Progress.h"
#include "format/FileHeader.h"
#include "format/RateTables.h"
#include "platform/Console.h"
#include "platform/ErrorReport.h"
#include "platform/Fatal.h"
#include "platform/SignalChain.h"

namespace ostrel {

FrameEncoder::FrameEncoder(const RunParameters& runParams, Waveio& source, std::FILE* target)
    : params(runParams),
      in(source),
      fptr(target),
      Out(target, 1),
      Setup(BlockSizes::For(static_cast<unsigned>(params.NBLOCKS), static_cast<unsigned>(params.LONGSIZE)),
            static_cast<unsigned>(params.NBLOCKS), params.Res, params.dBOffset) {
  OSTREL_DASSERT(params.CHANNELS == static_cast<int>(STREAM_CHANNELS));
  const size_t channels = static_cast<size_t>(params.CHANNELS);
  const size_t total = static_cast<size_t>(params.TOTAL);
  // Room for a switched channel's coded weights and for an unswitched one's, whichever is more.
  const size_t codedLength = static_cast<size_t>(
      std::max(CodedWeightCount(true, params.NBLOCKS, Setup.LongBandCount, Setup.ShortBandCount, Setup.TranBandCount),
               CodedWeightCount(false, params.NBLOCKS, Setup.LongBandCount, Setup.ShortBandCount,
                                Setup.TranBandCount)));

  codedWeightStore.assign(channels * codedLength, 0);
  CodedWeights.resize(channels);
  tempDataStore.assign(channels * total, 0.0f);
  TempData.resize(channels);
  Symbols.assign(channels * total, 0);
  ActualStatistics.assign(STATISTICS_ENTRIES, 0);
  CompressedStats.assign(STATISTICS_ENTRIES, 0);
  for (size_t c = 0; c < channels; ++c) {
    TempData[c] = tempDataStore.data() + c * total;
    CodedWeights[c] = codedWeightStore.data() + c * codedLength;
  }

  InFrame = Setup.MakeTransform(&in, &x);
  Frame = std::make_unique<WriteFrame>(params.LONGSIZE, params.NBLOCKS, params.CHANNELS, Setup.LongBandCount,
                                       Setup.ShortBandCount, Setup.TranBandCount, Setup.SwitchUsed(),
                                       Setup.Location(), Setup.Gains(), CodedWeights.data(), CompressedStats.data(),
                                       Symbols.data(), &Out);
}

FrameEncoder::~FrameEncoder() = default;

void FrameEncoder::WriteHeader(const std::string& Title, const std::string& Author, const std::string& Comments) {
  const auto channels = static_cast<unsigned char>(params.CHANNELS);
  BitsAvailable = GetAvailableBits(params.DataRate, params.SAMPLERATE, channels);
  if (budgetBits <= 0) budgetBits = static_cast<int>(BitsAvailable);
  WriteFileHeader(Title.c_str(), Author.c_str(), Comments.c_str(), params.DataRate, params.SAMPLERATE, channels,
                  fptr);
}

int FrameEncoder::EvaluateStep(float STEPS) {
  const int Steps = static_cast<int>(STEPS);
  const auto count = static_cast<unsigned>(params.TOTAL);
  QuantiseCoefficients(x, TempData.data(), STEPS, params.CHANNELS, count);
  SymbolCount = ConstructSymbolSet(TempData.data(), Symbols.data(), Steps, params.CHANNELS, count);
  return CollectStatistics(Symbols.data(), ActualStatistics.data(), CompressedStats.data(), SymbolCount, Steps);
}

FrameEncoder::FrameOutcome FrameEncoder::EncodeFrame() {
  FrameOutcome outcome{false, false, false};
  int bitsavailable = budgetBits;
  outcome.inputEnded = InFrame->NewFrame(Setup.SwitchUsed(), Setup.Location()) != 0;

  bitsavailable -= Frame->WriteSyncWord();
  bitsavailable -= Frame->WriteTranInfo();
  bitsavailable -= Frame->WriteGains();
  CodeWeights(Setup.Weights(), CodedWeights.data(), Setup.SwitchUsed(), Setup.Location(), params.CHANNELS,
              params.NBLOCKS, Setup.LongBandCount, Setup.ShortBandCount, Setup.TranBandCount);
  bitsavailable -= Frame->WriteWeights();

  lastSearch = SearchStepSize(OldStep, bitsavailable, [this](float STEPS) { return EvaluateStep(STEPS); });
  const int Steps = static_cast<int>(lastSearch.STEPS);

  bitsavailable -= Frame->WriteStepSize(Steps);
  bitsavailable -= Frame->WriteStats(Steps);
  bitsavailable -= Frame->WriteSymbols(SymbolCount, Steps);
  if (bitsavailable < 0) {
    outcome.overBudget = true;
  } else {
    Frame->WritePaddingBits(bitsavailable);
  }
  OldStep = CarryOverStep(lastSearch.STEPS, OldStep);
  outcome.writerFailed = Frame->Failed();
  return outcome;
}

bool FrameEncoder::WriteFailed() const { return Out.WriteFailed() || std::ferror(fptr) != 0; }

namespace {

constexpr const char* kProgram = "ostrelenc";

// Says on standard error that the target could not be written completely. `error` is the errno
// of the failing call when one is known, else 0.
void ReportWriteFailure(const std::string& path, int error, bool dialogue) {
  std::fflush(stdout);
  if (!dialogue) {
    std::fprintf(stderr, "%s: the file is incomplete\n",
                 CannotWrite(kProgram, path, std::strerror(error != 0 ? error : EIO)).c_str());
  } else if (error != 0) {
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
void ReportWriterFailure(uint32_t frame, const RunParameters& params, bool dialogue) {
  RestoreConsole();
  std::fflush(stdout);
  if (dialogue) {
    std::fprintf(stderr, "\nInternal error: frame %u held a value the frame layout cannot carry; the stream is "
                 "damaged from there on.\n", frame);
  } else {
    std::fprintf(stderr, "%s: %s: internal error: frame %u held a value the frame layout cannot carry; the stream "
                 "is damaged from there on\n", kProgram, params.sourcePath.c_str(), frame);
  }
  std::fflush(stderr);
}

}  // namespace

EncodeOutcome EncodeStream(const RunParameters& params, Waveio& in, FileHandle target,
                           const EncodeSettings& settings) {
  StopOnSignal stopSignals;
  std::FILE* const fptr = target.get();
  const bool dialogue = settings.dialogue;
  const uint64_t sourceSamples = SourceSamples(in);
  EncodeOutcome outcome;
  bool writeFailed = false;
  int writeError = 0;
  int countError = 0;  // errno of a failed seek back to the frame count; the frames are all there
  {
    FrameEncoder encoder(params, in, fptr);
    if (settings.budgetBits > 0) encoder.SetBudget(settings.budgetBits);
    encoder.WriteHeader(settings.Title, settings.Author, settings.Comments);
    Progress progress(params.Length);
    if (dialogue) {
      std::printf("Progress:\n");
      std::fflush(stdout);
    }

    uint32_t FRAMES = 0;
    int end = 0;
    bool inputEnded = false;
    const char* lastMark = nullptr;
    while (end == 0) {
      if (const char* mark = progress.StartFrame()) {
        if (dialogue) {
          std::fputs(mark, stdout);
          std::fflush(stdout);
          lastMark = mark;
        }
      }
      const FrameEncoder::FrameOutcome frame = encoder.EncodeFrame();
      if (frame.inputEnded) {
        ++end;
        inputEnded = true;
      }
      if (frame.overBudget) {
        if (dialogue) {
          RestoreConsole();  // the box waits for an ordinary, echoed Enter on a terminal
          ErrorReport("Padding Error!", 0);
        } else {
          std::fprintf(stderr, "%s: %s: frame %u did not fit its budget (Padding Error!); the file ends there\n",
                       kProgram, params.sourcePath.c_str(), FRAMES);
        }
        ++end;
        outcome.status = 1;
      }
      if (frame.writerFailed) {
        ReportWriterFailure(FRAMES, params, dialogue);
        ++end;
        outcome.status = 1;
      }
      if (dialogue && KeyWaiting()) {
        const int a = ReadKey();
        if (a == 'q') {
          ++end;
          outcome.stoppedByKey = !inputEnded;
        }
      }
      if (StopRequested()) {
        ++end;
        if (!inputEnded) outcome.stopSignal = StopSignal();
      }
      // No point coding the rest of the source into a file that no longer takes it.
      if (encoder.WriteFailed()) {
        ++end;
        writeFailed = true;
      }
      progress.FrameDone(params.TOTAL);
      ++FRAMES;
      if (settings.onFrame) settings.onFrame(FRAMES);
    }
    if (dialogue) RestoreConsole();
    outcome.frames = FRAMES;
    // The marks share one line; end it, so that what follows (a message, the shell's prompt)
    // starts on a line of its own. A complete run ends its marks with "100%", which the counters
    // reach late or, for a short source, never.
    if (dialogue) {
      const bool complete = inputEnded && outcome.status == 0 && !writeFailed;
      if (complete && (lastMark == nullptr || std::strcmp(lastMark, "100%") != 0)) {
        std::fputs("100%", stdout);
        lastMark = "100%";
      }
      if (lastMark != nullptr) std::fputs("\n", stdout);
      if (outcome.stopSignal != 0 || outcome.stoppedByKey) {
        std::printf("Stopped: %s of the source coded.\n",
                    CodedText(uint64_t{FRAMES} * static_cast<uint64_t>(params.TOTAL), sourceSamples,
                              params.SAMPLERATE)
                        .c_str());
      }
      std::fflush(stdout);
    }

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
        } else {
          outcome.countStored = true;
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
    ReportWriteFailure(params.targetPath, writeError, dialogue);
    outcome.status = 1;
    outcome.countStored = false;
  } else if (countError != 0 && dialogue) {
    std::fflush(stdout);
    std::fprintf(stderr, "\nCannot store the frame count in \"%s\": %s. Its header keeps the frame count 0.\n",
                 params.targetPath.c_str(), std::strerror(countError));
    outcome.status = 1;
  }
  return outcome;
}

int EncodeFrames(const RunParameters& params, Waveio& in, FileHandle fptr, int budgetBits) {
  EncodeSettings settings;
  settings.budgetBits = budgetBits;
  const EncodeOutcome outcome = EncodeStream(params, in, std::move(fptr), settings);
  if (outcome.status == 0 && outcome.stopSignal != 0) return 128 + outcome.stopSignal;
  return outcome.status;
}

}  // namespace ostrel
