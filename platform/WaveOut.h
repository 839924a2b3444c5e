// Wave output: plays buffers of 16-bit PCM on a sound device in the order they are written, and
// reports each finished buffer through a callback on the device's own thread.
//
// Two devices stand behind one interface: the system's sound output (ALSA, when the build found
// it; on Windows the wave-output device) and a null device that plays nothing but takes each buffer at the pace of real time (or
// faster), can record what it was given to a WAV file, and can simulate a device that stalls.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ostrel {

// Results of the device operations.
constexpr int WAVEOUT_OK = 0;
constexpr int WAVEOUT_ERROR = 1;          // the device failed (or was closed); nothing was done
constexpr int WAVEOUT_BADDEVICE = 2;      // no such device, or it cannot be opened
constexpr int WAVEOUT_INVALPARAM = 11;    // a null or zero-length header
constexpr int WAVERR_BADFORMAT = 32;      // the device does not play this format
constexpr int WAVERR_STILLPLAYING = 33;   // buffers are still queued
constexpr int WAVERR_UNPREPARED = 34;     // the header was not prepared

// Callback messages. Only WOM_DONE is sent.
constexpr unsigned WOM_DONE = 0x3BD;

// Header flags, kept by the device.
constexpr uint32_t WHDR_DONE = 0x01;      // the device has finished with the buffer
constexpr uint32_t WHDR_PREPARED = 0x02;  // prepared, may be written
constexpr uint32_t WHDR_INQUEUE = 0x10;   // written and not yet finished

constexpr uint16_t WAVE_FORMAT_PCM_TAG = 1;

// The format of the samples a device is opened with.
struct WaveFormat {
  uint16_t FormatTag;       // WAVE_FORMAT_PCM_TAG
  uint16_t Channels;        // 1 or 2; stereo frames are interleaved first, second
  uint32_t SamplesPerSec;   // sample frames per second
  uint32_t AvgBytesPerSec;  // SamplesPerSec * BlockAlign
  uint16_t BlockAlign;      // bytes per sample frame
};

struct PcmWaveFormat {
  WaveFormat Format;
  uint16_t BitsPerSample;   // 16; nothing else is played
};

// One buffer handed to a device. The owner sets Data, BufferLength and User before preparing it
// and must leave the header and its data alone from Write until the device reports it done.
// Flags and Next belong to the device while it is open.
struct WaveOutHeader {
  char* Data;               // the sample bytes, little-endian; borrowed, stays the owner's
  uint32_t BufferLength;    // bytes to play; whole sample frames
  uint32_t BytesRecorded;   // not used for output
  uintptr_t User;           // the owner's word, not touched
  uint32_t Flags;           // WHDR_* bits
  uint32_t Loops;           // not used
  WaveOutHeader* Next;      // not used
  uintptr_t Reserved;       // not used
};

class WaveOutDevice;

// Called on the device's thread with WOM_DONE once per finished buffer (`dwParam1` is the
// header's address), in the order the buffers were written. It may call Prepare, Unprepare and
// the observers of `hwo`, but not Write, Reset or Close. `dwInstance` is the word given to Open.
using WaveOutCallback = void (*)(WaveOutDevice* hwo, unsigned uMsg, uintptr_t dwInstance, uintptr_t dwParam1,
                                 uintptr_t dwParam2);

// Which device Open takes, and how the null device behaves.
struct WaveOutChoice {
  // "" is the system's default sound output; "null" is the null device; any other name is an
  // ALSA device name ("default", "hw:0", ...), and "alsa:NAME" is always the ALSA device NAME
  // ("alsa:null" is ALSA's own null output). Without ALSA only "null" opens. On Windows a name
  // other than "" and "null" is "default" or a device number ("0", "1", ...).
  std::string Name;
  // Null device: how many times faster than real time it takes buffers; 0 takes them at once.
  double Speed = 1.0;
  // Null device: a WAV file (16-bit PCM in the device's format) that receives every buffer as
  // it is taken, with the volume applied, i.e. what would have been heard. "" records nothing.
  std::string CapturePath;
  // Null device: accept buffers but never finish one, as a device that hangs; Reset still hands
  // them all back.
  bool Stalled = false;
};

// True when the build includes the ALSA device.
bool WaveOutHaveAlsa();

// An open device. Every operation but the observers belongs to one thread (the owner's), apart
// from Prepare and Unprepare, which the callback may call too.
class WaveOutDevice {
 public:
  // Opens the device `choice` names for `format` and stores it in `*device`. On failure returns
  // WAVEOUT_BADDEVICE or WAVERR_BADFORMAT, leaves `*device` empty and, when `reason` is given,
  // stores there a one-line explanation.
  static int Open(std::unique_ptr<WaveOutDevice>* device, const WaveOutChoice& choice, const PcmWaveFormat& format,
                  WaveOutCallback callback, uintptr_t instance, std::string* reason = nullptr);

  // A device that is still open is reset and closed (what was queued is not played).
  virtual ~WaveOutDevice();

  WaveOutDevice(const WaveOutDevice&) = delete;
  WaveOutDevice& operator=(const WaveOutDevice&) = delete;

  // Marks the header prepared (clearing WHDR_DONE). WAVERR_STILLPLAYING when it is queued.
  int Prepare(WaveOutHeader* header);
  // Clears the prepared mark. WAVERR_STILLPLAYING when it is queued.
  int Unprepare(WaveOutHeader* header);
  // Queues a prepared header behind those written before and returns at once. WAVERR_UNPREPARED
  // when not prepared, WAVEOUT_ERROR once the device has failed or closed.
  int Write(WaveOutHeader* header);
  // Stops playback at once: every queued header, the one playing included, is marked done and
  // reported to the callback before Reset returns. The device stays open.
  int Reset();
  // WAVERR_STILLPLAYING while buffers are queued; otherwise lets the device finish the samples
  // it holds, stops its thread and closes it. After a successful Close only the observers work.
  int Close();
  // Low 16 bits: the first channel's volume, high 16 bits: the second's; 0xFFFF plays the
  // samples unchanged, smaller values scale them by value / 65535 (truncated toward zero).
  // A mono device uses the low 16 bits. Applies from the next samples played on.
  int SetVolume(uint32_t volume);

  // Observers, safe from any thread.
  uint32_t Volume() const { return volume_.load(); }
  uint64_t BuffersWritten() const;  // headers accepted by Write since Open
  uint64_t Resets() const;          // calls of Reset since Open
  std::vector<const WaveOutHeader*> QueuedHeaders() const;  // in play order
  bool Failed() const;              // the device reported an error it could not recover from
  const PcmWaveFormat& Format() const { return format_; }

 protected:
  WaveOutDevice(const PcmWaveFormat& format, WaveOutCallback callback, uintptr_t instance);

  // Starts the device thread; called once by Open after the backend is ready.
  void Start();

  // Resets and closes the device if it is still open; every backend's destructor calls it first,
  // while the backend can still serve its device thread.
  void Shutdown();

  // Backend operations, called on the device thread (Play, Discard) or by Close on the owner's
  // thread once the device thread has ended (Finish).
  // Plays `frames` sample frames (volume already applied); blocks about as long as the device
  // needs to take them and returns early when Aborting(). False when the device failed.
  virtual bool Play(const int16_t* samples, uint32_t frames) = 0;
  // Drops whatever the backend holds after a Reset.
  virtual void Discard() {}
  // Lets the backend finish what it holds and releases it.
  virtual void Finish() {}
  // Whether the device takes buffers at all (a stalled null device does not).
  virtual bool Takes() const { return true; }

  // For backends: true once a Reset or Close wants the current buffer abandoned.
  bool Aborting() const { return abort_.load(); }
  // Waits until `deadline` unless a Reset or Close comes first; false in that case.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);

 private:
  void Run();
  bool PlayHeader(WaveOutHeader* header);
  void Stop();

  const PcmWaveFormat format_;
  const WaveOutCallback callback_;
  const uintptr_t instance_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;      // the device thread waits here for work
  std::condition_variable resetDone_; // Reset waits here for the device thread
  std::deque<WaveOutHeader*> queue_;  // written, not yet finished; the front is playing
  bool resetWanted_ = false;
  uint64_t resets_ = 0;
  uint64_t written_ = 0;
  bool stopping_ = false;
  bool failed_ = false;
  bool closed_ = false;
  std::atomic<bool> abort_{false};
  std::atomic<uint32_t> volume_{0xFFFFFFFFu};
  std::vector<int16_t> scratch_;      // one chunk with the volume applied (device thread)
  std::thread thread_;
};

}  // namespace ostrel
