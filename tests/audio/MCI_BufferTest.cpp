#include "audio/MCI_Buffer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "common/TempDir.h"
#include "common/WavCapture.h"
#include "common/WavFixture.h"

namespace ostrel {
namespace {

using test::Stereo;

constexpr unsigned kBufferBytes = 400;  // 100 stereo frames per buffer keeps every test short

SoundCardSettings NullSettings(const std::string& capture, double speed = 0.0, bool stalled = false) {
  SoundCardSettings s;
  s.device.Name = "null";
  s.device.CapturePath = capture;
  s.device.Speed = speed;
  s.device.Stalled = stalled;
  s.bufferBytes = kBufferBytes;
  s.closeRetryMs = 5;
  return s;
}

// Appends first, second, first, ... and returns how many appends failed.
int AppendAll(MCI_Buffer& out, const Stereo& samples) {
  int failures = 0;
  for (size_t i = 0; i < samples.size(); ++i) failures += out.Append(static_cast<int>(i % 2), samples[i]) != 0;
  return failures;
}

std::vector<const WaveOutHeader*> Headers(const MCI_Buffer& out, std::initializer_list<int> indices) {
  std::vector<const WaveOutHeader*> headers;
  for (int i : indices) headers.push_back(&out.buffer[i].wave_header);
  return headers;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(MCI_Buffer, PrimesWithBuffersZeroAndOneOnTheAppendAfterTwoFullBuffers) {
  MCI_Buffer out(NullSettings("", 0.0, /*stalled=*/true));
  ASSERT_EQ(out.opened, 1) << out.device_error;
  EXPECT_EQ(out.nsamples, kBufferBytes);
  const Stereo twoBuffers = test::Noise(2 * kBufferBytes / 4, 20000.0, 5);
  EXPECT_EQ(AppendAll(out, twoBuffers), 0);
  EXPECT_EQ(out.device->BuffersWritten(), 0u) << "nothing plays before two full buffers and one more sample";
  EXPECT_EQ(out.init, 0);
  EXPECT_EQ(out.buffer_ptr, 1);

  EXPECT_EQ(out.Append(0, 123), 0);
  EXPECT_EQ(out.device->QueuedHeaders(), Headers(out, {0, 1}));
  EXPECT_EQ(out.init, 1);
  EXPECT_EQ(out.buffer_ptr, 2);
  EXPECT_EQ(out.ptr, 2);
  out.Stop();
}

TEST(MCI_Buffer, PlaysExactlyWhatWasAppendedThenSilenceToTheBufferEnd) {
  const struct {
    const char* name;
    size_t frames;
    double speed;
  } cases[] = {
      {"shorter than one buffer", 37, 0.0},
      {"exactly one buffer", 100, 0.0},
      {"exactly two buffers", 200, 0.0},
      {"two buffers and one frame", 201, 0.0},
      {"many buffers, instant device", 2345, 0.0},
      // 50 buffers of 2.3 ms each at 20 times real time: the producer really waits on the device.
      {"many buffers, paced device", 5000, 20.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const Stereo sound = test::Noise(c.frames, 32767.0, static_cast<unsigned>(c.frames));
    {
      MCI_Buffer out(NullSettings(dir.File("heard.wav"), c.speed));
      ASSERT_EQ(out.opened, 1) << out.device_error;
      EXPECT_EQ(AppendAll(out, sound), 0);
    }
    const test::Captured heard = test::ReadCapture(dir.File("heard.wav"));
    ASSERT_TRUE(heard.valid);
    const size_t bufferSamples = kBufferBytes / 2;
    const size_t padded = (sound.size() + bufferSamples - 1) / bufferSamples * bufferSamples;
    ASSERT_EQ(heard.samples.size(), padded);
    EXPECT_TRUE(std::equal(sound.begin(), sound.end(), heard.samples.begin()));
    EXPECT_TRUE(std::all_of(heard.samples.begin() + static_cast<long>(sound.size()), heard.samples.end(),
                            [](int16_t s) { return s == 0; }));
  }
}

TEST(MCI_Buffer, NothingAppendedPlaysNothing) {
  test::TempDir dir;
  { MCI_Buffer out(NullSettings(dir.File("heard.wav"))); }
  const test::Captured heard = test::ReadCapture(dir.File("heard.wav"));
  EXPECT_TRUE(heard.valid);
  EXPECT_TRUE(heard.samples.empty());
}

TEST(MCI_Buffer, StopThenDestructionDiscardsTheQueueWithoutWaiting) {
  test::TempDir dir;
  SoundCardSettings settings = NullSettings(dir.File("heard.wav"), 0.0, /*stalled=*/true);
  settings.timeoutMs = 60000;  // any wait on the stalled device would show in the elapsed time
  const auto start = std::chrono::steady_clock::now();
  {
    MCI_Buffer out(settings);
    EXPECT_EQ(AppendAll(out, test::Noise(250, 20000.0, 9)), 0);
    ASSERT_EQ(out.init, 1);
    out.Stop();
  }
  EXPECT_LT(SecondsSince(start), 30.0);
  const test::Captured heard = test::ReadCapture(dir.File("heard.wav"));
  EXPECT_TRUE(heard.valid);
  EXPECT_TRUE(heard.samples.empty());
}

TEST(MCI_Buffer, ADeviceThatStopsFinishingBuffersFailsAppendAndStillCloses) {
  SoundCardSettings settings = NullSettings("", 0.0, /*stalled=*/true);
  settings.timeoutMs = 20;
  MCI_Buffer out(settings);
  // Primed with buffers 0 and 1, buffer 2 filled to its end.
  EXPECT_EQ(AppendAll(out, test::Noise(300, 20000.0, 3)), 0);
  EXPECT_EQ(out.Append(0, 7), -1) << "no buffer came back within the timeout";
  EXPECT_EQ(out.buffer_ptr, 2);
  EXPECT_EQ(out.ptr, static_cast<int>(kBufferBytes)) << "the sample was dropped";
  EXPECT_EQ(out.stalled, 1) << "later samples are refused without another wait";
  EXPECT_EQ(out.Append(1, 8), -1);
  // Destruction without Stop drains, gives up after the timeout and resets the device.
}

TEST(MCI_Buffer, ClearBufferEmptiesTheQueueAndPrimesAnew) {
  SoundCardSettings settings = NullSettings("", 0.0, /*stalled=*/true);
  settings.timeoutMs = 60000;
  MCI_Buffer out(settings);
  const auto start = std::chrono::steady_clock::now();
  out.Clear_Buffer();  // before priming nothing is queued, so there is nothing to wait for
  EXPECT_LT(SecondsSince(start), 30.0);

  EXPECT_EQ(AppendAll(out, test::Noise(250, 20000.0, 4)), 0);
  ASSERT_EQ(out.init, 1);
  out.Clear_Buffer();
  EXPECT_TRUE(out.device->QueuedHeaders().empty());
  EXPECT_EQ(out.device->Resets(), 2u);
  EXPECT_EQ(out.MCI_Semaphore.Count(), 0);
  EXPECT_EQ(out.init, 0);
  EXPECT_EQ(out.buffer_ptr, 0);
  EXPECT_EQ(out.ptr, 0);

  EXPECT_EQ(AppendAll(out, test::Noise(201, 20000.0, 6)), 0);
  EXPECT_EQ(out.device->BuffersWritten(), 4u);
  EXPECT_EQ(out.device->QueuedHeaders(), Headers(out, {0, 1}));
  out.Stop();
}

TEST(MCI_Buffer, SetVolumeUsesTheLow16BitsForBothChannels) {
  MCI_Buffer out(NullSettings(""));
  for (long long k : {0LL, 1LL, 7LL, 32767LL, -1LL}) {
    SCOPED_TRACE(k);
    out.Set_Volume(static_cast<int>(32768 + 65536 * k));
    EXPECT_EQ(out.device->Volume(), 0x80008000u);
  }
  out.Set_Volume(0x1234FFFF);
  EXPECT_EQ(out.device->Volume(), 0xFFFFFFFFu);
}

TEST(MCI_Buffer, WithoutADeviceEveryFullBufferIsRefused) {
  SoundCardSettings settings;
  settings.device.Name = "alsa:ostrel-no-such-device";
  settings.bufferBytes = kBufferBytes;
  MCI_Buffer out(settings);
  EXPECT_EQ(out.opened, 0);
  EXPECT_FALSE(out.device_error.empty());
  EXPECT_EQ(AppendAll(out, test::Noise(100, 20000.0, 1)), 0);
  EXPECT_EQ(out.Append(0, 1), -1);
}

TEST(MCI_Buffer, BufferSizeIsWholeFramesWithinTheAllocation) {
  EXPECT_EQ(MCI_Buffer(NullSettings("")).nsamples, kBufferBytes);
  SoundCardSettings settings = NullSettings("");
  for (unsigned asked : {0u, 3u, 402u, 176401u, 1000000u}) {
    SCOPED_TRACE(asked);
    settings.bufferBytes = asked;
    MCI_Buffer out(settings);
    EXPECT_EQ(out.nsamples % 4, 0u);
    EXPECT_GE(out.nsamples, 4u);
    EXPECT_LE(out.nsamples, MCI_BUFFER_BYTES);
  }
}

TEST(MCI_Buffer, TwoPlayersAtOnceDoNotShareFinishedBuffers) {
  test::TempDir dir;
  const Stereo first = test::Noise(3000, 30000.0, 21), second = test::Sine(3000, 1000.0, 9000.0);
  {
    MCI_Buffer a(NullSettings(dir.File("a.wav"), 50.0)), b(NullSettings(dir.File("b.wav"), 50.0));
    for (size_t i = 0; i < first.size(); ++i) {
      ASSERT_EQ(a.Append(0, first[i]), 0);
      ASSERT_EQ(b.Append(0, second[i]), 0);
    }
  }
  const test::Captured heardA = test::ReadCapture(dir.File("a.wav")), heardB = test::ReadCapture(dir.File("b.wav"));
  ASSERT_EQ(heardA.samples.size(), first.size());
  ASSERT_EQ(heardB.samples.size(), second.size());
  EXPECT_EQ(heardA.samples, first);
  EXPECT_EQ(heardB.samples, second);
}

}  // namespace
}  // namespace ostrel
