// The coding set-up one frame geometry needs on either side of the stream: the long, transition
// and short models (the encoder's side only) with their band tables, and the per-channel weight
// sets, gains, switch flags and locations that the frame transform (or its inverse) fills and the
// frame writer (or reader) reads. The encoder, the decoder, the tests and the benchmarks all
// build it here, the same way.
#pragma once

#include <memory>
#include <vector>

#include "analysis/BandTables.h"
#include "analysis/FrameInvTransform.h"
#include "analysis/FrameTransform.h"
#include "audio/SampleSink.h"
#include "audio/SampleSource.h"
#include "format/FrameGeometry.h"
#include "platform/StreamConstants.h"
#include "psycho/Psycho.h"

namespace ostrel {

// Which side a set-up serves: analysis (the encoder: models and tables) or synthesis (a decoder:
// the tables only, shared by every decoder of the same long block size).
enum class CodingSide { Analysis, Synthesis };

class CodingSetup {
 public:
  // Analysis: builds, in this order, the long, transition and short models for the transform
  // sizes of ModelSizes at 44100 Hz with band width `Res` and level offset `dBOffset` and takes
  // their band tables. Synthesis: builds no model and takes the band tables from
  // BandTables::Shared (its own when the size is not shared); Res and dBOffset are unused. Then
  // sizes the arrays for NBlocks long blocks per frame: per channel NBlocks + 1 weight sets, each
  // with room for the largest band count, and NBlocks + 1 gains, all set to `fill`; switch flags
  // and locations 0. Either side's tables are the same numbers.
  CodingSetup(const BlockSizes& sizes, unsigned NBlocks, float Res, float dBOffset, int fill = 0,
              CodingSide side = CodingSide::Analysis);
  // The same for the geometry of a rate code (its Res and dBOffset).
  explicit CodingSetup(const FrameGeometry& geometry, int fill = 0, CodingSide side = CodingSide::Analysis);
  CodingSetup(const CodingSetup&) = delete;
  CodingSetup& operator=(const CodingSetup&) = delete;

  // A frame transform reading `pcm` (borrowed) with these models, tables and arrays; *x receives
  // its coefficient arrays. The set-up must outlive it. Analysis side only.
  std::unique_ptr<FrameTransform> MakeTransform(SampleSource* pcm, float*** x, int msstereo = 0);
  // A frame inverse transform writing to `pcm` (borrowed, or nullptr) with these tables and arrays;
  // *x receives its coefficient arrays. The set-up must outlive it.
  std::unique_ptr<FrameInvTransform> MakeInvTransform(SampleSink* pcm, float*** x);

  // Takes the weight codes, gains, switch flags and locations of `other`, a set-up of the same
  // geometry: hands a frame analysed with one set-up to the coding side of another.
  void CopyFrameFrom(const CodingSetup& other);

  // Sets every weight code and gain to `value`.
  void Fill(int value);

  const BlockSizes& Sizes() const { return sizes; }
  unsigned Blocks() const { return NBlocks; }
  // The largest of the three band counts: the length of a weight set's row.
  int MaxBandCount() const { return rowLength; }

  // Owned by the set-up; lent to the transforms and the frame writer or reader.
  int*** Weights() { return WeightTables; }   // [channel][weight set][band]
  int** Gains() { return GainRows; }          // [channel][weight set]
  int* SwitchUsed() { return SwitchFlags; }   // [channel]
  int* Location() { return Locations; }       // [channel]

  // The models (analysis side; nullptr on the synthesis side).
  std::unique_ptr<Psycho> LongModel;
  std::unique_ptr<Psycho> TranModel;
  std::unique_ptr<Psycho> ShortModel;
  const int* LongBands = nullptr;  // band tables, owned by the models or by a BandTables
  const int* TranBands = nullptr;
  const int* ShortBands = nullptr;
  int LongBandCount = 0;
  int TranBandCount = 0;
  int ShortBandCount = 0;

 private:
  BlockSizes sizes;
  unsigned NBlocks;
  std::unique_ptr<BandTables> ownTables;  // synthesis side, for a long block size not shared
  int rowLength = 0;
  std::vector<int> weightStore;  // [channel][weight set][band], flat
  std::vector<int*> weightRows;  // [channel][weight set]
  std::vector<int> gainStore;    // [channel][weight set], flat
  int** WeightTables[STREAM_CHANNELS] = {};
  int* GainRows[STREAM_CHANNELS] = {};
  int SwitchFlags[STREAM_CHANNELS] = {};
  int Locations[STREAM_CHANNELS] = {};
};

}  // namespace ostrel
