// Encoder to decoder round trips at every rate: length, alignment, quality floors, and the block
// switching decisions seen by both sides.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "analysis/FrameInvTransform.h"
#include "analysis/FrameTransform.h"
#include "audio/Waveio.h"
#include "decoder/Decoder.h"
#include "decoder/RoundTrip.h"
#include "format/RateTables.h"
#include "platform/CpuFeatures.h"
#include "psycho/Psycho.h"
#include "psycho/PsychoTools.h"
#include "common/PosixOnWindows.h"

namespace ostrel {
namespace {

using test::RateRow;
using test::Stereo;
using test::TempDir;

constexpr size_t SECOND = 44100;  // sample frames

enum Signal { TONE, NOISE, SILENCE, CLICKS, MIX, SIGNAL_COUNT };
const char* const SIGNAL_NAMES[] = {"tone", "noise", "silence", "clicks", "mix"};

// A broadband click: a pulse decaying within a millisecond, in one channel (0 first, 1 second).
void AddPulse(Stereo& s, size_t at, int channel) {
  for (size_t n = 0; n < 48 && 2 * (at + n) + 1 < s.size(); ++n) {
    s[2 * (at + n) + static_cast<size_t>(channel)] = test::Clip16(28000.0 * std::exp(-static_cast<double>(n) / 6.0));
  }
}

Stereo MakeSignal(Signal kind) {
  switch (kind) {
    case TONE: return test::Sine(SECOND, 1000.0, 8000.0);
    case NOISE: return test::Noise(SECOND, 6000.0, 1);
    case SILENCE: return test::Silence(SECOND);
    case CLICKS: {
      // A quiet low tone with clicks that force short blocks, alternating between the channels.
      Stereo s = test::Sine(SECOND, 300.0, 2000.0);
      for (size_t k = 1; k < 4; ++k) AddPulse(s, k * SECOND / 4 + 123, static_cast<int>(k % 2));
      return s;
    }
    case MIX: {
      Stereo s = test::Sine(SECOND, 440.0, 5000.0);
      const Stereo high = test::Sine(SECOND, 6000.0, 1500.0);
      const Stereo noise = test::Noise(SECOND, 800.0, 2);
      for (size_t i = 0; i < s.size(); ++i) s[i] = test::Clip16(double(s[i]) + high[i] + noise[i]);
      AddPulse(s, SECOND / 2, 1);
      return s;
    }
    default: return {};
  }
}

// Lowest signal-to-noise ratio in dB accepted per signal (tone, noise, silence, clicks, mix), by
// menu row. The measured figures are in the README; each floor sits 3 dB below its measurement
// (1.5 dB for noise, which codes at a few dB only), so that a real loss of quality fails while
// small changes of the encoder's step-size search do not. Silence must come back exactly.
const double SNR_FLOOR[8][SIGNAL_COUNT] = {
    {},
    {24, 7.5, 0, 27, 22},  // row 1: 392 kb/s
    {20, 5.5, 0, 26, 19},  // row 2: 256 kb/s
    {18, 4, 0, 25, 17},    // row 3: 192 kb/s
    {18, 3, 0, 24, 17},    // row 4: 160 kb/s
    {16, 1.5, 0, 24, 15},  // row 5: 128 kb/s
    {16, 0.5, 0, 24, 14},  // row 6: 112 kb/s
    {19, 0.25, 0, 23, 13}, // row 7: 96 kb/s
};

class RoundTrip : public testing::TestWithParam<RateRow> {
 protected:
  void SetUp() override {
    if (!test::HaveEncoder()) GTEST_SKIP() << "ostrelenc is not built";
  }
  // Encodes and decodes `source`; returns the decoded samples and the frame count.
  std::pair<Stereo, uint32_t> Trip(const Stereo& source, const std::string& name) {
    test::WriteWav(dir_.File(name + ".wav"), source);
    test::Encode(dir_.File(name + ".wav"), dir_.File(name + ".ost"), GetParam().row);
    const uint32_t frames = test::FrameCount(test::ReadAll(dir_.File(name + ".ost")));
    std::ostringstream log;
    EXPECT_EQ(DecodeFile(dir_.File(name + ".ost"), dir_.File(name + ".out.wav"), DecodeOptions{}, log), DECODE_OK)
        << log.str();
    return {test::WavSamples(dir_.File(name + ".out.wav")), frames};
  }
  TempDir dir_;
};

TEST_P(RoundTrip, EverySignalComesBackLinedUpAndAboveItsFloor) {
  const RateRow& rate = GetParam();
  for (int kind = 0; kind < SIGNAL_COUNT; ++kind) {
    SCOPED_TRACE(SIGNAL_NAMES[kind]);
    const Stereo source = MakeSignal(static_cast<Signal>(kind));
    const auto [decoded, frames] = Trip(source, SIGNAL_NAMES[kind]);
    // The encoder codes the frame in which the input runs out in full; a source that ends on a frame
    // boundary costs one more frame of silence.
    const uint32_t expectedFrames = static_cast<uint32_t>(SECOND / rate.Total() + 1);
    EXPECT_EQ(frames, expectedFrames);
    ASSERT_EQ(decoded.size(), 2 * (static_cast<size_t>(frames) * rate.Total() - rate.longSize / 2));
    if (kind == SILENCE) {
      for (size_t i = 0; i < decoded.size(); ++i) ASSERT_EQ(decoded[i], 0) << i;
      continue;
    }
    const double snr = test::SnrDb(source, decoded);
    std::printf("round trip: %3u kb/s %-7s %6.2f dB\n", rate.code * 2u, SIGNAL_NAMES[kind], snr);
    EXPECT_GE(snr, SNR_FLOOR[rate.row][kind]);
    // Lined up sample for sample: shifting the output by a sample must not make it match better.
    Stereo early(decoded.begin() + 2, decoded.end());
    Stereo late(2, 0);
    late.insert(late.end(), decoded.begin(), decoded.end());
    EXPECT_GT(snr, test::SnrDb(source, early));
    EXPECT_GT(snr, test::SnrDb(source, late));
  }
}

INSTANTIATE_TEST_SUITE_P(AllRates, RoundTrip, testing::ValuesIn(test::RateRows()),
                         [](const testing::TestParamInfo<RateRow>& info) {
                           return std::to_string(info.param.code * 2) + "kbps";
                         });

// The encoder's analysis of a WAV file, frame by frame, built as the encoder builds it.
struct EncoderAnalysis {
  EncoderAnalysis(const std::string& wav, unsigned char code)
      : lsize(GetLongBlock(code)),
        nblocks(GetBlocks(code)),
        longModel(lsize, 44100, GetPercepResolution(code), GetPercepOffset(code), 0),
        tranModel(lsize / 2 + lsize / 8, 44100, GetPercepResolution(code), GetPercepOffset(code), 0),
        shortModel(lsize / 4, 44100, GetPercepResolution(code), GetPercepOffset(code), 1),
        longBands(longModel.GetPsychBands(&longCount)),
        tranBands(tranModel.GetPsychBands(&tranCount)),
        shortBands(shortModel.GetPsychBands(&shortCount)),
        weightRows(2 * (nblocks + 1), std::vector<int>(std::max({longCount, tranCount, shortCount}))),
        gainRows(2 * (nblocks + 1)),
        in(wav.c_str(), 0) {
    for (auto& row : weightRows) setPointers.push_back(row.data());
    weights[0] = setPointers.data();
    weights[1] = setPointers.data() + nblocks + 1;
    gains[0] = gainRows.data();
    gains[1] = gainRows.data() + nblocks + 1;
    analysis = std::make_unique<FrameTransform>(2, static_cast<unsigned char>(nblocks), lsize, lsize / 4, &in,
                                                &longModel, &tranModel, &shortModel, longCount, shortCount,
                                                tranCount, longBands, shortBands, tranBands, &x, weights, gains, 0);
  }
  // Analyses the next frame; true when the input ran out during it (it is still complete).
  bool Next() { return analysis->NewFrame(switchUsed, location) != 0; }
  std::pair<int, int> Switching() const {
    return {switchUsed[0] ? location[0] : -1, switchUsed[1] ? location[1] : -1};
  }

  int lsize, nblocks;
  int longCount = 0, tranCount = 0, shortCount = 0;
  Psycho longModel, tranModel, shortModel;
  int *longBands, *tranBands, *shortBands;
  std::vector<std::vector<int>> weightRows;
  std::vector<int*> setPointers;
  int** weights[2];
  std::vector<int> gainRows;
  int* gains[2];
  Waveio in;
  float** x = nullptr;
  std::unique_ptr<FrameTransform> analysis;
  int switchUsed[2] = {0, 0}, location[2] = {0, 0};
};

// The switch flags and locations the encoder's analysis chose for each frame of `wav`.
std::vector<std::pair<int, int>> EncoderSwitching(const std::string& wav, unsigned char code) {
  EncoderAnalysis encoder(wav, code);
  std::vector<std::pair<int, int>> frames;
  bool end = false;
  while (!end) {
    end = encoder.Next();
    frames.push_back(encoder.Switching());
  }
  return frames;
}

TEST(RoundTripSwitching, TransientPairsAtTheFirstAndLastBlockReachTheDecoderUnchanged) {
  if (!test::HaveEncoder()) GTEST_SKIP() << "ostrelenc is not built";
  for (const RateRow& rate : {test::RateRows()[1], test::RateRows()[4]}) {
    SCOPED_TRACE(rate.code);
    const size_t total = static_cast<size_t>(rate.Total());
    const size_t segment = static_cast<size_t>(rate.longSize / 8);  // the detector's analysis length
    // Silence with clicks: frame 1 in its second segment (block 0) in channel 0, frame 2 in its
    // last segment (block NBlocks - 2) in channel 1, and frame 3 in the middle in both.
    Stereo s = test::Silence(4 * total);
    test::AddClick(s, total + 2 * segment + 5, 0);
    test::AddClick(s, 2 * total + total - segment + 5, 1);
    test::AddClick(s, 3 * total + total / 2 + 5, 0);
    test::AddClick(s, 3 * total + total / 2 + 5, 1);
    TempDir dir;
    test::WriteWav(dir.File("clicks.wav"), s);
    test::Encode(dir.File("clicks.wav"), dir.File("clicks.ost"), rate.row);

    const std::vector<std::pair<int, int>> encoded = EncoderSwitching(dir.File("clicks.wav"), rate.code);
    std::vector<std::pair<int, int>> decoded;
    DecodeOptions options;
    options.onFrame = [&](uint32_t, const ostrel_frame_report& r) {
      EXPECT_EQ(r.damaged, 0);
      decoded.push_back({r.switched[0] ? r.location[0] : -1, r.switched[1] ? r.location[1] : -1});
      return true;
    };
    std::ostringstream log;
    ASSERT_EQ(DecodeFile(dir.File("clicks.ost"), dir.File("clicks.out.wav"), options, log), DECODE_OK) << log.str();
    EXPECT_EQ(decoded, encoded);
    // The signal really exercises both ends of the frame.
    ASSERT_GE(encoded.size(), 4u);
    EXPECT_EQ(encoded[1].first, 0);
    EXPECT_EQ(encoded[2].second, rate.nBlocks - 2);
    EXPECT_GT(test::SnrDb(s, test::WavSamples(dir.File("clicks.out.wav"))), 0.0);
  }
}

// What the decoder must output for `wav`, computed without any bit stream: the encoder's analysis
// of each frame, quantised at that frame's step size exactly as the encoder quantises, straight
// into the synthesis, with the synthesis delay dropped.
Stereo ReferenceDecode(const std::string& wav, unsigned char code, const std::vector<int>& steps) {
  EncoderAnalysis e(wav, code);
  float** y = nullptr;
  FrameInvTransform synthesis(2, static_cast<unsigned char>(e.nblocks), e.lsize, e.lsize / 4, nullptr, e.longCount,
                              e.shortCount, e.tranCount, e.longBands, e.shortBands, e.tranBands, &y, e.weights,
                              e.gains, 0);
  const unsigned total = synthesis.Total();
  Stereo out;
  for (size_t f = 0; f < steps.size(); ++f) {
    e.Next();
    const int S = steps[f];
    for (int c = 0; c < 2; ++c) {
      for (unsigned k = 0; k < total; ++k) {
        const int q = std::min(S, std::max(-S, ostrel::round(e.x[c][k] * static_cast<float>(S))));
        y[c][k] = static_cast<float>(q) / static_cast<float>(S);
      }
    }
    synthesis.NewFrame(e.switchUsed, e.location);
    for (unsigned k = f == 0 ? static_cast<unsigned>(e.lsize / 2) : 0; k < total; ++k) {
      out.push_back(roundfs(synthesis.Output(0)[k]));
      out.push_back(roundfs(synthesis.Output(1)[k]));
    }
  }
  return out;
}

TEST(RoundTripReference, TheOutputIsTheSynthesisOfTheEncodersOwnQuantisedFrames) {
  if (!test::HaveEncoder()) GTEST_SKIP() << "ostrelenc is not built";
  for (const RateRow& rate : {test::RateRows()[0], test::RateRows()[2], test::RateRows()[6]}) {
    SCOPED_TRACE(rate.code);
    TempDir dir;
    test::WriteWav(dir.File("mix.wav"), MakeSignal(MIX));
    test::Encode(dir.File("mix.wav"), dir.File("mix.ost"), rate.row);
    std::vector<int> steps;
    DecodeOptions options;
    options.onFrame = [&](uint32_t, const ostrel_frame_report& r) {
      steps.push_back(r.step);
      return true;
    };
    std::ostringstream log;
    ASSERT_EQ(DecodeFile(dir.File("mix.ost"), dir.File("mix.out.wav"), options, log), DECODE_OK) << log.str();
    const Stereo decoded = test::WavSamples(dir.File("mix.out.wav"));
    const Stereo reference = ReferenceDecode(dir.File("mix.wav"), rate.code, steps);
    ASSERT_EQ(decoded.size(), reference.size());
    for (size_t i = 0; i < decoded.size(); ++i) ASSERT_EQ(decoded[i], reference[i]) << "sample " << i / 2;
  }
}


// Decoded-sample goldens: the decoder's arithmetic (coefficient reading, synthesis, rounding) is
// deterministic to the bit, and every instruction-set path must give the same samples, so each
// rate's decoded WAV file is pinned by one checksum on every path this processor runs. The
// material has tones, noise and clicks, so long, transition and short blocks are all synthesised.
TEST(RoundTripGolden, EveryRateDecodesToTheRecordedSamplesOnEverySimdPath) {
  if (!test::HaveEncoder()) GTEST_SKIP() << "ostrelenc is not built";
  // Measured with this decoder; FNV-1a of the whole decoded file, by menu row 1..7.
  const uint64_t goldens[8] = {0,
                                0xb6ababa75714e3a9ull, 0x72c1cf25fc7c02baull, 0xbfbec3299cb35643ull,
                                0x03735d620de982a4ull, 0x794da115b1b3cb6bull, 0x290d51c432ed6885ull,
                                0x832078a00c88cdf5ull};
  TempDir dir;
  Stereo source = MakeSignal(MIX);
  const Stereo clicks = MakeSignal(CLICKS);
  source.insert(source.end(), clicks.begin(), clicks.end());
  test::WriteWav(dir.File("in.wav"), source);
  for (const RateRow& rate : test::RateRows()) {
    const std::string ost = dir.File("in" + std::to_string(rate.row) + ".ost");
    test::Encode(dir.File("in.wav"), ost, rate.row);
    for (SimdPath path : {SimdPath::Scalar, SimdPath::Sse2, SimdPath::Avx2}) {
      if (!CanRun(path)) continue;
      SCOPED_TRACE(std::string(SimdPathName(path)) + ", row " + std::to_string(rate.row));
      setenv("OSTREL_SIMD", SimdPathName(path), 1);
      const std::string out = dir.File("out.wav");
      const test::RunResult run = test::Run({test::Program("ostreldec"), "-q", "-f", ost, "-o", out}, "");
      unsetenv("OSTREL_SIMD");
      ASSERT_EQ(run.status, 0) << run.err;
      uint64_t h = 1469598103934665603ull;
      for (unsigned char b : test::ReadAll(out)) {
        h ^= b;
        h *= 1099511628211ull;
      }
      EXPECT_EQ(h, goldens[rate.row]) << "actual: 0x" << std::hex << h << "ull";
    }
  }
}

}  // namespace
}  // namespace ostrel
