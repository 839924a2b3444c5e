#include "audio/SourceReader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/RiffChunk.h"
#include "platform/ByteOrder.h"
#include "platform/Utf8.h"
#include "platform/FileHandle.h"

#ifdef OSTREL_HAVE_SNDFILE
#include <sndfile.h>
#endif
#ifdef OSTREL_HAVE_SOXR
#include <soxr.h>
#endif

namespace ostrel {

namespace {

constexpr uint32_t kSizeUnknown = 0xFFFFFFFFu;  // a RIFF size a streaming writer left
constexpr float kFullScale = 32768.0f;          // 1.0 of a file's full scale on the 16-bit scale
constexpr uint32_t kLowestRate = 1000;           // Hz: the lowest source sample rate converted
constexpr size_t kBlockFrames = 4096;           // source sample frames converted at a time

// WAV format codes, for naming what a file holds.
constexpr uint16_t kWavPcm = 0x0001, kWavMsAdpcm = 0x0002, kWavFloat = 0x0003, kWavAlaw = 0x0006,
                   kWavMulaw = 0x0007, kWavImaAdpcm = 0x0011, kWavGsm = 0x0031, kWavG721 = 0x0040,
                   kWavMpeg = 0x0050, kWavMp3 = 0x0055, kWavG726 = 0x0064;

std::string Plural(uint64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

std::string Describe(uint32_t rate, int channels, const std::string& kind) {
  return std::to_string(rate) + " Hz, " + Plural(static_cast<uint64_t>(channels), "channel") + ", " + kind;
}

// What a RIFF/WAVE, RF64 or AIFF header says, read by hand: the promised length (libsndfile
// shortens it to what a cut file holds) and, for a build without libsndfile, what to call it.
struct HeaderFacts {
  bool wave = false;    // a RIFF/WAVE or RF64 file with a format chunk
  bool rf64 = false;
  uint16_t code = 0;    // WAV format code; of an extensible chunk, its sub-format's
  uint16_t channels = 0, bits = 0;
  uint32_t rate = 0;
  uint64_t frames = 0;  // sample frames the header promises; 0 when it states none
};

HeaderFacts ProbeHeader(const std::string& path) {
  HeaderFacts facts;
  std::FILE* f = OpenFile(path, "rb");
  if (f == nullptr) return facts;
  unsigned char head[12];
  if (std::fread(head, 1, sizeof head, f) != sizeof head) {
    std::fclose(f);
    return facts;
  }
  const bool riff = std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RF64", 4) == 0;
  const bool aiff = std::memcmp(head, "FORM", 4) == 0 &&
                    (std::memcmp(head + 8, "AIFF", 4) == 0 || std::memcmp(head + 8, "AIFC", 4) == 0);
  facts.rf64 = std::memcmp(head, "RF64", 4) == 0;
  if (!(riff && std::memcmp(head + 8, "WAVE", 4) == 0) && !aiff) {
    std::fclose(f);
    return facts;
  }
  uint64_t ds64Data = 0;
  uint16_t blockAlign = 0;
  bool haveFmt = false;
  RiffChunk chunk;
  while (ReadRiffChunk(f, &chunk, aiff)) {
    const uint32_t size = chunk.size;
    unsigned char body[40] = {};
    const size_t want = std::min<size_t>(size, sizeof body);
    long consumed = 0;
    if (chunk.Is("data") && riff) {
      uint64_t bytes = size;
      if (size == kSizeUnknown) bytes = facts.rf64 ? ds64Data : 0;
      if (haveFmt && blockAlign > 0 && bytes > 0) facts.frames = bytes / blockAlign;
      break;
    }
    const bool interesting = chunk.Is("fmt ") || chunk.Is("ds64") || chunk.Is("COMM");
    if (interesting) {
      if (std::fread(body, 1, want, f) != want) break;
      consumed = static_cast<long>(want);
    }
    if (riff && chunk.Is("ds64") && want >= 16) {
      ds64Data = Get64(body + 8);
    } else if (riff && chunk.Is("fmt ") && want >= 16) {
      haveFmt = facts.wave = true;
      facts.code = Get16(body);
      facts.channels = Get16(body + 2);
      facts.rate = Get32(body + 4);
      blockAlign = Get16(body + 12);
      facts.bits = Get16(body + 14);
      if (facts.code == WAVE_FORMAT_EXTENSIBLE && want >= 26) facts.code = Get16(body + 24);
    } else if (aiff && chunk.Is("COMM") && want >= 8) {
      facts.channels = static_cast<uint16_t>(body[0] << 8 | body[1]);
      facts.frames = Get32BE(body + 2);
      break;
    }
    const long skip = static_cast<long>(size) + static_cast<long>(size & 1u) - consumed;
    if (std::fseek(f, skip, SEEK_CUR) != 0) break;
  }
  std::fclose(f);
  return facts;
}

// What a WAV file's format code makes it, for a build that reads only canonical WAV: "24-bit
// PCM", "32-bit float", or the name of a coding no build reads ("ADPCM"), with `supported` false.
std::string WavKind(const HeaderFacts& h, bool* supported) {
  *supported = true;
  switch (h.code) {
    case kWavPcm: return std::to_string(h.bits) + "-bit PCM";
    case kWavFloat: return std::to_string(h.bits) + "-bit float";
    case kWavAlaw: return "A-law";
    case kWavMulaw: return "mu-law";
    default: break;
  }
  *supported = false;
  switch (h.code) {
    case kWavMsAdpcm:
    case kWavImaAdpcm:
    case kWavG721:
    case kWavG726: return "ADPCM";
    case kWavGsm: return "GSM 6.10";
    case kWavMpeg:
    case kWavMp3: return "MPEG audio";
    default: break;
  }
  char code[32];
  std::snprintf(code, sizeof code, "format 0x%04X", static_cast<unsigned>(h.code));
  return code;
}

#ifdef OSTREL_HAVE_SNDFILE
const char* kReadsWhat =
    "the encoder reads PCM (8 to 32 bits), float, A-law and mu-law audio in WAV, RF64, W64, AIFF and "
    "AIFF-C files, FLAC, Ogg Vorbis and Ogg Opus";
#else
const char* kReadsOnlyWav =
    "this build reads only 16-bit PCM WAV, 2 channels, 44100 Hz (it was built without libsndfile)";
#endif

// Limits a converted sample to full scale; counts it when it was beyond (NaN included).
inline float Limit(float v, uint64_t* clipped) {
  if (v >= -kFullScale && v <= kFullScale) return v;
  ++*clipped;
  if (std::isnan(v)) return 0.0f;
  return v > 0.0f ? kFullScale : -kFullScale;
}

}  // namespace

bool SourceReaderHasSndfile() {
#ifdef OSTREL_HAVE_SNDFILE
  return true;
#else
  return false;
#endif
}

const char* SourceReaderReads() {
#ifdef OSTREL_HAVE_SNDFILE
  return kReadsWhat;
#else
  return kReadsOnlyWav;
#endif
}

std::vector<std::pair<std::string, std::string>> SourceTags(const std::string& path) {
  std::vector<std::pair<std::string, std::string>> tags;
#ifdef OSTREL_HAVE_SNDFILE
  SF_INFO info;
  std::memset(&info, 0, sizeof info);
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return tags;
  static const struct {
    int kind;
    const char* key;
  } KEYS[] = {{SF_STR_TITLE, "TITLE"},   {SF_STR_ARTIST, "ARTIST"},   {SF_STR_ALBUM, "ALBUM"},
              {SF_STR_TRACKNUMBER, "TRACKNUMBER"}, {SF_STR_DATE, "DATE"}, {SF_STR_GENRE, "GENRE"},
              {SF_STR_COMMENT, "COMMENT"}, {SF_STR_COPYRIGHT, "COPYRIGHT"}, {SF_STR_LICENSE, "LICENSE"}};
  for (const auto& k : KEYS) {
    const char* value = sf_get_string(file, k.kind);
    if (value != nullptr && *value != '\0') tags.emplace_back(k.key, AsUtf8(value));
  }
  sf_close(file);
#else
  (void)path;
#endif
  return tags;
}

bool SourceReaderHasSoxr() {
#ifdef OSTREL_HAVE_SOXR
  return true;
#else
  return false;
#endif
}

#ifdef OSTREL_HAVE_SNDFILE

struct SourceReader::Converter {
  SNDFILE* file = nullptr;
  int channels = 0;
  bool resample = false;
#ifdef OSTREL_HAVE_SOXR
  soxr_t soxr = nullptr;
#endif
  std::vector<float> source;  // one block of the file's samples, interleaved
  std::vector<float> mixed;   // the block down-mixed to stereo, interleaved
  std::vector<float> out;     // converted stereo frames ready to deliver, interleaved
  size_t mixedFrames = 0, mixedUsed = 0;  // frames in `mixed`, and those the resampler took
  size_t outFrames = 0, outUsed = 0;      // frames in `out`, and those delivered
  uint64_t framesRead = 0;
  bool sourceEnded = false, flushed = false;

  ~Converter() {
#ifdef OSTREL_HAVE_SOXR
    if (soxr != nullptr) soxr_delete(soxr);
#endif
    if (file != nullptr) sf_close(file);
  }

  // Fills `out` anew; false once everything has been delivered.
  bool Refill(const DownMix& mix) {
    outFrames = outUsed = 0;
    while (outFrames == 0) {
      if (mixedUsed == mixedFrames && !sourceEnded) ReadBlock(mix);
      if (!resample) {
        if (mixedUsed == mixedFrames) return false;
        std::copy(mixed.begin(), mixed.begin() + static_cast<long>(2 * mixedFrames), out.begin());
        outFrames = mixedFrames;
        mixedUsed = mixedFrames;
        continue;
      }
#ifdef OSTREL_HAVE_SOXR
      const size_t outCapacity = out.size() / 2;
      size_t taken = 0, made = 0;
      if (mixedUsed < mixedFrames) {
        soxr_process(soxr, mixed.data() + 2 * mixedUsed, mixedFrames - mixedUsed, &taken, out.data(), outCapacity,
                     &made);
        mixedUsed += taken;
      } else {
        if (flushed) return false;
        // No more input: the resampler gives out what its filter still holds, the source's end.
        soxr_process(soxr, nullptr, 0, nullptr, out.data(), outCapacity, &made);
        if (made == 0) flushed = true;
      }
      outFrames = made;
#endif
    }
    return true;
  }

  void ReadBlock(const DownMix& mix) {
    const sf_count_t got = sf_readf_float(file, source.data(), static_cast<sf_count_t>(kBlockFrames));
    mixedUsed = 0;
    mixedFrames = got > 0 ? static_cast<size_t>(got) : 0;
    if (got <= 0) {
      sourceEnded = true;
      return;
    }
    framesRead += mixedFrames;
    const size_t n = static_cast<size_t>(channels);
    for (size_t i = 0; i < mixedFrames; ++i) {
      const float* s = source.data() + i * n;
      float a, b;
      if (n == 1) {
        a = b = s[0];
      } else if (n == 2) {
        a = s[0];
        b = s[1];
      } else {
        double sa = 0.0, sb = 0.0;
        for (size_t c = 0; c < n; ++c) {
          sa += mix.first[c] * s[c];
          sb += mix.second[c] * s[c];
        }
        a = static_cast<float>(sa);
        b = static_cast<float>(sb);
      }
      mixed[2 * i] = a * kFullScale;
      mixed[2 * i + 1] = b * kFullScale;
    }
  }
};

namespace {

// The words for a libsndfile sub-format; `supported` false for codings the encoder does not take.
std::string SndKind(int subtype, bool* supported) {
  *supported = true;
  switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: return "8-bit";
    case SF_FORMAT_PCM_16: return "16-bit";
    case SF_FORMAT_PCM_24: return "24-bit";
    case SF_FORMAT_PCM_32: return "32-bit";
    case SF_FORMAT_FLOAT: return "32-bit float";
    case SF_FORMAT_DOUBLE: return "64-bit float";
    case SF_FORMAT_ULAW: return "mu-law";
    case SF_FORMAT_ALAW: return "A-law";
    case SF_FORMAT_VORBIS: return "Vorbis";
    case SF_FORMAT_OPUS: return "Opus";
    default: break;
  }
  *supported = false;
  switch (subtype) {
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_VOX_ADPCM:
    case SF_FORMAT_G721_32:
    case SF_FORMAT_G723_24:
    case SF_FORMAT_G723_40:
    case SF_FORMAT_NMS_ADPCM_16:
    case SF_FORMAT_NMS_ADPCM_24:
    case SF_FORMAT_NMS_ADPCM_32: return "ADPCM";
    case SF_FORMAT_GSM610: return "GSM 6.10";
    case SF_FORMAT_DWVW_12:
    case SF_FORMAT_DWVW_16:
    case SF_FORMAT_DWVW_24:
    case SF_FORMAT_DWVW_N: return "DWVW";
    case SF_FORMAT_DPCM_8:
    case SF_FORMAT_DPCM_16: return "DPCM";
    case SF_FORMAT_ALAC_16:
    case SF_FORMAT_ALAC_20:
    case SF_FORMAT_ALAC_24:
    case SF_FORMAT_ALAC_32: return "ALAC";
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III: return "MPEG audio";
    default: break;
  }
  return "an audio coding";
}

ChannelPlace PlaceOf(int channel) {
  switch (channel) {
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER: return ChannelPlace::FrontLeft;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER: return ChannelPlace::FrontRight;
    case SF_CHANNEL_MAP_MONO:
    case SF_CHANNEL_MAP_CENTER:
    case SF_CHANNEL_MAP_FRONT_CENTER: return ChannelPlace::Centre;
    case SF_CHANNEL_MAP_LFE: return ChannelPlace::Lfe;
    case SF_CHANNEL_MAP_REAR_LEFT:
    case SF_CHANNEL_MAP_SIDE_LEFT:
    case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
    case SF_CHANNEL_MAP_TOP_REAR_LEFT: return ChannelPlace::Left;
    case SF_CHANNEL_MAP_REAR_RIGHT:
    case SF_CHANNEL_MAP_SIDE_RIGHT:
    case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
    case SF_CHANNEL_MAP_TOP_REAR_RIGHT: return ChannelPlace::Right;
    default: return ChannelPlace::Middle;
  }
}

}  // namespace

#else
struct SourceReader::Converter {};
#endif

SourceReader::SourceReader(const std::string& path) {
  wave_ = std::make_unique<Waveio>(path.c_str(), WAVE_READ);
  if (wave_->error == WAVE_ERROR_OPEN) {
    problem_ = "cannot be opened";
    wave_.reset();
    return;
  }
  const WaveHeader& h = *wave_->wave;
  if (wave_->error == 0 && h.nChan == static_cast<int>(STREAM_CHANNELS) && h.sRate == STREAM_SAMPLE_RATE) {
    rate_ = h.sRate;
    channels_ = h.nChan;
    format_ = Describe(rate_, channels_, "16-bit");
    promised_ = wave_->promisedBytes() / STREAM_FRAME_BYTES;
    seconds_ = h.nSamples / STREAM_BYTES_PER_SECOND;
    // A stream without a stated size (nSamples 0xFFFFFFFF) may still hold samples.
    if (h.nSamples == 0) problem_ = "holds no samples";
    return;
  }
  wave_.reset();
  OpenConverted(path);
}

SourceReader::~SourceReader() = default;

void SourceReader::OpenConverted(const std::string& path) {
  converted_ = true;
  const HeaderFacts facts = ProbeHeader(path);
#ifndef OSTREL_HAVE_SNDFILE
  if (facts.wave) {
    bool supported = false;
    const std::string kind = WavKind(facts, &supported);
    problem_ = supported ? "is " + kind + ", " + Plural(facts.channels, "channel") + ", " + std::to_string(facts.rate) +
                               " Hz; " + kReadsOnlyWav
                         : "is " + kind + ", which is not supported";
  } else {
    problem_ = std::string("is not a WAV file; ") + kReadsOnlyWav;
  }
#else
  conv_ = std::make_unique<Converter>();
  SF_INFO info;
  std::memset(&info, 0, sizeof info);
  conv_->file = sf_open(path.c_str(), SFM_READ, &info);
  if (conv_->file == nullptr) {
    if (facts.wave) {
      bool supported = false;
      const std::string kind = WavKind(facts, &supported);
      problem_ = supported ? "is " + kind + " in a form that cannot be read (" + sf_strerror(nullptr) + ")"
                           : "is " + kind + ", which is not supported";
    } else {
      problem_ = std::string("is not a sound file the encoder can read; ") + kReadsWhat;
    }
    return;
  }
  bool supported = false;
  const std::string kind = SndKind(info.format & SF_FORMAT_SUBMASK, &supported);
  if (!supported) {
    problem_ = "is " + kind + ", which is not supported";
    return;
  }
  rate_ = static_cast<uint32_t>(info.samplerate);
  channels_ = info.channels;
  format_ = Describe(rate_, channels_, kind);
  // No one records below it; and the converter's output block grows with 44100 / rate, so this
  // also bounds its memory (at most 44.1 output frames a source frame).
  if (rate_ < kLowestRate) {
    problem_ = "is " + format_ + "; sample rates below " + std::to_string(kLowestRate) + " Hz are not supported";
    return;
  }
  // libsndfile's SF_COUNT_MAX says the length is not known (a FLAC stream written into a pipe, an
  // Ogg file whose last page it cannot find): no promise, read to the end.
  const bool lengthKnown = info.frames > 0 && info.frames != SF_COUNT_MAX;
  promised_ = std::max<uint64_t>(lengthKnown ? static_cast<uint64_t>(info.frames) : 0, facts.frames);
  seconds_ = rate_ > 0 ? static_cast<uint32_t>(std::min<uint64_t>(promised_ / rate_, UINT32_MAX)) : 0;
  if (info.frames <= 0) {
    problem_ = "holds no samples";
    return;
  }
  conv_->channels = channels_;
  if (channels_ > static_cast<int>(STREAM_CHANNELS)) {
    std::vector<int> map(static_cast<size_t>(channels_), 0);
    std::vector<ChannelPlace> places;
    if (sf_command(conv_->file, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                   static_cast<int>(map.size() * sizeof(int))) == SF_TRUE) {
      for (int c : map) places.push_back(PlaceOf(c));
    } else {
      places = DefaultPlaces(channels_, (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG);
    }
    mix_ = MakeDownMix(places);
  }
  conv_->source.assign(kBlockFrames * static_cast<size_t>(channels_), 0.0f);
  conv_->mixed.assign(kBlockFrames * 2, 0.0f);
  conv_->resample = rate_ != STREAM_SAMPLE_RATE;
  size_t outFrames = kBlockFrames;
  if (conv_->resample) {
#ifdef OSTREL_HAVE_SOXR
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    conv_->soxr = soxr_create(static_cast<double>(rate_), STREAM_SAMPLE_RATE, static_cast<int>(STREAM_CHANNELS), &error, &io,
                              &quality, nullptr);
    if (conv_->soxr == nullptr) {
      problem_ = "is " + format_ + ", which the resampler cannot convert (" + error + ")";
      return;
    }
    outFrames = kBlockFrames * STREAM_SAMPLE_RATE / rate_ + 64;
#else
    problem_ = "is " + format_ + "; this build cannot resample to 44100 Hz (it was built without libsoxr)";
    return;
#endif
  }
  conv_->out.assign(outFrames * 2, 0.0f);
  wave_ = std::make_unique<Waveio>(
      [this](float* first, float* second, size_t frames) { return ReadConverted(first, second, frames); });
#endif
}

std::string SourceReader::Conversion() const {
  if (!converted_ || !problem_.empty()) return "";
  std::string text = format_ + " -> 44100 Hz stereo";
  if (channels_ > static_cast<int>(STREAM_CHANNELS)) text += " (down-mixed: " + mix_.Describe() + ")";
  return text;
}

uint64_t SourceReader::framesRead() const {
  if (canonical()) return wave_->bytesRead() / STREAM_FRAME_BYTES;
#ifdef OSTREL_HAVE_SNDFILE
  if (conv_) return conv_->framesRead;
#endif
  return 0;
}

size_t SourceReader::ReadWave(float* first, float* second, size_t frames) {
  const uint64_t before = wave_->bytesRead();
  const int end = wave_->IO(first, second, static_cast<int>(frames));
  // A pair cut in half by the end of the file still counts: its missing sample is 0.
  const size_t got = static_cast<size_t>((wave_->bytesRead() - before + STREAM_FRAME_BYTES - 1) / STREAM_FRAME_BYTES);
  if (end != 0) ended_ = true;
  return got;
}

size_t SourceReader::Read(float* first, float* second, size_t frames) {
  if (!problem_.empty() || ended_ || frames == 0) return 0;
  if (canonical()) return ReadWave(first, second, frames);
  return ReadConverted(first, second, frames);
}

size_t SourceReader::ReadConverted(float* first, float* second, size_t frames) {
  if (!problem_.empty() || ended_ || frames == 0) return 0;
  size_t done = 0;
#ifdef OSTREL_HAVE_SNDFILE
  Converter& c = *conv_;
  while (done < frames) {
    if (c.outUsed == c.outFrames && !c.Refill(mix_)) {
      ended_ = true;
      break;
    }
    const size_t n = std::min(frames - done, c.outFrames - c.outUsed);
    const float* p = c.out.data() + 2 * c.outUsed;
    for (size_t i = 0; i < n; ++i) {
      first[done + i] = Limit(p[2 * i], &clipped_);
      second[done + i] = Limit(p[2 * i + 1], &clipped_);
    }
    c.outUsed += n;
    done += n;
  }
#else
  (void)first;
  (void)second;
  ended_ = true;
#endif
  return done;
}

}  // namespace ostrel
