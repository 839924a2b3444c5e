// The exact length and the tags through the real programs and the library: every source length
// comes back with exactly its sample frames at every rate in both modes, the tags of a FLAC reach
// the decoded WAV, streams without tags decode as they always did, and bad fields are said.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <string>
#include <vector>

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

struct FileInput {
  std::FILE* f;
};
long ReadFile(void* user, void* data, size_t bytes) {
  return static_cast<long>(std::fread(data, 1, bytes, static_cast<FileInput*>(user)->f));
}
int SeekFile(void* user, uint64_t offset) {
  return std::fseek(static_cast<FileInput*>(user)->f, static_cast<long>(offset), SEEK_SET);
}

// The first byte of the frames: the header's length.
size_t HeaderBytes(const std::vector<unsigned char>& stream) {
  ostrel_info info;
  return ostrel_parse_header(stream.data(), stream.size(), &info, nullptr, 0) == OSTREL_OK ? info.header_bytes : 0;
}

// Lengths on both sides of each frame edge, for both modes, through ostrelenc and ostreldec: the
// output holds exactly the source's sample frames, and its samples are the untrimmed decoding's
// (the frames are the dialogue's, byte for byte). The library stops, seeks and tells in the same
// length.
TEST(ExactLength, EveryLengthAtEveryRateInBothModes) {
  TempDir dir;
  for (const test::RateRow& rate : test::RateRows()) {
    const size_t T = static_cast<size_t>(rate.Total()), H = static_cast<size_t>(rate.longSize / 2);
    const std::string kbps = std::to_string(rate.code * 2);
    for (size_t n : {size_t(1), T - H, T - H + 1, 2 * T - 1}) {
      SCOPED_TRACE(kbps + " kb/s, " + std::to_string(n) + " sample frames");
      const Stereo source = test::Sine(n, 700.0, 6000.0);
      test::WriteWav(dir.File("s.wav"), source);
      for (const bool quality : {false, true}) {
        SCOPED_TRACE(quality ? "quality mode" : "reference");
        std::vector<std::string> enc = {Program("ostrelenc"), "-q", "-f", "-b", kbps, dir.File("s.wav"), "-o",
                                        dir.File("s.ost")};
        if (quality) enc.push_back("--quality");
        RunResult r = test::Run(enc, "");
        ASSERT_EQ(r.status, 0) << r.err;
        r = test::Run({Program("ostreldec"), "-q", "-f", dir.File("s.ost"), "-o", dir.File("d.wav")}, "");
        ASSERT_EQ(r.status, 0) << r.err;
        const Stereo decoded = test::WavSamples(dir.File("d.wav"));
        ASSERT_EQ(decoded.size(), source.size());
        if (!quality && n == T - H + 1) {
          ASSERT_EQ(test::Run({Program("ostrelenc")}, dir.File("s.wav") + "\n" + dir.File("old.ost") + "\n" +
                                                          std::to_string(rate.row) + "\n")
                        .status,
                    0);
          const std::vector<unsigned char> now = test::ReadAll(dir.File("s.ost"));
          const std::vector<unsigned char> old = test::ReadAll(dir.File("old.ost"));
          ASSERT_EQ(HeaderBytes(old), 30u) << "the dialogue writes the header it always wrote";
          EXPECT_TRUE(std::equal(now.begin() + static_cast<long>(HeaderBytes(now)), now.end(), old.begin() + 30,
                                 old.end()));
          r = test::Run({Program("ostreldec"), "-q", "-f", dir.File("old.ost"), "-o", dir.File("old.wav")}, "");
          const Stereo whole = test::WavSamples(dir.File("old.wav"));
          ASSERT_EQ(whole.size() / 2, static_cast<size_t>(ostrel_stream_samples(rate.code * 2, test::HeaderFrameCount(old))));
          EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), whole.begin()));
        }
        FileInput in{std::fopen(dir.File("s.ost").c_str(), "rb")};
        ostrel_decoder* dec = ostrel_decoder_open(ReadFile, SeekFile, &in, 0, nullptr);
        ASSERT_NE(dec, nullptr);
        ostrel_info info;
        ASSERT_EQ(ostrel_decoder_info(dec, &info), OSTREL_OK);
        EXPECT_EQ(info.samples, n);
        int16_t pcm[8];
        ASSERT_EQ(ostrel_decoder_seek(dec, n - 1), OSTREL_OK);
        EXPECT_EQ(ostrel_decoder_read(dec, pcm, 4), 1);
        EXPECT_EQ(pcm[0], decoded[2 * n - 2]);
        EXPECT_EQ(ostrel_decoder_tell(dec), n);
        EXPECT_EQ(ostrel_decoder_read(dec, pcm, 4), 0);
        EXPECT_EQ(ostrel_decoder_seek(dec, n + 1), OSTREL_ERR_ARGUMENT);
        ostrel_decoder_destroy(dec);
        std::fclose(in.f);
      }
    }
  }
}

// A stream written where the output cannot seek keeps LENGTH unknown and decodes to whole frames.
TEST(ExactLength, UnknownWhereTheOutputCannotSeek) {
  TempDir dir;
  test::WriteWav(dir.File("s.wav"), test::Sine(20000, 700.0, 6000.0));
  const RunResult r = test::Run({"/bin/sh", "-c",
                                 Program("ostrelenc") + " -q '" + dir.File("s.wav") + "' -o - | cat > '" +
                                     dir.File("p.ost") + "'"},
                                "");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<unsigned char> stream = test::ReadAll(dir.File("p.ost"));
  const std::string text(stream.begin(), stream.begin() + static_cast<long>(HeaderBytes(stream)));
  EXPECT_NE(text.find("\nLENGTH=????????????????\n"), std::string::npos);
  ostrel_info info;
  ASSERT_EQ(ostrel_parse_header(stream.data(), stream.size(), &info, nullptr, 0), OSTREL_OK);
  EXPECT_EQ(info.samples, 0u) << "neither the frame count nor the length is known";
}

// A stream whose header is rewritten with `comment` as its comment string.
std::vector<unsigned char> WithComment(const std::vector<unsigned char>& stream, const std::string& comment) {
  ostrel_info info;
  EXPECT_EQ(ostrel_parse_header(stream.data(), stream.size(), &info, nullptr, 0), OSTREL_OK);
  const size_t at = 14 + 1 + std::strlen("None") + 1 + std::strlen("None");
  std::vector<unsigned char> out(stream.begin(), stream.begin() + static_cast<long>(at));
  out.push_back(static_cast<unsigned char>(comment.size() & 0xFF));
  out.push_back(static_cast<unsigned char>(comment.size() >> 8));
  out.insert(out.end(), comment.begin(), comment.end());
  out.insert(out.end(), stream.begin() + static_cast<long>(info.header_bytes), stream.end());
  return out;
}

// Free text, fields a decoder must pass over, and a LENGTH beyond the frames: the samples are the
// whole frames' (the frames are trusted) and each fault is said in one line.
TEST(ExactLength, FreeTextAndBadFieldsDecodeAsWholeFrames) {
  TempDir dir;
  test::WriteWav(dir.File("s.wav"), test::Sine(30000, 700.0, 6000.0));
  ASSERT_EQ(test::Run({Program("ostrelenc"), "-q", dir.File("s.wav"), "-o", dir.File("s.ost")}, "").status, 0);
  const std::vector<unsigned char> stream = test::ReadAll(dir.File("s.ost"));
  const size_t whole = static_cast<size_t>(ostrel_stream_samples(128, test::HeaderFrameCount(stream)));
  struct Case {
    std::string comment, message;
    size_t samples;
  } cases[] = {
      {"just a comment\nLENGTH=1000\n", "", whole},
      {"OSTREL-FIELDS/1\nLENGTH=0000000000999999\n", "LENGTH of 999999 sample frames is more than its 2 frames", whole},
      {"OSTREL-FIELDS/1\nLENGTH=12x\nTITLE=A\n", "line 2 gives LENGTH=12x, which is not a number", whole},
      {"OSTREL-FIELDS/1\nno equals sign\nLENGTH=29999\n", "line 2 is not KEY=VALUE", 29999},
      {"OSTREL-FIELDS/1\nTITLE=\xC3\x28\nLENGTH=29999\n", "line 2 is malformed (the value is not valid UTF-8)", 29999},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.comment);
    test::WriteAll(dir.File("b.ost"), WithComment(stream, c.comment));
    const RunResult r = test::Run({Program("ostreldec"), "-f", "-q", dir.File("b.ost"), "-o", dir.File("b.wav")}, "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::WavSamples(dir.File("b.wav")).size() / 2, c.samples);
    if (c.message.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
  }
}

// What the encoder refuses: a value that is not UTF-8 or too long for the comment, a key that is
// not one, LENGTH.
TEST(Tags, TheEncoderRefusesWhatTheHeaderCannotHold) {
  ostrel_encoder* enc = ostrel_encoder_create(128, [](void*, const void*, size_t) { return 0; }, nullptr, nullptr, nullptr);
  ASSERT_NE(enc, nullptr);
  EXPECT_EQ(ostrel_encoder_set_tag(enc, "ALBUM", "\xFF"), OSTREL_ERR_TAG);
  EXPECT_EQ(ostrel_encoder_set_tag(enc, "AL=BUM", "x"), OSTREL_ERR_TAG);
  EXPECT_EQ(ostrel_encoder_set_tag(enc, "length", "5"), OSTREL_ERR_TAG);
  EXPECT_EQ(ostrel_encoder_set_tag(enc, "COMMENT", std::string(65000, 'c').c_str()), OSTREL_OK);
  EXPECT_EQ(ostrel_encoder_add_tag(enc, "GENRE", std::string(600, 'g').c_str()), OSTREL_ERR_TAG);
  EXPECT_EQ(ostrel_encoder_set_tag(enc, "title", std::string(256, 't').c_str()), OSTREL_ERR_TAG);
  ostrel_encoder_destroy(enc);

  TempDir dir;
  test::WriteWav(dir.File("s.wav"), test::Sine(3000, 700.0, 6000.0));
  RunResult r = test::Run({Program("ostrelenc"), "--tag", "NOEQUALS", dir.File("s.wav")}, "");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--tag takes KEY=VALUE"), std::string::npos) << r.err;
  r = test::Run({Program("ostrelenc"), "--tag", "GENRE=\xC0\xAF", dir.File("s.wav")}, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the tag GENRE cannot be written"), std::string::npos) << r.err;
  EXPECT_FALSE(std::ifstream(dir.File("s.ost")).good());
}

// ostreltag changes tags without coding again: the frames stay byte for byte, LENGTH stays, a
// stream of the dialogue (no tags, no LENGTH) still decodes to its whole frames, and a change
// that cannot be written leaves the file as it was.
TEST(Retag, ChangesTagsAndKeepsTheFrames) {
  TempDir dir;
  test::WriteWav(dir.File("s.wav"), test::Sine(25000, 700.0, 6000.0));
  ASSERT_EQ(test::Run({Program("ostrelenc"), "-q", "--title", "One", "--tag", "DATE=2020", dir.File("s.wav")}, "").status, 0);
  ASSERT_EQ(test::Run({Program("ostrelenc")}, dir.File("s.wav") + "\n" + dir.File("old.ost") + "\n5\n").status, 0);
  for (const char* name : {"s.ost", "old.ost"}) {
    SCOPED_TRACE(name);
    const std::string file = dir.File(name);
    const std::vector<unsigned char> before = test::ReadAll(file);
    RunResult r = test::Run({Program("ostreltag"), file, "--tag", "title=Two", "--tag", "ALBUM=A\nB", "--remove",
                             "date", "--show"}, "");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string("TITLE=Two\n") + (name == std::string("s.ost") ? std::string("ENCODER=libostrel ") + ostrel_version() + "\n" : "") +
                         "ALBUM=A\\nB\n");
    const std::vector<unsigned char> after = test::ReadAll(file);
    ASSERT_GT(HeaderBytes(after), 0u);
    EXPECT_TRUE(std::equal(after.begin() + static_cast<long>(HeaderBytes(after)), after.end(),
                           before.begin() + static_cast<long>(HeaderBytes(before)), before.end()));
    EXPECT_EQ(after.size() - HeaderBytes(after), before.size() - HeaderBytes(before));
    r = test::Run({Program("ostreldec"), "-q", "-f", file, "-o", dir.File("d.wav")}, "");
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t whole = static_cast<size_t>(ostrel_stream_samples(128, test::HeaderFrameCount(after)));
    EXPECT_EQ(test::WavSamples(dir.File("d.wav")).size() / 2, name == std::string("s.ost") ? 25000u : whole);

    // A value the header cannot hold: refused, the file untouched, no temporary file left.
    r = test::Run({Program("ostreltag"), file, "--tag", "TITLE=" + std::string(300, 'x')}, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the file is unchanged"), std::string::npos) << r.err;
    EXPECT_EQ(test::ReadAll(file), after);
  }
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.File(""))) entries += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(entries, 4u) << "s.wav, s.ost, old.ost, d.wav and nothing left over";
}

// ReplayGain: a 1 kHz tone of peak 0.5 (-6.02 dBFS) measures -6.0 LUFS (BS.1770's K-weighting adds
// about +0.7 dB at 1 kHz, the stereo sum +3 dB, the -0.691 offset takes it back), so its gain to
// -18 LUFS is -12.0 dB; the album's figures stand in every file of the call; --apply-gain scales
// the output by that gain.
TEST(ReplayGain, TrackAndAlbumFiguresAndTheirApplication) {
  TempDir dir;
  test::WriteWav(dir.File("loud.wav"), test::Sine(5 * 44100, 1000.0, 16384.0));
  test::WriteWav(dir.File("quiet.wav"), test::Sine(5 * 44100, 1000.0, 4096.0));
  RunResult r = test::Run({Program("ostrelenc"), "-q", "--album-gain", dir.File("loud.wav"), dir.File("quiet.wav")}, "");
  if (r.status == 2) GTEST_SKIP() << r.err;  // built without libebur128
  ASSERT_EQ(r.status, 0) << r.err;
  const auto tags = [&dir](const char* name) {
    return test::Run({Program("ostreltag"), dir.File(name)}, "").out;
  };
  const auto number = [](const std::string& text, const std::string& key) {
    const size_t at = text.find(key + "=");
    return at == std::string::npos ? 1e9 : std::strtod(text.c_str() + at + key.size() + 1, nullptr);
  };
  const std::string loud = tags("loud.ost"), quiet = tags("quiet.ost");
  EXPECT_NEAR(number(loud, "REPLAYGAIN_TRACK_GAIN"), -12.0, 0.1) << loud;
  EXPECT_NEAR(number(loud, "REPLAYGAIN_TRACK_PEAK"), 0.5, 0.01) << loud;
  EXPECT_NEAR(number(quiet, "REPLAYGAIN_TRACK_GAIN"), number(loud, "REPLAYGAIN_TRACK_GAIN") + 12.04, 0.05) << quiet;
  for (const char* key : {"REPLAYGAIN_ALBUM_GAIN", "REPLAYGAIN_ALBUM_PEAK"}) {
    EXPECT_EQ(number(loud, key), number(quiet, key)) << key;
  }
  EXPECT_NEAR(number(loud, "REPLAYGAIN_ALBUM_PEAK"), 0.5, 0.01);

  // The quiet file at its track gain is as loud as the loud one at its own.
  for (const char* name : {"loud", "quiet"}) {
    r = test::Run({Program("ostreldec"), "-q", "--apply-gain", "track", dir.File(std::string(name) + ".ost"), "-o",
                   dir.File(std::string(name) + "-rg.wav")}, "");
    ASSERT_EQ(r.status, 0) << r.err;
  }
  const auto rms = [](const Stereo& s) {
    double sum = 0.0;
    for (int16_t v : s) sum += double(v) * v;
    return std::sqrt(sum / double(s.size()));
  };
  const double a = rms(test::WavSamples(dir.File("loud-rg.wav"))), b = rms(test::WavSamples(dir.File("quiet-rg.wav")));
  EXPECT_NEAR(20.0 * std::log10(a / b), 0.0, 0.25);  // coding moves each level by about 0.1 dB
  EXPECT_NEAR(20.0 * std::log10(a / (16384.0 / std::sqrt(2.0))), -12.0, 0.3) << "the loud tone lowered by 12 dB";
}

#ifdef OSTREL_TEST_HAVE_SNDFILE

// A tagged 48 kHz FLAC: its tags and --tag reach the stream, ostreldec's WAV (LIST/INFO) and
// --info; the WAV has exactly the converted source's sample frames.
TEST(Tags, FromAFlacThroughTheStreamIntoTheWav) {
  TempDir dir;
  const test::Sound sound = test::TestSound(48000 + 77, 48000, 2, 0.3);
  SF_INFO sfinfo{};
  sfinfo.samplerate = sound.rate;
  sfinfo.channels = sound.channels;
  sfinfo.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(dir.File("t.flac").c_str(), SFM_WRITE, &sfinfo);
  ASSERT_NE(f, nullptr);
  sf_set_string(f, SF_STR_TITLE, "S\xC3\xB8ng");
  sf_set_string(f, SF_STR_ARTIST, "The Band");
  sf_set_string(f, SF_STR_ALBUM, "Live");
  sf_set_string(f, SF_STR_TRACKNUMBER, "3");
  sf_set_string(f, SF_STR_GENRE, "Jazz");
  sf_writef_float(f, sound.samples.data(), static_cast<sf_count_t>(sound.frames()));
  sf_close(f);

  RunResult r = test::Run({Program("ostrelenc"), "-q", "--tag", "date=2024", "--tag", "GENRE=Blues",
                           dir.File("t.flac")}, "");
  ASSERT_EQ(r.status, 0) << r.err;
  r = test::Run({Program("ostreldec"), "--info", dir.File("t.ost")}, "");
  EXPECT_NE(r.out.find("Title:       S\xC3\xB8ng\nAuthor:      The Band\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  ALBUM=Live\n  TRACKNUMBER=3\n  DATE=2024\n  GENRE=Blues\n"), std::string::npos) << r.out;
  ASSERT_EQ(test::Run({Program("ostreldec"), "-q", dir.File("t.ost")}, "").status, 0);

  SF_INFO wavInfo{};
  SNDFILE* wav = sf_open(dir.File("t.wav").c_str(), SFM_READ, &wavInfo);
  ASSERT_NE(wav, nullptr);
  EXPECT_EQ(wavInfo.frames, static_cast<sf_count_t>((48000 + 77) * 44100.0 / 48000 + 0.5));
  const auto text = [wav](int kind) { const char* s = sf_get_string(wav, kind); return std::string(s ? s : ""); };
  EXPECT_EQ(text(SF_STR_TITLE), "S\xC3\xB8ng");
  EXPECT_EQ(text(SF_STR_ARTIST), "The Band");
  EXPECT_EQ(text(SF_STR_ALBUM), "Live");
  EXPECT_EQ(text(SF_STR_DATE), "2024");
  EXPECT_EQ(text(SF_STR_GENRE), "Blues");
  sf_close(wav);
}

#endif  // OSTREL_TEST_HAVE_SNDFILE

}  // namespace
}  // namespace ostrel
