#include "platform/WaveOut.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "common/TempDir.h"
#include "common/WavCapture.h"
#include "common/WavFixture.h"

namespace ostrel {
namespace {

using test::Stereo;

// Records the device's WOM_DONE reports.
struct DoneLog {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<const WaveOutHeader*> done;
  bool otherThread = true;  // every report came from a thread other than the test's
  std::thread::id testThread = std::this_thread::get_id();

  static void Callback(WaveOutDevice*, unsigned uMsg, uintptr_t dwInstance, uintptr_t dwParam1, uintptr_t) {
    if (uMsg != WOM_DONE) return;
    DoneLog* log = reinterpret_cast<DoneLog*>(dwInstance);
    std::lock_guard<std::mutex> lock(log->mutex);
    log->done.push_back(reinterpret_cast<const WaveOutHeader*>(dwParam1));
    if (std::this_thread::get_id() == log->testThread) log->otherThread = false;
    log->changed.notify_all();
  }
  uintptr_t Instance() { return reinterpret_cast<uintptr_t>(this); }
  // Waits (at most a minute, far beyond any real need) until `count` buffers were reported.
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::minutes(1), [&] { return done.size() >= count; });
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return done.size();
  }
};

PcmWaveFormat Stereo16() {
  PcmWaveFormat f{};
  f.Format = WaveFormat{WAVE_FORMAT_PCM_TAG, 2, 44100, 176400, 4};
  f.BitsPerSample = 16;
  return f;
}

// A header and the little-endian bytes it points at.
struct TestBuffer {
  explicit TestBuffer(const Stereo& samples) : bytes(samples.size() * 2) {
    for (size_t i = 0; i < samples.size(); ++i) {
      const uint16_t v = static_cast<uint16_t>(samples[i]);
      bytes[2 * i] = static_cast<char>(v & 0xFF);
      bytes[2 * i + 1] = static_cast<char>(v >> 8);
    }
    header.Data = bytes.data();
    header.BufferLength = static_cast<uint32_t>(bytes.size());
  }
  std::vector<char> bytes;
  WaveOutHeader header{};
};

WaveOutChoice NullChoice(const std::string& capture, double speed = 0.0) {
  WaveOutChoice choice;
  choice.Name = "null";
  choice.Speed = speed;
  choice.CapturePath = capture;
  return choice;
}

TEST(NullWaveOut, PlaysBuffersInOrderReportsEachAndRecordsThem) {
  test::TempDir dir;
  DoneLog log;
  std::unique_ptr<WaveOutDevice> device;
  ASSERT_EQ(WaveOutDevice::Open(&device, NullChoice(dir.File("heard.wav")), Stereo16(), &DoneLog::Callback,
                                log.Instance()),
            WAVEOUT_OK);
  // Lengths that are not a multiple of the device's chunk, one shorter than a chunk.
  std::vector<std::unique_ptr<TestBuffer>> buffers;
  Stereo all;
  for (unsigned i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const Stereo samples = test::Noise(i == 1 ? 300 : 5000 + i, 30000.0, 11 + i);
    all.insert(all.end(), samples.begin(), samples.end());
    buffers.push_back(std::make_unique<TestBuffer>(samples));
    EXPECT_EQ(device->Prepare(&buffers.back()->header), WAVEOUT_OK);
    EXPECT_EQ(device->Write(&buffers.back()->header), WAVEOUT_OK);
  }
  ASSERT_TRUE(log.WaitFor(3));
  EXPECT_TRUE(log.otherThread);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(log.done[i], &buffers[i]->header) << "reported out of order at " << i;
    EXPECT_EQ(buffers[i]->header.Flags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
  }
  EXPECT_EQ(device->BuffersWritten(), 3u);
  EXPECT_EQ(device->Close(), WAVEOUT_OK);
  EXPECT_EQ(device->Write(&buffers[0]->header), WAVEOUT_ERROR) << "a closed device takes nothing";

  const test::Captured heard = test::ReadCapture(dir.File("heard.wav"));
  EXPECT_TRUE(heard.valid);
  EXPECT_EQ(heard.channels, 2);
  EXPECT_EQ(heard.rate, 44100u);
  EXPECT_EQ(heard.samples, all);
}

TEST(NullWaveOut, QueuedHeadersAreHeldUntilResetHandsThemBack) {
  test::TempDir dir;
  DoneLog log;
  WaveOutChoice choice = NullChoice(dir.File("heard.wav"));
  choice.Stalled = true;
  std::unique_ptr<WaveOutDevice> device;
  ASSERT_EQ(WaveOutDevice::Open(&device, choice, Stereo16(), &DoneLog::Callback, log.Instance()), WAVEOUT_OK);
  TestBuffer a(test::Sine(1000, 440.0, 8000.0)), b(test::Sine(1000, 880.0, 8000.0));

  EXPECT_EQ(device->Write(&a.header), WAVERR_UNPREPARED);
  ASSERT_EQ(device->Prepare(&a.header), WAVEOUT_OK);
  ASSERT_EQ(device->Prepare(&b.header), WAVEOUT_OK);
  ASSERT_EQ(device->Write(&a.header), WAVEOUT_OK);
  ASSERT_EQ(device->Write(&b.header), WAVEOUT_OK);
  EXPECT_EQ(device->Write(&a.header), WAVERR_STILLPLAYING) << "a header cannot be queued twice";
  EXPECT_EQ(device->Unprepare(&a.header), WAVERR_STILLPLAYING);
  EXPECT_EQ(device->Prepare(&b.header), WAVERR_STILLPLAYING);
  EXPECT_EQ(device->Close(), WAVERR_STILLPLAYING);
  EXPECT_EQ(device->QueuedHeaders(), (std::vector<const WaveOutHeader*>{&a.header, &b.header}));
  EXPECT_EQ(log.Count(), 0u);

  EXPECT_EQ(device->Reset(), WAVEOUT_OK);
  // Reset reports every buffer before it returns, in queue order.
  EXPECT_EQ(log.Count(), 2u);
  EXPECT_EQ(log.done, (std::vector<const WaveOutHeader*>{&a.header, &b.header}));
  EXPECT_TRUE(device->QueuedHeaders().empty());
  EXPECT_EQ(a.header.Flags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED), WHDR_DONE | WHDR_PREPARED);
  EXPECT_EQ(device->Unprepare(&a.header), WAVEOUT_OK);
  EXPECT_EQ(device->Resets(), 1u);
  EXPECT_EQ(device->Close(), WAVEOUT_OK);

  const test::Captured heard = test::ReadCapture(dir.File("heard.wav"));
  EXPECT_TRUE(heard.valid);
  EXPECT_TRUE(heard.samples.empty()) << "a stalled device plays nothing";
}

TEST(NullWaveOut, ResetCutsARealTimeBufferShort) {
  test::TempDir dir;
  DoneLog log;
  std::unique_ptr<WaveOutDevice> device;
  ASSERT_EQ(WaveOutDevice::Open(&device, NullChoice(dir.File("heard.wav"), 1.0), Stereo16(), &DoneLog::Callback,
                                log.Instance()),
            WAVEOUT_OK);
  const Stereo tenSeconds = test::Sine(441000, 440.0, 8000.0);
  TestBuffer long_buffer(tenSeconds);
  device->Prepare(&long_buffer.header);
  ASSERT_EQ(device->Write(&long_buffer.header), WAVEOUT_OK);
  ASSERT_EQ(device->Reset(), WAVEOUT_OK);
  EXPECT_EQ(log.Count(), 1u);
  ASSERT_EQ(device->Close(), WAVEOUT_OK);
  const test::Captured heard = test::ReadCapture(dir.File("heard.wav"));
  EXPECT_TRUE(heard.valid);
  EXPECT_LT(heard.samples.size(), tenSeconds.size());
  // What was heard is the start of the buffer, nothing else.
  EXPECT_TRUE(std::equal(heard.samples.begin(), heard.samples.end(), tenSeconds.begin()));
}

TEST(NullWaveOut, VolumeScalesEachChannelByItsHalfOfTheWord) {
  test::TempDir dir;
  DoneLog log;
  std::unique_ptr<WaveOutDevice> device;
  ASSERT_EQ(WaveOutDevice::Open(&device, NullChoice(dir.File("heard.wav")), Stereo16(), &DoneLog::Callback,
                                log.Instance()),
            WAVEOUT_OK);
  EXPECT_EQ(device->Volume(), 0xFFFFFFFFu) << "full volume until set";
  const Stereo samples = {32767, 32767, -32768, -32768, 1000, 1000, -1, -1, 3, -3};
  TestBuffer full(samples), half(samples), mute(samples);
  for (TestBuffer* b : {&full, &half, &mute}) device->Prepare(&b->header);

  device->Write(&full.header);
  ASSERT_TRUE(log.WaitFor(1));
  // First channel at half volume (0x8000 of 0xFFFF, truncated toward zero), second unchanged.
  device->SetVolume(0xFFFF8000u);
  EXPECT_EQ(device->Volume(), 0xFFFF8000u);
  device->Write(&half.header);
  ASSERT_TRUE(log.WaitFor(2));
  device->SetVolume(0);
  device->Write(&mute.header);
  ASSERT_TRUE(log.WaitFor(3));
  ASSERT_EQ(device->Close(), WAVEOUT_OK);

  Stereo expected = samples;
  const Stereo halved = {16383, 32767, -16384, -32768, 500, 1000, 0, -1, 1, -3};
  expected.insert(expected.end(), halved.begin(), halved.end());
  expected.insert(expected.end(), samples.size(), 0);
  EXPECT_EQ(test::ReadCapture(dir.File("heard.wav")).samples, expected);
}

TEST(WaveOutOpen, RefusesWhatItCannotPlayWithAReason) {
  test::TempDir dir;
  DoneLog log;
  std::unique_ptr<WaveOutDevice> device;
  std::string reason;

  PcmWaveFormat eightBit = Stereo16();
  eightBit.BitsPerSample = 8;
  eightBit.Format.BlockAlign = 2;
  EXPECT_EQ(WaveOutDevice::Open(&device, NullChoice(""), eightBit, &DoneLog::Callback, log.Instance(), &reason),
            WAVERR_BADFORMAT);
  EXPECT_FALSE(device);
  EXPECT_FALSE(reason.empty());

  reason.clear();
  const std::string unwritable = dir.File("no-such-folder/heard.wav");
  EXPECT_EQ(WaveOutDevice::Open(&device, NullChoice(unwritable), Stereo16(), &DoneLog::Callback, log.Instance(),
                                &reason),
            WAVEOUT_BADDEVICE);
  EXPECT_FALSE(device);
  EXPECT_NE(reason.find(unwritable), std::string::npos) << reason;

  reason.clear();
  WaveOutChoice missing;
  missing.Name = "alsa:ostrel-no-such-device";
  EXPECT_EQ(WaveOutDevice::Open(&device, missing, Stereo16(), &DoneLog::Callback, log.Instance(), &reason),
            WAVEOUT_BADDEVICE);
  EXPECT_FALSE(device);
  EXPECT_NE(reason.find("ostrel-no-such-device"), std::string::npos) << reason;
  EXPECT_EQ(reason.find('\n'), std::string::npos) << "one line";
}

// A system device: two buffers reported in order, a third cut short by Reset, a clean close.
void PlaysTwoThenResets(WaveOutDevice* device, DoneLog& log) {
  TestBuffer a(test::Sine(4410, 440.0, 8000.0)), b(test::Sine(4410, 660.0, 8000.0));
  device->SetVolume(0x80008000u);
  for (TestBuffer* t : {&a, &b}) {
    device->Prepare(&t->header);
    ASSERT_EQ(device->Write(&t->header), WAVEOUT_OK);
  }
  ASSERT_TRUE(log.WaitFor(2));
  EXPECT_EQ(log.done, (std::vector<const WaveOutHeader*>{&a.header, &b.header}));
  EXPECT_FALSE(device->Failed());

  // A buffer cut short by Reset comes back too, and the device still closes cleanly.
  TestBuffer c(test::Sine(44100, 440.0, 8000.0));
  device->Prepare(&c.header);
  ASSERT_EQ(device->Write(&c.header), WAVEOUT_OK);
  ASSERT_EQ(device->Reset(), WAVEOUT_OK);
  EXPECT_EQ(log.Count(), 3u);
  EXPECT_EQ(device->Close(), WAVEOUT_OK);
}

TEST(AlsaWaveOut, PlaysAShortSoundOnAlsasNullOutput) {
  if (!WaveOutHaveAlsa()) GTEST_SKIP() << "built without the ALSA development files; only the null device exists";
  DoneLog log;
  std::unique_ptr<WaveOutDevice> device;
  std::string reason;
  WaveOutChoice choice;
  choice.Name = "alsa:null";
  ASSERT_EQ(WaveOutDevice::Open(&device, choice, Stereo16(), &DoneLog::Callback, log.Instance(), &reason),
            WAVEOUT_OK)
      << reason;
  PlaysTwoThenResets(device.get(), log);
}

#if defined(_WIN32)
// Windows' wave-output device plays where there is one (wine has a driver, not always a sound
// card); where there is none, opening it says so in one line.
TEST(WinmmWaveOut, PlaysAShortSoundOrSaysThereIsNoDevice) {
  DoneLog log;
  std::unique_ptr<WaveOutDevice> device;
  std::string reason;
  const int opened = WaveOutDevice::Open(&device, WaveOutChoice{}, Stereo16(), &DoneLog::Callback, log.Instance(),
                                         &reason);
  if (opened != WAVEOUT_OK) {
    EXPECT_EQ(opened, WAVEOUT_BADDEVICE);
    EXPECT_FALSE(device);
    EXPECT_NE(reason.find("sound device"), std::string::npos) << reason;
    EXPECT_EQ(reason.find('\n'), std::string::npos) << "one line";
    GTEST_SKIP() << "no wave-output device here: " << reason;
  }
  PlaysTwoThenResets(device.get(), log);
}
#endif

}  // namespace
}  // namespace ostrel
