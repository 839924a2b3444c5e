// The system's sound output on Windows: the wave-output device of the multimedia API. The device
// thread hands chunks to waveOutWrite from a ring of buffers; the device's completion callback
// gives each finished buffer back through a counting semaphore, which the device thread waits on
// before it fills that buffer again.
#include "platform/WaveOutDevices.h"

// After our own names: <mmsystem.h> defines some of them (WOM_DONE, WHDR_DONE, ...) as macros
// with the same values.
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstring>
#include <vector>

namespace ostrel {

namespace {

// Buffers handed to the device at once, each one chunk of the device thread (1024 sample frames,
// 23 ms at 44100 Hz): enough to ride over scheduling hiccups, short enough for a quick reset.
constexpr int kBuffers = 8;
// How long the device thread waits on the semaphore before it looks whether it is to give up.
constexpr DWORD kPollMs = 20;
// How long a drain or a reset may take before the device is taken to hang.
constexpr DWORD kSettleMs = 5000;

std::string ErrorText(MMRESULT rc) {
  wchar_t text[MAXERRORLENGTH] = L"";
  if (waveOutGetErrorTextW(rc, text, MAXERRORLENGTH) != MMSYSERR_NOERROR || text[0] == L'\0') {
    return "error " + std::to_string(rc);
  }
  char utf8[4 * MAXERRORLENGTH];
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
  return n > 0 ? std::string(utf8) : "error " + std::to_string(rc);
}

class WinmmWaveOut : public WaveOutDevice {
 public:
  WinmmWaveOut(const PcmWaveFormat& format, WaveOutCallback callback, uintptr_t instance)
      : WaveOutDevice(format, callback, instance) {
    free_ = CreateSemaphoreW(nullptr, kBuffers, kBuffers, nullptr);
    for (Slot& slot : slots_) {
      std::memset(&slot.header, 0, sizeof slot.header);
      slot.samples.resize(static_cast<size_t>(kChunkFrames()) * format.Format.Channels);
    }
  }

  ~WinmmWaveOut() override {
    Shutdown();
    Release();
    if (free_ != nullptr) CloseHandle(free_);
  }

  // Opens device `id` (WAVE_MAPPER: the default one); a result of WaveOutDevice::Open.
  int Begin(UINT id, std::string* reason) {
    if (free_ == nullptr) {
      if (reason != nullptr) *reason = "cannot open the sound device: no semaphore for its buffers";
      return WAVEOUT_BADDEVICE;
    }
    const WaveFormat& f = Format().Format;
    WAVEFORMATEX wfx = {};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = f.Channels;
    wfx.nSamplesPerSec = f.SamplesPerSec;
    wfx.nAvgBytesPerSec = f.AvgBytesPerSec;
    wfx.nBlockAlign = f.BlockAlign;
    wfx.wBitsPerSample = Format().BitsPerSample;
    const MMRESULT rc = waveOutOpen(&out_, id, &wfx, reinterpret_cast<DWORD_PTR>(&WinmmWaveOut::Done),
                                    reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    if (rc != MMSYSERR_NOERROR) {
      out_ = nullptr;
      if (reason != nullptr) {
        *reason = rc == WAVERR_BADFORMAT ? "the sound device does not play 16-bit PCM at " +
                                               std::to_string(f.SamplesPerSec) + " Hz"
                                         : "cannot open the sound device: " + ErrorText(rc);
      }
      return rc == WAVERR_BADFORMAT ? static_cast<int>(WAVERR_BADFORMAT) : WAVEOUT_BADDEVICE;  // the same value as ours
    }
    Start();
    return WAVEOUT_OK;
  }

 protected:
  bool Play(const int16_t* samples, uint32_t frames) override {
    // A free buffer: the callback releases one for every buffer the device has finished.
    for (;;) {
      if (Aborting()) return true;
      const DWORD waited = WaitForSingleObject(free_, kPollMs);
      if (waited == WAIT_OBJECT_0) break;
      if (waited != WAIT_TIMEOUT) return false;
    }
    Slot& slot = slots_[next_];
    if ((slot.header.dwFlags & WHDR_PREPARED) != 0) waveOutUnprepareHeader(out_, &slot.header, sizeof slot.header);
    const size_t count = static_cast<size_t>(frames) * Format().Format.Channels;
    std::memcpy(slot.samples.data(), samples, count * sizeof(int16_t));
    std::memset(&slot.header, 0, sizeof slot.header);
    slot.header.lpData = reinterpret_cast<LPSTR>(slot.samples.data());
    slot.header.dwBufferLength = static_cast<DWORD>(count * sizeof(int16_t));
    ++inFlight_;
    if (waveOutPrepareHeader(out_, &slot.header, sizeof slot.header) != MMSYSERR_NOERROR ||
        waveOutWrite(out_, &slot.header, sizeof slot.header) != MMSYSERR_NOERROR) {
      --inFlight_;
      ReleaseSemaphore(free_, 1, nullptr);
      return false;
    }
    next_ = (next_ + 1) % kBuffers;
    return true;
  }

  void Discard() override {
    if (out_ == nullptr) return;
    waveOutReset(out_);  // every queued buffer comes back through the callback
    Settle();
  }

  void Finish() override { Release(); }

 private:
  struct Slot {
    WAVEHDR header;
    std::vector<int16_t> samples;
  };

  static constexpr uint32_t kChunkFrames() { return 1024; }

  static void CALLBACK Done(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
    // Nothing but bookkeeping here: the device's functions may not be called from its callback.
    if (message != WOM_DONE) return;
    auto* self = reinterpret_cast<WinmmWaveOut*>(instance);
    --self->inFlight_;
    ReleaseSemaphore(self->free_, 1, nullptr);
  }

  // Waits until the device has handed back every buffer (at most kSettleMs).
  void Settle() {
    for (DWORD waited = 0; inFlight_.load() > 0 && waited < kSettleMs; waited += 5) Sleep(5);
  }

  // Lets the device play what it holds, then closes it.
  void Release() {
    if (out_ == nullptr) return;
    Settle();
    if (inFlight_.load() > 0) {
      waveOutReset(out_);
      Settle();
    }
    for (Slot& slot : slots_) {
      if ((slot.header.dwFlags & WHDR_PREPARED) != 0) waveOutUnprepareHeader(out_, &slot.header, sizeof slot.header);
    }
    waveOutClose(out_);
    out_ = nullptr;
  }

  HWAVEOUT out_ = nullptr;
  HANDLE free_ = nullptr;  // counts the buffers the device does not hold
  std::atomic<int> inFlight_{0};
  Slot slots_[kBuffers];
  int next_ = 0;
};

}  // namespace

int OpenWinmmWaveOut(std::unique_ptr<WaveOutDevice>* device, const std::string& name, const PcmWaveFormat& format,
                     WaveOutCallback callback, uintptr_t instance, std::string* reason) {
  const UINT count = waveOutGetNumDevs();
  UINT id = WAVE_MAPPER;
  if (name != "default") {
    char* end = nullptr;
    const unsigned long n = std::strtoul(name.c_str(), &end, 10);
    if (name.empty() || *end != '\0' || n >= count) {
      if (reason != nullptr) {
        *reason = "cannot open sound device \"" + name + "\": Windows knows \"default\"" +
                  (count > 0 ? " and the devices 0 to " + std::to_string(count - 1) : std::string());
      }
      return WAVEOUT_BADDEVICE;
    }
    id = static_cast<UINT>(n);
  }
  if (count == 0) {
    if (reason != nullptr) *reason = "cannot open the sound device: Windows reports no wave-output device";
    return WAVEOUT_BADDEVICE;
  }
  auto winmm = std::make_unique<WinmmWaveOut>(format, callback, instance);
  const int rc = winmm->Begin(id, reason);
  if (rc != WAVEOUT_OK) return rc;
  *device = std::move(winmm);
  return WAVEOUT_OK;
}

}  // namespace ostrel
