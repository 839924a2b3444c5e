#include "encoder/FrameEncoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

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
      LongModel(static_cast<unsigned>(params.LONGSIZE), params.SAMPLERATE, params.Res, params.dBOffset, 0),
      TranModel(static_cast<unsigned>(params.TRANSIZE), params.SAMPLERATE, params.Res, params.dBOffset, 0),
      ShortModel(static_cast<unsigned>(params.SHORTSIZE), params.SAMPLERATE, params.Res, params.dBOffset, 1) {
  OSTREL_DASSERT(params.CHANNELS == 2);
  LongBands = LongModel.GetPsychBands(&LongBandCount);
  TranBands = TranModel.GetPsychBands(&TranBandCount);
  ShortBands = ShortModel.GetPsychBands(&ShortBandCount);

  const size_t channels = static_cast<size_t>(params.CHANNELS);
  const size_t sets = static_cast<size_t>(params.NBLOCKS) + 1;
  const size_t total = static_cast<size_t>(params.TOTAL);
  // A weight row must hold the largest band count: with 512-sample long blocks the transition
  // blocks have one band more than the long ones.
  const size_t rowLength = static_cast<size_t>(std::max({LongBandCount, TranBandCount, ShortBandCount}));
  // Room for a switched channel's coded weights and for an unswitched one's, whichever is more.
  const int switchedCount = (params.NBLOCKS - 2) * LongBandCount + 2 * TranBandCount + ShortBandCount;
  const size_t codedLength = static_cast<size_t>(std::max(switchedCount, params.NBLOCKS * LongBandCount));

  weightStore.assign(channels * sets * rowLength, 0);
  weightRows.resize(channels * sets);
  Weights.resize(channels);
  codedWeightStore.assign(channels * codedLength, 0);
  CodedWeights.resize(channels);
  gainStore.assign(channels * sets, 0);
  Gains.resize(channels);
  SwitchUsed.assign(channels, 0);
  Location.assign(channels, 0);
  tempDataStore.assign(channels * total, 0.0f);
  TempData.resize(channels);
  Symbols.assign(channels * total, 0);
  ActualStatistics.assign(STATISTICS_ENTRIES, 0);
  CompressedStats.assign(STATISTICS_ENTRIES, 0);
  for (size_t c = 0; c < channels; ++c) {
    TempData[c] = tempDataStore.data() + c * total;
    Weights[c] = weightRows.data() + c * sets;
    CodedWeights[c] = codedWeightStore.data() + c * codedLength;
    Gains[c] = gainStore.data() + c * sets;
    for (size_t s = 0; s < sets; ++s) weightRows[c * sets + s] = weightStore.data() + (c * sets + s) * rowLength;
  }

  InFrame = std::make_unique<FrameTransform>(
      static_cast<unsigned char>(params.CHANNELS), static_cast<unsigned char>(params.NBLOCKS),
      static_cast<unsigned>(params.LONGSIZE), static_cast<unsigned>(params.SHORTSIZE), &in, &LongModel,
      &TranModel, &ShortModel, LongBandCount, ShortBandCount, TranBandCount, LongBands, ShortBands, TranBands,
      &x, Weights.data(), Gains.data(), 0);
  Frame = std::make_unique<WriteFrame>(params.LONGSIZE, params.NBLOCKS, params.CHANNELS, LongBandCount,
                                       ShortBandCount, TranBandCount, SwitchUsed.data(), Location.data(),
                                       Gains.data(), CodedWeights.data(), CompressedStats.data(), Symbols.data(),
                                       &Out);
}

FrameEncoder::~FrameEncoder() = default;

void FrameEncoder::WriteHeader() {
  const auto channels = static_cast<unsigned char>(params.CHANNELS);
  BitsAvailable = GetAvailableBits(params.DataRate, params.SAMPLERATE, channels);
  if (budgetBits <= 0) budgetBits = static_cast<int>(BitsAvailable);
  WriteFileHeader("None", "None", "None", params.DataRate, params.SAMPLERATE, channels, fptr);
}

int FrameEncoder::EvaluateStep(float STEPS) {
  const int Steps = static_cast<int>(STEPS);
  const auto count = static_cast<unsigned>(params.TOTAL);
  QuantiseCoefficients(x, TempData.data(), STEPS, params.CHANNELS, count);
  SymbolCount = ConstructSymbolSet(TempData.data(), Symbols.data(), Steps, params.CHANNELS, count);
  return CollectStatistics(Symbols.data(), ActualStatistics.data(), CompressedStats.data(), SymbolCount, Steps);
}

FrameEncoder::FrameOutcome FrameEncoder::EncodeFrame() {
  FrameOutcome outcome{false, false};
  int bitsavailable = budgetBits;
  outcome.inputEnded = InFrame->NewFrame(SwitchUsed.data(), Location.data()) != 0;

  bitsavailable -= Frame->WriteSyncWord();
  bitsavailable -= Frame->WriteTranInfo();
  bitsavailable -= Frame->WriteGains();
  CodeWeights(Weights.data(), CodedWeights.data(), SwitchUsed.data(), Location.data(), params.CHANNELS,
              params.NBLOCKS, LongBandCount, ShortBandCount, TranBandCount);
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
  return outcome;
}

bool FrameEncoder::WriteFailed() const { return Out.WriteFailed() || std::ferror(fptr) != 0; }

namespace {

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

}  // namespace

int EncodeFrames(const RunParameters& params, Waveio& in, FileHandle target, int budgetBits) {
  StopOnSignal stopSignals;
  std::FILE* const fptr = target.get();
  int status = 0;
  bool writeFailed = false;
  int writeError = 0;
  int countError = 0;  // errno of a failed seek back to the frame count; the frames are all there
  {
    FrameEncoder encoder(params, in, fptr);
    if (budgetBits > 0) encoder.SetBudget(budgetBits);
    encoder.WriteHeader();
    Progress progress(params.Length);
    std::printf("Progress:\n");
    std::fflush(stdout);

    uint32_t FRAMES = 0;
    int end = 0;
    bool marksShown = false;
    while (end == 0) {
      if (const char* mark = progress.StartFrame()) {
        std::fputs(mark, stdout);
        std::fflush(stdout);
        marksShown = true;
      }
      const FrameEncoder::FrameOutcome outcome = encoder.EncodeFrame();
      if (outcome.inputEnded) ++end;
      if (outcome.overBudget) {
        RestoreConsole();  // the box waits for an ordinary, echoed Enter on a terminal
        ErrorReport("Padding Error!", 0);
        ++end;
        status = 1;
      }
      if (KeyWaiting()) {
        const int a = ReadKey();
        if (a == 'q') ++end;
      }
      if (StopRequested()) ++end;
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
    // starts on a line of its own.
    if (marksShown) {
      std::fputs("\n", stdout);
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
  return status;
}

}  // namespace ostrel
