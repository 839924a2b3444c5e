// The system's sound output through ALSA. All sample traffic happens on the device thread; the
// owner's thread only opens and, once that thread has ended, drains and closes the handle.
#include <alsa/asoundlib.h>

#include <mutex>

#include "platform/WaveOutDevices.h"

namespace ostrel {

namespace {

// How much sound ALSA may hold ahead of the speaker, in microseconds: short enough that a reset
// is heard at once, long enough to ride over scheduling hiccups.
constexpr unsigned kLatencyUs = 200000;

// ALSA reports its own errors on standard error by default; the callers here get them as
// results and explain them in one line of their own.
void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

class AlsaWaveOut : public WaveOutDevice {
 public:
  AlsaWaveOut(const PcmWaveFormat& format, WaveOutCallback callback, uintptr_t instance, snd_pcm_t* pcm)
      : WaveOutDevice(format, callback, instance), pcm_(pcm) {}

  ~AlsaWaveOut() override {
    Shutdown();
    if (pcm_ != nullptr) snd_pcm_close(pcm_);
  }

  void Begin() { Start(); }

 protected:
  bool Play(const int16_t* samples, uint32_t frames) override {
    const uint32_t channels = Format().Format.Channels;
    while (frames > 0) {
      if (Aborting()) return true;
      snd_pcm_sframes_t n = snd_pcm_writei(pcm_, samples, frames);
      if (n < 0) {
        // An underrun or a suspend is recovered from; anything else ends playback.
        if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) return false;
        continue;
      }
      samples += static_cast<size_t>(n) * channels;
      frames -= static_cast<uint32_t>(n);
    }
    return true;
  }

  void Discard() override {
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
  }

  void Finish() override {
    snd_pcm_drain(pcm_);
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
  }

 private:
  snd_pcm_t* pcm_;
};

}  // namespace

int OpenAlsaWaveOut(std::unique_ptr<WaveOutDevice>* device, const std::string& name, const PcmWaveFormat& format,
                    WaveOutCallback callback, uintptr_t instance, std::string* reason) {
  static std::once_flag quiet;
  std::call_once(quiet, [] { snd_lib_error_set_handler(&QuietAlsaError); });

  snd_pcm_t* pcm = nullptr;
  int rc = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
  if (rc < 0) {
    if (reason != nullptr) *reason = "cannot open sound device \"" + name + "\": " + snd_strerror(rc);
    return WAVEOUT_BADDEVICE;
  }
  rc = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, format.Format.Channels,
                          format.Format.SamplesPerSec, 1, kLatencyUs);
  if (rc < 0) {
    snd_pcm_close(pcm);
    if (reason != nullptr) {
      *reason = "sound device \"" + name + "\" does not play 16-bit PCM at " +
                std::to_string(format.Format.SamplesPerSec) + " Hz: " + snd_strerror(rc);
    }
    return WAVERR_BADFORMAT;
  }
  auto alsa = std::make_unique<AlsaWaveOut>(format, callback, instance, pcm);
  alsa->Begin();
  *device = std::move(alsa);
  return WAVEOUT_OK;
}

}  // namespace ostrel
