// The null device: takes buffers at a set pace, plays nothing, and can record what it took.
#include <cstdio>
#include <vector>

#include "platform/WaveOutDevices.h"
#include "platform/FileHandle.h"

namespace ostrel {

namespace {

void PutLE(std::vector<unsigned char>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// The canonical 44-byte header of a 16-bit PCM WAV file with `dataBytes` sample bytes.
std::vector<unsigned char> CaptureHeader(const WaveFormat& f, uint32_t dataBytes) {
  std::vector<unsigned char> out;
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  PutLE(out, 36 + dataBytes, 4);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  PutLE(out, 16, 4);
  PutLE(out, f.FormatTag, 2);
  PutLE(out, f.Channels, 2);
  PutLE(out, f.SamplesPerSec, 4);
  PutLE(out, f.AvgBytesPerSec, 4);
  PutLE(out, f.BlockAlign, 2);
  PutLE(out, 16, 2);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  PutLE(out, dataBytes, 4);
  return out;
}

class NullWaveOut : public WaveOutDevice {
 public:
  NullWaveOut(const PcmWaveFormat& format, WaveOutCallback callback, uintptr_t instance, const WaveOutChoice& choice)
      : WaveOutDevice(format, callback, instance), speed_(choice.Speed), stalled_(choice.Stalled) {}

  ~NullWaveOut() override {
    Shutdown();
    if (capture_ != nullptr) std::fclose(capture_);
  }

  bool OpenCapture(const std::string& path, std::string* reason) {
    capture_ = OpenFile(path, "wb");
    if (capture_ == nullptr) {
      if (reason != nullptr) *reason = "cannot create the capture file \"" + path + "\"";
      return false;
    }
    const std::vector<unsigned char> header = CaptureHeader(Format().Format, 0);
    if (std::fwrite(header.data(), 1, header.size(), capture_) != header.size()) {
      if (reason != nullptr) *reason = "cannot write the capture file \"" + path + "\"";
      return false;
    }
    return true;
  }

  void Begin() { Start(); }

 protected:
  bool Play(const int16_t* samples, uint32_t frames) override {
    if (speed_ > 0) {
      const auto now = std::chrono::steady_clock::now();
      if (due_ < now) due_ = now;
      const double seconds = static_cast<double>(frames) / Format().Format.SamplesPerSec / speed_;
      due_ += std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
      // Only what was heard to the end is recorded: a chunk cut short by Reset is not.
      if (!WaitUntil(due_)) return true;
    }
    return Record(samples, frames);
  }

  void Finish() override {
    if (capture_ == nullptr) return;
    // The data length is patched in so the file reads as a normal WAV file.
    const std::vector<unsigned char> header = CaptureHeader(Format().Format, dataBytes_);
    std::fseek(capture_, 0, SEEK_SET);
    std::fwrite(header.data(), 1, header.size(), capture_);
    std::fclose(capture_);
    capture_ = nullptr;
  }

  bool Takes() const override { return !stalled_; }

 private:
  bool Record(const int16_t* samples, uint32_t frames) {
    if (capture_ == nullptr) return true;
    const size_t count = static_cast<size_t>(frames) * Format().Format.Channels;
    bytes_.clear();
    for (size_t i = 0; i < count; ++i) {
      const uint16_t v = static_cast<uint16_t>(samples[i]);
      bytes_.push_back(static_cast<unsigned char>(v & 0xFF));
      bytes_.push_back(static_cast<unsigned char>(v >> 8));
    }
    if (std::fwrite(bytes_.data(), 1, bytes_.size(), capture_) != bytes_.size()) return false;
    dataBytes_ += static_cast<uint32_t>(bytes_.size());
    return true;
  }

  const double speed_;
  const bool stalled_;
  std::FILE* capture_ = nullptr;
  uint32_t dataBytes_ = 0;  // sample bytes recorded so far
  std::chrono::steady_clock::time_point due_{};  // when the samples taken so far have been "heard"
  std::vector<unsigned char> bytes_;  // one chunk in file byte order
};

}  // namespace

int OpenNullWaveOut(std::unique_ptr<WaveOutDevice>* device, const WaveOutChoice& choice, const PcmWaveFormat& format,
                    WaveOutCallback callback, uintptr_t instance, std::string* reason) {
  auto null = std::make_unique<NullWaveOut>(format, callback, instance, choice);
  if (!choice.CapturePath.empty() && !null->OpenCapture(choice.CapturePath, reason)) return WAVEOUT_BADDEVICE;
  null->Begin();
  *device = std::move(null);
  return WAVEOUT_OK;
}

}  // namespace ostrel
