#include "analysis/CodingSetup.h"

#include <algorithm>

#include "platform/Fatal.h"

namespace ostrel {

CodingSetup::CodingSetup(const BlockSizes& blockSizes, unsigned nblocks, float Res, float dBOffset, int fill,
                         CodingSide side)
    : sizes(blockSizes), NBlocks(nblocks) {
  if (side == CodingSide::Analysis) {
    const ModelSizes models = ModelSizes::For(sizes);
    LongModel = std::make_unique<Psycho>(models.Long, STREAM_SAMPLE_RATE, Res, dBOffset, 0);
    TranModel = std::make_unique<Psycho>(models.Tran, STREAM_SAMPLE_RATE, Res, dBOffset, 0);
    ShortModel = std::make_unique<Psycho>(models.Short, STREAM_SAMPLE_RATE, Res, dBOffset, 1);
    LongBands = LongModel->GetPsychBands(&LongBandCount);
    TranBands = TranModel->GetPsychBands(&TranBandCount);
    ShortBands = ShortModel->GetPsychBands(&ShortBandCount);
  } else {
    const BandTables* tables = BandTables::Shared(sizes);
    if (tables == nullptr) {
      ownTables = std::make_unique<BandTables>(sizes);
      tables = ownTables.get();
    }
    LongBands = tables->Long.get();
    TranBands = tables->Tran.get();
    ShortBands = tables->Short.get();
    LongBandCount = tables->LongCount;
    TranBandCount = tables->TranCount;
    ShortBandCount = tables->ShortCount;
  }

  // With 512-sample long blocks the transition blocks have one band more than the long ones.
  rowLength = std::max({LongBandCount, TranBandCount, ShortBandCount});
  const size_t sets = static_cast<size_t>(NBlocks) + 1;
  const size_t row = static_cast<size_t>(rowLength);
  weightStore.assign(STREAM_CHANNELS * sets * row, fill);
  weightRows.resize(STREAM_CHANNELS * sets);
  gainStore.assign(STREAM_CHANNELS * sets, fill);
  for (size_t c = 0; c < STREAM_CHANNELS; ++c) {
    for (size_t s = 0; s < sets; ++s) weightRows[c * sets + s] = weightStore.data() + (c * sets + s) * row;
    WeightTables[c] = weightRows.data() + c * sets;
    GainRows[c] = gainStore.data() + c * sets;
  }
}

CodingSetup::CodingSetup(const FrameGeometry& geometry, int fill, CodingSide side)
    : CodingSetup(geometry, geometry.NBlocks, geometry.Res, geometry.dBOffset, fill, side) {}

std::unique_ptr<FrameTransform> CodingSetup::MakeTransform(SampleSource* pcm, float*** x, int msstereo) {
  OSTREL_DASSERT(LongModel != nullptr);
  return std::make_unique<FrameTransform>(STREAM_CHANNELS, static_cast<unsigned char>(NBlocks), sizes.LSIZE,
                                          sizes.SSIZE, pcm, LongModel.get(), TranModel.get(), ShortModel.get(),
                                          LongBandCount, ShortBandCount, TranBandCount, LongBands, ShortBands,
                                          TranBands, x, WeightTables, GainRows, msstereo);
}

std::unique_ptr<FrameInvTransform> CodingSetup::MakeInvTransform(SampleSink* pcm, float*** x) {
  return std::make_unique<FrameInvTransform>(STREAM_CHANNELS, static_cast<unsigned char>(NBlocks), sizes.LSIZE,
                                             sizes.SSIZE, pcm, LongBandCount, ShortBandCount, TranBandCount,
                                             LongBands, ShortBands, TranBands, x, WeightTables, GainRows, 0);
}

void CodingSetup::CopyFrameFrom(const CodingSetup& other) {
  OSTREL_DASSERT(other.weightStore.size() == weightStore.size() && other.gainStore.size() == gainStore.size());
  std::copy(other.weightStore.begin(), other.weightStore.end(), weightStore.begin());
  std::copy(other.gainStore.begin(), other.gainStore.end(), gainStore.begin());
  for (size_t c = 0; c < STREAM_CHANNELS; ++c) {
    SwitchFlags[c] = other.SwitchFlags[c];
    Locations[c] = other.Locations[c];
  }
}

void CodingSetup::Fill(int value) {
  std::fill(weightStore.begin(), weightStore.end(), value);
  std::fill(gainStore.begin(), gainStore.end(), value);
}

}  // namespace ostrel
