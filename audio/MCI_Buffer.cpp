#include "audio/MCI_Buffer.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace ostrel {

MCI_Buffer::MCI_Buffer() { Setup(SoundCardSettings{}); }

MCI_Buffer::MCI_Buffer(unsigned number_samples) {
  SoundCardSettings settings;
  settings.bufferBytes = number_samples;
  Setup(settings);
}

MCI_Buffer::MCI_Buffer(const SoundCardSettings& settings) { Setup(settings); }

void MCI_Buffer::Setup(const SoundCardSettings& settings) {
  // Whole stereo frames only, so Append always lands exactly on the end of a buffer.
  unsigned bytes = settings.bufferBytes - settings.bufferBytes % STREAM_FRAME_BYTES;
  if (bytes < STREAM_FRAME_BYTES) bytes = STREAM_FRAME_BYTES;
  if (bytes > MCI_BUFFER_BYTES) bytes = MCI_BUFFER_BYTES;
  nsamples = bytes;
  timeout = settings.timeoutMs;
  close_retry = settings.closeRetryMs;

  buffer.reset(new Buffer[MCI_BUFFER_COUNT]);
  for (int i = 0; i < MCI_BUFFER_COUNT; ++i) {
    WaveOutHeader& header = buffer[i].wave_header;
    header = WaveOutHeader{};
    header.Data = buffer[i].pcm_data;
    header.BufferLength = nsamples;
    std::memset(buffer[i].pcm_data, 0, nsamples);
  }

  wave_format.FormatTag = WAVE_FORMAT_PCM_TAG;
  wave_format.Channels = STREAM_CHANNELS;
  wave_format.SamplesPerSec = STREAM_SAMPLE_RATE;
  wave_format.AvgBytesPerSec = STREAM_BYTES_PER_SECOND;
  wave_format.BlockAlign = STREAM_FRAME_BYTES;
  pcm_format.Format = wave_format;
  pcm_format.BitsPerSample = STREAM_SAMPLE_BITS;

  if (WaveOutDevice::Open(&device, settings.device, pcm_format, &MCI_Buffer::MCI_CallBack,
                          reinterpret_cast<uintptr_t>(this), &device_error) == WAVEOUT_OK) {
    opened = 1;
  }
}

MCI_Buffer::~MCI_Buffer() {
  if (opened) {
    if (user_stop) {
      ABSTOP = 1;
      device->Reset();
      for (int i = 0; i < MCI_BUFFER_COUNT; ++i) device->Unprepare(&buffer[i].wave_header);
    } else {
      Drain();
    }
    while (device->Close() == WAVERR_STILLPLAYING) {
      std::this_thread::sleep_for(std::chrono::milliseconds(close_retry));
    }
  }
  // The device goes before the semaphore and buffers its thread uses.
  device.reset();
}

// Plays out everything appended: the current buffer is padded with silence and queued behind
// what is already playing, or, when playback was never primed, each buffer filled so far is
// queued in order. Then waits until the device has finished every buffer.
void MCI_Buffer::Drain() {
  if (ptr > 0) std::memset(buffer[buffer_ptr].pcm_data + ptr, 0, nsamples - static_cast<unsigned>(ptr));
  if (init) {
    if (MCI_Semaphore.Wait(stalled ? 0 : timeout)) --queued;
    if (ptr > 0) WriteHeader(buffer_ptr);
  } else {
    for (int i = 0; i < buffer_ptr; ++i) WriteHeader(i);
    if (ptr > 0) WriteHeader(buffer_ptr);
  }
  while (queued > 0) {
    if (!MCI_Semaphore.Wait(stalled ? 0 : timeout)) {
      // The device stopped finishing buffers; give up on what it holds so it can close.
      device->Reset();
      break;
    }
    --queued;
  }
  queued = 0;
}

bool MCI_Buffer::WriteHeader(int index) {
  WaveOutHeader* header = &buffer[index].wave_header;
  device->Prepare(header);
  if (device->Write(header) != WAVEOUT_OK) return false;
  ++queued;
  return true;
}

int MCI_Buffer::Append(int channel, short value) {
  (void)channel;
  if (ptr >= static_cast<int>(nsamples) && Write_Buffer() != 0) return -1;
  const uint16_t bits = static_cast<uint16_t>(value);
  char* data = buffer[buffer_ptr].pcm_data;
  data[ptr] = static_cast<char>(bits & 0xFF);
  data[ptr + 1] = static_cast<char>(bits >> 8);
  ptr += 2;
  return 0;
}

int MCI_Buffer::Write_Buffer() {
  // A failed device would otherwise cost a full timeout for every sample appended.
  if (!opened || device->Failed()) return -1;
  if (!init && buffer_ptr != 1) {
    buffer_ptr = 1;
    ptr = 0;
    return 0;
  }
  if (!init) {
    if (!WriteHeader(0) || !WriteHeader(1)) return -1;
    buffer_ptr = 2;
    ptr = 0;
    init = 1;
    return 0;
  }
  // The buffer after the current one is the oldest queued; it is free once one buffer is done.
  // After one full timeout the device is taken as stalled: until it finishes a buffer again,
  // every later sample is refused at once instead of after another timeout each.
  if (!MCI_Semaphore.Wait(stalled ? 0 : timeout)) {
    stalled = 1;
    return -1;
  }
  stalled = 0;
  --queued;
  if (!WriteHeader(buffer_ptr)) return -1;
  buffer_ptr = (buffer_ptr + 1) % MCI_BUFFER_COUNT;
  ptr = 0;
  return 0;
}

void MCI_Buffer::Clear_Buffer() {
  if (opened) {
    device->Reset();
    // The reset handed back every queued buffer; take back their counts so the next priming
    // starts from an empty semaphore.
    while (queued > 0 && MCI_Semaphore.Wait(timeout)) --queued;
    queued = 0;
  }
  stalled = 0;
  init = 0;
  buffer_ptr = 0;
  ptr = 0;
}

void MCI_Buffer::Stop() { user_stop = 1; }

void MCI_Buffer::Set_Volume(int value) {
  const uint32_t level = static_cast<uint32_t>(value) & 0xFFFFu;
  if (opened) device->SetVolume(level | (level << 16));
}

void MCI_Buffer::MCI_CallBack(WaveOutDevice* hwo, unsigned uMsg, uintptr_t dwInstance, uintptr_t dwParam1,
                              uintptr_t dwParam2) {
  (void)dwParam2;
  if (uMsg != WOM_DONE) return;
  MCI_Buffer* self = reinterpret_cast<MCI_Buffer*>(dwInstance);
  if (!self->ABSTOP.load()) hwo->Unprepare(reinterpret_cast<WaveOutHeader*>(dwParam1));
  self->MCI_Semaphore.Release(1);
}

}  // namespace ostrel
