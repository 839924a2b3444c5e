#include "library/QualityChoices.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "coding/FrameLayout.h"
#include "psycho/QualityTuning.h"
#include "platform/Fatal.h"  // OSTREL_DASSERT
#include "platform/FloatKernels.h"
#include "platform/StreamConstants.h"
#include "psycho/Psycho.h"  // WEIGHT_STEP_DOWN, WEIGHT_STEP_UP
#include "psycho/PsychoTools.h"
#include "transform/fft.h"
#include "transform/windows.h"

namespace ostrel {

namespace {

constexpr double PI = 3.14159265358979;

// A long block's masked power (and a switched pair's start block's) is at most this many times
// the block before's own: noise spread over a block that ends in an attack is heard before the
// attack (pre-echo). 3 held the noise of the blocks around attacks lower than the meter hears it
// once post-masking carried a hit's mask into the block after it (2.5: -0.004 to -0.010).
const float PRE_ECHO_RISE = QUALITY_TUNABLE(PRE, 4.0f);
// After a loud block the masked power decays as the ear's post-masking does: each long band's
// mask follows the block's own through a first-order smoother whose time constant falls from
// POST_MASKING_TAU_100 seconds at 100 Hz to POST_MASKING_TAU_MIN at high frequencies (a band at
// f Hz: MIN + (100 / f) (TAU_100 - MIN)), and a block's mask is at least the smoothed one. Low
// bands stay masked longer than the one fixed fall of before (to 0.05 per long block) gave them.
// The time constants are the meter's own (both longer and shorter ones graded lower) where long
// blocks are 1024 samples or shorter. The 2048-sample long blocks of 96 to 160 kb/s sample the
// decay only every 23 ms, past most of a high band's time constant: there they are
// LONG_BLOCK_POST_MASKING times the meter's, which lets a hit's tail carry its mask into the next
// block (hand drums +0.12 and typing +0.09 at 160 kb/s; 1.4 and longer cost typing at 96).
const float POST_MASKING_SCALE = QUALITY_TUNABLE(POSTTAU, 1.0f);
const float LONG_BLOCK_POST_MASKING = QUALITY_TUNABLE(POSTTAULONG, 1.3f);
constexpr double POST_MASKING_TAU_100 = 0.030;
constexpr double POST_MASKING_TAU_MIN = 0.008;
// Power rise from one segment to the next (in the high band, or over all bands) beyond which a
// channel switches to short blocks. With long blocks shorter than LONGEST_LSIZE (from 192 kb/s
// up) only a rise beyond SHORT_SWITCH_RISE does: their long blocks spread pre-echo over 23 ms or
// less, and their short blocks (256 samples or fewer) resolve the lines so coarsely that a switch
// for every rise of 10 cost more than the pre-echo it spared (a loud break beat -0.96 against
// -0.56 at 192 kb/s; the check set 0.031, 0.022 and 0.013 lower at 192, 256 and 392 kb/s).
const float SWITCH_RISE = QUALITY_TUNABLE(RISE, 10.0f);
const float SHORT_SWITCH_RISE = QUALITY_TUNABLE(SHORTRISE, 40.0f);
const float FULL_RISE = QUALITY_TUNABLE(FULLRISE, 1.0f);
// Share of a segment's power below which its high band's rise does not count.
const float HIGH_BAND_SHARE = QUALITY_TUNABLE(HSHARE, 0.001f);
// Of the attacks that rise beyond the switching rise, the pair goes to the one whose pre-echo long blocks
// would make most audible: its rise times its exposure, the mean power of its first ATTACK_SECONDS
// over that of the quietest segment of the QUIET_SECONDS before it (in the high band or over all
// bands, whichever is larger). By its rise alone the pair may go to a rise out of a long quiet
// and leave a louder attack after a short gap to long blocks, whose noise then fills the gap.
// Shorter blocks (from 192 kb/s up) spread pre-echo over 23 ms or less, and there the rise alone
// places the pair as well.
constexpr double ATTACK_SECONDS = 0.0116;  // two segments at 44100 Hz with 2048-sample blocks
constexpr double QUIET_SECONDS = 0.0232;
// The longest long blocks (2048 samples, 96 to 160 kb/s): the pair's place weighs exposure, the
// switching rise is SWITCH_RISE and post-masking lasts LONG_BLOCK_POST_MASKING times longer.
constexpr unsigned LONGEST_LSIZE = 2048;
// Rounding offset: a value's magnitude in levels plus this, truncated, is its level; so it rounds
// up to the next level from 1 - offset of a level on (0.5: plain rounding). Below FINER_ROUNDING_BITS
// bits per coefficient a bit saved weighs most, and COARSE_ROUNDING holds (0.4 graded 0.012 and
// 0.004 lower at 96 and 112 kb/s once the fill below sends the largest of the values it zeroes);
// from there on, with long blocks of at least FINER_ROUNDING_LSIZE samples, FINER_ROUNDING keeps a
// few more small values. The 512-sample blocks of the highest rates take ROUNDING: every other
// offset cost their dense and mono material.
const float COARSE_ROUNDING = QUALITY_TUNABLE(ROUNDLOW, 0.38f);
const float ROUNDING = QUALITY_TUNABLE(ROUND, 0.4f);
const float FINER_ROUNDING = QUALITY_TUNABLE(ROUNDFINE, 0.425f);
constexpr float FINER_ROUNDING_BITS = 1.4f;
constexpr unsigned FINER_ROUNDING_LSIZE = 1024;
// A band's step follows the mask's level relative to the block's mean level only with this power
// (1: equal noise-to-mask ratios). At equal ratios the noise under a loud masker is louder than
// under a weak one (loudness grows as about the 0.23 power of intensity): so the noise stays
// further below the mask of the loud bands and comes closer to that of the weak ones.
const float MASK_SHAPE_POWER = QUALITY_TUNABLE(SHAPE, 0.85f);
// The error of tonal music is heard (and graded) as a change of its harmonic structure below
// about 12 kHz more than as noise above: in a frame whose long blocks hold mostly tonal power
// from TONAL_SHARE_FROM_HZ up to HIGH_TILT_HZ, the bands from the first band edge at or above
// HIGH_TILT_HZ (11.2 kHz in a long block) are coded up to HIGH_TILT_DB coarser, in proportion to
// the tonal share, and their bits go to the partials.
const float HIGH_TILT_DB = QUALITY_TUNABLE(TILTDB, 8.0f);
const float HIGH_TILT_HZ = QUALITY_TUNABLE(TILTHZ, 10000.0f);
constexpr float TONAL_SHARE_FROM_HZ = 1000.0f;
// Cut-off of the one-pole high-pass that takes a channel's DC offset out of the samples the
// blocks are coded from (0: none); the transient search sees them as read, so that the slow tail
// the filter leaves after a bass hit does not move the pair. Nothing that low is heard, but an
// offset shares the lowest band (up to 108 Hz in a long block) with the bass: the band's 32
// levels then span the offset, the bass falls to a few of them, and the offset's masking spreads
// over the bands above. Faint noise with an offset of a tenth of full scale graded -1.95 at
// 128 kb/s without the filter and -0.93 with it (-0.89 without the offset). 0.5 Hz is low enough
// to leave what lies above a few hertz as it is (at 1 Hz a 2 Hz square wave graded 0.2 lower).
const float DC_CUTOFF_HZ = QUALITY_TUNABLE(DCHZ, 0.5f);
// A coarsely coded frame keeps the top of the source's band instead of letting it fall to zero:
// in each weight set the highest band whose peak lies KEEP_TOP_FLOOR_DB above the power per line
// of the 16-bit rounding noise is coded KEEP_TOP_FINER code steps finer than the code from which
// all its values round to zero, so that its peak line is sent at about its level. A decode whose
// top falls silent block after block sounds dull, and the meter grades its lost bandwidth hard
// where the grade is low (drums-hand -2.62 -> -2.08 at 96 kb/s). Near transparency the same line
// costs the grade a little (clean guitar, piano and speech; even the source's exact top band added
// to their decodes graded lower), so it is kept only after a frame whose offset, the noise's
// distance from the masks, reached KEEP_TOP_FROM_OFFSET code steps: low rates and dense material.
constexpr double KEEP_TOP_FLOOR_DB = 20.0;
const float KEEP_TOP_FROM_OFFSET = QUALITY_TUNABLE(KEEPFROM, -4.0f);
constexpr int KEEP_TOP_FINER = 2;
// A zero between two values that are sent costs a zero-run symbol of its own, about what a value
// of one level costs there: so a line from SANDWICH_LOW of a level up between two lines that are
// sent is sent as one level too. It keeps the line's power (the meter compares the spectra's
// magnitudes, and a hole left in a run of values is heard as a dip of the band's level) for about
// the same bits.
const float SANDWICH_LOW = QUALITY_TUNABLE(SANDWICH, 0.45f);
// After a coarsely coded frame (as for the top band above), in a channel whose frame has no
// switched pair, a band whose levels would send less than FILL_SHARE of its power has its largest
// values that round to zero, from FILL_FROM of a level up, sent as one level until they send that
// much. The meter's noise is the difference of the spectra's magnitudes, and a band of dense
// material coded coarsely loses most of its small lines: its level dips by several dB where the
// ear hears a duller, thinner band. The bits come from every other band's steps, so it pays where
// the frame is coarse anyway; around attacks left in long blocks the raised lines spread pre-echo
// over the block (hand drums -0.19 at 128 kb/s when frames with a switched pair filled too).
const float FILL_SHARE = QUALITY_TUNABLE(FILL, 0.85f);
const float FILL_FROM = QUALITY_TUNABLE(FILLFROM, 0.4f);

// Noise shaped in time within a long block. A long block's noise spreads over its whole window
// (46 ms with 2048-sample blocks), so a hit the switched pair did not take is preceded by it. The
// lines from SHAPE_FROM_HZ up are quantised in order of frequency, each line's error fed back
// to the lines after it through a filter: a line's error adds a cosine of frequency
// theta(n) = pi (n + HLSIZE / 2 + 1 / 2) / HLSIZE over the window's samples n, so the noise's
// power at n follows the filter's response at theta(n), the same at n and at its mirror image
// in its half of the window (the transform's time aliasing). Per block, the wanted envelope comes
// from the high-band powers of the window's 8 segments (the transient search's): each held by
// post-masking (at least SHAPE_DECAY of the segment before), at each time the lower of its own
// and its mirror's, floored at SHAPE_FLOOR of the largest and taken to the power SHAPE_POWER
// (the full envelope shaped too far: the typing clip -0.09 at 96 kb/s with 0.7). An order-8
// all-pole filter is fitted to it (Levinson's recursion on its cosine transform) and its poles
// drawn in by SHAPE_GAMMA per tap. A block whose envelope's mean is below SHAPE_GAIN times its
// geometric mean stays as it is. A shaped block keeps its noise out of the quiet before a hit,
// so its mask may rise to PRE_ECHO_RISE_SHAPED times the block before's instead of
// PRE_ECHO_RISE, and the bits go elsewhere (without a limit: typing -0.43 at 128 kb/s). The
// full band's powers instead of the high band's: -0.02 at 96 kb/s.
const float SHAPE_GAIN = QUALITY_TUNABLE(SHAPEGAIN, 1.2f);
const float SHAPE_GAMMA = QUALITY_TUNABLE(SHAPEGAMMA, 0.8f);
const float SHAPE_FROM_HZ = QUALITY_TUNABLE(SHAPEFROM, 1500.0f);
const float PRE_ECHO_RISE_SHAPED = QUALITY_TUNABLE(PRESHAPED, 16.0f);
const float SHAPE_DECAY = QUALITY_TUNABLE(SHAPEDECAY, 0.3f);
const float SHAPE_POWER = QUALITY_TUNABLE(SHAPEPOWER, 0.5f);
const float SHAPE_FLOOR = QUALITY_TUNABLE(SHAPEFLOOR, 0.001f);
// Blocks are shaped where long blocks have at least SHAPE_MIN_LSIZE samples (up to 192 kb/s). The
// 512-sample blocks of 256 and 392 kb/s spread their noise over 12 ms at most, and there shaping
// cost the typing clip 0.20 at 256 kb/s.
constexpr unsigned SHAPE_MIN_LSIZE = 1024;
// A long block's window in the transient search's segments (a quarter of a block's new samples).
constexpr unsigned WINDOW_SEGMENTS = 8;

// Bands without a line keep a code that costs nothing: their neighbour's.
constexpr int FREE_BAND = INT_MIN;
// Margin below 1 - rounding offset (the share of a level from which a value rounds up) under which
// a value surely rounds to zero, for the weights' table.
constexpr double ZERO_MARGIN = 0.02;

// The rounding offset of the frames of `geometry`.
float RoundingFor(const FrameGeometry& geometry) {
  const float bitsPerCoefficient =
      static_cast<float>(geometry.FrameBits) / static_cast<float>(STREAM_CHANNELS * geometry.TOTAL);
  if (bitsPerCoefficient < FINER_ROUNDING_BITS) return COARSE_ROUNDING;
  return geometry.LSIZE >= FINER_ROUNDING_LSIZE ? FINER_ROUNDING : ROUNDING;
}

// Summed squared coefficients of one block of `type` (window type) of a full-scale sine, averaged
// over several blocks of an MDCT of (LSIZE, SSIZE).
float FullScalePower(unsigned LSIZE, unsigned SSIZE, int type) {
  VariableMDCT mdct(static_cast<int>(LSIZE), static_cast<int>(SSIZE));
  const unsigned HL = LSIZE / 2, HS = SSIZE / 2;
  std::vector<float> x(2 * HL + 2 * HS, 0.0f);
  const int sequence[] = {0, 0, 0, 1, 2, 2, 2, 3, 0, 1, 2, 2, 2, 3, 0, 0};
  double phase = 0.0, sum = 0.0;
  int counted = 0, index = 0;
  const double step = 2.0 * PI * 997.0 / STREAM_SAMPLE_RATE;
  for (int t : sequence) {
    const unsigned left = (t == 0 || t == 1) ? HL : HS;
    const unsigned fresh = (t == 0 || t == 3) ? HL : HS;
    for (unsigned i = 0; i < fresh; ++i, phase += step) x[left + i] = static_cast<float>(32767.0 * std::sin(phase));
    mdct.Transform(x.data(), t);
    const unsigned lines = (left + fresh) / 2;
    const bool same = t == type || (type == 1 && t == 3);
    if (same && index >= 2) {
      double s = 0.0;
      for (unsigned i = 0; i < lines; ++i) s += static_cast<double>(x[i]) * x[i];
      sum += s;
      ++counted;
    }
    ++index;
  }
  return static_cast<float>(sum / counted);
}

// The first band of `model` whose lines lie at or above `hz` (BandCount() if none).
int BandFrom(const MaskingModel& model, float hz) {
  const int* bands = model.Bands();
  const float hzPerLine = 0.5f * static_cast<float>(STREAM_SAMPLE_RATE) / static_cast<float>(model.Lines());
  int line = 0;
  for (int k = 0; k < model.BandCount(); ++k) {
    if (static_cast<float>(line) * hzPerLine >= hz) return k;
    line += bands[k];
  }
  return model.BandCount();
}

// The band of `model` whose centre lies at or below `hz` nearest to it (band 0 below the first).
int BandAtOrBelow(const MaskingModel& model, float hz) {
  int b = 0;
  while (b + 1 < model.BandCount() && model.CentreHz(b + 1) <= hz) ++b;
  return b;
}

// The band of `model` whose centre lies nearest to `hz` (ties: the lower).
int NearestBand(const MaskingModel& model, float hz) {
  const int b = BandAtOrBelow(model, hz);
  return b + 1 < model.BandCount() && hz - model.CentreHz(b) > model.CentreHz(b + 1) - hz ? b + 1 : b;
}

// Levinson's recursion: of a sequence y whose autocorrelation is r[0 .. order], the predictor
// a[0 .. order - 1] under which y[k] + sum over j of a[j] y[k - 1 - j] has the least power; false
// (and a left as zeros) where r[0] is not positive or the recursion stops being stable.
bool Levinson(const double* r, int order, float* a) {
  OSTREL_DASSERT(order <= 16);
  for (int j = 0; j < order; ++j) a[j] = 0.0f;
  if (!(r[0] > 0.0)) return false;
  double c[17] = {}, next[17] = {};
  double error = r[0];
  for (int i = 1; i <= order; ++i) {
    double acc = r[i];
    for (int j = 1; j < i; ++j) acc += c[j] * r[i - j];
    const double k = -acc / error;
    for (int j = 1; j < i; ++j) next[j] = c[j] + k * c[i - j];
    next[i] = k;
    for (int j = 1; j <= i; ++j) c[j] = next[j];
    error *= 1.0 - k * k;
    if (!(error > 0.0)) return false;
  }
  for (int j = 0; j < order; ++j) a[j] = static_cast<float>(c[j + 1]);
  return true;
}

// The gain of shortest code in `codes` (ties: the larger gain).
int CheapestGain(const std::vector<HuffCode>& codes) {
  int best = GAIN_MAX;
  for (int g = GAIN_MAX; g >= GAIN_MIN; --g) {
    if (codes[static_cast<size_t>(g - GAIN_OFFSET)].length < codes[static_cast<size_t>(best - GAIN_OFFSET)].length) best = g;
  }
  return best;
}

}  // namespace

QualityChoices::QualityChoices(const FrameGeometry& frameGeometry, CodingSetup& codingSetup, int frameCount)
    : geometry(frameGeometry),
      setup(codingSetup),
      longestBlocks(frameGeometry.LSIZE >= LONGEST_LSIZE),
      shapeBlocks(frameGeometry.LSIZE >= SHAPE_MIN_LSIZE),
      steps(STEP_SIZE_MAX),
      rounding(RoundingFor(frameGeometry)),
      zeroShare(static_cast<float>(1.0 - static_cast<double>(rounding) - ZERO_MARGIN)),
      gain(GAIN_MAX),
      longModel(static_cast<int>(frameGeometry.LSIZE), FullScalePower(frameGeometry.LSIZE, frameGeometry.SSIZE, 0)),
      tranModel(static_cast<int>(frameGeometry.TRANSIZE), FullScalePower(frameGeometry.LSIZE, frameGeometry.SSIZE, 1)),
      shortModel(static_cast<int>(frameGeometry.SSIZE), FullScalePower(frameGeometry.LSIZE, frameGeometry.SSIZE, 2)),
      weightCodes(GetHuffEnc00()),
      gainCodes(GetGainHuffEnc(static_cast<int>(frameGeometry.LSIZE))) {
  OSTREL_DASSERT(longModel.BandCount() == setup.LongBandCount && tranModel.BandCount() == setup.TranBandCount &&
                 shortModel.BandCount() == setup.ShortBandCount);
  gain = CheapestGain(gainCodes);
  shareFrom = BandFrom(longModel, TONAL_SHARE_FROM_HZ);
  shareTo = BandFrom(longModel, HIGH_TILT_HZ);
  tiltFromLong = shareTo;
  shapeFromBand = BandFrom(longModel, SHAPE_FROM_HZ);
  for (int k = 0; k < shapeFromBand; ++k) shapeFromLine += static_cast<unsigned>(longModel.Bands()[k]);
  // Per lag j and window segment k, the sum over the segment's samples n of cos(j theta(n)), where
  // theta(n) = pi (n + HLSIZE / 2 + 1 / 2) / HLSIZE is the frequency, over the lines, at which a
  // long block's lines carry its window's sample n.
  segmentCosines.assign((SHAPE_ORDER + 1) * WINDOW_SEGMENTS, 0.0f);
  for (int j = 0; j <= SHAPE_ORDER; ++j) {
    for (unsigned n = 0; n < 2 * geometry.HLSIZE; ++n) {
      const double theta = PI * (n + geometry.HLSIZE / 2.0 + 0.5) / geometry.HLSIZE;
      segmentCosines[j * WINDOW_SEGMENTS + n / geometry.HSSIZE] += static_cast<float>(std::cos(j * theta));
    }
  }
  tiltFromTran = BandFrom(tranModel, HIGH_TILT_HZ);
  tiltFromShort = BandFrom(shortModel, HIGH_TILT_HZ);
  const size_t total = geometry.TOTAL;
  const size_t slots = STREAM_CHANNELS * (geometry.NBlocks + 1) * static_cast<size_t>(setup.MaxBandCount());
  frames.resize(static_cast<size_t>(std::max(frameCount, 1)));
  for (FrameAnalysis& f : frames) {
    f.sampleStore.assign(STREAM_CHANNELS * total, 0.0f);
    f.xStore.assign(STREAM_CHANNELS * (total + geometry.HLSIZE), 0.0f);
    for (unsigned c = 0; c < STREAM_CHANNELS; ++c) f.samplePtrs.push_back(f.sampleStore.data() + c * total);
    f.base.assign(slots, 0.0f);
    f.peakCode.assign(slots, FREE_BAND);
    f.bandPeak.assign(slots, 0.0f);
    f.zeroCode.assign(slots, FREE_BAND);
    f.topBand.assign(STREAM_CHANNELS * (geometry.NBlocks + 1), -1);
    f.shaping.assign(STREAM_CHANNELS * (geometry.NBlocks + 1) * SHAPE_ORDER, 0.0f);
    f.shaped.assign(STREAM_CHANNELS * (geometry.NBlocks + 1), 0);
  }
  coded = &frames[0];
  normalisedStore.assign(STREAM_CHANNELS * total, 0.0f);
  for (unsigned c = 0; c < STREAM_CHANNELS; ++c) {
    normalisedPtrs.push_back(normalisedStore.data() + c * total);
    mdct[c] = VariableMDCT(static_cast<int>(geometry.LSIZE), static_cast<int>(geometry.SSIZE));
  }
  prevMask.assign(STREAM_CHANNELS * static_cast<size_t>(setup.LongBandCount), 0.0f);
  prevValid.assign(STREAM_CHANNELS, 0);
  smoothMask.assign(STREAM_CHANNELS * static_cast<size_t>(setup.LongBandCount), 0.0f);
  const double hop = static_cast<double>(geometry.HLSIZE) / STREAM_SAMPLE_RATE;
  const double postScale = longestBlocks ? LONG_BLOCK_POST_MASKING : POST_MASKING_SCALE;
  for (int k = 0; k < setup.LongBandCount; ++k) {
    const double hz = std::max(100.0, static_cast<double>(longModel.CentreHz(k)));
    const double tau =
        postScale * (POST_MASKING_TAU_MIN + 100.0 / hz * (POST_MASKING_TAU_100 - POST_MASKING_TAU_MIN));
    postKeep.push_back(static_cast<float>(std::exp(-hop / tau)));
    tranBandOfLong.push_back(NearestBand(tranModel, longModel.CentreHz(k)));
  }
  for (int t = 0; t < tranModel.BandCount(); ++t) longBandOfTran.push_back(BandAtOrBelow(longModel, tranModel.CentreHz(t)));
  // Noise power per line grows with the transform's length: a transition block's mask in a long
  // block's scale (the full-scale powers grow as the length squared, the line counts as the length).
  tranToLong = longModel.FullScale() / tranModel.FullScale() * static_cast<float>(tranModel.Lines()) /
               static_cast<float>(longModel.Lines());
  linePeaks.assign(STREAM_CHANNELS * static_cast<size_t>(geometry.HLSIZE), 0);
  fillCandidates.resize(geometry.HLSIZE);
  pendingShapes.resize(STREAM_CHANNELS * (geometry.NBlocks + 1));
  const size_t row = static_cast<size_t>(setup.MaxBandCount());
  window.assign(geometry.HSSIZE, 0.0f);
  Hamming(window.data(), static_cast<int>(geometry.HSSIZE));
  const unsigned segments = geometry.TOTAL / geometry.HSSIZE;
  for (ChannelScratch& w : scratch) {
    w.mask.assign(3 * row, 0.0f);
    w.peak.assign(3 * row, 0.0f);
    w.energy.assign(3 * row, 0.0f);
    w.work.assign(row, 0.0f);
    w.re.assign(geometry.HSSIZE, 0.0f);
    w.im.assign(geometry.HSSIZE, 0.0f);
    w.segmentRise.assign(segments, 0.0f);
  }
  auto segmentsOf = [&](double seconds) {
    return std::max(1u, static_cast<unsigned>(std::lround(seconds * STREAM_SAMPLE_RATE / geometry.HSSIZE)));
  };
  switchRise = longestBlocks ? SWITCH_RISE : SHORT_SWITCH_RISE;
  attackSegments = segmentsOf(ATTACK_SECONDS);
  quietSegments = segmentsOf(QUIET_SECONDS);
  // A shaped block's window reaches half a window back into the segments kept from the frame before.
  OSTREL_DASSERT(!shapeBlocks || quietSegments >= WINDOW_SEGMENTS / 2);
  segmentHigh.assign(STREAM_CHANNELS * (quietSegments + segments), 0.0f);
  segmentFull.assign(STREAM_CHANNELS * (quietSegments + segments), 0.0f);
  dcPole = static_cast<float>(1.0 - 2.0 * PI * DC_CUTOFF_HZ / STREAM_SAMPLE_RATE);
  codeOfLargestStep = 15.0f * std::log10(static_cast<float>(STEP_SIZE_MAX) / static_cast<float>(gain));
  // The power per line of the 16-bit rounding noise (a variance of 1/12 against a full-scale
  // sine's 32767^2 / 2), KEEP_TOP_FLOOR_DB up: what lies above it is the source's band.
  auto floorOf = [](const MaskingModel& model) {
    return static_cast<float>(std::pow(10.0, KEEP_TOP_FLOOR_DB / 10.0) / (6.0 * 32767.0 * 32767.0)) *
           model.FullScale() / static_cast<float>(model.Lines());
  };
  contentFloorLong = floorOf(longModel);
  contentFloorTran = floorOf(tranModel);
  contentFloorShort = floorOf(shortModel);
}

template <typename Visit>
void QualityChoices::ForEachSet(Visit&& visit) const {
  for (unsigned c = 0; c < STREAM_CHANNELS; ++c) {
    const bool switched = setup.SwitchUsed()[c] != 0;
    ForEachWeightSet(geometry, geometry.NBlocks, switched, setup.Location()[c],
                     [&](const WeightSetSpan& set) { visit(c, set, ModelOf(set.kind)); });
  }
}

void QualityChoices::Analyse() {
  for (unsigned c = 0; c < STREAM_CHANNELS; ++c) AnalyseChannel(0, c);
  Use(0);
}

void QualityChoices::AnalyseChannel(int frame, unsigned c) {
  FrameAnalysis& f = frames[static_cast<size_t>(frame)];
  f.partialPower[c] = f.midPower[c] = 0.0f;
  LocateTransient(f, c);
  if (DC_CUTOFF_HZ > 0.0f) RemoveDc(f.samplePtrs[c], c);
  AnalyseBlocks(f, c);
}

void QualityChoices::RemoveDc(float* in, unsigned c) {
  // y[n] = d[n] + pole y[n - 1] with d[n] = x[n] - x[n - 1], carried from frame to frame; four
  // outputs at a time from the one before them, so that the chain of dependent steps is a
  // quarter as long (one sample after another, it took 7 % of the mode's time).
  const float r = dcPole, r2 = r * r, r3 = r2 * r, r4 = r2 * r2;
  float last = dcInput[c], y = dcOutput[c];
  unsigned i = 0;
  for (; i + 4 <= geometry.TOTAL; i += 4) {
    const float d0 = in[i] - last, d1 = in[i + 1] - in[i], d2 = in[i + 2] - in[i + 1], d3 = in[i + 3] - in[i + 2];
    last = in[i + 3];
    in[i] = d0 + r * y;
    in[i + 1] = d1 + r * d0 + r2 * y;
    in[i + 2] = d2 + r * d1 + r2 * d0 + r3 * y;
    in[i + 3] = d3 + r * d2 + r2 * d1 + r3 * d0 + r4 * y;
    y = in[i + 3];
  }
  for (; i < geometry.TOTAL; ++i) {
    const float x = in[i];
    y = x - last + r * y;
    last = x;
    in[i] = y;
  }
  // After a long silence the output decays towards the subnormal numbers, which are slow.
  dcInput[c] = last;
  dcOutput[c] = std::fabs(y) < 1e-10f ? 0.0f : y;
}

void QualityChoices::Use(int frame) {
  coded = &frames[static_cast<size_t>(frame)];
  steps = STEP_SIZE_MAX;
  for (unsigned c = 0; c < STREAM_CHANNELS; ++c) {
    setup.SwitchUsed()[c] = coded->switchUsed[c];
    setup.Location()[c] = coded->location[c];
  }
  // One tilt for both channels, so that the stereo image keeps its top.
  const float tonalShare = (coded->partialPower[0] + coded->partialPower[1]) /
                           std::max(coded->midPower[0] + coded->midPower[1], 1e-9f);
  tiltCodes = 0.75f * HIGH_TILT_DB * tonalShare;  // dB to code steps (a step is 20/15 dB)
  afterCoarseFrame = lastOffset >= KEEP_TOP_FROM_OFFSET;
  measuredBits = -1;
}

void QualityChoices::LocateTransient(FrameAnalysis& f, unsigned c) {
  const unsigned HS = geometry.HSSIZE;
  const unsigned low = HS / 6, high = HS / 2;
  const unsigned segments = geometry.TOTAL / HS;
  const float* in = f.samplePtrs[c];
  std::vector<float>& re = scratch[c].re;
  std::vector<float>& im = scratch[c].im;
  std::vector<float>& segmentRise = scratch[c].segmentRise;
  // The segments' powers, after the last quietSegments of the frame before.
  float* highs = segmentHigh.data() + SegmentRow(c);
  float* fulls = segmentFull.data() + SegmentRow(c);
  std::copy(highs + segments, highs + segments + quietSegments, highs);
  std::copy(fulls + segments, fulls + segments + quietSegments, fulls);
  bool attack = false;
  for (unsigned k = 0; k < segments; ++k) {
    for (unsigned i = 0; i < HS; ++i) {
      re[i] = in[k * HS + i] * window[i];
      im[i] = 0.0f;
    }
    fftl(re.data(), im.data(), static_cast<int>(HS));
    float highPower = 0.0f, fullPower = 0.0f;
    for (unsigned i = 1; i < high; ++i) {
      const float p = re[i] * re[i] + im[i] * im[i];
      fullPower += p;
      if (i >= low) highPower += p;
    }
    // A rise of the high band counts only where that band holds a noticeable share of the power:
    // far below the rest its level follows the window's side lobes, not the signal.
    const float lastHigh = std::max(highs[quietSegments + k - 1], 1.0f);
    const float lastFull = std::max(fulls[quietSegments + k - 1], 1.0f);
    const float highFloor = HIGH_BAND_SHARE * std::max(fullPower, lastFull);
    const float rise = std::max(highPower / std::max(lastHigh, highFloor), FULL_RISE * fullPower / lastFull);
    highs[quietSegments + k] = highPower;
    fulls[quietSegments + k] = fullPower;
    segmentRise[k] = rise;
    attack = attack || rise > switchRise;
  }
  int bestSegment = -1;
  float best = 0.0f;
  for (unsigned k = 0; attack && k < segments; ++k) {
    if (segmentRise[k] <= switchRise) continue;
    const float exposure = longestBlocks ? AttackExposure(highs, fulls, k, segments) : 1.0f;
    if (segmentRise[k] * exposure > best) {
      best = segmentRise[k] * exposure;
      bestSegment = static_cast<int>(k);
    }
  }
  const int blocksPerFrame = static_cast<int>(geometry.NBlocks);
  const int segmentsPerBlock = static_cast<int>(geometry.LSIZE / geometry.SSIZE);
  f.switchUsed[c] = bestSegment >= 0 ? 1 : 0;
  f.location[c] =
      bestSegment >= 0 ? std::min(std::max((bestSegment - 1) / segmentsPerBlock, 0), blocksPerFrame - 2) : 0;
}

float QualityChoices::AttackExposure(const float* highs, const float* fulls, unsigned k, unsigned segments) const {
  const unsigned end = std::min(segments, k + attackSegments);
  float attackHigh = 0.0f, attackFull = 0.0f;
  for (unsigned j = k; j < end; ++j) {
    attackHigh += highs[quietSegments + j];
    attackFull += fulls[quietSegments + j];
  }
  attackHigh /= static_cast<float>(end - k);
  attackFull /= static_cast<float>(end - k);
  float quietHigh = 1e30f, quietFull = 1e30f;
  for (unsigned j = k; j < k + quietSegments; ++j) {  // the quietSegments before k
    quietHigh = std::min(quietHigh, highs[j]);
    quietFull = std::min(quietFull, fulls[j]);
  }
  // As with the rises: the high band counts only where it holds a noticeable share of the power.
  quietFull = std::max(quietFull, 1.0f);
  quietHigh = std::max(quietHigh, std::max(HIGH_BAND_SHARE * attackFull, 1.0f));
  return std::max(attackHigh / quietHigh, attackFull / quietFull);
}

void QualityChoices::AnalyseBlocks(FrameAnalysis& f, unsigned c) {
  const unsigned HLSIZE = geometry.HLSIZE, HSSIZE = geometry.HSSIZE;
  float* X = f.xStore.data() + c * (geometry.TOTAL + HLSIZE);
  const float* in = f.samplePtrs[c];
  float* previous = prevMask.data() + c * static_cast<size_t>(setup.LongBandCount);
  std::vector<float>& mask = scratch[c].mask;
  std::vector<float>& peak = scratch[c].peak;
  std::vector<float>& energy = scratch[c].energy;
  std::vector<float>& work = scratch[c].work;
  ForEachWeightSet(geometry, geometry.NBlocks, f.switchUsed[c] != 0, f.location[c], [&](const WeightSetSpan& set) {
    float* block = X + set.line;
    const float* fresh = in + set.sample;
    const MaskingModel* model = &longModel;
    int blocks = 1;
    switch (set.kind) {
      case WeightSetKind::Long:
        for (unsigned i = 0; i < HLSIZE; ++i) block[HLSIZE + i] = fresh[i];
        mdct[c].Transform(block, 0);
        break;
      case WeightSetKind::Start:
        for (unsigned i = 0; i < HSSIZE; ++i) block[HLSIZE + i] = fresh[i];
        mdct[c].Transform(block, 1);
        model = &tranModel;
        break;
      case WeightSetKind::Short:
        for (unsigned s = 0; s < 3; ++s) {
          const unsigned o = s * HSSIZE;
          for (unsigned i = 0; i < HSSIZE; ++i) block[HSSIZE + o + i] = fresh[o + i];
          mdct[c].Transform(block + o, 2);
        }
        model = &shortModel;
        blocks = 3;
        break;
      case WeightSetKind::Stop:
        for (unsigned i = 0; i < HLSIZE; ++i) block[HSSIZE + i] = fresh[i];
        mdct[c].Transform(block, 3);
        model = &tranModel;
        break;
    }
    const int count = model->BandCount();
    const size_t row = static_cast<size_t>(setup.MaxBandCount());
    for (int b = 0; b < blocks; ++b) {
      unsigned char* tonalLines =
          set.kind == WeightSetKind::Long ? linePeaks.data() + c * static_cast<size_t>(HLSIZE) : nullptr;
      model->Analyse(block + static_cast<size_t>(b) * HSSIZE, mask.data() + b * row, peak.data() + b * row,
                     energy.data() + b * row, tonalLines, tonalLines != nullptr ? work.data() : nullptr);
      if (tonalLines != nullptr) {
        for (int k = shareFrom; k < shareTo; ++k) {
          f.partialPower[c] += work[static_cast<size_t>(k)];
          f.midPower[c] += energy[static_cast<size_t>(k)];
        }
      }
    }
    // A short triple shares one set of codes: each band's mask is the mean of its three blocks'
    // (the triple spans less than the ear's pre- and post-masking around the attack inside it, so
    // its noise is heard against the whole triple, not against its quietest block), and its peak
    // the largest.
    if (blocks == 3) {
      for (int k = 0; k < count; ++k) {
        const size_t s = static_cast<size_t>(k);
        mask[s] = (mask[s] + mask[row + s] + mask[2 * row + s]) / 3.0f;
        peak[s] = std::max(std::max(peak[s], peak[row + s]), peak[2 * row + s]);
      }
    }
    const size_t si = SetIndex(c, set.set);
    f.shaped[si] =
        shapeBlocks && set.kind == WeightSetKind::Long && DesignShaping(c, set.sample, f.shaping.data() + si * SHAPE_ORDER);
    const float preEchoRise = f.shaped[si] != 0 ? PRE_ECHO_RISE_SHAPED : PRE_ECHO_RISE;
    float* smooth = smoothMask.data() + c * static_cast<size_t>(setup.LongBandCount);
    if (set.kind == WeightSetKind::Long) {
      for (int k = 0; k < count; ++k) {
        const float own = mask[static_cast<size_t>(k)];
        if (prevValid[c] != 0) {
          const float keep = postKeep[static_cast<size_t>(k)];
          smooth[k] = keep * smooth[k] + (1.0f - keep) * own;
          mask[static_cast<size_t>(k)] = std::min(std::max(own, smooth[k]), preEchoRise * previous[k]);
        } else {
          smooth[k] = own;
        }
        previous[k] = own;
      }
      prevValid[c] = 1;
    } else if (set.kind == WeightSetKind::Start && prevValid[c] != 0) {
      // The block before a switched pair: post-masked by the long block before it and held to its
      // pre-echo limit like a long block, in the long band at or below each band's centre.
      for (int t = 0; t < count; ++t) {
        const int k = longBandOfTran[static_cast<size_t>(t)];
        const float keep = postKeep[static_cast<size_t>(k)];
        const float own = mask[static_cast<size_t>(t)];
        const float smoothed = keep * smooth[k] / tranToLong + (1.0f - keep) * own;
        mask[static_cast<size_t>(t)] = std::min(std::max(own, smoothed), PRE_ECHO_RISE * previous[k] / tranToLong);
      }
      prevValid[c] = 0;
    } else if (set.kind == WeightSetKind::Stop) {
      // The block after a switched pair is post-masked by the pair's end.
      for (int k = 0; k < setup.LongBandCount; ++k) {
        const float carried = tranToLong * mask[static_cast<size_t>(tranBandOfLong[static_cast<size_t>(k)])];
        previous[k] = smooth[k] = carried;
      }
      prevValid[c] = 1;
    } else {
      prevValid[c] = 0;
    }
    // Per band the log of the step's power at offset 0 (the threshold's, times 12), then their mean.
    float* level = work.data();
    float mean = 0.0f;
    for (int k = 0; k < count; ++k) {
      const float threshold = std::max(mask[static_cast<size_t>(k)], model->Quiet(k));
      level[k] = std::log10(12.0f * threshold);
      mean += level[k];
    }
    mean /= static_cast<float>(count);
    const float contentFloor = ContentFloor(*model);
    int& top = f.topBand[si];
    top = -1;
    for (int k = 0; k < count; ++k) {
      const size_t s = Slot(c, set.set, k);
      f.base[s] = 7.5f * (mean + MASK_SHAPE_POWER * (level[k] - mean)) + codeOfLargestStep;
      f.bandPeak[s] = peak[static_cast<size_t>(k)];
      SetPeakCodes(f, s, STEP_SIZE_MAX);
      if (f.bandPeak[s] * f.bandPeak[s] >= contentFloor) top = k;
    }
  });
}

void QualityChoices::SetPeakCodes(FrameAnalysis& f, size_t s, int atSteps) const {
  const float pk = f.bandPeak[s];
  // The lowest code at which the band's peak comes to at most `levels` levels. A peak so small that
  // its ratio to a level underflows to zero (subnormal coefficients of a near-silent input) is no
  // peak: the band is free, as a silent one.
  auto lowestCode = [&](float levels) {
    const float ratio = pk * static_cast<float>(atSteps) / (levels * static_cast<float>(gain));
    return ratio > 0.0f ? static_cast<int>(std::ceil(15.0f * std::log10(ratio))) : FREE_BAND;
  };
  // The band's values must stay within -1..1 after the weight and the gain (to half a level).
  f.peakCode[s] = lowestCode(static_cast<float>(atSteps) + 0.45f);
  // From this code up every value of the band rounds to zero.
  f.zeroCode[s] = lowestCode(zeroShare);
}

void QualityChoices::SetSteps(int newSteps) {
  OSTREL_DASSERT(newSteps >= STEP_SIZE_MIN && newSteps <= STEP_SIZE_MAX);
  // The codes move by the step size's ratio, so that every band keeps its quantiser step.
  const float shift = 15.0f * std::log10(static_cast<float>(newSteps) / static_cast<float>(steps));
  steps = newSteps;
  measuredBits = -1;
  for (size_t s = 0; s < coded->base.size(); ++s) {
    coded->base[s] += shift;
    SetPeakCodes(*coded, s, steps);
  }
}

void QualityChoices::Apply(float offset) {
  const FrameAnalysis& f = *coded;
  int pending = 0;
  int*** W = setup.Weights();
  int** G = setup.Gains();
  ForEachSet([&](unsigned c, const WeightSetSpan& set, const MaskingModel& model) {
    const int count = model.BandCount();
    int* codes = W[c][set.set];
    int firstUsed = -1;
    const int tiltFrom = TiltFrom(model);
    const size_t si = SetIndex(c, set.set);
    const int top = afterCoarseFrame ? f.topBand[si] : -1;
    for (int k = 0; k < count; ++k) {
      const size_t s = Slot(c, set.set, k);
      if (f.peakCode[s] == FREE_BAND) {
        codes[k] = FREE_BAND;
        continue;
      }
      const float tilt = k >= tiltFrom ? tiltCodes : 0.0f;
      int code = std::max(ostrel::round(f.base[s] + offset + tilt), f.peakCode[s]);
      if (k == top && code >= f.zeroCode[s]) code = f.zeroCode[s] - KEEP_TOP_FINER;
      code = std::min(std::max(code, WEIGHT_CODE_MIN), WEIGHT_CODE_MAX);
      codes[k] = code;
      if (firstUsed < 0) firstUsed = k;
    }
    // Bands without a line take their neighbour's code (nothing to quantise, cheapest to send).
    if (firstUsed < 0) {
      for (int k = 0; k < count; ++k) codes[k] = WEIGHT_CODE_MAX;
    } else {
      for (int k = 0; k < firstUsed; ++k) codes[k] = codes[firstUsed];
      for (int k = firstUsed + 1; k < count; ++k) {
        if (codes[k] == FREE_BAND) codes[k] = codes[k - 1];
      }
    }
    CheapenSilentBands(c, set, codes, count);
    // Neighbour limits, met by raising codes (coarser never breaks a band's peak limit).
    for (int k = 1; k < count; ++k) codes[k] = std::max(codes[k], codes[k - 1] + WEIGHT_STEP_DOWN);
    for (int k = count - 1; k > 0; --k) codes[k - 1] = std::max(codes[k - 1], codes[k] - WEIGHT_STEP_UP);
    G[c][set.set] = gain;
    // Normalise: the band's lines over weight times gain.
    const int* bands = model.Bands();
    const float* in = f.xStore.data() + c * (geometry.TOTAL + geometry.HLSIZE) + set.line;
    float* out = normalisedPtrs[c] + set.line;
    const int repeats = set.kind == WeightSetKind::Short ? 3 : 1;
    const float shift = (0.5f - rounding) / static_cast<float>(steps);
    const bool fill = afterCoarseFrame && f.switchUsed[c] == 0;
    // A shaped set's bands from shapeFromBand to its top are quantised by ShapeNoise below.
    const bool shaped = f.shaped[si] != 0;
    const int shapedFrom = shaped ? shapeFromBand : count, shapedTo = shaped ? f.topBand[si] : -1;
    unsigned h = 0;
    for (int r = 0; r < repeats; ++r) {
      for (int k = 0; k < count; ++k) {
        if (k >= shapedFrom && k <= shapedTo) {
          h += static_cast<unsigned>(bands[k]);
          continue;
        }
        const float inverse = 1.0f / (DecompressWeights(codes[k]) * static_cast<float>(gain));
        // Rounds |v| up from 1 - rounding above a whole level instead of from a half: a line
        // just over half a step costs bits and lowers the noise little.
        ShrinkScaled(out + h, in + h, inverse, shift, static_cast<size_t>(bands[k]));
        if (fill) FillBand(in + h, out + h, inverse, static_cast<unsigned>(bands[k]));
        h += static_cast<unsigned>(bands[k]);
      }
    }
    if (shaped) pendingShapes[static_cast<size_t>(pending++)] = {si, codes, in, out};
  });
  ShapeNoise(pendingShapes.data(), pending);
  for (unsigned c = 0; c < STREAM_CHANNELS; ++c) KeepSandwichedLines(normalisedPtrs[c]);
}

bool QualityChoices::DesignShaping(unsigned c, unsigned sample, float* a) const {
  // The window's segments: the masking envelope (each segment's power, held by post-masking),
  // then at each time the lower of its and its mirror's (the noise of a block's lines is the same
  // at both), as the noise's envelope.
  constexpr unsigned HALF = WINDOW_SEGMENTS / 2;
  const float* powers = segmentHigh.data() + SegmentRow(c) + quietSegments + sample / geometry.HSSIZE - HALF;
  float m[WINDOW_SEGMENTS], d[WINDOW_SEGMENTS];
  for (unsigned j = 0; j < WINDOW_SEGMENTS; ++j) m[j] = std::max(powers[j], j > 0 ? SHAPE_DECAY * m[j - 1] : 0.0f);
  float largest = 0.0f;
  for (unsigned j = 0; j < WINDOW_SEGMENTS; ++j) {
    const unsigned mirror = j < HALF ? HALF - 1 - j : WINDOW_SEGMENTS + HALF - 1 - j;
    d[j] = std::min(m[j], m[mirror]);
    largest = std::max(largest, d[j]);
  }
  if (!(largest > 0.0f)) return false;
  double logMean = 0.0, mean = 0.0;
  for (unsigned j = 0; j < WINDOW_SEGMENTS; ++j) {
    d[j] = std::pow(std::max(d[j], SHAPE_FLOOR * largest) / largest, SHAPE_POWER);
    mean += d[j];
    logMean += std::log(static_cast<double>(d[j]));
  }
  mean /= WINDOW_SEGMENTS;
  logMean /= WINDOW_SEGMENTS;
  if (mean / std::exp(logMean) < SHAPE_GAIN) return false;
  double r[SHAPE_ORDER + 1];
  for (int j = 0; j <= SHAPE_ORDER; ++j) {
    r[j] = 0.0;
    for (unsigned k = 0; k < WINDOW_SEGMENTS; ++k) r[j] += d[k] * segmentCosines[j * WINDOW_SEGMENTS + k];
  }
  if (!Levinson(r, SHAPE_ORDER, a)) return false;
  float g = 1.0f;
  for (int j = 0; j < SHAPE_ORDER; ++j) {
    g *= SHAPE_GAMMA;
    a[j] *= g;
  }
  return true;
}

namespace {

// One shaped set's feedback filter and its last errors in levels, newest first.
struct ShapeLane {
  float a0, a1, a2, a3, a4, a5, a6, a7;
  float p0 = 0.0f, p1 = 0.0f, p2 = 0.0f, p3 = 0.0f, p4 = 0.0f, p5 = 0.0f, p6 = 0.0f, p7 = 0.0f;
  explicit ShapeLane(const float* a) : a0(a[0]), a1(a[1]), a2(a[2]), a3(a[3]), a4(a[4]), a5(a[5]), a6(a[6]), a7(a[7]) {}
  void Push(float error) {
    p7 = p6; p6 = p5; p5 = p4; p4 = p3; p3 = p2; p2 = p1; p1 = p0;
    p0 = error;
  }
  // The level of the line whose value is u levels. The feedback sums the oldest error first, so
  // that only its last product waits for the line before.
  float Level(float u, float rounding, float levels) {
    const float older = a7 * p7 + a6 * p6 + a5 * p5 + a4 * p4 + a3 * p3 + a2 * p2 + a1 * p1;
    const float v = u - (older + a0 * p0);
    // |v| + rounding is never negative: truncation is its floor.
    const float magnitude = std::min(static_cast<float>(static_cast<int>(std::fabs(v) + rounding)), levels);
    const float q = std::copysign(magnitude, v);
    Push(q - u);
    return q;
  }
};

}  // namespace

void QualityChoices::ShapeNoise(const PendingShape* sets, int count) const {
  static_assert(SHAPE_ORDER == 8, "ShapeLane holds eight past errors");
  const FrameAnalysis& f = *coded;
  const int* bands = longModel.Bands();
  const float levels = static_cast<float>(steps);
  const float one = 1.0f / levels;
  // Two sets at a time, line by line: each line waits for the error of the line before, and the
  // two chains run side by side.
  for (int i = 0; i < count; i += 2) {
    const int lanes = std::min(count - i, 2);
    const PendingShape* set[2] = {&sets[i], &sets[i + lanes - 1]};
    ShapeLane lane[2] = {ShapeLane(f.shaping.data() + set[0]->index * SHAPE_ORDER),
                         ShapeLane(f.shaping.data() + set[1]->index * SHAPE_ORDER)};
    const int top[2] = {f.topBand[set[0]->index], lanes == 2 ? f.topBand[set[1]->index] : -1};
    unsigned h = shapeFromLine;
    for (int k = shapeFromBand; k <= std::max(top[0], top[1]); ++k) {
      const unsigned end = h + static_cast<unsigned>(bands[k]);
      float inverse[2] = {};
      bool silent[2] = {}, active[2] = {};
      for (int j = 0; j < 2; ++j) {
        active[j] = k <= top[j];
        if (!active[j]) continue;
        const size_t s = SlotOf(set[j]->index, k);
        const int code = set[j]->codes[k];
        inverse[j] = levels / (DecompressWeights(code) * static_cast<float>(gain));
        // Every value is sent as zero: the error is the line itself.
        silent[j] = f.peakCode[s] == FREE_BAND || code >= f.zeroCode[s];
      }
      if (active[0] && active[1] && !silent[0] && !silent[1]) {
        const float *in0 = set[0]->in, *in1 = set[1]->in;
        float *out0 = set[0]->out, *out1 = set[1]->out;
        for (; h < end; ++h) {
          out0[h] = lane[0].Level(in0[h] * inverse[0], rounding, levels) * one;
          out1[h] = lane[1].Level(in1[h] * inverse[1], rounding, levels) * one;
        }
        continue;
      }
      for (int j = 0; j < 2; ++j) {
        if (!active[j]) continue;
        const float* in = set[j]->in;
        float* out = set[j]->out;
        ShapeLane& l = lane[j];
        if (silent[j]) {
          for (unsigned n = h; n < end; ++n) {
            l.Push(-(in[n] * inverse[j]));
            out[n] = 0.0f;
          }
        } else {
          for (unsigned n = h; n < end; ++n) out[n] = l.Level(in[n] * inverse[j], rounding, levels) * one;
        }
      }
      h = end;
    }
  }
}

void QualityChoices::FillBand(const float* in, float* out, float inverse, unsigned width) {
  // Powers in levels squared: the band's own, and what its rounded levels send.
  const float levels = static_cast<float>(steps);
  float own = 0.0f, sent = 0.0f;
  FillPowers(in, out, inverse, levels, width, &own, &sent);
  // Each raised value adds one level squared; raised while at least half of one is missing.
  const float missing = FILL_SHARE * own - sent;
  if (missing < 0.5f) return;
  // Every line is written and only those that may be raised are counted (no branch to mispredict).
  std::pair<float, unsigned>* candidates = fillCandidates.data();
  size_t found = 0;
  for (unsigned i = 0; i < width; ++i) {
    const float v = std::fabs(in[i] * inverse) * levels;
    candidates[found] = {v, i};
    found += static_cast<size_t>((v > FILL_FROM) & (std::fabs(out[i]) * levels < 0.5f));
  }
  if (found == 0) return;
  const size_t count = std::min(static_cast<size_t>(std::floor(missing + 0.5f)), found);
  // The largest first; of equal ones the lowest line.
  auto larger = [](const std::pair<float, unsigned>& a, const std::pair<float, unsigned>& b) {
    return a.first > b.first || (a.first == b.first && a.second < b.second);
  };
  if (count < found) std::nth_element(candidates, candidates + count - 1, candidates + found, larger);
  const float one = 1.0f / levels;
  for (size_t j = 0; j < count; ++j) {
    const unsigned i = candidates[j].second;
    out[i] = std::copysign(one, in[i]);
  }
}

void QualityChoices::KeepSandwichedLines(float* x) const {
  // The values as shrunk by the rounding offset: a value is sent from half a level on, and was
  // SANDWICH_LOW of a level or more before the shrink from SANDWICH_LOW - (0.5 - rounding) on.
  const float level = 1.0f / static_cast<float>(steps);
  KeepSandwiched(x, (SANDWICH_LOW - (0.5f - rounding)) * level, 0.5f * level, level, geometry.TOTAL);
}

void QualityChoices::CheapenSilentBands(unsigned c, const WeightSetSpan& set, int* codes, int count) const {
  // Bits of a difference between neighbouring codes; one outside the limits is never chosen.
  auto bits = [&](int d) { return d < WEIGHT_STEP_DOWN || d > WEIGHT_STEP_UP ? INT_MAX / 4 : DiffBits(d); };
  for (int k = 1; k < count; ++k) {
    const size_t s = Slot(c, set.set, k);
    if (coded->peakCode[s] == FREE_BAND || codes[k] < coded->zeroCode[s]) continue;
    // The band sends only zeros at any code from zeroCode up: the one whose differences to the
    // code before and the one after cost least (ties: the code it has).
    const int before = codes[k - 1];
    const bool last = k + 1 == count;
    int best = codes[k];
    int bestBits = bits(codes[k] - before) + (last ? 0 : bits(codes[k + 1] - codes[k]));
    const int highest = std::min(before + WEIGHT_STEP_UP, WEIGHT_CODE_MAX);
    const int lowest = std::max(std::max(coded->zeroCode[s], before + WEIGHT_STEP_DOWN), WEIGHT_CODE_MIN);
    for (int code = lowest; code <= highest; ++code) {
      const int cost = bits(code - before) + (last ? 0 : bits(codes[k + 1] - code));
      if (cost < bestBits) {
        bestBits = cost;
        best = code;
      }
    }
    codes[k] = best;
  }
}

int QualityChoices::DiffBits(int d) const {
  return weightCodes[static_cast<size_t>(d + WEIGHT_DIFF_INDEX_OFFSET)].length;
}

int QualityChoices::SideBits() const {
  int*** W = setup.Weights();
  int** G = setup.Gains();
  int bits = 0;
  ForEachSet([&](unsigned c, const WeightSetSpan& set, const MaskingModel& model) {
    const int* codes = W[c][set.set];
    bits += gainCodes[static_cast<size_t>(G[c][set.set] - GAIN_OFFSET)].length + LEADING_WEIGHT_LEN;
    for (int k = 1; k < model.BandCount(); ++k) {
      const int d = codes[k] - codes[k - 1];
      OSTREL_DASSERT(d >= WEIGHT_STEP_DOWN && d <= WEIGHT_STEP_UP);
      bits += DiffBits(d);
    }
  });
  return bits;
}

}  // namespace ostrel
