#include "library/FrameEncoder.h"

#include <algorithm>

#include "coding/FrameLayout.h"
#include "coding/SymbolSet.h"
#include "coding/WeightCoding.h"
#include "format/FileHeader.h"
#include "platform/Fatal.h"
#include "platform/StreamConstants.h"

namespace ostrel {

namespace {

// The quality mode's analysis for the pipeline: the frame transform reads, the quality choices
// analyse each channel into the slot's frame.
class QualityAnalyser final : public FrameAnalyser {
 public:
  QualityAnalyser(FrameTransform& reader, SampleSource& in, QualityChoices& choices)
      : reader(reader), source(in), choices(choices) {}
  bool Read(int slot, uint64_t* framesRead) override {
    const bool ended = reader.ReadFrame(choices.Samples(slot)) != 0;
    *framesRead = source.FramesRead();
    return ended;
  }
  void AnalyseChannel(int slot, unsigned c, int) override { choices.AnalyseChannel(slot, c); }

 private:
  FrameTransform& reader;
  SampleSource& source;
  QualityChoices& choices;
};

}  // namespace

FrameEncoder::FrameEncoder(unsigned char rate, SampleSource& source, ByteSink* target)
    : DataRate(rate), geometry(FrameGeometry::ForRate(rate)), in(source), sink(target), Out(target), Setup(geometry) {
  Build();
}

void FrameEncoder::Build() {
  const size_t channels = STREAM_CHANNELS;
  const size_t total = geometry.TOTAL;
  const int NBLOCKS = static_cast<int>(geometry.NBlocks);
  // Room for a switched channel's coded weights and for an unswitched one's, whichever is more.
  const size_t codedLength = static_cast<size_t>(
      std::max(CodedWeightCount(true, NBLOCKS, Setup.LongBandCount, Setup.ShortBandCount, Setup.TranBandCount),
               CodedWeightCount(false, NBLOCKS, Setup.LongBandCount, Setup.ShortBandCount,
                                Setup.TranBandCount)));

  codedWeightStore.assign(channels * codedLength, 0);
  CodedWeights.resize(channels);
  Candidates = std::make_unique<FrameCandidates>(static_cast<int>(channels), static_cast<unsigned>(total));
  Symbols.assign(channels * total, 0);
  ActualStatistics.assign(STATISTICS_ENTRIES, 0);
  CompressedStats.assign(STATISTICS_ENTRIES, 0);
  for (size_t c = 0; c < channels; ++c) {
    CodedWeights[c] = codedWeightStore.data() + c * codedLength;
  }

  InFrame = Setup.MakeTransform(&in, &x);
  Frame = std::make_unique<WriteFrame>(static_cast<int>(geometry.LSIZE), NBLOCKS, static_cast<int>(STREAM_CHANNELS),
                                       Setup.LongBandCount,
                                       Setup.ShortBandCount, Setup.TranBandCount, Setup.SwitchUsed(),
                                       Setup.Location(), Setup.Gains(), CodedWeights.data(), CompressedStats.data(),
                                       Symbols.data(), &Out);
}

FrameEncoder::~FrameEncoder() = default;

void FrameEncoder::SetThreads(int count) {
  if (count < 2 || pipeline) return;
  threads = count;
  // A fresh object (no frame has been coded yet) with a frame of its own per pipeline slot.
  if (quality) quality = MakeQuality();
  StartPipeline();
}

std::unique_ptr<QualityChoices> FrameEncoder::MakeQuality() {
  return std::make_unique<QualityChoices>(geometry, Setup, threads >= 2 ? AnalysisPipeline::SLOTS : 1);
}

void FrameEncoder::StopPipeline() {
  pipeline.reset();  // first: its threads use the analyser
  analyser.reset();
  referenceAnalyser = nullptr;
}

void FrameEncoder::StartPipeline() {
  StopPipeline();
  if (quality) {
    analyser = std::make_unique<QualityAnalyser>(*InFrame, in, *quality);
  } else {
    auto reference = std::make_unique<ReferenceAnalyser>(geometry, in, threads);
    referenceAnalyser = reference.get();
    analyser = std::move(reference);
  }
  pipeline = std::make_unique<AnalysisPipeline>(geometry, *analyser, threads);
}

void FrameEncoder::WriteHeader(const char* Title, const char* Author, const char* Comments) {
  BitsAvailable = geometry.FrameBits;
  if (budgetBits <= 0) budgetBits = static_cast<int>(BitsAvailable);
  const std::vector<unsigned char> header =
      FileHeaderBytes(Title, Author, Comments, DataRate, static_cast<unsigned short>(STREAM_SAMPLE_RATE),
                      static_cast<unsigned char>(STREAM_CHANNELS), 0);
  if (!sink->Put(header.data(), header.size())) headerFailed = true;
}

int FrameEncoder::EvaluateStep(float STEPS) {
  SymbolCount = Candidates->BuildSymbols(STEPS, Symbols.data(), ActualStatistics.data());
  return CountedStatisticsBits(ActualStatistics.data(), CompressedStats.data(), static_cast<int>(STEPS));
}

void FrameEncoder::SetQuality(bool on) {
  if (on == (quality != nullptr)) return;
  StopPipeline();  // its analyser may be the quality mode's
  quality.reset();
  if (on) quality = MakeQuality();
  if (threads >= 2) StartPipeline();
}

float* const* FrameEncoder::AnalyseFrame(bool* inputEnded) {
  bool sourceEnded = false;
  float* const* coefficients = x;
  uint64_t framesRead = 0;
  if (pipeline) {
    const AnalysisPipeline::Frame frame = pipeline->Take();
    if (quality) {
      quality->Use(frame.slot);
    } else {
      Setup.CopyFrameFrom(referenceAnalyser->Setup(frame.slot));
      coefficients = referenceAnalyser->Coefficients(frame.slot);
    }
    sourceEnded = frame.ended;
    framesRead = frame.framesRead;
  } else if (quality) {
    // Read and analysed here, on the coding thread.
    sourceEnded = InFrame->ReadFrame(quality->Samples()) != 0;
    framesRead = in.FramesRead();
    quality->Analyse();
  } else {
    sourceEnded = InFrame->NewFrame(Setup.SwitchUsed(), Setup.Location()) != 0;
    framesRead = in.FramesRead();
  }
  ++framesCoded;
  // The decoder's output lags the input by HLSIZE samples: the frame in which the source ends
  // leaves its last samples without the overlap they need when fewer than HLSIZE zeros follow
  // them in that frame, and then one more frame (of silence) completes them. The count is the
  // source's after this frame's read, which stays once the source has ended.
  *inputEnded = sourceEnded && framesCoded * geometry.TOTAL >= framesRead + geometry.HLSIZE;
  return coefficients;
}

FrameEncoder::FrameOutcome FrameEncoder::EncodeFrame() {
  if (quality) return EncodeQualityFrame();
  FrameOutcome outcome{false, false, false};
  int bitsavailable = budgetBits;
  float* const* coefficients = AnalyseFrame(&outcome.inputEnded);

  bitsavailable -= WriteSideInformation();

  Candidates->Gather(coefficients);
  lastSearch = SearchStepSize(OldStep, bitsavailable, [this](float STEPS) { return EvaluateStep(STEPS); });
  WriteCodedBlock(bitsavailable, &outcome);
  return outcome;
}

FrameEncoder::FrameOutcome FrameEncoder::EncodeQualityFrame() {
  // Bits the arithmetic coder may need beyond the estimate the search works with.
  constexpr int SAFETY_BITS = 64;
  FrameOutcome outcome{false, false, false};
  AnalyseFrame(&outcome.inputEnded);

  int fixedBits = FRAME_SYNC_WORD_LEN + STEP_SIZE_LEN;
  for (unsigned c = 0; c < STREAM_CHANNELS; ++c) {
    fixedBits += SWITCH_FLAG_LEN + (Setup.SwitchUsed()[c] != 0 ? SwitchLocationLen(static_cast<int>(geometry.NBlocks)) : 0);
  }
  float STEPS = static_cast<float>(quality->Steps());
  int arithBits = 0;
  // The search only counts the symbols; the frame's own are written once it has ended.
  auto frameBits = [&](float offset) {
    quality->Apply(offset);
    Candidates->Gather(quality->Normalised());
    Candidates->CountSymbols(STEPS, ActualStatistics.data());
    arithBits = CountedStatisticsBits(ActualStatistics.data(), CompressedStats.data(), static_cast<int>(STEPS));
    return quality->SideBits() + arithBits;
  };
  const int room = budgetBits - fixedBits - SAFETY_BITS;
  // A rough search finds the frame's largest value. A frame whose values all stay well below the
  // step size is coded at fewer levels: the same quantiser steps, a shorter frequency table, and
  // the bits that saves spent. The second search resolves the offset.
  int calls = quality->Fit(room, frameBits, 1.0f, FitPrecision::Rough);
  const int fewer = quality->FewerSteps(Candidates->LargestMagnitude());
  if (fewer < quality->Steps()) {
    quality->SetSteps(fewer);
    STEPS = static_cast<float>(fewer);
  }
  calls += quality->Fit(room, frameBits, QualityChoices::REFIT_STRIDE);
  // The search left the frame applied and measured at the offset it chose.
  SymbolCount = Candidates->BuildSymbols(STEPS, Symbols.data(), ActualStatistics.data());
  lastSearch = StepSearchResult{STEPS, arithBits, calls};
  WriteCodedBlock(budgetBits - WriteSideInformation(), &outcome);
  return outcome;
}

int FrameEncoder::WriteSideInformation() {
  int bits = Frame->WriteSyncWord();
  bits += Frame->WriteTranInfo();
  bits += Frame->WriteGains();
  CodeWeights(Setup.Weights(), CodedWeights.data(), Setup.SwitchUsed(), Setup.Location(),
              static_cast<int>(STREAM_CHANNELS), static_cast<int>(geometry.NBlocks), Setup.LongBandCount,
              Setup.ShortBandCount, Setup.TranBandCount);
  bits += Frame->WriteWeights();
  return bits;
}

void FrameEncoder::WriteCodedBlock(int bitsavailable, FrameOutcome* outcome) {
  const int Steps = static_cast<int>(lastSearch.STEPS);
  bitsavailable -= Frame->WriteStepSize(Steps);
  bitsavailable -= Frame->WriteStats(Steps);
  bitsavailable -= Frame->WriteSymbols(SymbolCount, Steps);
  if (bitsavailable < 0) {
    outcome->overBudget = true;
  } else {
    Frame->WritePaddingBits(bitsavailable);
  }
  OldStep = CarryOverStep(lastSearch.STEPS, OldStep);
  outcome->writerFailed = Frame->Failed();
}

bool FrameEncoder::WriteFailed() const {
  return Out.WriteFailed() || headerFailed;
}

}  // namespace ostrel
