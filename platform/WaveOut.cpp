#include "platform/WaveOut.h"

#include "platform/WaveOutDevices.h"

namespace ostrel {

namespace {

// Sample frames played per backend call: small enough that Reset and volume changes take
// effect within a few hundredths of a second.
constexpr uint32_t kChunkFrames = 1024;

constexpr const char* kAlsaPrefix = "alsa:";

bool PlayableFormat(const PcmWaveFormat& format) {
  const WaveFormat& f = format.Format;
  return f.FormatTag == WAVE_FORMAT_PCM_TAG && format.BitsPerSample == 16 && (f.Channels == 1 || f.Channels == 2) &&
         f.BlockAlign == f.Channels * 2 && f.SamplesPerSec > 0;
}

}  // namespace

bool WaveOutHaveAlsa() {
#if defined(OSTREL_HAVE_ALSA)
  return true;
#else
  return false;
#endif
}

int WaveOutDevice::Open(std::unique_ptr<WaveOutDevice>* device, const WaveOutChoice& choice,
                        const PcmWaveFormat& format, WaveOutCallback callback, uintptr_t instance,
                        std::string* reason) {
  device->reset();
  if (!PlayableFormat(format)) {
    if (reason != nullptr) *reason = "the sound device plays only 16-bit PCM in one or two channels";
    return WAVERR_BADFORMAT;
  }
  if (choice.Name == "null") return OpenNullWaveOut(device, choice, format, callback, instance, reason);

  std::string name = choice.Name;
  if (name.compare(0, std::char_traits<char>::length(kAlsaPrefix), kAlsaPrefix) == 0) {
    name = name.substr(std::char_traits<char>::length(kAlsaPrefix));
  }
  if (name.empty()) name = "default";
#if defined(OSTREL_HAVE_WINMM)
  return OpenWinmmWaveOut(device, name, format, callback, instance, reason);
#elif defined(OSTREL_HAVE_ALSA)
  return OpenAlsaWaveOut(device, name, format, callback, instance, reason);
#else
  if (reason != nullptr) {
    *reason = "cannot open sound device \"" + name + "\": this build has no sound output (ALSA was not found)";
  }
  return WAVEOUT_BADDEVICE;
#endif
}

WaveOutDevice::WaveOutDevice(const PcmWaveFormat& format, WaveOutCallback callback, uintptr_t instance)
    : format_(format), callback_(callback), instance_(instance) {}

WaveOutDevice::~WaveOutDevice() {
  // A backend's destructor has already shut the device down; this only guards against a thread
  // left running by a backend that did not.
  Stop();
}

void WaveOutDevice::Start() {
  scratch_.resize(static_cast<size_t>(kChunkFrames) * format_.Format.Channels);
  thread_ = std::thread(&WaveOutDevice::Run, this);
}

void WaveOutDevice::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    if (!thread_.joinable()) {  // never started: nothing can be queued
      closed_ = true;
      return;
    }
  }
  Reset();
  Close();
}

int WaveOutDevice::Prepare(WaveOutHeader* header) {
  if (header == nullptr) return WAVEOUT_INVALPARAM;
  std::lock_guard<std::mutex> lock(mutex_);
  if ((header->Flags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  header->Flags = (header->Flags & ~WHDR_DONE) | WHDR_PREPARED;
  return WAVEOUT_OK;
}

int WaveOutDevice::Unprepare(WaveOutHeader* header) {
  if (header == nullptr) return WAVEOUT_INVALPARAM;
  std::lock_guard<std::mutex> lock(mutex_);
  if ((header->Flags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  header->Flags &= ~WHDR_PREPARED;
  return WAVEOUT_OK;
}

int WaveOutDevice::Write(WaveOutHeader* header) {
  if (header == nullptr || header->Data == nullptr) return WAVEOUT_INVALPARAM;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || stopping_ || failed_) return WAVEOUT_ERROR;
    if ((header->Flags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
    if ((header->Flags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
    header->Flags = (header->Flags & ~WHDR_DONE) | WHDR_INQUEUE;
    queue_.push_back(header);
    ++written_;
  }
  wake_.notify_all();
  return WAVEOUT_OK;
}

int WaveOutDevice::Reset() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_ || stopping_) return WAVEOUT_ERROR;
  ++resets_;
  resetWanted_ = true;
  abort_ = true;
  wake_.notify_all();
  resetDone_.wait(lock, [this] { return !resetWanted_; });
  return WAVEOUT_OK;
}

int WaveOutDevice::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return WAVEOUT_ERROR;
    if (!queue_.empty()) return WAVERR_STILLPLAYING;
  }
  Stop();
  Finish();
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  return WAVEOUT_OK;
}

int WaveOutDevice::SetVolume(uint32_t volume) {
  volume_ = volume;
  return WAVEOUT_OK;
}

uint64_t WaveOutDevice::BuffersWritten() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

uint64_t WaveOutDevice::Resets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return resets_;
}

std::vector<const WaveOutHeader*> WaveOutDevice::QueuedHeaders() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::vector<const WaveOutHeader*>(queue_.begin(), queue_.end());
}

bool WaveOutDevice::Failed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_;
}

bool WaveOutDevice::WaitUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_until(lock, deadline, [this] { return abort_.load(); });
}

void WaveOutDevice::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    abort_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

// The device thread: plays the queue front to back, serves Reset, ends on Stop.
void WaveOutDevice::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || resetWanted_ || (!queue_.empty() && Takes()); });
    if (resetWanted_) {
      std::deque<WaveOutHeader*> returned;
      returned.swap(queue_);
      for (WaveOutHeader* header : returned) header->Flags = (header->Flags & ~WHDR_INQUEUE) | WHDR_DONE;
      lock.unlock();
      Discard();
      for (WaveOutHeader* header : returned) {
        callback_(this, WOM_DONE, instance_, reinterpret_cast<uintptr_t>(header), 0);
      }
      lock.lock();
      resetWanted_ = false;
      abort_ = stopping_;
      resetDone_.notify_all();
      continue;
    }
    if (stopping_) break;

    WaveOutHeader* header = queue_.front();
    lock.unlock();
    const bool played = PlayHeader(header);
    lock.lock();
    if (!played) failed_ = true;
    // A Reset that came meanwhile hands this header back together with the rest.
    if (resetWanted_ || stopping_) continue;
    queue_.pop_front();
    header->Flags = (header->Flags & ~WHDR_INQUEUE) | WHDR_DONE;
    lock.unlock();
    callback_(this, WOM_DONE, instance_, reinterpret_cast<uintptr_t>(header), 0);
    lock.lock();
  }
}

bool WaveOutDevice::PlayHeader(WaveOutHeader* header) {
  const uint32_t channels = format_.Format.Channels;
  const uint32_t frameCount = header->BufferLength / format_.Format.BlockAlign;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(header->Data);
  for (uint32_t done = 0; done < frameCount;) {
    if (Aborting()) return true;
    const uint32_t frames = frameCount - done < kChunkFrames ? frameCount - done : kChunkFrames;
    const uint32_t volume = volume_.load();
    const int32_t scale[2] = {static_cast<int32_t>(volume & 0xFFFFu),
                              static_cast<int32_t>(channels == 2 ? volume >> 16 : volume & 0xFFFFu)};
    for (uint32_t i = 0; i < frames * channels; ++i) {
      const size_t at = (static_cast<size_t>(done) * channels + i) * 2;
      int32_t sample = static_cast<int16_t>(static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8)));
      sample = sample * scale[i % channels] / 65535;
      scratch_[i] = static_cast<int16_t>(sample);
    }
    if (!Play(scratch_.data(), frames)) return false;
    done += frames;
  }
  return true;
}

}  // namespace ostrel
