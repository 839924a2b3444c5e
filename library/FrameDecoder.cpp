#include "library/FrameDecoder.h"

#include <vector>

#include "analysis/FrameInvTransform.h"
#include "format/RateTables.h"
#include "psycho/Psycho.h"

namespace ostrel {

namespace {

constexpr unsigned short STREAM_SAMPLE_RATE = 44100;  // samples per second
constexpr int STREAM_CHANNELS = 2;

// The three models the encoder builds; the decoder needs only their band tables, which must be
// identical to the encoder's.
struct BandTables {
  BandTables(int LongSize, int TranSize, int ShortSize, unsigned char DataRate)
      : Long(static_cast<unsigned>(LongSize), STREAM_SAMPLE_RATE, GetPercepResolution(DataRate),
             GetPercepOffset(DataRate), 0),
        Tran(static_cast<unsigned>(TranSize), STREAM_SAMPLE_RATE, GetPercepResolution(DataRate),
             GetPercepOffset(DataRate), 0),
        Short(static_cast<unsigned>(ShortSize), STREAM_SAMPLE_RATE, GetPercepResolution(DataRate),
              GetPercepOffset(DataRate), 1) {
    LongBands = Long.GetPsychBands(&LongCount);
    TranBands = Tran.GetPsychBands(&TranCount);
    ShortBands = Short.GetPsychBands(&ShortCount);
  }
  int MaxCount() const {
    int m = LongCount > TranCount ? LongCount : TranCount;
    return m > ShortCount ? m : ShortCount;
  }
  Psycho Long, Tran, Short;
  int* LongBands = nullptr;
  int* TranBands = nullptr;
  int* ShortBands = nullptr;
  int LongCount = 0, TranCount = 0, ShortCount = 0;
};

// The frame buffers the reader fills and the synthesis reads, sized for one stream's layout.
struct FrameBuffers {
  FrameBuffers(int nblocks, int maxBands) {
    for (int c = 0; c < STREAM_CHANNELS; ++c) {
      gainRows[c].assign(static_cast<size_t>(nblocks) + 1, 0);
      gains[c] = gainRows[c].data();
      weightRows[c].assign(static_cast<size_t>(nblocks) + 1, std::vector<int>(static_cast<size_t>(maxBands), 0));
      for (auto& row : weightRows[c]) weightSets[c].push_back(row.data());
      weights[c] = weightSets[c].data();
    }
  }
  int SwitchUsed[STREAM_CHANNELS] = {0, 0};
  int Location[STREAM_CHANNELS] = {0, 0};
  std::vector<int> gainRows[STREAM_CHANNELS];
  int* gains[STREAM_CHANNELS];
  std::vector<std::vector<int>> weightRows[STREAM_CHANNELS];
  std::vector<int*> weightSets[STREAM_CHANNELS];
  int** weights[STREAM_CHANNELS];
};

}  // namespace

struct FrameDecoder::Parts {
  Parts(unsigned char DataRate)
      : NBlocks(GetBlocks(DataRate)),
        LongSize(GetLongBlock(DataRate)),
        ShortSize(LongSize / 4),
        bands(LongSize, ShortSize / 2 + LongSize / 2, ShortSize, DataRate),
        buffers(NBlocks, bands.MaxCount()) {
    Build();
  }

  // The synthesis and the reader that fills its coefficient arrays; built anew to forget the overlap.
  void Build() {
    reader.reset();
    synthesis.reset();
    float** x = nullptr;
    synthesis = std::make_unique<FrameInvTransform>(
        STREAM_CHANNELS, static_cast<unsigned char>(NBlocks), static_cast<unsigned>(LongSize),
        static_cast<unsigned>(ShortSize), nullptr, bands.LongCount, bands.ShortCount, bands.TranCount,
        bands.LongBands, bands.ShortBands, bands.TranBands, &x, buffers.weights, buffers.gains, 0);
    reader = std::make_unique<FrameReader>(LongSize, NBlocks, STREAM_CHANNELS, bands.LongCount, bands.ShortCount,
                                           bands.TranCount, buffers.SwitchUsed, buffers.Location, buffers.gains,
                                           buffers.weights, x);
  }

  int NBlocks, LongSize, ShortSize;
  BandTables bands;
  FrameBuffers buffers;
  std::unique_ptr<FrameInvTransform> synthesis;
  std::unique_ptr<FrameReader> reader;
};

FrameDecoder::FrameDecoder(unsigned char DataRate) : parts(std::make_unique<Parts>(DataRate)) {
  total = parts->synthesis->Total();
  delay = static_cast<unsigned>(parts->LongSize / 2);
  pendingSkip = delay;
  frameBits = GetAvailableBits(DataRate, STREAM_SAMPLE_RATE, STREAM_CHANNELS);
}

FrameDecoder::~FrameDecoder() = default;

bool FrameDecoder::Read(const unsigned char* frame, std::size_t bytes) {
  return parts->reader->ReadFrame(frame, bytes, frameBits);
}

bool FrameDecoder::Decode(const unsigned char* frame, std::size_t bytes) {
  const bool intact = Read(frame, bytes);
  if (!intact) parts->reader->Silence();
  parts->synthesis->NewFrame(parts->buffers.SwitchUsed, parts->buffers.Location);
  skip = pendingSkip < total ? pendingSkip : total;
  pendingSkip -= skip;
  return intact;
}

void FrameDecoder::Reset() {
  parts->Build();
  pendingSkip = delay;
  skip = 0;
}

float* FrameDecoder::Output(unsigned channel) { return parts->synthesis->MutableOutput(channel); }

const FrameReport& FrameDecoder::Report() const { return parts->reader->Report(); }

}  // namespace ostrel
