#include "library/ReferenceAnalyser.h"

#include <algorithm>

namespace ostrel {

ReferenceAnalyser::ReferenceAnalyser(const FrameGeometry& geometry, SampleSource& in, int threads)
    : source(in), total(geometry.TOTAL) {
  for (int t = 0; t < AnalysisPipeline::ThreadsUsed(threads); ++t) {
    modelSets.push_back(std::make_unique<CodingSetup>(geometry));
  }
  transform = modelSets[0]->MakeTransform(&in, &transformX);
  for (Slot& s : slots) {
    s.setup = std::make_unique<CodingSetup>(geometry, 0, CodingSide::Synthesis);
    s.sampleStore.assign(STREAM_CHANNELS * total, 0.0f);
    s.coefficientStore.assign(STREAM_CHANNELS * total, 0.0f);
    for (unsigned c = 0; c < STREAM_CHANNELS; ++c) {
      s.samples.push_back(s.sampleStore.data() + c * total);
      s.coefficients.push_back(s.coefficientStore.data() + c * total);
    }
  }
}

bool ReferenceAnalyser::Read(int slot, uint64_t* framesRead) {
  Slot& s = slots[slot];
  const bool ended = transform->ReadFrame(s.samples.data()) != 0;
  // Taken here, by the only thread reading the source now.
  *framesRead = source.FramesRead();
  return ended;
}

void ReferenceAnalyser::AnalyseChannel(int slot, unsigned c, int thread) {
  Slot& s = slots[slot];
  CodingSetup& models = *modelSets[static_cast<size_t>(thread)];
  transform->LocateChannel(c, s.samples[c], &s.setup->SwitchUsed()[c], &s.setup->Location()[c]);
  transform->AnalyseChannel(c, s.samples[c], s.setup->SwitchUsed()[c], s.setup->Location()[c],
                            s.setup->Weights()[c], s.setup->Gains()[c], models.LongModel.get(),
                            models.TranModel.get(), models.ShortModel.get());
  std::copy(transformX[c], transformX[c] + total, s.coefficients[c]);
}

}  // namespace ostrel
