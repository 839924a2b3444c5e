// The library's decoders against ostreldec: the stream decoder, fed in random pieces, and the
// frame decoder give ostreldec's samples; damage is concealed and counted; foreign input fails
// with the status that says why.
#include <gtest/gtest.h>

#include "library/LibraryStreams.h"

namespace ostrel::test {
namespace {

// One stream per rate made by the real encoder from material that switches blocks, and its
// decoding by the real ostreldec.
struct ProgramPair {
  Bytes stream;
  Stereo decoded;
};

ProgramPair EncodeAndDecode(const TempDir& dir, const RateRow& rate, size_t frames) {
  ProgramPair pair;
  const std::string wav = dir.File("source.wav"), ost = dir.File("source.ost"), out = dir.File("out.wav");
  WriteWav(wav, Material(frames, 7000, 3));
  Encode(wav, ost, rate.row);
  RunResult r = test::Run({Program("ostreldec"), ost, out}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  pair.stream = ReadAll(ost);
  pair.decoded = WavSamples(out);
  return pair;
}

class DecoderApi : public testing::TestWithParam<RateRow> {};

TEST_P(DecoderApi, StreamAndFrameDecodersGiveOstreldecsSamples) {
  if (!HaveEncoder()) GTEST_SKIP() << "ostrelenc not built";
  const RateRow& rate = GetParam();
  TempDir dir;
  const ProgramPair pair = EncodeAndDecode(dir, rate, 3 * static_cast<size_t>(rate.Total()) + 1234);

  for (unsigned seed : {1u, 2u}) {
    SCOPED_TRACE(seed);
    int damaged = -1;
    EXPECT_EQ(LibraryDecode(pair.stream, seed, &damaged), pair.decoded);
    EXPECT_EQ(damaged, 0);
  }

  // The header's facts, and the frames one by one through the frame decoder.
  ostrel_info info;
  std::vector<char> strings(256 + 256 + 65536);
  ASSERT_EQ(ostrel_parse_header(pair.stream.data(), pair.stream.size(), &info, strings.data(), strings.size()),
            OSTREL_OK);
  EXPECT_EQ(info.kbps, rate.code * 2);
  EXPECT_EQ(info.frame_bytes * 8, rate.frameBits);
  EXPECT_EQ(info.samples_per_frame, static_cast<uint32_t>(rate.Total()));
  EXPECT_EQ(info.frames, FrameCount(pair.stream));
  EXPECT_EQ(info.samples * 2, pair.decoded.size());
  EXPECT_STREQ(info.title, "None");
  EXPECT_STREQ(info.comment, "None");
  EXPECT_EQ(ostrel_frame_bytes(info.kbps), static_cast<long>(info.frame_bytes));
  EXPECT_EQ(ostrel_frame_decoder_delay(info.kbps), static_cast<long>(info.delay));  // the offset checked below

  int status = -100;
  ostrel_frame_decoder* frames = ostrel_frame_decoder_create(info.kbps, &status);
  ASSERT_NE(frames, nullptr);
  Stereo joined;
  std::vector<int16_t> pcm(2 * info.samples_per_frame);
  for (uint32_t f = 0; f < info.frames; ++f) {
    const unsigned char* at = pair.stream.data() + info.header_bytes + uint64_t{f} * info.frame_bytes;
    ASSERT_EQ(ostrel_frame_decoder_decode(frames, at, info.frame_bytes, pcm.data()), OSTREL_OK);
    joined.insert(joined.end(), pcm.begin(), pcm.end());
  }
  EXPECT_EQ(ostrel_frame_decoder_decode(frames, pair.stream.data(), info.frame_bytes - 1, pcm.data()),
            OSTREL_ERR_ARGUMENT);
  joined.erase(joined.begin(), joined.begin() + 2 * info.delay);
  EXPECT_EQ(joined, pair.decoded);

  // After a reset the second frame decodes as the first of a stream: its output from `delay` on
  // is what a stream starting there gives.
  ostrel_frame_decoder_reset(frames);
  const unsigned char* second = pair.stream.data() + info.header_bytes + info.frame_bytes;
  ASSERT_EQ(ostrel_frame_decoder_decode(frames, second, info.frame_bytes, pcm.data()), OSTREL_OK);
  Bytes fromSecond(pair.stream.begin(), pair.stream.begin() + static_cast<long>(info.header_bytes));
  fromSecond.insert(fromSecond.end(), second, pair.stream.data() + pair.stream.size());
  fromSecond[10] = fromSecond[11] = fromSecond[12] = fromSecond[13] = 0;  // count 0: all frames there
  const Stereo expected = LibraryDecode(fromSecond, 5);
  ASSERT_GE(expected.size(), 2 * (info.samples_per_frame - info.delay));
  EXPECT_TRUE(std::equal(pcm.begin() + 2 * info.delay, pcm.end(), expected.begin()));
  ostrel_frame_decoder_destroy(frames);
}

INSTANTIATE_TEST_SUITE_P(EveryRate, DecoderApi, testing::ValuesIn(RateRows()));

// Reads `frames` sample frames (fewer at the end) from `dec`, as 16-bit or float samples.
Stereo ReadSome(ostrel_decoder* dec, size_t frames, bool asFloat = false) {
  Stereo out;
  std::vector<int16_t> pcm(2 * 4096);
  std::vector<float> floats(2 * 4096);
  while (out.size() < 2 * frames) {
    const size_t want = std::min<size_t>(4096, frames - out.size() / 2);
    const long got = asFloat ? ostrel_decoder_read_float(dec, floats.data(), want)
                             : ostrel_decoder_read(dec, pcm.data(), want);
    EXPECT_GE(got, 0) << ostrel_strerror(static_cast<int>(got));
    if (got <= 0) break;
    for (long i = 0; i < 2 * got; ++i) {
      // Float samples are the 16-bit ones before rounding (halves upward).
      out.push_back(asFloat ? static_cast<int16_t>(std::floor(std::clamp(double{floats[i]} * 32768.0, -32768.0, 32767.0) + 0.5))
                            : pcm[i]);
    }
  }
  return out;
}

// Seeking lands on the exact sample, a stream cut anywhere is joined at its next frame, floats
// are the same samples, and a failing input is an error, not the end.
class DecoderApiStreams : public testing::TestWithParam<RateRow> {};

TEST_P(DecoderApiStreams, SeekJoinFloatAndReadErrors) {
  if (!HaveEncoder()) GTEST_SKIP() << "ostrelenc not built";
  const RateRow& rate = GetParam();
  TempDir dir;
  const ProgramPair pair = EncodeAndDecode(dir, rate, 4 * static_cast<size_t>(rate.Total()) + 777);
  const size_t samples = pair.decoded.size() / 2;
  MemoryReader reader;
  reader.bytes = &pair.stream;
  int status = -100;
  ostrel_decoder* dec = ostrel_decoder_open(&MemoryReader::Input, &MemoryReader::Seek, &reader, 0, &status);
  ASSERT_NE(dec, nullptr) << ostrel_strerror(status);
  ostrel_info info;
  ASSERT_EQ(ostrel_decoder_info(dec, &info), OSTREL_OK);
  const size_t spf = info.samples_per_frame;
  std::mt19937 random(rate.code);
  for (size_t target : {size_t{0}, spf - info.delay - 1, spf - info.delay, 2 * spf, samples - 5,
                        size_t(random() % samples), size_t(random() % samples), size_t{3}}) {
    SCOPED_TRACE(target);
    ASSERT_EQ(ostrel_decoder_seek(dec, target), OSTREL_OK);
    EXPECT_EQ(ostrel_decoder_tell(dec), target);
    const Stereo got = ReadSome(dec, 3000, target % 2 == 1);
    const size_t n = std::min<size_t>(3000, samples - target);
    ASSERT_EQ(got.size(), 2 * n);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), pair.decoded.begin() + 2 * static_cast<long>(target)));
    EXPECT_EQ(ostrel_decoder_tell(dec), target + n);
  }
  EXPECT_EQ(ostrel_decoder_seek(dec, samples), OSTREL_OK);
  EXPECT_TRUE(ReadSome(dec, 10).empty());
  EXPECT_EQ(ostrel_decoder_seek(dec, samples + 1), OSTREL_ERR_ARGUMENT);
  ostrel_decoder_destroy(dec);

  // Cut at a random byte: decoding joins at the next frame, whose output from its delay on is
  // the whole stream's from that frame's own samples on.
  for (int cut = 0; cut < 3; ++cut) {
    const size_t at = 1 + random() % (info.header_bytes + 2 * info.frame_bytes);
    SCOPED_TRACE(at);
    const Bytes tail(pair.stream.begin() + static_cast<long>(at), pair.stream.end());
    const size_t frame = at <= info.header_bytes ? 0 : (at - info.header_bytes + info.frame_bytes - 1) / info.frame_bytes;
    size_t offset = 0;
    int kbps = 0;
    if (at > info.header_bytes) {
      ASSERT_EQ(ostrel_find_frame(tail.data(), tail.size(), 1, &offset, &kbps), OSTREL_OK);
      EXPECT_EQ(at + offset, info.header_bytes + frame * info.frame_bytes);
      EXPECT_EQ(kbps, info.kbps);
    }
    MemoryReader cutReader;
    cutReader.bytes = &tail;
    ostrel_decoder* joined = ostrel_decoder_open(&MemoryReader::Input, nullptr, &cutReader, OSTREL_JOIN, &status);
    ASSERT_NE(joined, nullptr) << ostrel_strerror(status);
    const Stereo got = ReadSome(joined, samples);
    const size_t from = frame == 0 ? 0 : frame * spf;
    ASSERT_EQ(got.size(), pair.decoded.size() - 2 * from);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), pair.decoded.begin() + 2 * static_cast<long>(from)));
    ostrel_decoder_destroy(joined);
  }

  // An input that fails part way: the reads give OSTREL_ERR_READ after what came before.
  MemoryReader failing;
  failing.bytes = &pair.stream;
  failing.failAt = info.header_bytes + info.frame_bytes + 10;
  dec = ostrel_decoder_open(&MemoryReader::Input, nullptr, &failing, 0, &status);
  ASSERT_NE(dec, nullptr);
  std::vector<int16_t> pcm(2 * spf);
  EXPECT_EQ(ostrel_decoder_read(dec, pcm.data(), spf), static_cast<long>(spf - info.delay));
  EXPECT_EQ(ostrel_decoder_read(dec, pcm.data(), spf), OSTREL_ERR_READ);
  EXPECT_EQ(ostrel_decoder_read(dec, pcm.data(), spf), OSTREL_ERR_READ);
  ostrel_decoder_destroy(dec);
  // A foreign input has no frame to join.
  const Bytes noise(100000, 0x4A);
  MemoryReader foreign;
  foreign.bytes = &noise;
  EXPECT_EQ(ostrel_decoder_open(&MemoryReader::Input, nullptr, &foreign, OSTREL_JOIN, &status), nullptr);
  EXPECT_EQ(status, OSTREL_ERR_NOT_OSTREL);
}

INSTANTIATE_TEST_SUITE_P(ThreeRates, DecoderApiStreams,
                         testing::Values(RateRows()[0], RateRows()[2], RateRows()[6]));

TEST(DecoderApiDamage, DamagedFramesAreConcealedAndCountedAndCutFramesDropped) {
  if (!HaveEncoder()) GTEST_SKIP() << "ostrelenc not built";
  TempDir dir;
  const RateRow& rate = RateRows()[4];
  ProgramPair pair = EncodeAndDecode(dir, rate, 4 * static_cast<size_t>(rate.Total()));
  ostrel_info info;
  ASSERT_EQ(ostrel_parse_header(pair.stream.data(), pair.stream.size(), &info, nullptr, 0), OSTREL_OK);
  EXPECT_STREQ(info.title, "");

  // A broken sync word in frame 1, and the count cleared with the last frame cut in half: the
  // whole frames before it decode, frame 1 as silence, as ostreldec does.
  Bytes damaged = pair.stream;
  damaged[info.header_bytes + info.frame_bytes] ^= 0xFF;
  damaged[10] = damaged[11] = damaged[12] = damaged[13] = 0;
  damaged.resize(damaged.size() - info.frame_bytes / 2);
  const std::string ost = dir.File("damaged.ost"), out = dir.File("damaged.wav");
  WriteAll(ost, damaged);
  RunResult r = test::Run({Program("ostreldec"), ost, out}, "");
  EXPECT_EQ(r.status, 1) << r.err;
  int count = -1;
  EXPECT_EQ(LibraryDecode(damaged, 9, &count), WavSamples(out));
  EXPECT_EQ(count, 1);
}

TEST(DecoderApiErrors, ForeignCutAndUnsupportedStreamsFailWithTheirStatus) {
  const Bytes header = {'Z', 'e', 'l', 'k', '1', 1, 64, 0x44, 0xAC, 2, 0, 0, 0, 0, 4, 'N', 'o', 'n', 'e',
                        0, 0, 0};
  struct Case {
    Bytes bytes;
    int status;
  };
  Bytes wrongMagic = header;
  wrongMagic[0] = 'X';
  Bytes wrongVersion = header;
  wrongVersion[5] = 2;
  Bytes badRate = header;
  badRate[6] = 65;
  Bytes mono = header;
  mono[9] = 1;
  const std::vector<Case> cases = {
      {Bytes(), OSTREL_ERR_NOT_OSTREL},
      {Bytes(header.begin(), header.begin() + 3), OSTREL_ERR_NOT_OSTREL},
      {wrongMagic, OSTREL_ERR_NOT_OSTREL},
      {wrongVersion, OSTREL_ERR_NOT_OSTREL},
      {Bytes(header.begin(), header.begin() + 6), OSTREL_ERR_TRUNCATED},
      {Bytes(header.begin(), header.end() - 1), OSTREL_ERR_TRUNCATED},
      {badRate, OSTREL_ERR_UNSUPPORTED},
      {mono, OSTREL_ERR_UNSUPPORTED},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    MemoryReader reader;
    reader.bytes = &cases[i].bytes;
    int status = 0;
    EXPECT_EQ(ostrel_decoder_create(&MemoryReader::Read, &reader, &status), nullptr);
    EXPECT_EQ(status, cases[i].status) << ostrel_strerror(status);
  }
  // A whole header and no frames: a stream of nothing.
  MemoryReader reader;
  reader.bytes = &header;
  int status = -100;
  ostrel_decoder* dec = ostrel_decoder_create(&MemoryReader::Read, &reader, &status);
  ASSERT_NE(dec, nullptr);
  int16_t pcm[2];
  EXPECT_EQ(ostrel_decoder_read(dec, pcm, 1), 0);
  EXPECT_EQ(ostrel_decoder_read(dec, pcm, 0), OSTREL_ERR_ARGUMENT);
  ostrel_decoder_destroy(dec);
  EXPECT_STREQ(ostrel_strerror(12345), "unknown status");
  EXPECT_EQ(ostrel_frame_decoder_create(100, &status), nullptr);
  EXPECT_EQ(status, OSTREL_ERR_BITRATE);
  EXPECT_EQ(ostrel_frame_decoder_delay(100), OSTREL_ERR_BITRATE);
}

}  // namespace
}  // namespace ostrel::test
