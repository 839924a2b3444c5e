// The audio a user has, opened and delivered as the encoder codes it: 44100 Hz stereo floats on
// the 16-bit scale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "audio/DownMix.h"
#include "audio/Waveio.h"
#include "platform/StreamConstants.h"

namespace ostrel {

// Whether this build reads more than canonical WAV (libsndfile), and resamples (libsoxr).
bool SourceReaderHasSndfile();
bool SourceReaderHasSoxr();
// What this build reads, as the end of a sentence: "the encoder reads ..." or "this build reads
// only 16-bit PCM WAV, ...".
const char* SourceReaderReads();

// The tags of the sound file at `path` as (Vorbis comment key, UTF-8 value) pairs, in the order
// TITLE, ARTIST, ALBUM, TRACKNUMBER, DATE, GENRE, COMMENT, COPYRIGHT, LICENSE, each when the file
// has it: libsndfile's strings (WAV LIST/INFO, AIFF, FLAC and Ogg comments); text that is not
// UTF-8 is read as ISO 8859-1. Empty without libsndfile or when the file has none.
std::vector<std::pair<std::string, std::string>> SourceTags(const std::string& path);

// One source file, opened for reading from its first sample.
//
// A 16-bit PCM WAV of 2 channels at 44100 Hz (what Waveio reads) is read through Waveio exactly
// as the encoder has always read it: canonical() is true and wave() is that reader. Every other
// file libsndfile reads is converted on the way: integer and float samples become floats on the
// 16-bit scale (1.0 of the file's full scale is 32768) without rounding to 16 bits; one channel
// goes to both; more than two are down-mixed (DownMix); any other rate is resampled by libsoxr
// at its very-high-quality setting, whose output starts with the source's first sample (the
// resampler's delay is taken out) and ends with its last (the resampler's tail is flushed), so
// that N source samples at rate R become N * 44100 / R samples, rounded. Converted samples
// beyond full scale (-32768 .. 32768) are limited to it and counted; NaN becomes 0 and counts.
class SourceReader {
 public:
  explicit SourceReader(const std::string& path);
  ~SourceReader();
  SourceReader(const SourceReader&) = delete;
  SourceReader& operator=(const SourceReader&) = delete;

  // Empty when the source can be coded. Otherwise what is wrong, as the end of a sentence that
  // begins with the file's name: "is ADPCM, which is not supported", "holds no samples",
  // "is 24-bit PCM, 2 channels, 48000 Hz; this build reads only ...". Nothing is read then.
  const std::string& problem() const { return problem_; }

  bool canonical() const { return wave_ != nullptr && problem_.empty() && !converted_; }
  // The reader the frame transform pulls from, at the source's first sample; nullptr while
  // problem() is not empty. A canonical source's is Waveio's read mode on the file; a converted
  // source's is a pull-mode Waveio whose samples are Read's. It stays this object's.
  Waveio* wave() { return problem_.empty() ? wave_.get() : nullptr; }

  // What the source holds, "48000 Hz, 1 channel, 24-bit" (also for a canonical source).
  const std::string& format() const { return format_; }
  // The conversion line's text after the file's name, "48000 Hz, 1 channel, 24-bit -> 44100 Hz
  // stereo", with "(down-mixed: ...)" for more than two channels; empty for a canonical source.
  std::string Conversion() const;

  // Stores up to `frames` sample frames, the first channel in `first`, the second in `second`
  // (each room for `frames`; borrowed). Returns how many were stored; fewer only at the end of
  // the source, after which every call returns 0. Allocates nothing.
  size_t Read(float* first, float* second, size_t frames);

  // Sample frames (per channel, at the source's own rate) the file's header promised (0 when it
  // states none, as a stream may not), and those read so far.
  uint64_t promisedFrames() const { return promised_; }
  uint64_t framesRead() const;
  // After Read has reached the end: fewer frames were read than the header promised (the file
  // was cut, or shrank while it was read).
  bool EndedEarly() const { return (ended_ || (wave_ && wave_->ranOut())) && framesRead() < promised_; }
  // Converted samples (of either channel) that were limited to full scale.
  uint64_t clipped() const { return clipped_; }

  // The source's length in whole seconds (progress display), from what its header promised.
  uint32_t seconds() const { return seconds_; }
  // The source's sample rate and channel count.
  uint32_t rate() const { return rate_; }
  int channels() const { return channels_; }

 private:
  struct Converter;  // the libsndfile reader with its down-mix and resampler

  void OpenConverted(const std::string& path);
  size_t ReadWave(float* first, float* second, size_t frames);
  size_t ReadConverted(float* first, float* second, size_t frames);

  std::unique_ptr<Waveio> wave_;
  std::unique_ptr<Converter> conv_;
  bool converted_ = false;
  bool ended_ = false;
  std::string problem_, format_;
  uint64_t promised_ = 0;
  uint64_t clipped_ = 0;
  uint32_t seconds_ = 0;
  uint32_t rate_ = 0;
  int channels_ = 0;
  DownMix mix_;
};

}  // namespace ostrel
