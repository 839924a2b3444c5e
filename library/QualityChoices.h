// The quality mode's analysis and choices: it places each channel's transient pair itself,
// transforms the blocks, computes per block and band the noise power that is masked (the block's
// own masking, the neighbouring blocks' in time, the threshold in quiet), and turns that into the
// weight codes and gains of the frame: every band's quantiser step is sqrt(12 x threshold), its
// level drawn part of the way towards the block's mean level, scaled by one offset for the whole
// frame, which the caller searches so that the frame fills its budget.
// Every field it sets stays within its range (codes -32..223 with neighbours -14..+18 apart,
// gains 10..29, normalised coefficients within -1..1), so any decoder of the format decodes it.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "analysis/CodingSetup.h"
#include "coding/Huffman.h"
#include "format/FrameGeometry.h"
#include "platform/StreamConstants.h"
#include "psycho/MaskingModel.h"
#include "transform/VariableMDCT.h"

namespace ostrel {

// How closely QualityChoices::Fit meets the room.
enum class FitPrecision { Rough, Fine };

class QualityChoices {
 public:
  // For the geometry and the coding set-up (borrowed, must outlive the object) of one stream,
  // with room for `frames` frames analysed ahead of the one coded (AnalysisPipeline's slots).
  QualityChoices(const FrameGeometry& geometry, CodingSetup& setup, int frames = 1);

  // Where frame `frame`'s samples are read to: [channel] TOTAL floats each.
  float* const* Samples(int frame = 0) { return frames[static_cast<size_t>(frame)].samplePtrs.data(); }

  // Analyses channel c of the samples read to frame `frame`: the channel's transient pair, its
  // transforms and every band's masked noise power. Each channel's frames must come in order;
  // the two channels may be analysed at once on two threads (they share nothing but constants).
  void AnalyseChannel(int frame, unsigned c);

  // Codes frame `frame` next, once both its channels are analysed: its switch flags and locations
  // go into the set-up, and the step size is the largest again.
  void Use(int frame);

  // Analyses the samples of frame 0 and codes it next: AnalyseChannel for both channels, then Use.
  void Analyse();

  // Codes and gains (into the set-up) and normalised coefficients (Normalised) for the frame at
  // offset `offset` (in code steps: the larger, the coarser and cheaper).
  void Apply(float offset);
  const float* const* Normalised() const { return normalisedPtrs.data(); }

  // The frame's step size: the largest, so that a band may use as many levels as it needs,
  // until SetSteps chooses fewer.
  int Steps() const { return steps; }

  // The step size for a frame whose largest value is `largest` levels at the current one: that
  // and STEP_HEADROOM more (its search may then lower the offset a little), and no more than
  // the current one.
  int FewerSteps(int largest) const { return std::min(std::max(largest + STEP_HEADROOM, STEP_SIZE_MIN), steps); }

  // Codes the frame at `newSteps` levels (1 .. 32): the codes carry the same quantiser steps, and
  // a frame of fewer levels sends a shorter frequency table. Apply again after it.
  void SetSteps(int newSteps);

  // Bits of the gains and weights fields of the current codes and gains.
  int SideBits() const;

  // Finds the smallest offset (to within SEARCH_RESOLUTION) at which `bits(offset)` (which must
  // Apply it and return the frame's bits) is at most `room`, starting from the last one found
  // (the last frame's, or this frame's at another step size), and leaves the frame applied and
  // last measured at that offset. Its strides aim where the bits per code step measured so far say
  // the room is met (before any are known: `stride` code steps, doubling). Where the frame is
  // still applied as the last search left it, at the last offset found, its bits are not measured
  // again. A rough search (FitPrecision::Rough) stops within ROUGH_SLACK_SHARE of the room or
  // ROUGH_RESOLUTION code steps, on either side of it, and leaves the frame at the offset it
  // measured last, which becomes the last offset found. Returns the number of calls.
  template <typename Bits>
  int Fit(int room, Bits&& bits, float stride = 1.0f, FitPrecision precision = FitPrecision::Fine);

  // Code steps to which the offset search resolves, and the share of the room (1 / this) that it
  // may leave unused when it stops before.
  static constexpr float SEARCH_RESOLUTION = 0.02f;
  static constexpr int SEARCH_SLACK_SHARE = 4096;
  // Levels a frame coded at fewer steps keeps above its largest value, and the first stride of
  // its second search (it saves a few hundred bits, so the offset moves little).
  static constexpr int STEP_HEADROOM = 2;
  static constexpr float REFIT_STRIDE = 0.125f;
  // A first search that only finds the frame's largest value stops within this share of the room
  // (1 / this) or this many code steps; the second one resolves to the figures above.
  static constexpr int ROUGH_SLACK_SHARE = 64;
  static constexpr float ROUGH_RESOLUTION = 0.25f;

 private:
  // One frame's analysis: what the coding of the frame reads.
  struct FrameAnalysis {
    std::vector<float> sampleStore;  // [channel][TOTAL]
    std::vector<float*> samplePtrs;
    std::vector<float> xStore;       // [channel][TOTAL + HLSIZE]: transforms, then raw coefficients
    std::vector<float> base;         // [slot]: code of the band's step at offset 0
    std::vector<float> bandPeak;     // [slot]: the band's largest magnitude
    std::vector<int> peakCode;       // [slot]: lowest code that keeps the band's peak within the gain
    std::vector<int> zeroCode;       // [slot]: lowest code at which all the band's values round to zero
    std::vector<int> topBand;        // [channel][set]: the highest band with content (-1: none)
    std::vector<float> shaping;      // [channel][set][SHAPE_ORDER]: the noise-shaping filter
    std::vector<unsigned char> shaped;  // [channel][set]: the set's noise is shaped
    unsigned char switchUsed[STREAM_CHANNELS] = {};
    int location[STREAM_CHANNELS] = {};
    // Per channel, the frame's tonal and whole power of the long blocks' bands from 1 kHz up to
    // the tilt's edge.
    float partialPower[STREAM_CHANNELS] = {};
    float midPower[STREAM_CHANNELS] = {};
  };
  // Scratch of one channel's analysis (largest band count, three short blocks). `work` holds per
  // band first the tonal power of a long block, then the step levels of the set being shaped.
  struct ChannelScratch {
    std::vector<float> mask, peak, energy, work;
    std::vector<float> re, im;     // the transient search's FFT
    std::vector<float> segmentRise;  // the frame's segment rises
  };

  // Calls visit(channel, span, model) for every weight set of the frame coded.
  template <typename Visit>
  void ForEachSet(Visit&& visit) const;
  // The model of a weight set's kind.
  const MaskingModel& ModelOf(WeightSetKind kind) const {
    return kind == WeightSetKind::Long ? longModel : kind == WeightSetKind::Short ? shortModel : tranModel;
  }
  size_t SetIndex(unsigned c, unsigned set) const { return c * (geometry.NBlocks + 1) + set; }
  size_t Slot(unsigned c, unsigned set, int band) const { return SlotOf(SetIndex(c, set), band); }
  size_t SlotOf(size_t setIndex, int band) const {
    return setIndex * static_cast<size_t>(setup.MaxBandCount()) + static_cast<size_t>(band);
  }
  // Where channel c's segment powers begin in segmentHigh and segmentFull.
  size_t SegmentRow(unsigned c) const { return c * (quietSegments + geometry.TOTAL / geometry.HSSIZE); }
  // Sets channel c's switch flag and location in `f` from the rises of its segments' power.
  void LocateTransient(FrameAnalysis& f, unsigned c);
  // Exposure of an attack at segment k of a frame of `segments` segments, from the segment powers
  // `highs` and `fulls` (quietSegments of the frame before first).
  float AttackExposure(const float* highs, const float* fulls, unsigned k, unsigned segments) const;
  // Takes channel c's DC offset out of its TOTAL samples `in` (DC_CUTOFF_HZ's high-pass).
  void RemoveDc(float* in, unsigned c);
  // Transforms channel c's blocks of `f` and computes every band's threshold.
  void AnalyseBlocks(FrameAnalysis& f, unsigned c);
  // Gives each band of `codes` (a set of channel c) that sends only zeros the code within reach of
  // its neighbours whose differences cost the fewest bits: what it sends stays the same.
  void CheapenSilentBands(unsigned c, const WeightSetSpan& set, int* codes, int count) const;
  // Sends as one level each value of a channel's normalised lines `x` that would round to zero
  // between two that do not, where it comes to SANDWICH_LOW of a level.
  void KeepSandwichedLines(float* x) const;
  // Raises to one level, largest first, values of a band (`in` its lines, `out` their normalised,
  // shrunk values, `inverse` the normalisation) that round to zero from FILL_FROM of a level up,
  // until the power its levels send comes to FILL_SHARE of the band's own.
  void FillBand(const float* in, float* out, float inverse, unsigned width);
  // The shaping filter a[0 .. SHAPE_ORDER - 1] of channel c's long block whose new samples begin
  // at `sample`, from the segments' powers; false where its envelope is too even to shape.
  bool DesignShaping(unsigned c, unsigned sample, float* a) const;
  // A shaped long set Apply has weighted: its index (SetIndex), codes, lines and normalised lines.
  struct PendingShape {
    size_t index;
    const int* codes;
    const float* in;
    float* out;
  };
  // Quantises each set's lines from shapeFromLine up to its top band into its normalised lines,
  // with the error fed back through the set's shaping filter.
  void ShapeNoise(const PendingShape* sets, int count) const;
  // Slot s's peakCode and zeroCode in `f`, from its peak at step size `atSteps`.
  void SetPeakCodes(FrameAnalysis& f, size_t s, int atSteps) const;
  // Bits of the difference d (WEIGHT_STEP_DOWN .. WEIGHT_STEP_UP) between neighbouring codes.
  int DiffBits(int d) const;

  FrameGeometry geometry;
  CodingSetup& setup;
  bool longestBlocks;            // the stream's long blocks are of LONGEST_LSIZE samples
  bool shapeBlocks;              // the stream's long blocks are long enough to shape their noise
  int steps;                     // the coded frame's
  float rounding;                // rounding offset of this rate's frames
  float zeroShare;               // share of a level below which a value surely rounds to zero
  int gain;                      // every set's gain: the one of shortest code
  MaskingModel longModel, tranModel, shortModel;
  std::vector<FrameAnalysis> frames;
  FrameAnalysis* coded = nullptr;  // the frame Use chose
  std::vector<float> normalisedStore;  // [channel][TOTAL]
  std::vector<float*> normalisedPtrs;
  // Carried from frame to frame per channel by its analysis.
  VariableMDCT mdct[STREAM_CHANNELS];
  std::vector<float> prevMask;   // [channel][long band]: the block before's own masked power (long or stop)
  std::vector<unsigned char> prevValid;  // [channel]: prevMask belongs to the block before
  std::vector<float> smoothMask;  // [channel][long band]: the post-masking smoother's state
  std::vector<unsigned char> linePeaks;  // [channel][line]: tonal lines of the last long block
  // Per channel the segments' high-band and whole powers, the frame before's last quietSegments
  // (at least one: the segment each rise is measured from) first.
  std::vector<float> segmentHigh, segmentFull;
  // The DC high-pass's last input and output.
  float dcInput[STREAM_CHANNELS] = {}, dcOutput[STREAM_CHANNELS] = {};
  ChannelScratch scratch[STREAM_CHANNELS];
  // FillBand's values that may be raised, magnitude in levels and line: room for a band's.
  std::vector<std::pair<float, unsigned>> fillCandidates;
  // The sets Apply shapes once it has weighted all of them: room for every set of a frame.
  std::vector<PendingShape> pendingShapes;
  // Fixed per stream.
  std::vector<float> postKeep;    // [long band]: the smoother's share of its last value per block
  std::vector<int> tranBandOfLong;  // [long band]: the transition band nearest in frequency
  std::vector<int> longBandOfTran;  // [transition band]: the long band at or below its centre
  float tranToLong = 1.0f;        // a transition block's noise power per line in a long block's scale
  float dcPole = 1.0f;            // the DC high-pass's pole
  // The code of the largest step size at the gain: every frame is analysed at that step size
  // (SetSteps then moves the coded frame's codes).
  float codeOfLargestStep = 0.0f;
  std::vector<float> window;      // the transient search's
  // The segments an attack's and the quiet's powers span.
  unsigned attackSegments = 1, quietSegments = 1;
  // The rise from which a channel switches, for this stream's long blocks.
  float switchRise = 0.0f;
  float lastOffset = 0.0f;
  // The offset at which the coded frame was last applied by a search, and its bits (-1: none since
  // the frame or its step size changed).
  float measuredOffset = 0.0f;
  int measuredBits = -1;
  // Bits per code step of offset between the last two offsets measured far enough apart (0: none
  // yet), carried from frame to frame.
  float bitsPerCodeStep = 0.0f;
  // Whether the frame before the coded one was coded coarsely: the coded frame then keeps each
  // set's top band and fills its bands.
  bool afterCoarseFrame = false;
  // The code steps by which the coded frame's bands above the tilt's edge are coded coarser.
  float tiltCodes = 0.0f;
  // Band indices of those edges, fixed per model: the long model's bands whose tonal share is
  // measured, and per model the first band that the tilt makes coarser.
  int shareFrom = 0, shareTo = 0;
  // The first long band and line whose noise is shaped in time.
  int shapeFromBand = 0;
  unsigned shapeFromLine = 0;
  static constexpr int SHAPE_ORDER = 8;
  std::vector<float> segmentCosines;  // [lag][segment of a long window]
  int tiltFromLong = 0, tiltFromTran = 0, tiltFromShort = 0;
  int TiltFrom(const MaskingModel& model) const {
    return &model == &longModel ? tiltFromLong : &model == &shortModel ? tiltFromShort : tiltFromTran;
  }
  // Per model, the power per line from which a band's peak counts as the source's content (the
  // top band kept after a coarse frame), fixed per stream.
  float contentFloorLong = 0.0f, contentFloorTran = 0.0f, contentFloorShort = 0.0f;
  float ContentFloor(const MaskingModel& model) const {
    return &model == &longModel ? contentFloorLong : &model == &shortModel ? contentFloorShort : contentFloorTran;
  }
  std::vector<HuffCode> weightCodes;
  std::vector<HuffCode> gainCodes;
};

template <typename Bits>
int QualityChoices::Fit(int room, Bits&& bits, float stride, FitPrecision precision) {
  const bool rough = precision == FitPrecision::Rough;
  const float resolution = rough ? ROUGH_RESOLUTION : SEARCH_RESOLUTION;
  constexpr float LOWEST = -200.0f, HIGHEST = 400.0f;
  // A stride aims this much beyond where the room would be met (by the bits per code step last
  // measured), so that it brackets it; the longest it takes.
  constexpr float AIM_BEYOND = 1.25f, LONGEST_AIM = 16.0f;
  // Bits a frame may leave unused before the search stops early.
  const int slack = room / (rough ? ROUGH_SLACK_SHARE : SEARCH_SLACK_SHARE);
  int calls = 0;
  auto measure = [&](float offset) {
    ++calls;
    measuredOffset = offset;
    measuredBits = bits(offset);
    return measuredBits;
  };
  // The stride towards the room from a measurement of `b` bits: aimed where the bits per code step
  // say; without them, `fallback`.
  auto aim = [&](int b, float fallback) {
    if (bitsPerCodeStep <= 0.0f) return fallback;
    const float steps = AIM_BEYOND * static_cast<float>(std::abs(b - room)) / bitsPerCodeStep;
    return std::min(std::max(steps, resolution), LONGEST_AIM);
  };
  // The bits per code step between two offsets measured, where they are far enough apart to say.
  auto learn = [&](float lower, int lowerBits, float upper, int upperBits) {
    if (upper - lower >= resolution && lowerBits > upperBits) {
      bitsPerCodeStep = static_cast<float>(lowerBits - upperBits) / (upper - lower);
    }
  };
  // Bracket from the last offset found: `fit` fits, `tight` does not.
  float fit = lastOffset, tight = lastOffset;
  int fitBits = 0, tightBits = 0;
  const int first = measuredBits >= 0 && measuredOffset == lastOffset ? measuredBits : measure(lastOffset);
  stride = aim(first, stride);
  // Close enough already (a rough search also from above the room).
  if (first <= room ? room - first <= slack : rough && first - room <= slack) return calls;
  if (first <= room) {
    fitBits = first;
    for (;;) {
      tight = std::max(fit - stride, LOWEST);
      if (tight >= fit) {  // even the lowest offset fits
        lastOffset = fit;
        if (measuredOffset != fit) measure(fit);
        return calls;
      }
      tightBits = measure(tight);
      learn(tight, tightBits, fit, fitBits);
      if (tightBits > room) break;
      stride = aim(tightBits, 2.0f * stride);
      fit = tight;
      fitBits = tightBits;
    }
  } else {
    tightBits = first;
    for (;;) {
      fit = std::min(tight + stride, HIGHEST);
      fitBits = measure(fit);
      learn(tight, tightBits, fit, fitBits);
      if (fitBits <= room || fit >= HIGHEST) break;
      stride = aim(fitBits, 2.0f * stride);
      tight = fit;
      tightBits = fitBits;
    }
  }
  // Narrow the bracket by interpolating the bits between its ends (they fall about linearly with
  // the offset), kept off the ends so that it also shrinks where they do not.
  while (fit - tight > resolution && room - fitBits > slack && fitBits <= room) {
    float share = static_cast<float>(tightBits - room) / static_cast<float>(std::max(tightBits - fitBits, 1));
    share = std::min(std::max(share, 0.2f), 0.8f);
    const float middle = tight + share * (fit - tight);
    const int middleBits = measure(middle);
    if (middleBits <= room) {
      fit = middle;
      fitBits = middleBits;
    } else {
      tight = middle;
      tightBits = middleBits;
    }
  }
  if (rough) {
    lastOffset = measuredOffset;
    return calls;
  }
  if (measuredOffset != fit) measure(fit);
  lastOffset = fit;
  return calls;
}

}  // namespace ostrel
