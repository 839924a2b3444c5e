// The library's encoder against ostrelenc: the same samples in random chunks, as 16-bit or float
// samples, give the program's stream byte for byte at every rate, also for a source that ends on a
// frame boundary and one whose last samples need one more frame's overlap (which both code, so
// that the stream decodes to every sample); without a seek callback only the frame count
// differs. Tags and misuse.
#include <gtest/gtest.h>

#include <algorithm>

#include "library/LibraryStreams.h"

namespace ostrel::test {
namespace {

// The command line's stream (tags and LENGTH in its header, as the library writes it).
Bytes ProgramEncode(const TempDir& dir, const Stereo& samples, int kbps) {
  const std::string wav = dir.File("source.wav"), ost = dir.File("source.ost");
  WriteWav(wav, samples);
  const RunResult r = Run({Program("ostrelenc"), "-q", "-f", "-b", std::to_string(kbps), wav, "-o", ost}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  return ReadAll(ost);
}

class EncoderApi : public testing::TestWithParam<RateRow> {};

TEST_P(EncoderApi, AnyChunkingGivesTheProgramsStream) {
  if (!HaveEncoder()) GTEST_SKIP() << "ostrelenc not built";
  const RateRow& rate = GetParam();
  TempDir dir;
  // Three lengths: one ending inside a frame, one on a frame boundary (which gets one more frame),
  // and one ending a sample short of a boundary (whose tail needs one more frame too).
  const size_t total = static_cast<size_t>(rate.Total());
  for (size_t frames : {2 * total + 777, 2 * total, 3 * total - 1}) {
    SCOPED_TRACE(frames);
    const Stereo samples = Material(frames, 5000, 11);
    const int kbps = rate.code * 2;
    const Bytes expected = ProgramEncode(dir, samples, kbps);
    EXPECT_EQ(LibraryEncode(samples, kbps, 1, 700), expected);
    EXPECT_EQ(LibraryEncode(samples, kbps, 2, 20000), expected);
    EXPECT_EQ(LibraryEncode(samples, kbps, 3, 3000, true), expected);
    // Without a seek callback: the frame count 0 and LENGTH unknown.
    Bytes unpatched = expected;
    std::fill(unpatched.begin() + 10, unpatched.begin() + 14, 0);
    const std::string length = "\nLENGTH=";
    const auto at = std::search(unpatched.begin(), unpatched.end(), length.begin(), length.end());
    ASSERT_NE(at, unpatched.end());
    std::fill(at + static_cast<long>(length.size()), at + static_cast<long>(length.size()) + 16, '?');
    EXPECT_EQ(LibraryEncode(samples, kbps, 4, 5000, false, false), unpatched);
    EXPECT_GE(LibraryDecode(expected, 5).size(), samples.size()) << "every sample comes back";
  }
}

INSTANTIATE_TEST_SUITE_P(EveryRate, EncoderApi, testing::ValuesIn(RateRows()));

TEST(EncoderApiUse, TagsLimitsAndMisuse) {
  int status = 0;
  MemoryWriter out;
  EXPECT_EQ(ostrel_encoder_create(100, &MemoryWriter::Write, nullptr, &out, &status), nullptr);
  EXPECT_EQ(status, OSTREL_ERR_BITRATE);
  EXPECT_EQ(ostrel_encoder_create(128, nullptr, nullptr, &out, &status), nullptr);
  EXPECT_EQ(status, OSTREL_ERR_ARGUMENT);

  ostrel_encoder* enc = ostrel_encoder_create(128, &MemoryWriter::Write, &MemoryWriter::Seek, &out, &status);
  ASSERT_NE(enc, nullptr);
  // The header the dialogue writes: the three strings alone, each up to its field's width.
  EXPECT_EQ(ostrel_encoder_set_fields(enc, 0), OSTREL_OK);
  EXPECT_EQ(ostrel_encoder_set_tag(enc, "title", std::string(255, 't').c_str()), OSTREL_OK);
  EXPECT_EQ(ostrel_encoder_set_tag(enc, "author", std::string(256, 'a').c_str()), OSTREL_ERR_TAG);
  EXPECT_EQ(ostrel_encoder_set_tag(enc, "comment", std::string(65535, 'c').c_str()), OSTREL_OK);
  EXPECT_EQ(ostrel_encoder_set_tag(enc, "comment", std::string(65536, 'c').c_str()), OSTREL_ERR_TAG);
  EXPECT_EQ(ostrel_encoder_set_tag(enc, "album", "x"), OSTREL_ERR_TAG);
  EXPECT_TRUE(out.bytes.empty());  // nothing before the first samples
  const float loud[4] = {2.0f, -3.0f, 0.5f, NAN};
  EXPECT_EQ(ostrel_encoder_write_float(enc, loud, 2), OSTREL_OK);
  EXPECT_EQ(ostrel_encoder_clipped(enc), 2u);
  EXPECT_EQ(ostrel_encoder_set_tag(enc, "author", "late"), OSTREL_ERR_STATE);
  EXPECT_EQ(ostrel_encoder_finish(enc), OSTREL_OK);
  EXPECT_EQ(ostrel_encoder_frames(enc), 1u);
  EXPECT_EQ(ostrel_encoder_write(enc, nullptr, 0), OSTREL_ERR_STATE);
  EXPECT_EQ(ostrel_encoder_finish(enc), OSTREL_ERR_STATE);
  ostrel_encoder_destroy(enc);

  ostrel_info info;
  std::vector<char> strings(256 + 256 + 65536);
  ASSERT_EQ(ostrel_parse_header(out.bytes.data(), out.bytes.size(), &info, strings.data(), strings.size()),
            OSTREL_OK);
  EXPECT_EQ(std::string(info.title), std::string(255, 't'));
  EXPECT_STREQ(info.author, "None");
  EXPECT_EQ(std::string(info.comment).size(), 65535u);
  EXPECT_EQ(info.frames, 1u);
  EXPECT_EQ(LibraryDecode(out.bytes, 1).size(), 2u * info.samples);

  // A write callback that fails: the error sticks, and a finished stream keeps the count 0.
  MemoryWriter failing;
  failing.failAfter = 1;
  enc = ostrel_encoder_create(128, &MemoryWriter::Write, &MemoryWriter::Seek, &failing, &status);
  ASSERT_NE(enc, nullptr);
  const Stereo samples = Material(40000, 5000, 2);
  EXPECT_EQ(ostrel_encoder_write(enc, samples.data(), 40000), OSTREL_ERR_WRITE);
  EXPECT_EQ(ostrel_encoder_write(enc, samples.data(), 1), OSTREL_ERR_WRITE);
  EXPECT_EQ(ostrel_encoder_finish(enc), OSTREL_ERR_WRITE);
  ostrel_encoder_destroy(enc);
  EXPECT_EQ(FrameCount(failing.bytes), 0u);
}

// The frame callback sees every frame before it is coded; stopping at frame 2 ends the stream
// there, whole: the first two frames of the complete stream, with their count.
TEST(EncoderApiUse, TheFrameCallbackCountsAndStopsAtAFramesEdge) {
  const RateRow& rate = RateRows()[4];
  const size_t total = static_cast<size_t>(rate.Total());
  const Stereo samples = Material(8 * total + 100, 5000, 6);  // frame 2 is reached while writing, also with threads
  const Bytes whole = LibraryEncode(samples, rate.code * 2, 1, 3000);
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    struct Seen {
      std::vector<uint32_t> frames;
      uint32_t stopAt;
    } seen{{}, 2};
    const ostrel_frame_fn note = [](void* user, uint32_t frame) {
      auto* s = static_cast<Seen*>(user);
      s->frames.push_back(frame);
      return frame == s->stopAt ? 1 : 0;
    };
    MemoryWriter out;
    int status = 0;
    ostrel_encoder* enc = ostrel_encoder_create(rate.code * 2, &MemoryWriter::Write, &MemoryWriter::Seek, &out, &status);
    ASSERT_NE(enc, nullptr);
    ASSERT_EQ(ostrel_encoder_set_threads(enc, threads), OSTREL_OK);
    ASSERT_EQ(ostrel_encoder_set_frame_callback(enc, note, &seen), OSTREL_OK);
    EXPECT_EQ(ostrel_encoder_write(enc, samples.data(), samples.size() / 2), OSTREL_ERR_STOPPED);
    EXPECT_EQ(ostrel_encoder_write(enc, samples.data(), 1), OSTREL_ERR_STOPPED);
    EXPECT_EQ(ostrel_encoder_set_frame_callback(enc, nullptr, nullptr), OSTREL_ERR_STATE);
    EXPECT_EQ(ostrel_encoder_finish(enc), OSTREL_OK);
    EXPECT_EQ(ostrel_encoder_frames(enc), 2u);
    ostrel_encoder_destroy(enc);
    EXPECT_EQ(seen.frames, (std::vector<uint32_t>{0, 1, 2}));
    ASSERT_EQ(FrameCount(out.bytes), 2u);
    // The two frames are the complete stream's (the header's count and LENGTH say 2 frames); a
    // last word follows.
    ostrel_info info;
    ASSERT_EQ(ostrel_parse_header(whole.data(), whole.size(), &info, nullptr, 0), OSTREL_OK);
    const size_t frameBytes = rate.frameBits / 8, header = static_cast<size_t>(info.header_bytes);
    ASSERT_GE(out.bytes.size(), header + 2 * frameBytes);
    EXPECT_TRUE(std::equal(out.bytes.begin() + static_cast<long>(header),
                           out.bytes.begin() + static_cast<long>(header + 2 * frameBytes),
                           whole.begin() + static_cast<long>(header)));
    EXPECT_EQ(LibraryDecode(out.bytes, 3).size(), 2 * static_cast<size_t>(ostrel_stream_samples(rate.code * 2, 2)));
  }
}

}  // namespace
}  // namespace ostrel::test
