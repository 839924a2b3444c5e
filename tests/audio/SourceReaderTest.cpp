// The encoder's source reader: every kind of file it reads gives the samples a reference
// conversion gives; what it cannot read is named in plain words; a cut or shrinking file and an
// empty one are told apart from a whole one.
#include "audio/SourceReader.h"
#include "audio/Waveio.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "common/TempDir.h"
#include "common/WavFixture.h"
#ifdef OSTREL_TEST_HAVE_SNDFILE
#include "common/SoundFile.h"
#endif

namespace ostrel {
namespace {

using test::TempDir;

// Everything the reader delivers, interleaved, in chunks of `chunk` frames.
std::vector<float> ReadAllFrames(SourceReader& reader, size_t chunk = 1000) {
  std::vector<float> first(chunk), second(chunk), out;
  for (;;) {
    const size_t got = reader.Read(first.data(), second.data(), chunk);
    for (size_t i = 0; i < got; ++i) {
      out.push_back(first[i]);
      out.push_back(second[i]);
    }
    if (got < chunk) break;
  }
  EXPECT_EQ(reader.Read(first.data(), second.data(), chunk), 0u) << "nothing after the end";
  return out;
}

double MaxDifference(const std::vector<float>& a, const std::vector<float>& b) {
  double worst = 0.0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, std::fabs(double(a[i]) - b[i]));
  return worst;
}

#ifdef OSTREL_TEST_HAVE_SNDFILE
using test::Sound;

// Every kind of source: what it is said to be, and that its samples arrive converted as libsoxr
// converts them on its own (lossless kinds to within their quantisation, here exactly, since
// the file's own samples are what the reference starts from).
TEST(SourceReader, EveryKindArrivesAsTheReferenceConversion) {
  struct Kind {
    const char* name;
    int format, rate, channels;
    const char* described;
  };
  const Kind kinds[] = {
      {"mono.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, "44100 Hz, 1 channel, 16-bit"},
      {"s48.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, "48000 Hz, 2 channels, 16-bit"},
      {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 22050, 2, "22050 Hz, 2 channels, 8-bit"},
      {"s24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 44100, 2, "44100 Hz, 2 channels, 24-bit"},
      {"s32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 96000, 1, "96000 Hz, 1 channel, 32-bit"},
      {"f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, "44100 Hz, 2 channels, 32-bit float"},
      {"f64.wav", SF_FORMAT_WAVEX | SF_FORMAT_DOUBLE, 8000, 2, "8000 Hz, 2 channels, 64-bit float"},
      {"alaw.wav", SF_FORMAT_WAV | SF_FORMAT_ALAW, 8000, 1, "8000 Hz, 1 channel, A-law"},
      {"ulaw.wav", SF_FORMAT_WAV | SF_FORMAT_ULAW, 16000, 1, "16000 Hz, 1 channel, mu-law"},
      {"ext24.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 48000, 2, "48000 Hz, 2 channels, 24-bit"},
      {"s.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_24, 32000, 2, "32000 Hz, 2 channels, 24-bit"},
      {"s.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, 11025, 2, "11025 Hz, 2 channels, 16-bit"},
      {"s.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 88200, 2, "88200 Hz, 2 channels, 16-bit"},
      {"s.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 44100, 1, "44100 Hz, 1 channel, 32-bit float"},
      {"song.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 1, "48000 Hz, 1 channel, 24-bit"},
      {"s.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2, "44100 Hz, 2 channels, Vorbis"},
      {"s.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 2, "48000 Hz, 2 channels, Opus"},
  };
  if (!SourceReaderHasSndfile() || !SourceReaderHasSoxr()) GTEST_SKIP() << "built without libsndfile or libsoxr";
  TempDir dir;
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    const std::string path = dir.File(k.name);
    const Sound written = test::TestSound(9001, k.rate, k.channels);
    if (!test::WriteSound(path, written, k.format)) {
      ADD_FAILURE() << "libsndfile cannot write " << k.name;
      continue;
    }
    // The reference starts from what the file holds (its own quantisation, or a lossy coding).
    const std::vector<float> expected = test::SoxrReference(test::ReadSound(path));
    SourceReader reader(path);
    ASSERT_EQ(reader.problem(), "");
    EXPECT_FALSE(reader.canonical());
    EXPECT_EQ(reader.format(), k.described);
    EXPECT_EQ(reader.Conversion(), std::string(k.described) + " -> 44100 Hz stereo");
    const std::vector<float> got = ReadAllFrames(reader, 777);
    ASSERT_EQ(got.size(), expected.size()) << "no sample lost or added by the conversion";
    // Streaming and one-shot resampling are the same filter and agree exactly here; the bound
    // (on the 16-bit scale) only allows another libsoxr build to sum in another order.
    EXPECT_LT(MaxDifference(got, expected), 0.001);
    EXPECT_EQ(reader.framesRead(), reader.promisedFrames());
    EXPECT_FALSE(reader.EndedEarly());
    EXPECT_EQ(reader.clipped(), 0u);
  }
}

#endif  // OSTREL_TEST_HAVE_SNDFILE

// A canonical source is Waveio's, untouched; a 24-bit one keeps its resolution (no rounding to
// 16 bits on the way).
TEST(SourceReader, CanonicalIsWaveioAnd24BitKeepsItsResolution) {
  TempDir dir;
  const test::Stereo pcm = test::Sine(5000, 1000.0, 12000.0);
  test::WriteWav(dir.File("c.wav"), pcm);
  SourceReader canonical(dir.File("c.wav"));
  ASSERT_EQ(canonical.problem(), "");
  ASSERT_TRUE(canonical.canonical());
  ASSERT_NE(canonical.wave(), nullptr);
  EXPECT_EQ(canonical.Conversion(), "");
  EXPECT_EQ(canonical.format(), "44100 Hz, 2 channels, 16-bit");
  const std::vector<float> got = ReadAllFrames(canonical);
  ASSERT_EQ(got.size(), pcm.size());
  for (size_t i = 0; i < pcm.size(); ++i) ASSERT_EQ(got[i], static_cast<float>(pcm[i])) << i;

#ifdef OSTREL_TEST_HAVE_SNDFILE
  // 24-bit values one step apart, written as they are (libsndfile takes the top 24 bits).
  const int steps[4] = {2097152 + 1, -8388608, 3, 4194304};
  std::vector<int> held;
  for (int v : steps) held.push_back(v * 256);
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
  SNDFILE* f = sf_open(dir.File("fine.wav").c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(sf_writef_int(f, held.data(), 2), 2);
  sf_close(f);
  SourceReader reader(dir.File("fine.wav"));
  ASSERT_EQ(reader.problem(), "");
  const std::vector<float> fineGot = ReadAllFrames(reader);
  const std::vector<float> expected = {8192.0f + 1.0f / 256.0f, -32768.0f, 3.0f / 256.0f, 16384.0f};
  EXPECT_EQ(fineGot, expected);
#endif
}

#ifdef OSTREL_TEST_HAVE_SNDFILE

// More than two channels: fronts in full, centre and surrounds at -3 dB, LFE out, all scaled so
// that full-scale channels cannot clip, and the conversion says so.
TEST(SourceReader, DownMixesSurroundWithoutClipping) {
  if (!SourceReaderHasSndfile()) GTEST_SKIP() << "built without libsndfile";
  TempDir dir;
  // 5.1 in WAV order: L R C LFE Ls Rs, each channel a constant, every one at full scale.
  Sound s;
  s.rate = 44100;
  s.channels = 6;
  const float level[6] = {1.0f, -1.0f, 1.0f, 1.0f, 1.0f, -1.0f};
  for (int n = 0; n < 100; ++n) s.samples.insert(s.samples.end(), level, level + 6);
  ASSERT_TRUE(test::WriteSound(dir.File("51.wav"), s, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24));
  SourceReader reader(dir.File("51.wav"));
  ASSERT_EQ(reader.problem(), "");
  EXPECT_EQ(reader.Conversion(),
            "44100 Hz, 6 channels, 24-bit -> 44100 Hz stereo (down-mixed: centre and surrounds at -3 dB, LFE left "
            "out, scaled by -7.7 dB so that it cannot clip)");
  const std::vector<float> got = ReadAllFrames(reader);
  ASSERT_EQ(got.size(), 200u);
  const Sound held = test::ReadSound(dir.File("51.wav"));  // full scale as the 24-bit file holds it
  const float* h = held.samples.data();
  const double c = DOWNMIX_SIDE_WEIGHT, scale = 1.0 / (1.0 + 2.0 * c);
  EXPECT_NEAR(got[0], (h[0] + c * h[2] + c * h[4]) * scale * 32768.0, 0.01);
  EXPECT_NEAR(got[1], (h[1] + c * h[2] + c * h[5]) * scale * 32768.0, 0.01);
  EXPECT_LE(std::fabs(got[0]), 32768.0f) << "the largest mix stays within full scale";
  EXPECT_EQ(reader.clipped(), 0u);

  // Three channels in Ogg order put the centre second.
  const std::vector<ChannelPlace> vorbis = DefaultPlaces(3, true);
  EXPECT_EQ(vorbis[1], ChannelPlace::Centre);
}

// Float samples beyond full scale, and a resampler's overshoot, are limited and counted.
TEST(SourceReader, FloatBeyondFullScaleIsLimitedAndCounted) {
  if (!SourceReaderHasSndfile()) GTEST_SKIP() << "built without libsndfile";
  TempDir dir;
  Sound s;
  s.rate = 44100;
  s.channels = 1;
  s.samples = {0.5f, 1.5f, -2.0f, 1.0f, -1.0f, NAN};
  ASSERT_TRUE(test::WriteSound(dir.File("hot.wav"), s, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
  SourceReader reader(dir.File("hot.wav"));
  ASSERT_EQ(reader.problem(), "");
  const std::vector<float> got = ReadAllFrames(reader);
  const std::vector<float> expected = {16384, 16384, 32768, 32768, -32768, -32768, 32768, 32768, -32768, -32768, 0, 0};
  EXPECT_EQ(got, expected);
  EXPECT_EQ(reader.clipped(), 6u) << "1.5, -2.0 and NaN in both channels; exactly full scale is not beyond it";
}

// The writer's RF64 form (what the decoder writes past 4 GiB), on a small file: the ds64 sizes
// are the data's, and libsndfile and the encoder's own reader read the samples back.
TEST(SourceReader, TheWritersRf64FileReadsBack) {
  TempDir dir;
  const std::string path = dir.File("long.wav");
  const test::Stereo pcm = test::Sine(1000, 440.0, 9000.0);
  {
    Waveio out(path.c_str(), WAVE_WRITE);
    ASSERT_TRUE(out.UseRf64());
    std::vector<short> first(1000), second(1000);
    for (size_t n = 0; n < 1000; ++n) {
      first[n] = pcm[2 * n];
      second[n] = pcm[2 * n + 1];
    }
    out.IO(first.data(), second.data(), 1000);
    EXPECT_FALSE(out.UseRf64());  // too late once samples are in
    out.CloseWave();
    ASSERT_EQ(out.error, 0);
  }
  const std::vector<unsigned char> bytes = test::ReadAll(path);
  ASSERT_EQ(bytes.size(), 80u + 4000u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RF64");
  EXPECT_EQ(bytes[28] | bytes[29] << 8, 4000);  // ds64's data size
  const Sound back = test::ReadSound(path);
  ASSERT_EQ(back.samples.size(), pcm.size());
  for (size_t i = 0; i < pcm.size(); ++i) ASSERT_EQ(back.samples[i] * 32768.0f, pcm[i]) << i;
  SourceReader reader(path);
  ASSERT_EQ(reader.problem(), "");
  const std::vector<float> read = ReadAllFrames(reader);
  ASSERT_EQ(read.size(), pcm.size());
  for (size_t i = 0; i < pcm.size(); ++i) ASSERT_EQ(read[i], pcm[i]) << i;
}

#endif  // OSTREL_TEST_HAVE_SNDFILE

// What cannot be coded is named in plain words, and nothing is read from it.
TEST(SourceReader, NamesWhatItCannotRead) {
  TempDir dir;
  test::WriteAll(dir.File("text.wav"), {'h', 'e', 'l', 'l', 'o', '\n'});
  test::WriteWav(dir.File("empty.wav"), {});
  EXPECT_EQ(SourceReader(dir.File("missing.wav")).problem(), "cannot be opened");
  EXPECT_EQ(SourceReader(dir.File("empty.wav")).problem(), "holds no samples");
  EXPECT_NE(SourceReader(dir.File("text.wav")).problem().find("is not a "), std::string::npos);
  if (!SourceReaderHasSndfile()) {
    // The built-in reader's words for a 24-bit file.
    std::vector<unsigned char> bytes = test::WavBytes(std::vector<int16_t>(300, 1), 2, 48000);
    bytes[34] = 24;  // BitsPerSample
    test::WriteAll(dir.File("s24.wav"), bytes);
    EXPECT_EQ(SourceReader(dir.File("s24.wav")).problem().rfind("is 24-bit PCM, 2 channels, 48000 Hz; ", 0), 0u);
    return;
  }
#ifdef OSTREL_TEST_HAVE_SNDFILE
  const test::Sound s = test::TestSound(4000, 8000, 1);
  ASSERT_TRUE(test::WriteSound(dir.File("ima.wav"), s, SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM));
  ASSERT_TRUE(test::WriteSound(dir.File("ms.wav"), s, SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM));
  ASSERT_TRUE(test::WriteSound(dir.File("gsm.wav"), s, SF_FORMAT_WAV | SF_FORMAT_GSM610));
  EXPECT_EQ(SourceReader(dir.File("ima.wav")).problem(), "is ADPCM, which is not supported");
  EXPECT_EQ(SourceReader(dir.File("ms.wav")).problem(), "is ADPCM, which is not supported");
  EXPECT_EQ(SourceReader(dir.File("gsm.wav")).problem(), "is GSM 6.10, which is not supported");
  ASSERT_TRUE(test::WriteSound(dir.File("empty24.wav"), test::Sound{48000, 2, {}}, SF_FORMAT_WAV | SF_FORMAT_PCM_24));
  EXPECT_EQ(SourceReader(dir.File("empty24.wav")).problem(), "holds no samples");
#endif
}

// A file cut short of what its header promised, and one that shrinks while it is read, give
// what they hold and say that they ended early; a whole one does not.
TEST(SourceReader, TellsASourceThatEndsEarly) {
  TempDir dir;
  struct Case {
    std::string name;
    int format;  // 0: a canonical WAV written by the test
  };
  std::vector<Case> cases = {{"c.wav", 0}};
#ifdef OSTREL_TEST_HAVE_SNDFILE
  {
    cases.push_back({"s24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24});
    cases.push_back({"s.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16});
    cases.push_back({"s.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16});
  }
#endif
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const std::string path = dir.File(k.name);
    auto write = [&] {
      if (k.format == 0) {
        test::WriteWav(path, test::Sine(20000, 440.0, 8000.0));
      } else {
#ifdef OSTREL_TEST_HAVE_SNDFILE
        ASSERT_TRUE(test::WriteSound(path, test::TestSound(20000, 44100, 2), k.format));
#endif
      }
    };
    const unsigned frameBytes = k.name == "s24.wav" ? 6u : 4u;
    const uintmax_t whole = [&] { write(); return std::filesystem::file_size(path); }();
    const uintmax_t cut = whole - 12000u * frameBytes;  // 8000 frames left (no trailing chunks)

    {  // cut before it is opened
      write();
      ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(cut)), 0);
      SourceReader reader(path);
      ASSERT_EQ(reader.problem(), "");
      EXPECT_EQ(reader.promisedFrames(), 20000u);
      EXPECT_EQ(ReadAllFrames(reader).size(), 2u * 8000u);
      EXPECT_EQ(reader.framesRead(), 8000u);
      EXPECT_TRUE(reader.EndedEarly());
    }
    {  // shrinks while it is read
      write();
      SourceReader reader(path);
      std::vector<float> a(4096), b(4096);
      ASSERT_EQ(reader.Read(a.data(), b.data(), 4096), 4096u);
      ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(cut)), 0);
      const size_t rest = ReadAllFrames(reader).size() / 2;
      EXPECT_LT(4096u + rest, 20000u);
      EXPECT_EQ(reader.framesRead(), 4096u + rest);
      EXPECT_TRUE(reader.EndedEarly());
    }
    {  // whole
      write();
      SourceReader reader(path);
      EXPECT_EQ(ReadAllFrames(reader).size(), 2u * 20000u);
      EXPECT_FALSE(reader.EndedEarly());
    }
  }
}

}  // namespace
}  // namespace ostrel
