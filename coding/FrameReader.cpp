#include "coding/FrameReader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "coding/ArithCommon.h"
#include "coding/FrameLayout.h"
#include "coding/SymbolSet.h"
#include "coding/WeightCoding.h"
#include "platform/FloatKernels.h"

namespace ostrel {

namespace {

// The gain of a silent weight set.
constexpr int SILENT_GAIN = GAIN_MIN;
static_assert(std::numeric_limits<float>::is_iec559, "Silence clears coefficients with memset");

}  // namespace

const char* DescribeDamage(FrameDamage damage) {
  switch (damage) {
    case FrameDamage::None: return "intact";
    case FrameDamage::SyncWord: return "bad sync word";
    case FrameDamage::Location: return "switch location out of range";
    case FrameDamage::Gain: return "impossible gain code";
    case FrameDamage::WeightCode: return "weight code out of range";
    case FrameDamage::FieldsPastFrame: return "side information runs past the frame's end";
    case FrameDamage::SymbolCount: return "symbol count out of range";
    case FrameDamage::EmptyTable: return "empty frequency table";
    case FrameDamage::ZeroFrequency: return "symbol with zero frequency";
    case FrameDamage::BlockPastFrame: return "coded symbols run past the frame's end";
    case FrameDamage::SymbolString: return "symbols do not fill the channels";
  }
  return "unknown damage";
}

FrameReader::FrameReader(int longsize, int nblocks, int channels, int longbandcount, int shortbandcount,
                         int tranbandcount, int* switchused, int* locations, int** gains, int*** weights,
                         float** x)
    : NBlocks(nblocks),
      Channels(channels),
      LongBandCount(longbandcount),
      ShortBandCount(shortbandcount),
      TranBandCount(tranbandcount),
      LocationBits(SwitchLocationLen(nblocks)),
      TOTAL(static_cast<unsigned>(longsize / 2 * nblocks)),
      SwitchUsed(switchused),
      Locations(locations),
      Gains(gains),
      Weights(weights),
      X(x) {
  MaxBandCount = LongBandCount;
  if (TranBandCount > MaxBandCount) MaxBandCount = TranBandCount;
  if (ShortBandCount > MaxBandCount) MaxBandCount = ShortBandCount;

  int longest = CodedWeightCount(false, NBlocks, LongBandCount, ShortBandCount, TranBandCount);
  const int switched = CodedWeightCount(true, NBlocks, LongBandCount, ShortBandCount, TranBandCount);
  if (switched > longest) longest = switched;
  CodedWeights.assign(static_cast<size_t>(Channels), std::vector<int>(static_cast<size_t>(longest), 0));
  for (auto& row : CodedWeights) CodedWeightRows.push_back(row.data());
  // One byte a symbol (the alphabet has at most MAX_ALPHABET_SIZE), and not cleared: a frame reads
  // back only the symbols it decoded, mostly far fewer than the room for every coefficient.
  static_assert(MAX_ALPHABET_SIZE <= 256);
  Symbols.reset(new unsigned char[static_cast<size_t>(Channels) * TOTAL]);

  WeightDec = &SharedWeightHuffDec();
  GainDec = &SharedGainHuffDec(longsize);
}

FrameReader::~FrameReader() = default;

int FrameReader::WeightSets(int channel) const { return WeightSetCount(SwitchUsed[channel] != 0, NBlocks); }

int FrameReader::CodedLength(int channel) const {
  return CodedWeightCount(SwitchUsed[channel] != 0, NBlocks, LongBandCount, ShortBandCount, TranBandCount);
}

int FrameReader::BandsOfSet(int channel, int set) const {
  return WeightSetBands(set, SwitchUsed[channel] != 0, Locations[channel], LongBandCount, ShortBandCount,
                        TranBandCount);
}

bool FrameReader::Fail(FrameDamage damage) {
  report.Damage = damage;
  return false;
}

bool FrameReader::ReadTranInfo(Bitstream& in) {
  for (int c = 0; c < Channels; ++c) {
    SwitchUsed[c] = static_cast<int>(in.getbits(SWITCH_FLAG_LEN));
    Locations[c] = 0;
    if (SwitchUsed[c] != 0) {
      Locations[c] = static_cast<int>(in.getbits(LocationBits));
      if (Locations[c] > NBlocks - 2) return Fail(FrameDamage::Location);
    }
    if (c < 2) {
      report.SwitchUsed[c] = SwitchUsed[c];
      report.Location[c] = Locations[c];
    }
  }
  return true;
}

bool FrameReader::ReadGains(Bitstream& in) {
  for (int c = 0; c < Channels; ++c) {
    const int sets = WeightSets(c);
    for (int j = 0; j < sets; ++j) {
      const int index = HuffDecode(in, GainDec->entries, GainDec->MaxLength);
      if (index < 0 || index >= GAIN_TABLE_SIZE) return Fail(FrameDamage::Gain);
      Gains[c][j] = index + GAIN_OFFSET;
    }
  }
  return true;
}

bool FrameReader::ReadWeights(Bitstream& in) {
  for (int c = 0; c < Channels; ++c) {
    const int sets = WeightSets(c);
    const int count = CodedLength(c);
    int* coded = CodedWeightRows[static_cast<size_t>(c)];
    for (int j = 0; j < sets; ++j) {
      coded[j] = static_cast<int>(in.getbits(LEADING_WEIGHT_LEN)) - LEADING_WEIGHT_OFFSET;
    }
    for (int j = sets; j < count; ++j) {
      const int index = HuffDecode(in, WeightDec->entries, WeightDec->MaxLength);
      if (index < 0 || index >= WEIGHT_TABLE_SIZE) return Fail(FrameDamage::WeightCode);
      coded[j] = index - WEIGHT_DIFF_INDEX_OFFSET;
    }
  }
  // ReadTranInfo has refused every location out of range, so this only guards the invariant.
  if (DecodeWeights(Weights, CodedWeightRows.data(), SwitchUsed, Locations, Channels, NBlocks, LongBandCount,
                    ShortBandCount, TranBandCount) != 0) {
    return Fail(FrameDamage::Location);
  }
  // Each leading code and difference is in range on its own, but a damaged frame can add up to codes
  // outside the quantiser's range, which stand for no weight at all.
  for (int c = 0; c < Channels; ++c) {
    const int sets = WeightSets(c);
    for (int j = 0; j < sets; ++j) {
      const int bands = BandsOfSet(c, j);
      for (int k = 0; k < bands; ++k) {
        const int code = Weights[c][j][k];
        if (code < WEIGHT_CODE_MIN || code > WEIGHT_CODE_MAX) return Fail(FrameDamage::WeightCode);
      }
    }
  }
  return true;
}

void FrameReader::ReadStats(Bitstream& in) {
  const int count = AlphabetSize(Steps);
  for (int n = 0; n < count; ++n) {
    uint32_t entry;
    if (n >= StatsShortBegin(Steps) && n < StatsShortEnd(Steps)) {
      entry = in.getbits(STATS_SHORT_ENTRY_LEN);
      if (entry == STATS_ESCAPE) entry = in.getbits(STATS_ENTRY_LEN);
    } else {
      entry = in.getbits(STATS_ENTRY_LEN);
    }
    CompressedStats[n] = static_cast<unsigned char>(entry);
  }
}

bool FrameReader::ReadSymbols(Bitstream& in, uint32_t frameBits) {
  const int count = AlphabetSize(Steps);
  report.SymbolCount = static_cast<int>(in.getbits(SYMBOL_COUNT_LEN));
  if (PastFrame(in, frameBits)) return Fail(FrameDamage::FieldsPastFrame);
  if (static_cast<unsigned>(report.SymbolCount) > static_cast<unsigned>(Channels) * TOTAL) {
    return Fail(FrameDamage::SymbolCount);
  }

  // Every frame carries a coded block of at least the coder's register width, even without symbols.
  const uint32_t startBits = static_cast<uint32_t>(in.BitCount());
  const uint32_t blockRoom = frameBits - startBits;
  if (blockRoom < ARITH_MIN_BLOCK_BITS) return Fail(FrameDamage::BlockPastFrame);
  report.BitsUsed = startBits + ARITH_MIN_BLOCK_BITS;
  if (report.SymbolCount == 0) return true;

  uint32_t tableSum = 0;
  for (int s = 0; s < count; ++s) tableSum += CompressedStats[s];
  if (tableSum == 0) return Fail(FrameDamage::EmptyTable);

  Decoder->ReNewStats(static_cast<unsigned char>(count), CompressedStats, blockRoom);
  const uint32_t wanted = static_cast<uint32_t>(report.SymbolCount);
  if (Decoder->DecodeSymbols(Symbols.get(), wanted) < wanted) return Fail(FrameDamage::ZeroFrequency);
  // The decoder's sticky flag, read once per block: set only by a table summing to 0, which the
  // test above already refused.
  if (Decoder->Failed()) return Fail(FrameDamage::EmptyTable);
  const uint32_t blockBits = Decoder->BlockBits();
  if (blockBits > blockRoom) return Fail(FrameDamage::BlockPastFrame);
  report.BitsUsed = startBits + blockBits;
  return true;
}

bool FrameReader::ReadFrame(std::FILE* fptr, uint32_t frameBits) {
  report = FrameReport{};
  Input.emplace(fptr, 0);
  return ReadFields(frameBits);
}

bool FrameReader::ReadFrame(const unsigned char* frame, std::size_t bytes, uint32_t frameBits) {
  report = FrameReport{};
  Input.emplace(frame, bytes);
  return ReadFields(frameBits);
}

bool FrameReader::ReadFields(uint32_t frameBits) {
  if (!Decoder) Decoder = std::make_unique<ArithDecoder>(&*Input);
  Bitstream& in = *Input;

  if (in.getbits(FRAME_SYNC_WORD_LEN) != FRAME_SYNC_WORD) return Fail(FrameDamage::SyncWord);
  if (!ReadTranInfo(in)) return false;
  if (!ReadGains(in)) return false;
  if (!ReadWeights(in)) return false;
  if (PastFrame(in, frameBits)) return Fail(FrameDamage::FieldsPastFrame);

  Steps = static_cast<int>(in.getbits(STEP_SIZE_LEN)) + 1;
  report.Steps = Steps;
  ReadStats(in);
  if (PastFrame(in, frameBits)) return Fail(FrameDamage::FieldsPastFrame);
  if (!ReadSymbols(in, frameBits)) return false;

  if (DestructSymbolSet(X, Symbols.get(), Steps, Channels, TOTAL, report.SymbolCount) != 0) {
    return Fail(FrameDamage::SymbolString);
  }
  const float step = static_cast<float>(Steps);
  for (int c = 0; c < Channels; ++c) DivideFloats(X[c], step, TOTAL);
  return true;
}

void FrameReader::Silence() {
  for (int c = 0; c < Channels; ++c) {
    SwitchUsed[c] = 0;
    Locations[c] = 0;
    std::fill_n(Gains[c], NBlocks + 1, SILENT_GAIN);
    for (int j = 0; j <= NBlocks; ++j) std::fill_n(Weights[c][j], MaxBandCount, WEIGHT_CODE_MIN);
    // All bits zero is 0.0f: one memset rather than a loop of TOTAL stores (which a build with
    // sanitizers checks one by one).
    std::memset(X[c], 0, TOTAL * sizeof(float));
  }
}

}  // namespace ostrel
