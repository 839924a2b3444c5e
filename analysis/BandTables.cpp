#include "analysis/BandTables.h"

#include <mutex>

#include "platform/StreamConstants.h"
#include "psycho/Psycho.h"

namespace ostrel {

BandTables::BandTables(const BlockSizes& sizes) {
  const ModelSizes models = ModelSizes::For(sizes);
  const int rate = static_cast<int>(STREAM_SAMPLE_RATE);
  Long = PsychBandTable(models.Long, rate, &LongCount);
  Tran = PsychBandTable(models.Tran, rate, &TranCount);
  Short = PsychBandTable(models.Short, rate, &ShortCount);
}

const BandTables* BandTables::Shared(const BlockSizes& sizes) {
  constexpr unsigned LONG_SIZES[] = {512, 1024, 2048};  // samples: the long blocks of the rates
  constexpr int KEPT = sizeof LONG_SIZES / sizeof LONG_SIZES[0];
  static std::once_flag built[KEPT];
  static std::unique_ptr<const BandTables> tables[KEPT];
  for (int k = 0; k < KEPT; ++k) {
    if (LONG_SIZES[k] != sizes.LSIZE) continue;
    std::call_once(built[k], [&] { tables[k] = std::make_unique<const BandTables>(sizes); });
    return tables[k].get();
  }
  return nullptr;
}

}  // namespace ostrel
