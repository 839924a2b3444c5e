// End-to-end tests of the GStreamer plugin: its elements and type finder are registered, the
// decoding and encoding pipelines agree with the ostreldec and ostrelenc programs, seeks in a
// playbin give the samples of a straight decode, tags travel through the header, and a damaged
// frame does not stop playback.
#include <gst/app/gstappsink.h>
#include <gst/base/gsttypefindhelper.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "common/Process.h"
#include "common/TempDir.h"
#include "common/WavFixture.h"
#include "ostrel/ostrel.h"

namespace ostrel::test {
namespace {

constexpr int RATE = 44100;  // samples per second

bool Executable(const char* path) { return access(path, X_OK) == 0; }

// A few seconds of something like music: two tones, noise and clicks, so that the encoder
// switches blocks now and then.
Stereo Music(size_t frames) {
  Stereo s = Sine(frames, 440.0, 6000.0);
  const Stereo high = Sine(frames, 3150.0, 1500.0);
  const Stereo noise = Noise(frames, 800.0, 7);
  for (size_t i = 0; i < s.size(); ++i) s[i] = Clip16(double(s[i]) + high[i] + noise[i]);
  for (size_t at = 20000; at + 16 < frames; at += 37000) AddClick(s, at, static_cast<int>(at / 37000) % 2);
  return s;
}

// Encodes `wav` into `ost` with the program at `kbps`.
void ProgramEncode(const std::string& wav, const std::string& ost, int kbps) {
  // The command line: its streams carry LENGTH, which the parser and decoder trim to.
  RunResult r = Run({Program("ostrelenc"), "-q", "-f", "-b", std::to_string(kbps), wav, "-o", ost}, "");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
}

// The samples of the data chunk of a 16-bit WAV file, whatever chunks come before it.
Stereo DataChunk(const std::string& path) {
  const std::vector<unsigned char> b = ReadAll(path);
  auto le32 = [&](size_t at) { return uint32_t(b[at]) | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24; };
  Stereo samples;
  for (size_t at = 12; at + 8 <= b.size();) {
    const uint32_t length = le32(at + 4);
    if (std::string(b.begin() + long(at), b.begin() + long(at) + 4) == "data") {
      const size_t end = std::min(b.size(), at + 8 + size_t(length));
      for (size_t i = at + 8; i + 1 < end; i += 2) samples.push_back(int16_t(b[i] | b[i + 1] << 8));
      break;
    }
    at += 8 + size_t(length) + (length & 1);
  }
  return samples;
}

// Decodes `ost` with the program; `damaged` says whether it is expected to report damage.
Stereo ProgramDecode(const std::string& ost, const std::string& wav, bool damaged = false) {
  RunResult r = Run({Program("ostreldec"), ost, wav}, "");
  EXPECT_EQ(r.status, damaged ? 1 : 0) << r.err;
  return DataChunk(wav);
}

// Runs gst-launch-1.0 on `pipeline`, a description whose words are separated by single spaces (it
// takes them as separate arguments, as from a shell).
RunResult Launch(const std::string& pipeline) {
  std::vector<std::string> argv = {GST_LAUNCH, "-q"};
  for (size_t at = 0; at <= pipeline.size();) {
    const size_t end = std::min(pipeline.find(' ', at), pipeline.size());
    if (end > at) argv.push_back(pipeline.substr(at, end - at));
    at = end + 1;
  }
  return Run(argv, "");
}

// The header of an Ostrel file, read by the library.
struct Header {
  int status = OSTREL_ERR_TRUNCATED;
  ostrel_info info{};
  std::vector<char> strings = std::vector<char>(256 + 256 + 65536);
};
void ReadHeader(const std::string& path, Header& h) {
  const std::vector<unsigned char> bytes = ReadAll(path);
  h.status = ostrel_parse_header(bytes.data(), bytes.size(), &h.info, h.strings.data(), h.strings.size());
}

// Runs `pipeline` to its end, collecting what its bus says.
struct BusLog {
  bool eos = false;
  std::vector<std::string> errors, warnings;
  GstTagList* tags = gst_tag_list_new_empty();
  ~BusLog() { gst_tag_list_unref(tags); }
};
void RunToEnd(GstElement* pipeline, BusLog& log) {
  ASSERT_NE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  GstBus* bus = gst_element_get_bus(pipeline);
  for (;;) {
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND,
        GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_WARNING | GST_MESSAGE_TAG));
    if (msg == nullptr) break;
    const GstMessageType type = GST_MESSAGE_TYPE(msg);
    if (type == GST_MESSAGE_ERROR || type == GST_MESSAGE_WARNING) {
      GError* err = nullptr;
      gchar* debug = nullptr;
      if (type == GST_MESSAGE_ERROR) gst_message_parse_error(msg, &err, &debug);
      else gst_message_parse_warning(msg, &err, &debug);
      (type == GST_MESSAGE_ERROR ? log.errors : log.warnings)
          .push_back(std::string(GST_OBJECT_NAME(msg->src)) + ": " + err->message + " (" + (debug ? debug : "") + ")");
      g_error_free(err);
      g_free(debug);
    } else if (type == GST_MESSAGE_TAG) {
      GstTagList* tags = nullptr;
      gst_message_parse_tag(msg, &tags);
      gst_tag_list_insert(log.tags, tags, GST_TAG_MERGE_APPEND);
      gst_tag_list_unref(tags);
    }
    const bool done = type == GST_MESSAGE_EOS || type == GST_MESSAGE_ERROR;
    log.eos = type == GST_MESSAGE_EOS;
    gst_message_unref(msg);
    if (done) break;
  }
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
}

std::string FileUri(const std::string& path) {
  gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
  std::string out = uri;
  g_free(uri);
  return out;
}

class GstPlugin : public ::testing::Test {
 protected:
  // The plugin from the build, a registry of its own; the pipelines started as programs inherit
  // both.
  static void SetUpTestSuite() {
    setenv("GST_PLUGIN_PATH", OSTREL_GST_PLUGIN_DIR, 1);
    setenv("GST_REGISTRY", OSTREL_GST_PLUGIN_DIR "/test-registry.bin", 1);
    gst_init(nullptr, nullptr);
  }

  void SetUp() override {
    if (!Executable(GST_LAUNCH) || !Executable(Program("ostrelenc").c_str()) ||
        !Executable(Program("ostreldec").c_str()))
      GTEST_SKIP() << "gst-launch-1.0 or the programs are missing";
  }

  // A generated source of `seconds` and its encoding by the program at `kbps`.
  std::string Stream(int kbps, double seconds = 3.0) {
    const std::string wav = dir.File("s.wav"), ost = dir.File("s" + std::to_string(kbps) + ".ost");
    if (access(wav.c_str(), R_OK) != 0) WriteWav(wav, Music(size_t(seconds * RATE)));
    ProgramEncode(wav, ost, kbps);
    return ost;
  }

  TempDir dir;
};

TEST_F(GstPlugin, ElementsAndTypeFinderAreRegistered) {
  for (const char* name : {"ostrelparse", "ostreldec", "ostrelenc"}) {
    RunResult r = test::Run({GST_INSPECT, name}, "");
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
  }
  GstElementFactory* dec = gst_element_factory_find("ostreldec");
  ASSERT_NE(dec, nullptr);
  EXPECT_EQ(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(dec)), guint(GST_RANK_PRIMARY));
  gst_object_unref(dec);

  GstTypeFindFactory* finder = GST_TYPE_FIND_FACTORY(gst_registry_find_feature(
      gst_registry_get(), "ostrel", GST_TYPE_TYPE_FIND_FACTORY));
  ASSERT_NE(finder, nullptr);
  const gchar* const* extensions = gst_type_find_factory_get_extensions(finder);
  ASSERT_NE(extensions, nullptr);
  EXPECT_STREQ(extensions[0], "ost");
  gst_object_unref(finder);

  // The bitrate property offers exactly the library's rates, 128 kb/s by default.
  GstElement* enc = gst_element_factory_make("ostrelenc", nullptr);
  ASSERT_NE(enc, nullptr);
  GParamSpec* property = g_object_class_find_property(G_OBJECT_GET_CLASS(enc), "bitrate");
  ASSERT_NE(property, nullptr);
  ASSERT_TRUE(G_IS_PARAM_SPEC_ENUM(property));
  EXPECT_EQ(G_PARAM_SPEC_ENUM(property)->default_value, 128);
  int count = 0;
  const int* rates = ostrel_bitrates(&count);
  GEnumClass* values = G_PARAM_SPEC_ENUM(property)->enum_class;
  ASSERT_EQ(int(values->n_values), count);
  for (int i = 0; i < count; ++i) EXPECT_NE(g_enum_get_value(values, rates[i]), nullptr) << rates[i];
  gst_object_unref(enc);
}

TEST_F(GstPlugin, TypeFinderIdentifiesEncoderStreamsAndNothingElse) {
  auto find = [](const std::vector<unsigned char>& bytes) {
    GstTypeFindProbability probability = GST_TYPE_FIND_NONE;
    GstCaps* caps = gst_type_find_helper_for_data(nullptr, bytes.data(), bytes.size(), &probability);
    std::string found = caps ? gst_structure_get_name(gst_caps_get_structure(caps, 0)) : "";
    int rate = 0, channels = 0, bitrate = 0;
    if (caps != nullptr && found == "audio/x-ostrel") {
      const GstStructure* s = gst_caps_get_structure(caps, 0);
      EXPECT_TRUE(gst_structure_get_int(s, "rate", &rate) && gst_structure_get_int(s, "channels", &channels) &&
                  gst_structure_get_int(s, "bitrate", &bitrate));
      found += "," + std::to_string(rate) + "," + std::to_string(channels) + "," + std::to_string(bitrate);
    }
    if (caps) gst_caps_unref(caps);
    return found;
  };

  const std::vector<unsigned char> ost = ReadAll(Stream(192));
  EXPECT_EQ(find(ost), "audio/x-ostrel,44100,2,192000");

  std::vector<std::vector<unsigned char>> others;
  others.push_back(ReadAll(dir.File("s.wav")));
  const std::string text = "Zelk1 is how an Ostrel file starts, but this is a text file.\n";
  others.emplace_back(text.begin(), text.end());
  std::vector<unsigned char> noise(20000);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
  others.push_back(noise);
  std::vector<unsigned char> magic2 = ost, version2 = ost, cut(ost.begin(), ost.begin() + 12);
  magic2[4] = '2';
  version2[5] = 2;
  others.push_back(magic2);
  others.push_back(version2);
  others.push_back(cut);
  for (size_t i = 0; i < others.size(); ++i) {
    EXPECT_EQ(find(others[i]).rfind("audio/x-ostrel", 0), std::string::npos) << "file " << i;
  }
}

TEST_F(GstPlugin, DecodebinPipelineGivesTheProgramsSamples) {
  for (int kbps : {392, 128, 96}) {
    SCOPED_TRACE(kbps);
    const std::string ost = Stream(kbps);
    const Stereo expected = ProgramDecode(ost, dir.File("d2.wav"));
    ASSERT_FALSE(expected.empty());
    RunResult r = Launch("filesrc location=" + ost + " ! decodebin ! audioconvert ! audio/x-raw,format=S16LE ! wavenc ! "
                         "filesink location=" + dir.File("d.wav"));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const Stereo got = DataChunk(dir.File("d.wav"));
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
  }
}

TEST_F(GstPlugin, EncoderPipelineWritesTheProgramsBytes) {
  const std::vector<unsigned char> expected = ReadAll(Stream(256));
  Header h;
  ReadHeader(dir.File("s256.ost"), h);
  ASSERT_EQ(h.status, OSTREL_OK);
  ASSERT_GT(h.info.frames, 0u);

  // A file sink can seek: the frame count is patched in as by the program. Float input on the
  // 16-bit scale gives the same stream.
  for (const char* format : {"S16LE", "F32LE"}) {
    SCOPED_TRACE(format);
    RunResult r = Launch("filesrc location=" + dir.File("s.wav") + " ! wavparse ! audioconvert ! audio/x-raw,format=" +
                         format + " ! ostrelenc bitrate=256 ! filesink location=" + dir.File("e.ost"));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::vector<unsigned char> got = ReadAll(dir.File("e.ost"));
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
  }

  // Threads and the quality mode give the program's bytes too.
  RunResult q = test::Run({Program("ostrelenc"), "-q", "--quality", "-b", "256", "-o", dir.File("q.ost"), dir.File("s.wav")}, "");
  ASSERT_EQ(q.status, 0) << q.err;
  for (const char* properties : {"threads=2", "threads=3 quality=true"}) {
    SCOPED_TRACE(properties);
    RunResult t = Launch("filesrc location=" + dir.File("s.wav") + " ! wavparse ! ostrelenc bitrate=256 " + properties +
                         " ! filesink location=" + dir.File("e.ost"));
    ASSERT_EQ(t.status, 0) << t.out << t.err;
    EXPECT_TRUE(ReadAll(dir.File("e.ost")) == (std::string(properties).find("quality") != std::string::npos
                                                  ? ReadAll(dir.File("q.ost"))
                                                  : expected));
  }

  // A pipe cannot: the same bytes with a frame count of 0.
  RunResult r = Launch("filesrc location=" + dir.File("s.wav") + " ! wavparse ! audioconvert ! ostrelenc bitrate=256 ! fdsink fd=1");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<unsigned char> unpatched = expected;
  for (int i = 10; i < 14; ++i) unpatched[size_t(i)] = 0;
  const std::string length = "\nLENGTH=";
  const auto at = std::search(unpatched.begin(), unpatched.end(), length.begin(), length.end());
  ASSERT_NE(at, unpatched.end());
  std::fill(at + static_cast<long>(length.size()), at + static_cast<long>(length.size()) + 16, '?');
  ASSERT_EQ(r.out.size(), unpatched.size());
  EXPECT_TRUE(std::vector<unsigned char>(r.out.begin(), r.out.end()) == unpatched);
}

TEST_F(GstPlugin, TagsGoIntoTheHeaderAndComeBackOut) {
  const std::string untagged = Stream(160);
  const std::string tagged = dir.File("t.ost");
  RunResult r = Launch("filesrc location=" + dir.File("s.wav") +
                       " ! wavparse ! taginject tags=\"title=Night,artist=Ann,comment=Live\" ! audioconvert ! "
                       "ostrelenc ! filesink location=" + tagged);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  Header h;
  ReadHeader(tagged, h);
  ASSERT_EQ(h.status, OSTREL_OK);
  EXPECT_EQ(h.info.kbps, 128);
  EXPECT_STREQ(h.info.title, "Night");
  EXPECT_STREQ(h.info.author, "Ann");
  EXPECT_NE(std::string(h.info.comment).find("\nCOMMENT=Live\n"), std::string::npos) << h.info.comment;

  auto parsed_tags = [](const std::string& path, BusLog& log) {
    GError* error = nullptr;
    GstElement* p = gst_parse_launch(("filesrc location=" + path + " ! ostrelparse ! fakesink").c_str(), &error);
    ASSERT_NE(p, nullptr) << (error ? error->message : "");
    RunToEnd(p, log);
    gst_object_unref(p);
  };
  BusLog log;
  parsed_tags(tagged, log);
  ASSERT_TRUE(log.eos);
  gchar* value = nullptr;
  ASSERT_TRUE(gst_tag_list_get_string(log.tags, GST_TAG_TITLE, &value));
  EXPECT_STREQ(value, "Night");
  g_free(value);
  ASSERT_TRUE(gst_tag_list_get_string(log.tags, GST_TAG_ARTIST, &value));
  EXPECT_STREQ(value, "Ann");
  g_free(value);
  ASSERT_TRUE(gst_tag_list_get_string(log.tags, GST_TAG_COMMENT, &value));
  EXPECT_STREQ(value, "Live");
  g_free(value);

  // The program writes "None" in every field: no tags at all.
  BusLog plain;
  parsed_tags(untagged, plain);
  ASSERT_TRUE(plain.eos);
  for (const char* tag : {GST_TAG_TITLE, GST_TAG_ARTIST, GST_TAG_COMMENT})
    EXPECT_EQ(gst_tag_list_get_tag_size(plain.tags, tag), 0u) << tag;
}

TEST_F(GstPlugin, SeeksInPlaybinGiveTheSamplesOfAStraightDecode) {
  const int kbps = 128;
  const std::string ost = Stream(kbps, 5.0);
  const Stereo reference = ProgramDecode(ost, dir.File("ref.wav"));
  const size_t total = reference.size() / 2;  // samples per channel
  const long spf = ostrel_samples_per_frame(kbps);
  ASSERT_GT(total, size_t(3 * spf));

  GstElement* playbin = gst_element_factory_make("playbin", nullptr);
  GstElement* sink = gst_element_factory_make("appsink", nullptr);
  ASSERT_NE(playbin, nullptr);
  ASSERT_NE(sink, nullptr);
  GstCaps* caps = gst_caps_from_string("audio/x-raw,format=S16LE,rate=44100,channels=2,layout=interleaved");
  g_object_set(sink, "caps", caps, "sync", FALSE, nullptr);
  gst_caps_unref(caps);
  // Audio only, no software volume: what reaches the sink is the decoder's output.
  g_object_set(playbin, "uri", FileUri(ost).c_str(), "audio-sink", sink, "flags", 0x2, nullptr);
  ASSERT_NE(gst_element_set_state(playbin, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
  ASSERT_EQ(gst_element_get_state(playbin, nullptr, nullptr, 30 * GST_SECOND), GST_STATE_CHANGE_SUCCESS);

  gint64 duration = 0;
  ASSERT_TRUE(gst_element_query_duration(playbin, GST_FORMAT_TIME, &duration));
  EXPECT_NEAR(double(duration) * RATE / GST_SECOND, double(total), 1.0);

  // Targets inside frames, on a frame boundary, just before one, near the end, and backwards.
  const std::vector<size_t> targets = {size_t(spf) / 3,      size_t(2 * spf),     size_t(2 * spf) - 700,
                                       size_t(spf) + 12345,  total - 5000,         size_t(spf) / 2 + 1000,
                                       size_t(3 * spf) + 1};
  ASSERT_NE(gst_element_set_state(playbin, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  for (size_t target : targets) {
    SCOPED_TRACE(target);
    // Rounded up: a time between two samples clips the first buffer to the later one, but stamps
    // it with the time itself.
    const gint64 at = gint64(gst_util_uint64_scale_ceil(target, GST_SECOND, RATE));
    ASSERT_TRUE(gst_element_seek_simple(playbin, GST_FORMAT_TIME,
                                        GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), at));
    ASSERT_NE(gst_element_get_state(playbin, nullptr, nullptr, 30 * GST_SECOND), GST_STATE_CHANGE_FAILURE);

    // Compare up to a second after the target, or to the end.
    const size_t want = std::min(total - target, size_t(RATE));
    size_t compared = 0, first = SIZE_MAX, mismatches = 0;
    while (compared < want) {
      GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 30 * GST_SECOND);
      if (sample == nullptr) break;
      GstBuffer* buffer = gst_sample_get_buffer(sample);
      GstMapInfo map;
      ASSERT_TRUE(gst_buffer_map(buffer, &map, GST_MAP_READ));
      const size_t start = size_t(gst_util_uint64_scale_round(GST_BUFFER_PTS(buffer), RATE, GST_SECOND));
      const int16_t* s = reinterpret_cast<const int16_t*>(map.data);
      const size_t n = map.size / 4;
      if (first == SIZE_MAX) first = start;
      for (size_t i = 0; i < n && compared < want; ++i) {
        const size_t pos = start + i;
        if (pos < target) continue;
        ASSERT_LT(pos, total);
        if (s[2 * i] != reference[2 * pos] || s[2 * i + 1] != reference[2 * pos + 1]) ++mismatches;
        ++compared;
      }
      gst_buffer_unmap(buffer, &map);
      gst_sample_unref(sample);
    }
    EXPECT_LE(first, target) << "the output after the seek starts after its target";
    EXPECT_EQ(compared, want);
    EXPECT_EQ(mismatches, 0u);
  }
  gst_element_set_state(playbin, GST_STATE_NULL);
  gst_object_unref(playbin);
}

TEST_F(GstPlugin, DamagedFrameIsConcealedAndPlaybackReachesTheEnd) {
  const std::string ost = Stream(392);
  std::vector<unsigned char> bytes = ReadAll(ost);
  Header h;
  ReadHeader(ost, h);
  ASSERT_EQ(h.status, OSTREL_OK);
  ASSERT_GT(h.info.frames, 5u);
  const size_t frame3 = size_t(h.info.header_bytes) + 3 * size_t(h.info.frame_bytes);
  for (size_t i = 0; i < h.info.frame_bytes; ++i) bytes[frame3 + i] = static_cast<unsigned char>(0xA5 ^ i);
  const std::string damaged = dir.File("damaged.ost");
  WriteAll(damaged, bytes);

  // Concealed exactly as the program conceals it.
  const Stereo expected = ProgramDecode(damaged, dir.File("d2.wav"), true);
  RunResult r = Launch("filesrc location=" + damaged + " ! decodebin ! audioconvert ! audio/x-raw,format=S16LE ! "
                       "wavenc ! filesink location=" + dir.File("d.wav"));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(DataChunk(dir.File("d.wav")) == expected);

  // A player gets to the end, with a warning and no error.
  GstElement* playbin = gst_element_factory_make("playbin", nullptr);
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  ASSERT_NE(playbin, nullptr);
  g_object_set(sink, "sync", FALSE, nullptr);
  g_object_set(playbin, "uri", FileUri(damaged).c_str(), "audio-sink", sink, nullptr);
  BusLog log;
  RunToEnd(playbin, log);
  gst_object_unref(playbin);
  EXPECT_TRUE(log.eos);
  EXPECT_TRUE(log.errors.empty()) << log.errors.front();
  ASSERT_FALSE(log.warnings.empty());
  EXPECT_NE(log.warnings.front().find("damaged"), std::string::npos) << log.warnings.front();

  if (Executable(GST_PLAY)) {
    r = test::Run({GST_PLAY, "--audiosink=fakesink", damaged}, "");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Reached end of play list"), std::string::npos) << r.out << r.err;
  }
}

// A stream cut at a random byte (no header) is joined at its next frame, as ostreldec --join does.
TEST_F(GstPlugin, ACutStreamIsJoinedAtItsNextFrame) {
  const std::string ost = Stream(192);
  const std::vector<unsigned char> bytes = ReadAll(ost);
  std::mt19937 random(7);
  const size_t cut = 40 + random() % 20000;
  const std::string tail = dir.File("tail.ost");
  WriteAll(tail, std::vector<unsigned char>(bytes.begin() + static_cast<long>(cut), bytes.end()));
  RunResult joined = test::Run({Program("ostreldec"), "--join", tail, dir.File("p.wav")}, "");
  ASSERT_EQ(joined.status, 0) << joined.err;
  const Stereo expected = DataChunk(dir.File("p.wav"));
  ASSERT_FALSE(expected.empty());
  RunResult r = Launch("filesrc location=" + tail + " ! ostrelparse ! ostreldec ! wavenc ! filesink location=" +
                       dir.File("g.wav"));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(DataChunk(dir.File("g.wav")) == expected);
}

}  // namespace
}  // namespace ostrel::test
