// Through the real programs: every kind of source the encoder reads is coded and decodes to its
// converted reference as well as a canonical file of the same audio does; no source length loses
// samples at any rate; a source that ends early and one that holds nothing get their messages and
// exit statuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/DownMix.h"
#include "audio/SourceReader.h"
#include "common/Process.h"
#include "common/StreamFixture.h"
#include "common/TempDir.h"
#include "common/WavFixture.h"
#include "decoder/RoundTrip.h"
#include "ostrel/ostrel.h"
#ifdef OSTREL_TEST_HAVE_SNDFILE
#include "common/SoundFile.h"
#endif

namespace ostrel {
namespace {

using test::Program;
using test::RunResult;
using test::Stereo;
using test::TempDir;

// Every menu row with its frame geometry: new samples per frame and the decoder's delay (HLSIZE).
struct RateRow {
  int row;
  size_t total, delay;
};
constexpr RateRow kRows[] = {{1, 8192, 256},   {2, 8192, 256},   {3, 8192, 512},  {4, 16384, 1024},
                             {5, 16384, 1024}, {6, 16384, 1024}, {7, 16384, 1024}};

RunResult EncodeWithProgram(const std::string& source, const std::string& target, int row) {
  return test::Run({Program("ostrelenc")}, source + "\n" + target + "\n" + std::to_string(row) + "\n");
}

// Decodes `ost` with ostreldec and returns its samples.
Stereo Decode(const TempDir& dir, const std::string& ost) {
  const std::string wav = dir.File("decoded.wav");
  const RunResult r = test::Run({Program("ostreldec"), ost, wav}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  return test::WavSamples(wav);
}

// The frames a stream of a source of `n` sample frames must have: the frame in which the source
// runs out, and one more while the output (frames x total - delay) does not reach its end.
uint32_t FramesFor(size_t n, const RateRow& rate) {
  size_t frames = n / rate.total + 1;
  while (frames * rate.total < n + rate.delay) ++frames;
  return static_cast<uint32_t>(frames);
}

// SNR in dB of decoded 16-bit samples against a float reference over the reference's samples.
double SnrDb(const std::vector<float>& reference, const Stereo& decoded, size_t from = 0) {
  double signal = 0.0, noise = 0.0;
  for (size_t i = from; i < reference.size() && i < decoded.size(); ++i) {
    const double d = reference[i] - decoded[i];
    signal += double(reference[i]) * reference[i];
    noise += d * d;
  }
  return 10.0 * std::log10(signal / noise);
}

std::vector<float> ToFloat(const Stereo& s) { return std::vector<float>(s.begin(), s.end()); }

// Every length around one and two frames at every rate: the decoder gives back every sample (the
// tail as well as the rest), and only lengths whose tail needs it get the extra frame, so every
// other stream is the one the encoder has always written.
TEST(KeepTheTail, NoLengthLosesSamplesAtAnyRate) {
  TempDir dir;
  for (const RateRow& rate : kRows) {
    const size_t T = rate.total, H = rate.delay;
    for (size_t n : {T - H - 1, T - H, T - H + 1, T - 1, T, T + 1, 2 * T - H + 1, 2 * T - 1}) {
      SCOPED_TRACE("row " + std::to_string(rate.row) + ", " + std::to_string(n) + " sample frames");
      const Stereo source = test::Sine(n, 1000.0, 8000.0);
      test::WriteWav(dir.File("s.wav"), source);
      const RunResult r = EncodeWithProgram(dir.File("s.wav"), dir.File("s.ost"), rate.row);
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(test::HeaderFrameCount(test::ReadAll(dir.File("s.ost"))), FramesFor(n, rate));
      const Stereo decoded = Decode(dir, dir.File("s.ost"));
      ASSERT_GE(decoded.size(), source.size()) << "every source sample comes back";
      // The last samples (one delay's worth) come back as the tone, not as silence: the whole
      // signal decodes at about 20 dB, an end left out would be at 0 dB.
      const double tailSnr = SnrDb(ToFloat(source), decoded, source.size() - 2 * H);
      EXPECT_GT(tailSnr, 8.0);
      // After the end the source is silent: what the decoder gives there is coding noise only
      // (the step at the cut smears over its first samples), well below the tone's RMS of 5657.
      const size_t quietFrom = source.size() + 2 * 64;
      double extra = 0.0;
      for (size_t i = quietFrom; i < decoded.size(); ++i) extra += double(decoded[i]) * decoded[i];
      if (decoded.size() > quietFrom) {
        EXPECT_LT(std::sqrt(extra / double(decoded.size() - quietFrom)), 400.0);
      }
    }
  }
}

#ifdef OSTREL_TEST_HAVE_SNDFILE

// A converted source's length is the converted one, and that too comes back in full.
TEST(KeepTheTail, ConvertedLengthsComeBackInFull) {
  if (!SourceReaderHasSndfile() || !SourceReaderHasSoxr()) GTEST_SKIP() << "built without libsndfile or libsoxr";
  TempDir dir;
  const RateRow& rate = kRows[4];
  for (size_t n : {size_t(16718), size_t(16719), size_t(17833), size_t(17834), size_t(35668)}) {  // 48 kHz
    SCOPED_TRACE(n);
    const test::Sound sound = test::TestSound(n, 48000, 1);
    ASSERT_TRUE(test::WriteSound(dir.File("s.wav"), sound, SF_FORMAT_WAV | SF_FORMAT_PCM_24));
    const size_t converted = test::SoxrReference(test::ReadSound(dir.File("s.wav"))).size() / 2;
    const RunResult r = EncodeWithProgram(dir.File("s.wav"), dir.File("s.ost"), rate.row);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::HeaderFrameCount(test::ReadAll(dir.File("s.ost"))), FramesFor(converted, rate));
    EXPECT_GE(Decode(dir, dir.File("s.ost")).size() / 2, converted);
  }
}

// Each kind of source is coded, says its conversion, and decodes to its converted reference
// (libsoxr's own one-shot conversion of what the file holds) within 0.5 dB of the SNR that a
// canonical WAV of that reference (rounded to 16 bits) gets. The rounding is the only difference
// between the two inputs, some 90 dB down; the two SNRs agree to 0.01 dB here, and 0.5 dB leaves
// room for a step size chosen differently in a frame or two.
TEST(SourceKinds, EachKindCodesAsWellAsACanonicalFile) {
  if (!SourceReaderHasSndfile() || !SourceReaderHasSoxr()) GTEST_SKIP() << "built without libsndfile or libsoxr";
  struct Kind {
    const char* name;
    int format, rate, channels;
    const char* line;
  };
  const Kind kinds[] = {
      {"song.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 1, "48000 Hz, 1 channel, 24-bit"},
      {"f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, "44100 Hz, 2 channels, 32-bit float"},
      {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 22050, 2, "22050 Hz, 2 channels, 8-bit"},
      {"s.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 96000, 2, "96000 Hz, 2 channels, 16-bit"},
      {"s.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 32000, 2, "32000 Hz, 2 channels, 24-bit"},
      {"s.w64", SF_FORMAT_W64 | SF_FORMAT_DOUBLE, 8000, 1, "8000 Hz, 1 channel, 64-bit float"},
      {"ulaw.wav", SF_FORMAT_WAV | SF_FORMAT_ULAW, 16000, 1, "16000 Hz, 1 channel, mu-law"},
      {"s.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2, "44100 Hz, 2 channels, Vorbis"},
      {"s.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 2, "48000 Hz, 2 channels, Opus"},
      {"51.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 48000, 6, "48000 Hz, 6 channels, 24-bit"},
  };
  TempDir dir;
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    const std::string path = dir.File(k.name);
    ASSERT_TRUE(test::WriteSound(path, test::TestSound(2 * size_t(k.rate), k.rate, k.channels), k.format));
    test::Sound held = test::ReadSound(path);
    if (held.channels > 2) {  // the reference down-mix: L R C LFE Ls Rs
      const double c = DOWNMIX_SIDE_WEIGHT, scale = 1.0 / (1.0 + 2.0 * c);
      test::Sound mixed{held.rate, 2, {}};
      for (size_t n = 0; n < held.frames(); ++n) {
        const float* s = held.samples.data() + 6 * n;
        mixed.samples.push_back(static_cast<float>((s[0] + c * s[2] + c * s[4]) * scale));
        mixed.samples.push_back(static_cast<float>((s[1] + c * s[2] + c * s[5]) * scale));
      }
      held = mixed;
    }
    const std::vector<float> reference = test::SoxrReference(held);
    Stereo rounded(reference.size());
    for (size_t i = 0; i < reference.size(); ++i) rounded[i] = test::Clip16(reference[i]);
    test::WriteWav(dir.File("canonical.wav"), rounded);

    const RunResult r = EncodeWithProgram(path, dir.File("kind.ost"), 5);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(path + ": " + k.line + " -> 44100 Hz stereo"), std::string::npos) << r.out;
    ASSERT_EQ(EncodeWithProgram(dir.File("canonical.wav"), dir.File("canonical.ost"), 5).status, 0);
    const Stereo decoded = Decode(dir, dir.File("kind.ost"));
    const Stereo decodedCanonical = Decode(dir, dir.File("canonical.ost"));
    ASSERT_GE(decoded.size(), reference.size());
    const double snr = SnrDb(reference, decoded), snrCanonical = SnrDb(ToFloat(rounded), decodedCanonical);
    EXPECT_NEAR(snr, snrCanonical, 0.5);
  }
}

// The float path changes nothing a canonical file would give: a FLAC of 16-bit stereo 44100 Hz
// samples, read and converted, codes to the very bytes of the WAV of those samples.
TEST(SourceKinds, SixteenBitStereoInAnyFileGivesTheCanonicalBytes) {
  if (!SourceReaderHasSndfile()) GTEST_SKIP() << "built without libsndfile";
  TempDir dir;
  const Stereo pcm = test::Sine(40000, 440.0, 9000.0);
  test::WriteWav(dir.File("c.wav"), pcm);
  test::Sound sound{44100, 2, {}};
  for (int16_t v : pcm) sound.samples.push_back(v / 32768.0f);
  ASSERT_TRUE(test::WriteSound(dir.File("c.flac"), sound, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
  ASSERT_EQ(EncodeWithProgram(dir.File("c.wav"), dir.File("wav.ost"), 2).status, 0);
  const RunResult r = EncodeWithProgram(dir.File("c.flac"), dir.File("flac.ost"), 2);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadAll(dir.File("flac.ost")), test::ReadAll(dir.File("wav.ost")));
}

// A length that is not known is no promise: a FLAC whose header states none (as a writer into a
// pipe leaves it) gives the canonical file's stream, and an Ogg file with bytes after its last
// page is coded with no word of ending early.
TEST(SourceKinds, AnUnknownLengthIsNoPromise) {
  if (!SourceReaderHasSndfile()) GTEST_SKIP() << "built without libsndfile";
  TempDir dir;
  const Stereo pcm = test::Sine(40000, 440.0, 9000.0);
  test::WriteWav(dir.File("c.wav"), pcm);
  test::Sound sound{44100, 2, {}};
  for (int16_t v : pcm) sound.samples.push_back(v / 32768.0f);
  ASSERT_TRUE(test::WriteSound(dir.File("c.flac"), sound, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
  ASSERT_TRUE(test::WriteSound(dir.File("c.ogg"), sound, SF_FORMAT_OGG | SF_FORMAT_VORBIS));
  {
    // STREAMINFO's total samples (36 bits from byte 21's low nibble) set to 0: unknown.
    std::fstream flac(dir.File("c.flac"), std::ios::in | std::ios::out | std::ios::binary);
    char bytes[5];
    flac.seekg(21);
    flac.read(bytes, 5);
    bytes[0] = static_cast<char>(bytes[0] & 0xF0);
    std::fill(bytes + 1, bytes + 5, 0);
    flac.seekp(21);
    flac.write(bytes, 5);
    std::ofstream(dir.File("c.ogg"), std::ios::app | std::ios::binary) << std::string(300, 'x');
  }
  ASSERT_EQ(EncodeWithProgram(dir.File("c.wav"), dir.File("wav.ost"), 2).status, 0);
  RunResult r = EncodeWithProgram(dir.File("c.flac"), dir.File("flac.ost"), 2);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadAll(dir.File("flac.ost")), test::ReadAll(dir.File("wav.ost")));
  r = EncodeWithProgram(dir.File("c.ogg"), dir.File("ogg.ost"), 2);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("ended early"), std::string::npos) << r.err;
}

// A sample rate no one records at is refused, before the converter sizes anything by it.
TEST(SourceKinds, SampleRatesBelow1000HzAreRefused) {
  if (!SourceReaderHasSndfile()) GTEST_SKIP() << "built without libsndfile";
  TempDir dir;
  std::ofstream(dir.File("slow.wav"), std::ios::binary) << [] {
    const std::vector<unsigned char> bytes = test::WavBytes(Stereo(20, 1000), 2, 1);
    return std::string(bytes.begin(), bytes.end());
  }();
  const RunResult r = test::Run({Program("ostrelenc"), "-q", dir.File("slow.wav"), "-o", dir.File("slow.ost")}, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("sample rates below 1000 Hz are not supported"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("slow.ost")));
}

// A converted source, handed to libostrel's float input as the reader delivers it (scaled to
// -1..1), gives ostrelenc's stream byte for byte: the program and the library code the same
// samples through the same engine, tail frame included.
TEST(SourceKinds, LibraryFloatInputGivesTheProgramsStream) {
  if (!SourceReaderHasSndfile() || !SourceReaderHasSoxr()) GTEST_SKIP() << "built without libsndfile or libsoxr";
  TempDir dir;
  // 52963 samples at 48 kHz become 48660 at 44.1 kHz, 7700 into the sixth frame of 8192 at
  // 192 kb/s: more than 8192 - 512, so the stream has a seventh frame for the tail.
  ASSERT_TRUE(test::WriteSound(dir.File("s.flac"), test::TestSound(52963, 48000, 1), SF_FORMAT_FLAC | SF_FORMAT_PCM_24));
  ASSERT_EQ(EncodeWithProgram(dir.File("s.flac"), dir.File("s.ost"), 3).status, 0);
  EXPECT_EQ(test::HeaderFrameCount(test::ReadAll(dir.File("s.ost"))), 7u);

  SourceReader reader(dir.File("s.flac"));
  ASSERT_EQ(reader.problem(), "");
  std::vector<unsigned char> stream;
  size_t at = 0;
  struct Out {
    std::vector<unsigned char>* bytes;
    size_t* at;
  } out{&stream, &at};
  auto write = [](void* user, const void* data, size_t n) {
    auto* o = static_cast<Out*>(user);
    if (*o->at + n > o->bytes->size()) o->bytes->resize(*o->at + n);
    std::memcpy(o->bytes->data() + *o->at, data, n);
    *o->at += n;
    return 0;
  };
  auto seek = [](void* user, uint64_t offset) {
    *static_cast<Out*>(user)->at = static_cast<size_t>(offset);
    return 0;
  };
  int status = 0;
  ostrel_encoder* enc = ostrel_encoder_create(192, write, seek, &out, &status);
  ASSERT_NE(enc, nullptr);
  ASSERT_EQ(ostrel_encoder_set_fields(enc, 0), OSTREL_OK);  // the dialogue's header
  std::vector<float> first(3000), second(3000), interleaved(6000);
  for (size_t got; (got = reader.Read(first.data(), second.data(), first.size())) > 0;) {
    for (size_t i = 0; i < got; ++i) {
      interleaved[2 * i] = first[i] / 32768.0f;
      interleaved[2 * i + 1] = second[i] / 32768.0f;
    }
    ASSERT_EQ(ostrel_encoder_write_float(enc, interleaved.data(), got), OSTREL_OK);
  }
  ASSERT_EQ(ostrel_encoder_finish(enc), OSTREL_OK);
  ostrel_encoder_destroy(enc);
  EXPECT_EQ(stream, test::ReadAll(dir.File("s.ost")));
}

// Float samples beyond full scale are limited, counted and reported; the run still succeeds.
TEST(SourceKinds, LimitedSamplesAreReported) {
  if (!SourceReaderHasSndfile()) GTEST_SKIP() << "built without libsndfile";
  TempDir dir;
  test::Sound hot = test::TestSound(20000, 44100, 2, 0.5);
  hot.samples[100] = 1.5f;
  hot.samples[201] = -3.0f;
  ASSERT_TRUE(test::WriteSound(dir.File("hot.wav"), hot, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
  const RunResult r = EncodeWithProgram(dir.File("hot.wav"), dir.File("hot.ost"), 5);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("ostrelenc: " + dir.File("hot.wav") + ": 2 samples beyond full scale were limited to it.\n"),
            std::string::npos)
      << r.err;
}

#endif  // OSTREL_TEST_HAVE_SNDFILE

// A source cut short of its header's promise, or cut while it is coded, is coded as far as it
// goes, ends with a message giving both counts, and exit status 1; its stream decodes to all the
// samples it held.
TEST(SourceEndsEarly, CodedAsFarAsItGoesWithAMessageAndStatus1) {
  TempDir dir;
  const std::string path = dir.File("cut.wav");
  {  // cut before the run
    test::WriteWav(path, test::Sine(88200, 440.0, 8000.0));
    ASSERT_EQ(truncate(path.c_str(), 44 + 4 * 44100), 0);
    const RunResult r = EncodeWithProgram(path, dir.File("cut.ost"), 5);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ostrelenc: " + path + " ended early: its header promised 88200 sample frames, it held "
                         "44100; the stream codes those 44100.\n"),
              std::string::npos)
        << r.err;
    EXPECT_GE(Decode(dir, dir.File("cut.ost")).size(), 2u * 44100u);
  }
  {  // cut while it is coded: a minute of audio, shortened once the frames start
    test::WriteWav(path, test::Silence(44100 * 60));
    test::RunOptions options;
    options.signalAfter = "Progress:";
    options.actionAfter = [&] { ASSERT_EQ(truncate(path.c_str(), 44 + 4 * 44100 * 5), 0); };
    const RunResult r =
        test::Run({Program("ostrelenc")}, path + "\n" + dir.File("shrunk.ost") + "\n5\n", options);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(" ended early: its header promised 2646000 sample frames, it held "), std::string::npos)
        << r.err;
    EXPECT_EQ(test::HeaderFrameCount(test::ReadAll(dir.File("shrunk.ost"))) > 0, true);
  }
  {  // whole: no message
    test::WriteWav(path, test::Sine(30000, 440.0, 8000.0));
    const RunResult r = EncodeWithProgram(path, dir.File("whole.ost"), 5);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.find("ended early"), std::string::npos) << r.err;
  }
}

// A source that holds no samples is refused, not coded as silence: no target is created.
TEST(SourceEndsEarly, EmptySourceIsRefused) {
  TempDir dir;
  test::WriteWav(dir.File("empty.wav"), {});
  std::vector<unsigned char> unpatched = test::WavBytes({});
  for (int i = 40; i < 44; ++i) unpatched[i] = 0xFF;  // a streaming writer's "size unknown"
  test::WriteAll(dir.File("header_only.wav"), unpatched);
  for (const char* name : {"empty.wav", "header_only.wav"}) {
    SCOPED_TRACE(name);
    const RunResult r = EncodeWithProgram(dir.File(name), dir.File("out.ost"), 5);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir.File(name) + " holds no samples.\n"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.ost")));
  }
}

}  // namespace
}  // namespace ostrel
