#include "audio/Waveio.h"

#include <gtest/gtest.h>
#include <unistd.h>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "common/WavFixture.h"
#include "common/PosixOnWindows.h"

namespace ostrel {
namespace {

using test::PutLE;
using test::ReadAll;
using test::TempDir;
using test::WriteAll;
using Bytes = std::vector<unsigned char>;

// Builds RIFF files chunk by chunk, for layouts the canonical fixture does not make.
struct Riff {
  Bytes body;  // everything after "RIFF" and its size
  Riff() { body.insert(body.end(), {'W', 'A', 'V', 'E'}); }

  Riff& Chunk(const char* tag, const Bytes& data, bool pad = true) {
    body.insert(body.end(), tag, tag + 4);
    PutLE(body, static_cast<uint32_t>(data.size()), 4);
    body.insert(body.end(), data.begin(), data.end());
    if (pad && data.size() % 2 == 1) body.push_back(0);
    return *this;
  }
  // A data chunk header with a stated size that need not match the samples behind it.
  Riff& Data(uint32_t statedSize, const std::vector<int16_t>& samples) {
    body.insert(body.end(), {'d', 'a', 't', 'a'});
    PutLE(body, statedSize, 4);
    for (int16_t s : samples) PutLE(body, static_cast<uint16_t>(s), 2);
    return *this;
  }
  Bytes File(int64_t riffLen = -1) const {
    Bytes out = {'R', 'I', 'F', 'F'};
    PutLE(out, riffLen < 0 ? static_cast<uint32_t>(body.size()) : static_cast<uint32_t>(riffLen), 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
  }
};

Bytes Fmt(uint16_t code, uint16_t channels, uint32_t rate, uint16_t bits, size_t extraBytes = 0) {
  Bytes f;
  PutLE(f, code, 2);
  PutLE(f, channels, 2);
  PutLE(f, rate, 4);
  PutLE(f, rate * channels * bits / 8, 4);
  PutLE(f, channels * bits / 8, 2);
  PutLE(f, bits, 2);
  f.resize(f.size() + extraBytes, 0);
  return f;
}

Bytes FmtExtensible(uint16_t subFormat, uint16_t channels = 2) {
  Bytes f = Fmt(WAVE_FORMAT_EXTENSIBLE, channels, 44100, 16);
  PutLE(f, 22, 2);      // extension size
  PutLE(f, 16, 2);      // valid bits
  PutLE(f, 3, 4);       // channel mask
  PutLE(f, subFormat, 4);
  f.insert(f.end(), {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
  return f;
}

Bytes Samples(const std::vector<int16_t>& s) {
  Bytes b;
  for (int16_t v : s) PutLE(b, static_cast<uint16_t>(v), 2);
  return b;
}

// Reads every stereo frame of `path` through the integer IO until the end is reported.
std::vector<int16_t> ReadStereo(const std::string& path) {
  Waveio in(path.c_str(), WAVE_READ);
  EXPECT_EQ(in.error, 0);
  std::vector<int16_t> out;
  short r[7], l[7];
  for (int guard = 0; guard < 100000; ++guard) {
    int end = in.IO(r, l, 7);
    for (int n = 0; n < 7; ++n) {
      out.push_back(r[n]);
      out.push_back(l[n]);
    }
    if (end) break;
  }
  while (out.size() >= 2 && out[out.size() - 1] == 0 && out[out.size() - 2] == 0) out.resize(out.size() - 2);
  return out;
}

TEST(Roundfs, ClampsAndRoundsHalvesUpward) {
  EXPECT_EQ(roundfs(32767.4f), 32767);
  EXPECT_EQ(roundfs(40000.0f), 32767);
  EXPECT_EQ(roundfs(std::numeric_limits<float>::infinity()), 32767);
  EXPECT_EQ(roundfs(-32768.0f), -32768);
  EXPECT_EQ(roundfs(-32768.6f), -32768);
  EXPECT_EQ(roundfs(-1e9f), -32768);
  EXPECT_EQ(roundfs(2.5f), 3);
  EXPECT_EQ(roundfs(-2.5f), -2);
  EXPECT_EQ(roundfs(-2.6f), -3);
  EXPECT_EQ(roundfs(2.49f), 2);
  EXPECT_EQ(roundfs(0.0f), 0);
  EXPECT_EQ(roundfs(std::nanf("")), 0);
}

// The block conversion on every path equals roundfs sample for sample: the edge values above,
// halves and near-halves of both signs, and seeded values across and beyond the range, at
// lengths that leave every tail size after the vector steps.
TEST(Roundfs, InterleavePcmEqualsRoundfsOnEveryPath) {
  std::vector<float> values = {32767.4f, 32767.5f, 40000.0f, std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity(), -32768.0f, -32768.6f, -32767.5f,
                               -1e9f, 2.5f, -2.5f, -2.6f, 2.49f, 0.0f, -0.0f, std::nanf(""), -std::nanf(""),
                               0.49999997f, -0.49999997f, -0.5f, 0.5f, 1e-30f, -1e-30f, 8388607.5f};
  uint32_t state = 12345;
  while (values.size() < 200) {
    state = state * 1664525u + 1013904223u;
    const float unit = static_cast<float>(state >> 8) / 16777216.0f;  // 0 .. 1
    const float scale = values.size() % 3 == 0 ? 40000.0f : 4.0f;
    values.push_back((unit * 2.0f - 1.0f) * scale + (values.size() % 5 == 0 ? 0.5f : 0.0f));
  }
  for (SimdPath path : {SimdPath::Scalar, SimdPath::Sse2, SimdPath::Avx2}) {
    if (!CanRun(path)) continue;
    SCOPED_TRACE(SimdPathName(path));
    for (size_t frames : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{15}, size_t{99}}) {
      std::vector<int16_t> out(2 * frames + 1, 99);
      InterleavePcm(path, values.data(), values.data() + 100, out.data(), frames);
      for (size_t n = 0; n < frames; ++n) {
        ASSERT_EQ(out[2 * n], roundfs(values[n])) << values[n];
        ASSERT_EQ(out[2 * n + 1], roundfs(values[100 + n])) << values[100 + n];
      }
      EXPECT_EQ(out[2 * frames], 99);  // nothing written past the pairs
    }
  }
}

TEST(WaveioRead, CanonicalFileThroughBothForms) {
  TempDir dir;
  std::string path = dir.File("a.wav");
  test::WriteWav(path, {3, -2, 32767, -32768});

  Waveio in(path.c_str(), WAVE_READ);
  ASSERT_EQ(in.error, 0);
  EXPECT_EQ(in.type, WAVE_READ);
  EXPECT_EQ(in.StereoFile, 1);
  EXPECT_EQ(in.StereoIO, 1);
  EXPECT_STREQ(in.wave->RiffID, "RIFF");
  EXPECT_STREQ(in.wave->DataName, "data");
  EXPECT_EQ(in.wave->RiffLen, 44u);
  EXPECT_EQ(in.wave->nChan, 2);
  EXPECT_EQ(in.wave->sRate, 44100u);
  EXPECT_EQ(in.wave->nSamples, 8u);
  EXPECT_EQ(in.infosamples(), 2u);
  float r[1], l[1];
  EXPECT_EQ(in.IO(r, l, 1), 0);
  EXPECT_EQ(r[0], 3.0f);
  EXPECT_EQ(l[0], -2.0f);
  short sr[1], sl[1];
  EXPECT_EQ(in.IO(sr, sl, 1), 0);
  EXPECT_EQ(sr[0], 32767);
  EXPECT_EQ(sl[0], -32768);

  Waveio sd(path.c_str(), WAVE_READ, 1);
  EXPECT_EQ(sd.IO(r, l, 1), 0);
  EXPECT_EQ(r[0], 0.5f);
  EXPECT_EQ(l[0], 2.5f);
  EXPECT_EQ(sd.IO(r, l, 1), 0);
  EXPECT_EQ(r[0], -0.5f);
  EXPECT_EQ(l[0], 32767.5f);
}

TEST(WaveioRead, EndIsNoticedOnlyByAReadPastTheLastSample) {
  TempDir dir;
  std::string path = dir.File("a.wav");
  test::WriteWav(path, {1, 2, 3, 4, 5, 6});
  Waveio in(path.c_str(), WAVE_READ);
  float r[3], l[3];
  EXPECT_EQ(in.IO(r, l, 3), 0);  // ends exactly on the last frame
  EXPECT_EQ(r[2], 5.0f);
  EXPECT_EQ(l[2], 6.0f);
  r[0] = l[0] = r[1] = 99.0f;
  EXPECT_EQ(in.IO(r, l, 2), 1);
  EXPECT_EQ(r[0], 0.0f);
  EXPECT_EQ(l[0], 0.0f);
  EXPECT_EQ(r[1], 0.0f);
  EXPECT_EQ(in.IO(r, l, 3), 1);  // and every call after it
  EXPECT_EQ(l[2], 0.0f);
}

TEST(WaveioRead, DataEndingInsideAPairGivesZeroAndTheEnd) {
  TempDir dir;
  std::string path = dir.File("a.wav");
  WriteAll(path, Riff().Chunk("fmt ", Fmt(1, 2, 44100, 16)).Chunk("data", Samples({7, 8, 9}), false).File());
  Waveio in(path.c_str(), WAVE_READ);
  ASSERT_EQ(in.error, 0);
  short r[3] = {-1, -1, -1}, l[3] = {-1, -1, -1};
  EXPECT_EQ(in.IO(r, l, 1), 0);
  EXPECT_EQ(in.IO(r + 1, l + 1, 2), 1);
  EXPECT_EQ(r[1], 9);
  EXPECT_EQ(l[1], 0);
  EXPECT_EQ(r[2], 0);
  EXPECT_EQ(l[2], 0);
}

TEST(WaveioRead, MonoFillsOnlyTheFirstArray) {
  TempDir dir;
  std::string path = dir.File("m.wav");
  test::WriteWav(path, {10, -20, 30}, 1, 22050);
  Waveio in(path.c_str(), WAVE_READ, 1);
  ASSERT_EQ(in.error, 0);
  EXPECT_EQ(in.StereoFile, 0);
  float r[4], l[4] = {42, 42, 42, 42};
  EXPECT_EQ(in.IO(r, l, 4), 1);
  EXPECT_EQ(r[0], 10.0f);  // no sum/difference on a mono file
  EXPECT_EQ(r[1], -20.0f);
  EXPECT_EQ(r[2], 30.0f);
  EXPECT_EQ(r[3], 0.0f);
  for (float v : l) EXPECT_EQ(v, 42.0f);
}

TEST(WaveioRead, WalksChunksAndStopsAtTheEndOfTheData) {
  TempDir dir;
  const std::vector<int16_t> audio = {1, -1, 2, -2, 3, -3};
  struct Case {
    const char* name;
    Bytes bytes;
  };
  std::vector<Case> cases = {
      {"list and fact before fmt, id3 after data",
       Riff().Chunk("LIST", Bytes(26, 'x')).Chunk("fact", {4, 0, 0, 0}).Chunk("fmt ", Fmt(1, 2, 44100, 16))
           .Chunk("data", Samples(audio)).Chunk("id3 ", Bytes(10, 0x55)).File()},
      {"odd-sized chunk with its pad byte",
       Riff().Chunk("fmt ", Fmt(1, 2, 44100, 16)).Chunk("junk", Bytes(5, 0x77)).Chunk("data", Samples(audio))
           .File()},
      {"fmt chunk with an extension", Riff().Chunk("fmt ", Fmt(1, 2, 44100, 16, 2)).Chunk("data", Samples(audio))
                                          .File()},
      {"fmt after the data", Riff().Chunk("data", Samples(audio)).Chunk("fmt ", Fmt(1, 2, 44100, 16)).File()},
      {"extensible with PCM sub-format",
       Riff().Chunk("fmt ", FmtExtensible(1)).Chunk("data", Samples(audio)).Chunk("LIST", Bytes(4, 1)).File()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.File("c.wav");
    WriteAll(path, c.bytes);
    Waveio probe(path.c_str(), WAVE_READ);
    EXPECT_EQ(probe.error, 0);
    EXPECT_EQ(probe.wave->nSamples, 12u);
    EXPECT_EQ(ReadStereo(path), audio);
  }
}

TEST(WaveioRead, ImplausibleDataSizesMeanToTheEndOfTheFile) {
  TempDir dir;
  const std::vector<int16_t> audio = {5, 6, 7, 8, 9, 10, 11, 12};
  struct Case {
    const char* name;
    Bytes bytes;
    uint32_t nSamples;
  };
  const Bytes fmt = Fmt(1, 2, 44100, 16);
  std::vector<Case> cases = {
      {"size 0xFFFFFFFF", Riff().Chunk("fmt ", fmt).Data(0xFFFFFFFFu, audio).File(0xFFFFFFFF), 16},
      {"size beyond the file", Riff().Chunk("fmt ", fmt).Data(1000, audio).File(), 16},
      {"size 0, RIFF size unpatched", Riff().Chunk("fmt ", fmt).Data(0, audio).File(36), 16},
      {"size 0, RIFF size 0", Riff().Chunk("fmt ", fmt).Data(0, audio).File(0), 16},
      {"size 0 and truly empty", Riff().Chunk("fmt ", fmt).Data(0, {}).File(), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.File("u.wav");
    WriteAll(path, c.bytes);
    Waveio probe(path.c_str(), WAVE_READ);
    EXPECT_EQ(probe.error, 0);
    EXPECT_EQ(probe.wave->nSamples, c.nSamples);
    EXPECT_EQ(ReadStereo(path), c.nSamples ? audio : std::vector<int16_t>{});
  }

  // A patched RIFF size that covers a trailing chunk: the empty data chunk is taken at its word.
  std::string path = dir.File("e.wav");
  WriteAll(path, Riff().Chunk("fmt ", fmt).Data(0, {}).Chunk("LIST", Bytes(8, 3)).File());
  Waveio in(path.c_str(), WAVE_READ);
  EXPECT_EQ(in.wave->nSamples, 0u);
  short r[1], l[1];
  EXPECT_EQ(in.IO(r, l, 1), 1);
  EXPECT_EQ(r[0], 0);
}

TEST(WaveioRead, OtherFilesAreRefusedNotReadAsAudio) {
  TempDir dir;
  const std::vector<int16_t> audio = {100, 200, 300, 400};
  const Bytes canonical = test::WavBytes(audio);
  struct Case {
    const char* name;
    Bytes bytes;
  };
  Bytes notRiff = canonical;
  notRiff[0] = 'X';
  Bytes notWave = canonical;
  notWave[8] = 'A';
  std::vector<Case> cases = {
      {"empty file", {}},
      {"text", {'h', 'e', 'l', 'l', 'o', '\n'}},
      {"not RIFF", notRiff},
      {"not WAVE", notWave},
      {"header cut in the fmt chunk", Bytes(canonical.begin(), canonical.begin() + 30)},
      {"no data chunk", Riff().Chunk("fmt ", Fmt(1, 2, 44100, 16)).File()},
      {"no fmt chunk", Riff().Chunk("data", Samples(audio)).File()},
      {"fmt chunk too short", Riff().Chunk("fmt ", Bytes(14, 0)).Chunk("data", Samples(audio)).File()},
      {"IEEE float", Riff().Chunk("fmt ", Fmt(3, 2, 44100, 32)).Chunk("data", Samples(audio)).File()},
      {"ADPCM", Riff().Chunk("fmt ", Fmt(2, 2, 44100, 4, 4)).Chunk("data", Samples(audio)).File()},
      {"extensible, float sub-format", Riff().Chunk("fmt ", FmtExtensible(3)).Chunk("data", Samples(audio)).File()},
      {"8-bit PCM", test::WavBytes(audio, 2, 44100, 8)},
      {"24-bit PCM", test::WavBytes(audio, 2, 44100, 24)},
      {"six channels", test::WavBytes(audio, 6, 44100, 16)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.File("bad.wav");
    WriteAll(path, c.bytes);
    Waveio in(path.c_str(), WAVE_READ);
    EXPECT_EQ(in.error, WAVE_ERROR_FORMAT);
    EXPECT_EQ(in.fptr, nullptr);
    short r[2] = {1, 1}, l[2] = {1, 1};
    EXPECT_EQ(in.IO(r, l, 2), 1);
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(r[1], 0);
    in.CloseWave();
  }
  // The record keeps what was found, so a caller can say what the file is.
  std::string path = dir.File("eight.wav");
  WriteAll(path, test::WavBytes(audio, 1, 8000, 8));
  Waveio in(path.c_str(), WAVE_READ);
  EXPECT_EQ(in.wave->BitsPerSample, 8);
  EXPECT_EQ(in.wave->nChan, 1);
  EXPECT_EQ(in.wave->sRate, 8000u);
}

TEST(WaveioRead, MissingFileSetsErrorTwo) {
  TempDir dir;
  Waveio in(dir.File("nothing.wav").c_str(), WAVE_READ);
  EXPECT_EQ(in.error, WAVE_ERROR_OPEN);
  EXPECT_EQ(in.fptr, nullptr);
  float r[1], l[1];
  EXPECT_EQ(in.IO(r, l, 1), 1);
  EXPECT_EQ(r[0], 0.0f);
}

TEST(WaveioWrite, ThousandFramesPatchTheHeaderAndReadBack) {
  TempDir dir;
  std::string path = dir.File("w.wav");
  std::vector<int16_t> expected;
  {
    Waveio out(path.c_str(), WAVE_WRITE);
    ASSERT_EQ(out.error, 0);
    EXPECT_EQ(out.StereoFile, 1);
    std::vector<short> r(400), l(400);
    std::vector<float> fr(600), fl(600);
    for (int n = 0; n < 400; ++n) {
      r[n] = static_cast<short>(n * 80 - 16000);
      l[n] = static_cast<short>(-n);
      expected.push_back(r[n]);
      expected.push_back(l[n]);
    }
    for (int n = 0; n < 600; ++n) {
      fr[n] = static_cast<float>(n) * 100.25f - 30000.0f;  // clamps above 32767
      fl[n] = static_cast<float>(n) + 0.5f;
      expected.push_back(roundfs(fr[n]));
      expected.push_back(roundfs(fl[n]));
    }
    EXPECT_EQ(out.IO(r.data(), l.data(), 400), 0);
    EXPECT_EQ(out.IO(fr.data(), fl.data(), 600), 0);
    EXPECT_EQ(fl[3], 3.5f);  // left untouched without sum/difference
    EXPECT_EQ(out.count, 1000u);
    out.CloseWave();
    EXPECT_EQ(out.error, 0);
    EXPECT_EQ(out.fptr, nullptr);
    EXPECT_EQ(out.IO(r.data(), l.data(), 1), 0);  // after closing: nothing more reaches the file
  }
  Bytes bytes = test::ReadAll(path);
  ASSERT_EQ(bytes.size(), 4044u);
  Bytes header = test::WavBytes(std::vector<int16_t>(2000, 0));
  header.resize(44);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 44), header);  // RiffLen 4036, nSamples 4000
  EXPECT_EQ(ReadStereo(path), expected);
}

TEST(WaveioWrite, SumDifferenceOverwritesTheCallersArrays) {
  TempDir dir;
  std::string path = dir.File("sd.wav");
  Waveio out(path.c_str(), WAVE_WRITE, 1);
  float r[3] = {0.5f, -1.5f, 10.75f}, l[3] = {2.5f, -1.5f, 0.25f};
  EXPECT_EQ(out.IO(r, l, 3), 0);
  EXPECT_EQ(r[0], 3.0f);
  EXPECT_EQ(l[0], -2.5f);
  EXPECT_EQ(r[1], -3.0f);
  EXPECT_EQ(l[1], 0.5f);  // integer part of -1.5 is -1
  EXPECT_EQ(r[2], 11.0f);
  EXPECT_EQ(l[2], 9.75f);
  out.CloseWave();
  EXPECT_EQ(ReadStereo(path), (std::vector<int16_t>{3, -2, -3, 1, 11, 10}));

  // Reading back with sum/difference gives the halves of the written pair.
  Waveio in(path.c_str(), WAVE_READ, 1);
  EXPECT_EQ(in.IO(r, l, 1), 0);
  EXPECT_EQ(r[0], 0.5f);
  EXPECT_EQ(l[0], 2.5f);
}

TEST(WaveioWrite, UnwritableTargetAndUnknownModes) {
  TempDir dir;
  Waveio out(dir.File("missing/w.wav").c_str(), WAVE_WRITE);
  EXPECT_EQ(out.error, WAVE_ERROR_OPEN);
  short r[1] = {1}, l[1] = {1};
  EXPECT_EQ(out.IO(r, l, 1), 0);
  out.CloseWave();
  EXPECT_EQ(out.error, WAVE_ERROR_OPEN);

  Waveio odd(dir.File("x.wav").c_str(), 2);
  EXPECT_EQ(odd.error, WAVE_ERROR_MODE);
  EXPECT_EQ(odd.IO(r, l, 1), 0);
  odd.CloseWave();
  EXPECT_EQ(odd.error, WAVE_ERROR_MODE);
}

TEST(WaveioWrite, FullDiskIsReported) {
  OSTREL_SKIP_ON_WINDOWS("no /dev/full");
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full on this system";
  Waveio out("/dev/full", WAVE_WRITE);
  ASSERT_EQ(out.error, 0);
  std::vector<short> r(8192), l(8192);
  out.IO(r.data(), l.data(), 8192);
  out.CloseWave();
  EXPECT_EQ(out.error, WAVE_ERROR_WRITE);
}

// INFO text before or after the samples, in any order among other entries; an entry that runs
// past its chunk is dropped, and the samples are read as if no LIST chunk were there.
TEST(WaveioRead, InfoTagsBeforeOrAfterTheSamples) {
  TempDir dir;
  const std::vector<int16_t> audio = {1, -1, 2, -2};
  auto entry = [](const char* tag, const std::string& text, bool terminate = true) {
    Bytes e(tag, tag + 4);
    Bytes body(text.begin(), text.end());
    if (terminate) body.push_back(0);
    PutLE(e, static_cast<uint32_t>(body.size()), 4);
    e.insert(e.end(), body.begin(), body.end());
    if (body.size() % 2 == 1) e.push_back(0);
    return e;
  };
  Bytes info = {'I', 'N', 'F', 'O'};
  for (const Bytes& e : {entry("ISFT", "Lavf"), entry("INAM", "Song"), entry("IART", "The Band", false),
                         entry("ICMT", "take 2")}) {
    info.insert(info.end(), e.begin(), e.end());
  }
  const Bytes fmt = Fmt(1, 2, 44100, 16);
  for (bool after : {false, true}) {
    SCOPED_TRACE(after ? "after the data" : "before the data");
    const std::string path = dir.File("t.wav");
    WriteAll(path, after ? Riff().Chunk("fmt ", fmt).Chunk("data", Samples(audio)).Chunk("LIST", info).File()
                         : Riff().Chunk("fmt ", fmt).Chunk("LIST", info).Chunk("data", Samples(audio)).File());
    Waveio in(path.c_str(), WAVE_READ);
    ASSERT_EQ(in.error, 0);
    EXPECT_EQ(in.tags.INAM, "Song");
    EXPECT_EQ(in.tags.IART, "The Band");
    EXPECT_EQ(in.tags.ICMT, "take 2");
    EXPECT_EQ(ReadStereo(path), audio);
  }
  Bytes broken = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 200, 0, 0, 0, 'x', 'y'};
  const std::string path = dir.File("b.wav");
  WriteAll(path, Riff().Chunk("fmt ", fmt).Chunk("LIST", broken).Chunk("data", Samples(audio)).File());
  Waveio in(path.c_str(), WAVE_READ);
  EXPECT_EQ(in.error, 0);
  EXPECT_EQ(in.tags.INAM, "");
  EXPECT_EQ(ReadStereo(path), audio);
  // Sizes of nearly 4 GiB in a file of a few bytes (found by fuzzing): nothing that large is held.
  Bytes huge = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 0xF0, 0xFF, 0xFF, 0xEF, 'x', 'y'};
  Bytes file = Riff().Chunk("fmt ", fmt).Chunk("data", Samples(audio)).Chunk("LIST", huge).File();
  for (size_t i = file.size() - huge.size() - 4; i < file.size() - huge.size(); ++i) file[i] = 0xFF;  // LIST size
  WriteAll(path, file);
  Waveio cut(path.c_str(), WAVE_READ);
  EXPECT_EQ(cut.error, 0);
  EXPECT_LE(cut.tags.INAM.capacity(), 65536u + 64u);
  EXPECT_EQ(ReadStereo(path), audio);
}

// On a pipe the header can never be patched, so it says "to the end of the stream" from the start.
TEST(WaveioWrite, APipeGetsTheLengthsOfAStream) {
  int fds[2];
#if defined(_WIN32)
  ASSERT_EQ(_pipe(fds, 4096, _O_BINARY), 0);
#else
  ASSERT_EQ(pipe(fds), 0);
#endif
  {
    Waveio out(fdopen(fds[1], "wb"), WAVE_WRITE);
    short r[3] = {1, 2, 3}, l[3] = {4, 5, 6};
    out.IO(r, l, 3);
    out.CloseWave();
    EXPECT_EQ(out.error, 0);
  }
  unsigned char bytes[64];
  const ssize_t got = read(fds[0], bytes, sizeof bytes);
  close(fds[0]);
  ASSERT_EQ(got, 44 + 12);
  EXPECT_EQ(Bytes(bytes + 4, bytes + 8), Bytes(4, 0xFF));
  EXPECT_EQ(Bytes(bytes + 40, bytes + 44), Bytes(4, 0xFF));
  EXPECT_EQ(bytes[44], 1);
  EXPECT_EQ(bytes[46], 4);
}

}  // namespace
}  // namespace ostrel
