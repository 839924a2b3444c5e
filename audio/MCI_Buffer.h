// Sound-card output buffer: plays 16-bit stereo PCM at 44 100 Hz with three buffers, one being
// filled while the device plays the other two.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Semaphore.h"
#include "platform/StreamConstants.h"
#include "platform/WaveOut.h"

namespace ostrel {

constexpr unsigned MCI_BUFFER_BYTES = STREAM_BYTES_PER_SECOND;  // bytes of one buffer: one second
constexpr int MCI_BUFFER_COUNT = 3;            // buffers: one filled, two queued
constexpr unsigned MCI_TIMEOUT_MS = 10000;     // longest wait for the device to finish a buffer
constexpr unsigned MCI_CLOSE_RETRY_MS = 1000;  // pause between attempts to close a device still playing
constexpr long MCI_SEMAPHORE_MAX = 1024;       // largest count of finished buffers the semaphore holds

// One playback buffer: the header handed to the device, then the samples it points at.
struct Buffer {
  WaveOutHeader wave_header;
  char pcm_data[MCI_BUFFER_BYTES];  // interleaved 16-bit little-endian samples
};

// How a sound-card buffer is set up. The defaults are the system's sound output, buffers of one
// second and a ten-second wait; tests and the player's options choose otherwise.
struct SoundCardSettings {
  WaveOutChoice device;                     // which device plays (see WaveOutChoice)
  unsigned bufferBytes = MCI_BUFFER_BYTES;  // bytes used per buffer; see MCI_Buffer(unsigned)
  unsigned timeoutMs = MCI_TIMEOUT_MS;      // longest wait for a finished buffer
  unsigned closeRetryMs = MCI_CLOSE_RETRY_MS;
};

class MCI_Buffer {
 public:
  // Opens the system's default sound output with buffers of MCI_BUFFER_BYTES.
  MCI_Buffer();
  // The same with `number_samples` bytes per buffer, taken down to whole stereo frames (a
  // multiple of 4) and kept within 4 .. MCI_BUFFER_BYTES.
  explicit MCI_Buffer(unsigned number_samples);
  // Everything chosen by `settings` (bufferBytes as for MCI_Buffer(unsigned)).
  explicit MCI_Buffer(const SoundCardSettings& settings);

  // After Stop: discards what is queued at once. Otherwise plays everything appended, the last
  // buffer padded with silence, and waits until the device has finished it. Then closes the device.
  ~MCI_Buffer();

  MCI_Buffer(const MCI_Buffer&) = delete;
  MCI_Buffer& operator=(const MCI_Buffer&) = delete;

  // Appends one 16-bit sample; callers append the first and the second channel alternately
  // (`channel` is not looked at). Playback starts with the first sample after two full buffers.
  // Returns 0, or -1 when a full buffer could not be handed to the device (the device is not
  // open, has failed, or finished no buffer within the timeout); the sample is then dropped.
  // Once a wait has timed out, later appends that find no free buffer fail at once, until the
  // device finishes a buffer again.
  int Append(int channel, short value);
  // Hands the full current buffer on and moves to the next; 0 or -1 as for Append.
  int Write_Buffer();
  // Stops playback, discards what is queued and starts again with an empty first buffer (the
  // next two full buffers prime playback anew). Buffer contents are kept.
  void Clear_Buffer();
  // Marks playback as stopped by the user: destruction then discards the queue instead of
  // draining it.
  void Stop();
  // Sets both channels' volume to the low 16 bits of `value` (0xFFFF is full volume).
  void Set_Volume(int value);

  // The device's callback: on WOM_DONE un-prepares the finished header (unless ABSTOP) and
  // releases one count of MCI_Semaphore. `dwInstance` is the MCI_Buffer.
  static void MCI_CallBack(WaveOutDevice* hwo, unsigned uMsg, uintptr_t dwInstance, uintptr_t dwParam1,
                           uintptr_t dwParam2);

  int buffer_ptr = 0;              // buffer being filled, 0 to 2
  int ptr = 0;                     // byte position in that buffer
  std::unique_ptr<Buffer[]> buffer;  // the three buffers
  int init = 0;                    // playback was primed with the first two buffers
  int opened = 0;                  // the device is open
  int user_stop = 0;               // Stop was called
  unsigned nsamples = MCI_BUFFER_BYTES;  // bytes used per buffer
  std::unique_ptr<WaveOutDevice> device;  // the open device (empty when it did not open)
  WaveFormat wave_format{};        // 16-bit PCM, 2 channels, 44100 Hz
  PcmWaveFormat pcm_format{};      // wave_format with its sample size; what the device is opened with

  // Finished buffers not yet taken back by the producer. Each object has its own, so two
  // players never take each other's counts.
  Semaphore MCI_Semaphore{0, MCI_SEMAPHORE_MAX};
  // Set before the final reset after Stop: the callback then leaves the headers alone.
  std::atomic<int> ABSTOP{0};
  unsigned timeout = MCI_TIMEOUT_MS;        // ms
  unsigned close_retry = MCI_CLOSE_RETRY_MS;  // ms
  int queued = 0;                  // buffers written to the device and not yet taken back
  int stalled = 0;                 // a wait timed out and no buffer has come back since
  std::string device_error;        // why the device did not open, in one line

 private:
  void Setup(const SoundCardSettings& settings);
  bool WriteHeader(int index);
  void Drain();
};

}  // namespace ostrel
