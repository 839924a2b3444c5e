#include "coding/WriteFrame.h"

#include "coding/FrameLayout.h"
#include "coding/WeightCoding.h"
#include "platform/Fatal.h"

namespace ostrel {

WriteFrame::WriteFrame(int longsize, int nblocks, int channels, int longbandcount, int shortbandcount,
                       int tranbandcount, int* switchused, int* locations, int** gains,
                       int** codedweights, unsigned char* compressedstats, int* symbols, Bitstream* out)
    : NBlocks(nblocks),
      Channels(channels),
      LongBandCount(longbandcount),
      ShortBandCount(shortbandcount),
      TranBandCount(tranbandcount),
      SwitchedWeightCount(CodedWeightCount(true, nblocks, longbandcount, shortbandcount, tranbandcount)),
      WeightCount(CodedWeightCount(false, nblocks, longbandcount, shortbandcount, tranbandcount)),
      SwitchUsed(switchused),
      Locations(locations),
      Gains(gains),
      CodedWeights(codedweights),
      CompressedStats(compressedstats),
      Symbols(symbols),
      WeightHuff(GetHuffEnc00()),
      GainHuff(GetGainHuffEnc(longsize)),
      SizeofWghtTable(WEIGHT_TABLE_SIZE),
      SizeofGainTable(GAIN_TABLE_SIZE),
      Out(out),
      ACoder(std::make_unique<ArithEncoder>(out)) {
  OSTREL_DASSERT(SwitchLocationLen(nblocks) > 0);
  OSTREL_DASSERT(static_cast<int>(WeightHuff.size()) == SizeofWghtTable);
  OSTREL_DASSERT(static_cast<int>(GainHuff.size()) == SizeofGainTable);
}

int WriteFrame::PutCode(const HuffCode& entry) {
  Out->putbits(entry.code, entry.length);
  return entry.length;
}

int WriteFrame::WriteSyncWord() {
  Out->putbits(FRAME_SYNC_WORD, FRAME_SYNC_WORD_LEN);
  return FRAME_SYNC_WORD_LEN;
}

int WriteFrame::WriteTranInfo() {
  const int w = SwitchLocationLen(NBlocks);
  const unsigned limit = 1u << w;
  int BitsUsed = Channels * SWITCH_FLAG_LEN;
  for (int ch = 0; ch < Channels; ++ch) {
    if (SwitchUsed[ch] != 0) {
      Out->putbits(1, SWITCH_FLAG_LEN);
      unsigned location = static_cast<unsigned>(Locations[ch]);
      if (location >= limit) {
        error = true;
        location &= limit - 1;
      }
      // A block count the format lacks has no location field: the flag alone is sent.
      if (w > 0) Out->putbits(location, w);
      BitsUsed += w;
    } else {
      Out->putbits(0, SWITCH_FLAG_LEN);
    }
  }
  return BitsUsed;
}

int WriteFrame::WriteGains() {
  int BitsUsed = 0;
  for (int ch = 0; ch < Channels; ++ch) {
    const int sets = WeightSetCount(SwitchUsed[ch] != 0, NBlocks);
    for (int j = 0; j < sets; ++j) {
      int index = Gains[ch][j] - GAIN_OFFSET;
      if (index < 0 || index >= SizeofGainTable) {
        error = true;
        index = index < 0 ? 0 : SizeofGainTable - 1;
      }
      BitsUsed += PutCode(GainHuff[index]);
    }
  }
  return BitsUsed;
}

int WriteFrame::WriteWeights() {
  int BitsUsed = 0;
  for (int ch = 0; ch < Channels; ++ch) {
    const bool switched = SwitchUsed[ch] != 0;
    const int B = WeightSetCount(switched, NBlocks);
    const int n = switched ? SwitchedWeightCount : WeightCount;
    const int* coded = CodedWeights[ch];
    for (int j = 0; j < B; ++j) {
      int temp = coded[j] + LEADING_WEIGHT_OFFSET;
      if (temp <= 0) temp = 0;
      if (temp >= LEADING_WEIGHT_MAX) temp = LEADING_WEIGHT_MAX;
      Out->putbits(static_cast<uint32_t>(temp), LEADING_WEIGHT_LEN);
      BitsUsed += LEADING_WEIGHT_LEN;
    }
    for (int j = B; j < n; ++j) {
      int index = coded[j] + WEIGHT_DIFF_INDEX_OFFSET;
      if (index <= 0) index = 0;
      if (index >= WEIGHT_DIFF_INDEX_MAX) index = WEIGHT_DIFF_INDEX_MAX;
      BitsUsed += PutCode(WeightHuff[index]);
    }
  }
  return BitsUsed;
}

int WriteFrame::WriteStepSize(int Steps) {
  constexpr unsigned kFieldMask = (1u << STEP_SIZE_LEN) - 1u;
  const unsigned field = static_cast<unsigned>(Steps - 1);
  if (field > kFieldMask) error = true;
  Out->putbits(field & kFieldMask, STEP_SIZE_LEN);
  return STEP_SIZE_LEN;
}

int WriteFrame::WriteStats(int Steps) {
  OSTREL_DASSERT(Steps >= STEP_SIZE_MIN && Steps <= STEP_SIZE_MAX);
  const int entries = AlphabetSize(Steps);
  int BitsUsed = 0;
  for (int n = 0; n < entries; ++n) {
    const unsigned value = CompressedStats[n];
    const int bits = StatsEntryBits(n, value, Steps);
    if (bits == STATS_SHORT_ENTRY_LEN) {
      Out->putbits(value, STATS_SHORT_ENTRY_LEN);
    } else if (bits == STATS_ESCAPED_ENTRY_LEN) {
      Out->putbits(STATS_ESCAPE, STATS_SHORT_ENTRY_LEN);
      Out->putbits(value, STATS_ENTRY_LEN);
    } else {
      Out->putbits(value, STATS_ENTRY_LEN);
    }
    BitsUsed += bits;
  }
  return BitsUsed;
}

int WriteFrame::WriteSymbols(int SymbolCount, int Steps) {
  OSTREL_DASSERT(Steps >= STEP_SIZE_MIN && Steps <= STEP_SIZE_MAX);
  OSTREL_DASSERT(SymbolCount >= 0 && SymbolCount <= MAX_SYMBOL_COUNT);
  if (SymbolCount < 0) SymbolCount = 0;
  if (SymbolCount > MAX_SYMBOL_COUNT) {
    error = true;
    SymbolCount = MAX_SYMBOL_COUNT;
  }
  Out->putbits(static_cast<uint32_t>(SymbolCount), SYMBOL_COUNT_LEN);
  int BitsUsed = SYMBOL_COUNT_LEN;

  const int alphabet = AlphabetSize(Steps);
  ACoder->ReNewStats(static_cast<unsigned char>(alphabet), CompressedStats);
  for (int i = 0; i < SymbolCount; ++i) {
    const int s = Symbols[i];
    // A symbol beyond the alphabet would wrap to another symbol as a byte; the coder refuses it.
    ACoder->Code(s >= 0 && s < alphabet ? static_cast<unsigned char>(s) : 255);
  }
  BitsUsed += static_cast<int>(ACoder->CloseEncoder());
  if (ACoder->Failed()) error = true;
  return BitsUsed;
}

void WriteFrame::WritePaddingBits(int bits) {
  OSTREL_DASSERT(bits >= 0);
  for (int i = 0; i < bits / 8; ++i) Out->putbits(0, 8);
  for (int i = 0; i < bits % 8; ++i) Out->putbits(0, 1);
}

}  // namespace ostrel
