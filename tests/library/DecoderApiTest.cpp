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
