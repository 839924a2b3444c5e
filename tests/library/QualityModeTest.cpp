// The quality mode through libostrel: at every rate its streams have the reference stream's size
// and frames, and the unchanged decoder (whose frame reader checks every field against its range)
// decodes them without a damaged frame, graded by the perceptual meter no worse than the reference
// encoder's; the setting is refused once samples came; on tonal material the meter grades it
// above the reference encoder at the same rate; hits left in long blocks keep their noise after
// them; and a DC offset costs it nothing heard.
#include <cmath>
#include <cstring>

#include "audio/Waveio.h"
#include "library/FrameEncoder.h"
#include "library/LibraryStreams.h"
#include "tools/peaq/QualityMeter.h"
#include "tools/peaq/Resampler.h"

namespace ostrel::test {
namespace {

// The meter's objective difference grade of `decoded` against `source` (interleaved stereo),
// over the source's length.
double Odg(const Stereo& source, const Stereo& decoded) {
  const size_t length = source.size() / 2;
  peaq::Channels a(2, std::vector<double>(length)), b(2, std::vector<double>(length));
  for (size_t n = 0; n < length; ++n) {
    for (size_t c = 0; c < 2; ++c) {
      a[c][n] = source[2 * n + c];
      b[c][n] = decoded[2 * n + c];
    }
  }
  peaq::Quality quality;
  std::string error;
  EXPECT_TRUE(peaq::MeasureQuality(a, b, 44100, 0.0, &quality, &error)) << error;
  return quality.grade.odg;
}

class QualityMode : public testing::TestWithParam<RateRow> {};

TEST_P(QualityMode, StreamsAreValidAndDecodeCloseToTheSource) {
  const RateRow& rate = GetParam();
  const int kbps = rate.code * 2;
  // Tones, noise and clicks (the clicks set off block switching), ending inside the third frame.
  const Stereo samples = Material(2 * static_cast<size_t>(rate.Total()) + 777, 5000, 11);
  const Bytes reference = LibraryEncode(samples, kbps, 1, 3000);
  const Bytes quality = LibraryEncode(samples, kbps, 2, 3000, false, true, true);

  ASSERT_EQ(quality.size(), reference.size());
  EXPECT_TRUE(std::equal(quality.begin(), quality.begin() + 30, reference.begin())) << "the headers differ";
  EXPECT_NE(quality, reference) << "the quality mode made the reference encoder's choices";

  int damaged = -1;
  const Stereo decoded = LibraryDecode(quality, 3, &damaged);
  EXPECT_EQ(damaged, 0);
  const Stereo decodedReference = LibraryDecode(reference, 4);
  ASSERT_EQ(decoded.size(), decodedReference.size());
  ASSERT_GE(decoded.size(), samples.size());
  // A weight the writer could not carry as chosen would make the noise far larger. (How far each
  // mode grades above the other is the comparison script's to measure, on real material.)
  if (!peaq::CanResample()) GTEST_SKIP() << "the meter grades at 48 kHz and this build has no resampler (libsoxr)";
  EXPECT_GT(Odg(samples, decoded), Odg(samples, decodedReference) - 0.5);
}

INSTANTIATE_TEST_SUITE_P(EveryRate, QualityMode, testing::ValuesIn(RateRows()));

// A few samples of which most are NaN and the rest tiny, then the end: the coefficients left are
// so small that a band's peak over a level underflows to zero, and the frames code silence (under
// the sanitisers: no infinite logarithm turned into a weight code).
TEST(QualityModeUse, NearlySilentFloatSamplesCodeAsSilence) {
  const uint32_t bits[] = {0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu, 0x00000001u,
                           0x02000000u, 0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu, 0xffffffffu};
  float samples[14];
  std::memcpy(samples, bits, sizeof samples);
  int count = 0;
  const int* rates = ostrel_bitrates(&count);
  for (int r = 0; r < count; ++r) {
    SCOPED_TRACE(rates[r]);
    MemoryWriter out;
    int status = 0;
    ostrel_encoder* enc = ostrel_encoder_create(rates[r], &MemoryWriter::Write, &MemoryWriter::Seek, &out, &status);
    ASSERT_NE(enc, nullptr);
    ASSERT_EQ(ostrel_encoder_set_quality(enc, 1), OSTREL_OK);
    EXPECT_EQ(ostrel_encoder_write_float(enc, samples, 7), OSTREL_OK);
    EXPECT_EQ(ostrel_encoder_finish(enc), OSTREL_OK);
    ostrel_encoder_destroy(enc);
    int damaged = -1;
    const Stereo decoded = LibraryDecode(out.bytes, 1, &damaged);
    EXPECT_EQ(damaged, 0);
    EXPECT_GE(decoded.size(), 14u);
  }
}

TEST(QualityModeUse, OnlyBeforeTheFirstSamples) {
  MemoryWriter out;
  int status = 0;
  ostrel_encoder* enc = ostrel_encoder_create(128, &MemoryWriter::Write, &MemoryWriter::Seek, &out, &status);
  ASSERT_NE(enc, nullptr);
  EXPECT_EQ(ostrel_encoder_set_quality(nullptr, 1), OSTREL_ERR_ARGUMENT);
  EXPECT_EQ(ostrel_encoder_set_quality(enc, 1), OSTREL_OK);
  EXPECT_EQ(ostrel_encoder_set_quality(enc, 0), OSTREL_OK);
  const Stereo samples = Material(1000, 5000, 1);
  EXPECT_EQ(ostrel_encoder_write(enc, samples.data(), 1000), OSTREL_OK);
  EXPECT_EQ(ostrel_encoder_set_quality(enc, 1), OSTREL_ERR_STATE);
  EXPECT_EQ(ostrel_encoder_finish(enc), OSTREL_OK);
  ostrel_encoder_destroy(enc);
  // Switched on and off again before the samples: the reference encoder's stream.
  EXPECT_EQ(out.bytes, LibraryEncode(samples, 128, 5, 400));
}

TEST(QualityModeUse, TheProgramsOptionGivesTheLibrarysStream) {
  TempDir dir;
  const Stereo samples = Material(40000, 5000, 2);
  const std::string wav = dir.File("in.wav");
  WriteWav(wav, samples);
  for (bool quality : {false, true}) {
    SCOPED_TRACE(quality);
    const std::string ost = dir.File(quality ? "q.ost" : "r.ost");
    std::vector<std::string> argv = {Program("ostrelenc"), "-q", "-b", "160", "-o", ost, wav};
    if (quality) argv.insert(argv.begin() + 1, "--quality");
    const RunResult run = test::Run(argv, "");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadAll(ost), LibraryEncode(samples, 160, 6, 2000, false, true, quality));
  }
}

// The engine with its analysis on a second thread codes the quality mode's frames the same.
TEST(QualityModeUse, TheTwoThreadEngineGivesTheSameStream) {
  TempDir dir;
  const std::string wav = dir.File("in.wav");
  WriteWav(wav, Material(3 * 16384 + 500, 5000, 4));
  std::vector<Bytes> streams;
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    Waveio in(wav.c_str(), 0);
    // The stream's bytes, kept in memory.
    struct Collected final : ByteSink {
      bool Put(const unsigned char* data, std::size_t n) override {
        bytes.insert(bytes.end(), data, data + n);
        return true;
      }
      Bytes bytes;
    } sink;
    {
      FrameEncoder encoder(64, in, &sink);
      encoder.SetQuality(true);
      encoder.SetThreads(threads);
      encoder.WriteHeader();
      bool ended = false;
      while (!ended) {
        const FrameEncoder::FrameOutcome outcome = encoder.EncodeFrame();
        EXPECT_FALSE(outcome.overBudget || outcome.writerFailed);
        ended = outcome.inputEnded || outcome.overBudget || outcome.writerFailed;
      }
      encoder.FlushBits();
    }
    streams.push_back(sink.bytes);
  }
  EXPECT_GT(streams[0].size(), 30u);
  EXPECT_EQ(streams[0], streams[1]);
}

TEST(QualityModeFigures, TonalMaterialGradesHigherAtTheSameRate) {
  if (!peaq::CanResample()) GTEST_SKIP() << "the meter grades at 48 kHz and this build has no resampler (libsoxr)";
  // A chord of steady tones over faint noise, at the rates where the reference encoder's noise is
  // heard most.
  const size_t frames = 6 * 16384;
  Stereo s = Noise(frames, 200.0, 9);
  const double tones[][2] = {{220.0, 5000.0}, {330.0, 3000.0}, {1250.0, 2500.0}, {2200.0, 1500.0}, {4400.0, 600.0}};
  for (const auto& tone : tones) {
    const Stereo t = Sine(frames, tone[0], tone[1]);
    for (size_t i = 0; i < s.size(); ++i) s[i] = Clip16(static_cast<double>(s[i]) + t[i]);
  }
  for (int kbps : {96, 128, 192}) {
    SCOPED_TRACE(kbps);
    const double reference = Odg(s, LibraryDecode(LibraryEncode(s, kbps, 1, 5000), 1));
    const double quality = Odg(s, LibraryDecode(LibraryEncode(s, kbps, 1, 5000, false, true, true), 1));
    EXPECT_GT(quality, reference + 0.1) << "reference " << reference << ", quality " << quality;
  }
}

TEST(QualityModeFigures, HitsInLongBlocksKeepTheirNoiseAfterThem) {
  if (!peaq::CanResample()) GTEST_SKIP() << "the meter grades at 48 kHz and this build has no resampler (libsoxr)";
  // Hits (noise bursts decaying in 20 ms) every 93 ms over faint noise: four to a frame at
  // 96 kb/s, of which the switched pair takes one. The noise of the long blocks around the others
  // follows the hits, not the whole window (graded -1.08 spread evenly over it, -0.65 so).
  const size_t frames = 4 * 44100;
  Stereo s = Noise(frames, 100.0, 3);
  const Stereo burst = Noise(frames, 8000.0, 4);
  for (size_t hit = 2205; hit + 4410 < frames; hit += 4101) {
    for (size_t i = 0; i < 3528; ++i) {
      const double decay = std::exp(-static_cast<double>(i) / 882.0);
      for (size_t c = 0; c < 2; ++c) {
        const size_t at = 2 * (hit + i) + c;
        s[at] = Clip16(static_cast<double>(s[at]) + decay * static_cast<double>(burst[at]));
      }
    }
  }
  const double grade = Odg(s, LibraryDecode(LibraryEncode(s, 96, 1, 5000, false, true, true), 1));
  EXPECT_GT(grade, -0.85);
}

TEST(QualityModeFigures, ADcOffsetCostsNothingHeard) {
  if (!peaq::CanResample()) GTEST_SKIP() << "the meter grades at 48 kHz and this build has no resampler (libsoxr)";
  // Noise with and without an offset of 0.3 of full scale: nobody hears the offset, and the grade
  // stays where it is without it (the offset left in the lowest band graded 0.9 lower).
  const Stereo plain = Noise(6 * 16384, 3000.0, 5);
  Stereo offset = plain;
  for (int16_t& v : offset) v = Clip16(v + 9000.0);
  const double without = Odg(plain, LibraryDecode(LibraryEncode(plain, 192, 1, 5000, false, true, true), 1));
  const double with = Odg(offset, LibraryDecode(LibraryEncode(offset, 192, 1, 5000, false, true, true), 1));
  EXPECT_GT(with, without - 0.25) << "without the offset " << without << ", with it " << with;
}

}  // namespace
}  // namespace ostrel::test
