// Playing compressed files on the sound card: what is heard, stopping, and devices that fail.
#include "decoder/Player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <sstream>

#include "common/WavCapture.h"
#include "decoder/Decoder.h"
#include "decoder/RoundTrip.h"

namespace ostrel {
namespace {

using test::Program;
using test::RunResult;
using test::TempDir;

// One short encoded file (about 0.6 s: two frames at 128 kb/s) for the whole suite.
class Play : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::HaveEncoder()) return;
    dir_ = std::make_unique<TempDir>();
    test::Stereo source = test::Noise(26000, 12000.0, 3);
    test::AddClick(source, 9000, 1);
    test::WriteWav(dir_->File("source.wav"), source);
    test::Encode(dir_->File("source.wav"), dir_->File("source.ost"), 5);
    std::ostringstream log;
    ASSERT_EQ(DecodeFile(dir_->File("source.ost"), dir_->File("decoded.wav"), DecodeOptions{}, log), DECODE_OK);
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override {
    if (!test::HaveEncoder()) GTEST_SKIP() << "ostrelenc is not built";
  }
  static std::string Ost() { return dir_->File("source.ost"); }
  static test::Stereo Decoded() { return test::WavSamples(dir_->File("decoded.wav")); }

  // The null device taking buffers at once and recording them in this test's folder.
  PlayOptions NullDevice() {
    PlayOptions options;
    options.soundCard.device.Name = "null";
    options.soundCard.device.Speed = 0.0;
    options.soundCard.device.CapturePath = work_.File("heard.wav");
    options.soundCard.closeRetryMs = 5;
    return options;
  }
  test::Captured Heard() { return test::ReadCapture(work_.File("heard.wav")); }

  static std::unique_ptr<TempDir> dir_;
  TempDir work_;
};
std::unique_ptr<TempDir> Play::dir_;

TEST_F(Play, HearsTheDecodedFileSampleForSampleAtTheVolumeSet) {
  const test::Stereo decoded = Decoded();
  ASSERT_FALSE(decoded.empty());
  for (int volume : {-1, 0xFFFF, 32767}) {
    SCOPED_TRACE(volume);
    PlayOptions options = NullDevice();
    options.volume = volume;
    std::ostringstream log;
    ASSERT_EQ(PlayFile(Ost(), options, log), DECODE_OK) << log.str();
    EXPECT_EQ(log.str(), "");
    test::Captured heard = Heard();
    ASSERT_TRUE(heard.valid);
    // The last buffer is filled up with silence.
    ASSERT_EQ(heard.samples.size() % (MCI_BUFFER_BYTES / 2), 0u);
    ASSERT_GE(heard.samples.size(), decoded.size());
    EXPECT_TRUE(std::all_of(heard.samples.begin() + static_cast<long>(decoded.size()), heard.samples.end(),
                            [](int16_t s) { return s == 0; }));
    heard.samples.resize(decoded.size());
    test::Stereo expected = decoded;
    if (volume == 32767) {
      for (int16_t& s : expected) s = static_cast<int16_t>(s * 32767 / 65535);
    }
    EXPECT_EQ(heard.samples, expected);
  }
}

TEST_F(Play, AStopDiscardsWhatIsQueued) {
  PlayOptions options = NullDevice();
  int asked = 0;
  options.stopWanted = [&asked] { return ++asked == 1; };
  std::ostringstream log;
  EXPECT_EQ(PlayFile(Ost(), options, log), DECODE_OK) << log.str();
  EXPECT_EQ(asked, 1);
  // One frame is less than a buffer, so nothing had reached the device.
  EXPECT_TRUE(Heard().valid);
  EXPECT_TRUE(Heard().samples.empty());
}

TEST_F(Play, DeviceFailuresAreOneLineAndStatus3) {
  PlayOptions missing = NullDevice();
  missing.soundCard.device.Name = "alsa:ostrel-no-such-device";
  std::ostringstream log;
  EXPECT_EQ(PlayFile(Ost(), missing, log), DECODE_WRITE_FAILED);
  const std::string message = log.str();
  EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
  EXPECT_NE(message.find("ostrel-no-such-device"), std::string::npos) << message;

  // A device that takes two buffers and never finishes them: playback ends after the frame of the
  // first refusal, having waited out the timeout once, not once for each of its samples
  // (which would take about 330 s here).
  PlayOptions stalled = NullDevice();
  stalled.soundCard.device.Stalled = true;
  stalled.soundCard.bufferBytes = 4000;
  stalled.soundCard.timeoutMs = 10;
  std::ostringstream stalledLog;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(PlayFile(Ost(), stalled, stalledLog), DECODE_WRITE_FAILED);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 60.0);
  EXPECT_NE(stalledLog.str().find("stopped taking samples"), std::string::npos) << stalledLog.str();
}

TEST_F(Play, CommandLine) {
  RunResult played = test::Run({Program("ostreldec"), "--play", "--device", "null", "--volume", "40", Ost()}, "");
  EXPECT_EQ(played.status, 0) << played.err;
  EXPECT_NE(played.out.find("press q"), std::string::npos) << played.out;

  // q stops the file that plays and the ones after it.
  RunResult quit = test::Run({Program("ostreldec"), "--play", "--device", "null", Ost(), Ost()}, "q");
  EXPECT_EQ(quit.status, 0) << quit.err;
  EXPECT_EQ(quit.out, "Playing " + Ost() + " (press q to stop)\n");

  // Standard input is a file to play here, not the keyboard.
  const std::vector<unsigned char> bytes = test::ReadAll(Ost());
  RunResult two = test::Run({Program("ostreldec"), "--play", "--device", "null", "-", Ost()},
                            std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(two.status, 0) << two.err;
  EXPECT_EQ(two.out, "Playing standard input (press q to stop)\nPlaying " + Ost() + " (press q to stop)\n");

  RunResult noDevice = test::Run({Program("ostreldec"), "--play", "--device", "alsa:ostrel-no-such-device", Ost()}, "");
  EXPECT_EQ(noDevice.status, DECODE_WRITE_FAILED);
  EXPECT_EQ(std::count(noDevice.err.begin(), noDevice.err.end(), '\n'), 1) << noDevice.err;

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--device", "null", Ost()}, {"--play", "--volume", "101", Ost()},
        {"--play", "--volume", "-5", Ost()}, {"--play", "-v", Ost()}, {"--play", "--info", Ost()},
        {"--play", "--device"}}) {
    std::vector<std::string> argv{Program("ostreldec")};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = test::Run(argv, "");
    EXPECT_EQ(r.status, DECODE_BAD_INPUT) << args[0] << " " << args[1];
  }
}

}  // namespace
}  // namespace ostrel
