#include <gtest/gtest.h>

#include "audio/MCI_Buffer.h"
#include "audio/Waveio.h"
#include "common/TempDir.h"
#include "common/WavCapture.h"
#include "common/WavFixture.h"

namespace ostrel {
namespace {

constexpr unsigned kBufferBytes = 400;  // 100 stereo frames per buffer

SoundCardSettings NullDevice(const std::string& capture, bool stalled = false) {
  SoundCardSettings s;
  s.device.Name = "null";
  s.device.Speed = 0.0;
  s.device.CapturePath = capture;
  s.device.Stalled = stalled;
  s.bufferBytes = kBufferBytes;
  s.closeRetryMs = 5;
  return s;
}

TEST(WaveioSoundCard, PlaysThePairsFileWritingWouldStore) {
  test::TempDir dir;
  const test::Stereo noise = test::Noise(321, 32767.0, 17);
  {
    Waveio out(0, NullDevice(dir.File("short.wav")));
    ASSERT_EQ(out.type, WAVE_SOUNDCARD);
    EXPECT_EQ(out.StereoIO, 1);
    ASSERT_EQ(out.buffer->opened, 1) << out.buffer->device_error;
    std::vector<short> right, left;
    for (size_t i = 0; i < noise.size(); i += 2) {
      right.push_back(noise[i]);
      left.push_back(noise[i + 1]);
    }
    EXPECT_EQ(out.IO(right.data(), left.data(), static_cast<int>(right.size())), 0);
    out.CloseWave();
    EXPECT_EQ(out.buffer, nullptr);
    EXPECT_EQ(out.error, 0);
  }
  test::Captured heard = test::ReadCapture(dir.File("short.wav"));
  ASSERT_GE(heard.samples.size(), noise.size());
  heard.samples.resize(noise.size());  // the rest is the silence that fills the last buffer
  EXPECT_EQ(heard.samples, noise);

  {
    Waveio out(1, NullDevice(dir.File("float.wav")));
    float right[] = {0.5f, 40000.0f, -2.5f}, left[] = {2.5f, 0.0f, 0.25f};
    EXPECT_EQ(out.IO(right, left, 3), 0);
    // Sum/difference as in file writing, the caller's arrays overwritten.
    EXPECT_EQ(right[0], 3.0f);
    EXPECT_EQ(left[0], -2.5f);
    // Destruction without CloseWave plays out too.
  }
  heard = test::ReadCapture(dir.File("float.wav"));
  ASSERT_GE(heard.samples.size(), 6u);
  EXPECT_EQ(std::vector<int16_t>(heard.samples.begin(), heard.samples.begin() + 6),
            (std::vector<int16_t>{3, -2, 32767, 32767, -2, -2}));
}

TEST(WaveioSoundCard, ABufferNotFreedInTimeSetsError3) {
  SoundCardSettings settings = NullDevice("", /*stalled=*/true);
  settings.timeoutMs = 10;
  Waveio out(0, settings);
  std::vector<short> right(300, 1000), left(300, -1000);
  // Three buffers fill (two queued, never finished); the next frame finds none free.
  EXPECT_EQ(out.IO(right.data(), left.data(), 300), 0);
  EXPECT_EQ(out.error, 0);
  EXPECT_EQ(out.IO(right.data(), left.data(), 1), 0);
  EXPECT_EQ(out.error, WAVE_ERROR_DEVICE);
  out.Stop();
  out.CloseWave();
}

TEST(WaveioSoundCard, VolumePauseAndStopReachTheBuffer) {
  test::TempDir dir;
  {
    Waveio out(0, NullDevice(dir.File("heard.wav"), /*stalled=*/true));
    out.Set_Volume(32768 + 65536 * 3);
    EXPECT_EQ(out.buffer->device->Volume(), 0x80008000u);
    std::vector<short> right(250, 5), left(250, 6);
    out.IO(right.data(), left.data(), 250);
    ASSERT_EQ(out.buffer->init, 1);
    out.Pause();
    EXPECT_EQ(out.buffer->init, 0);
    EXPECT_EQ(out.buffer->device->Resets(), 1u);
    out.IO(right.data(), left.data(), 250);
    out.Stop();
    EXPECT_EQ(out.buffer->user_stop, 1);
    out.CloseWave();
    EXPECT_EQ(out.error, 0);
  }
  EXPECT_TRUE(test::ReadCapture(dir.File("heard.wav")).samples.empty());

  test::TempDir files;
  Waveio file(files.File("x.wav").c_str(), WAVE_WRITE);
  file.Set_Volume(100);
  EXPECT_EQ(file.error, WAVE_ERROR_MODE) << "no volume on a file";
}

}  // namespace
}  // namespace ostrel
