#include "decoder/Decoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "audio/roundfs.h"
#include "cli/OutputName.h"
#include "platform/FileHandle.h"
#include "platform/OutputFile.h"
#include "platform/StreamConstants.h"
#include "platform/Console.h"

namespace ostrel {

namespace {

const char* const PROGRAM = "ostreldec";
const std::string PREFIX = std::string(PROGRAM) + ": ";
// The most bytes a header can take (ostrel_parse_header's limit): the input keeps its first bytes
// up to this many, so that a header the library cannot decode can be named.
constexpr size_t HEADER_MAX_BYTES = 18 + 255 + 255 + 65535;

// Header strings may hold any bytes; what is shown is valid UTF-8 without control characters:
// those become '?', and a byte that starts no valid sequence U+FFFD.
std::string Printable(const std::string& text) {
  static const char* const REPLACEMENT = "\xEF\xBF\xBD";
  std::string shown;
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    uint32_t code = length == 1 ? lead : length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
    bool valid = length > 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are no valid UTF-8 either.
    static const uint32_t LOWEST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (valid && (code < LOWEST[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) valid = false;
    if (!valid) {
      shown += REPLACEMENT;
      ++i;
      continue;
    }
    if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
      shown += '?';
    } else {
      shown.append(text, i, length);
    }
    i += length;
  }
  return shown;
}

// The compressed input: a file or standard input, read as it comes, through the library's
// callbacks. A plain file can also seek.
class StreamInput {
 public:
  ~StreamInput() {
    if (ostrel_) ostrel_decoder_destroy(ostrel_);
    if (fd_ > STDIN_FILENO) close(fd_);
  }

  // Opens `path` ("-": standard input) and the library's decoder on it. Returns DECODE_OK, or
  // DECODE_BAD_INPUT after one line on `log` saying why it cannot be decoded.
  int Open(const std::string& path, const DecodeOptions& options, std::ostream& log) {
    const bool standard = path == STANDARD_STREAM_NAME;
    shown_ = !options.name.empty() ? options.name : standard ? "standard input" : path;
    if (standard) {
      if (IsTerminal(STDIN_FILENO)) {
        log << PREFIX << "cannot read standard input: it is a terminal; pipe a compressed file into it\n";
        return DECODE_BAD_INPUT;
      }
      fd_ = STDIN_FILENO;
    } else {
      fd_ = OpenForReading(path);
      if (fd_ < 0) {
        log << PREFIX << "cannot open " << shown_ << ": " << std::strerror(errno) << "\n";
        return DECODE_BAD_INPUT;
      }
    }
    struct stat st {};
    regular_ = fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    size_ = regular_ && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    start_ = regular_ ? lseek(fd_, 0, SEEK_CUR) : 0;
    if (start_ < 0) start_ = 0;
    int status = OSTREL_OK;
    ostrel_ = ostrel_decoder_open(Read, regular_ ? Seek : nullptr, this, options.join ? OSTREL_JOIN : 0, &status);
    if (ostrel_ == nullptr) {
      log << PREFIX << OpenProblem(status) << "\n";
      // Out of memory: no output was made, which is what the status says.
      return status == OSTREL_ERR_MEMORY ? DECODE_WRITE_FAILED : DECODE_BAD_INPUT;
    }
    (void)ostrel_decoder_info(ostrel_, &info_);
    joined_ = options.join && Joined();
    if (joined_) {
      log << PREFIX << shown_ << ": no header; decoding from the first frame found, at byte " << info_.header_bytes
          << " (" << info_.kbps << " kb/s)\n";
    }
    const char* note = ostrel_decoder_tag_note(ostrel_);
    if (*note != '\0') log << PREFIX << shown_ << ": " << note << "\n";
    return DECODE_OK;
  }

  ostrel_decoder* decoder() const { return ostrel_; }
  const ostrel_info& info() const { return info_; }
  bool joined() const { return joined_; }  // the stream had no header
  bool regular() const { return regular_; }
  const std::string& shown() const { return shown_; }
  // Says why a read failed (the library reported OSTREL_ERR_READ).
  std::string ReadProblem() const {
    return "cannot read " + shown_ + ": " + std::strerror(readError_ != 0 ? readError_ : EIO);
  }
  // Whole frames after the header, when a plain file's size tells (else `fallback`).
  uint32_t FramesInFile(uint32_t fallback) const {
    if (!regular_) return fallback;
    const uint64_t end = size_ > static_cast<uint64_t>(start_) ? size_ - static_cast<uint64_t>(start_) : 0;
    const uint64_t payload = end > info_.header_bytes ? end - info_.header_bytes : 0;
    const uint64_t whole = payload / info_.frame_bytes;
    return whole > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(whole);
  }

 private:
  static long Read(void* user, void* data, size_t bytes) {
    auto* self = static_cast<StreamInput*>(user);
    for (;;) {
      const ssize_t got = read(self->fd_, data, bytes);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        self->readError_ = errno;
        return -1;
      }
      if (self->seen_.size() < HEADER_MAX_BYTES) {
        const auto* bytesRead = static_cast<const unsigned char*>(data);
        const size_t keep = std::min(static_cast<size_t>(got), HEADER_MAX_BYTES - self->seen_.size());
        self->seen_.insert(self->seen_.end(), bytesRead, bytesRead + keep);
      }
      return static_cast<long>(got);
    }
  }
  static int Seek(void* user, uint64_t offset) {
    auto* self = static_cast<StreamInput*>(user);
    return lseek(self->fd_, self->start_ + static_cast<off_t>(offset), SEEK_SET) < 0 ? -1 : 0;
  }

  // True when the stream did not start with a header.
  bool Joined() const {
    ostrel_info header;
    return ostrel_parse_header(seen_.data(), seen_.size(), &header, nullptr, 0) != OSTREL_OK;
  }

  // The message for a stream the library could not open.
  std::string OpenProblem(int status) const {
    const std::string notOurs = shown_ + ": not an Ostrel compressed file ";
    switch (status) {
      case OSTREL_ERR_NOT_OSTREL: return notOurs + "(wrong magic or version)";
      case OSTREL_ERR_TRUNCATED: return notOurs + "(header cut short)";
      case OSTREL_ERR_READ: return ReadProblem();
      case OSTREL_ERR_UNSUPPORTED: {
        ostrel_info header;
        (void)ostrel_parse_header(seen_.data(), seen_.size(), &header, nullptr, 0);
        if (ostrel_samples_per_frame(header.kbps) < 0) {
          return notOurs + "(unknown rate code " + std::to_string(header.kbps / 2) + ")";
        }
        return shown_ + ": unsupported stream (" + std::to_string(header.sample_rate) + " Hz, " +
               std::to_string(header.channels) + " channels); only 44100 Hz stereo can be decoded";
      }
      default: return shown_ + ": " + ostrel_strerror(status);
    }
  }

  int fd_ = -1;
  bool regular_ = false;
  bool joined_ = false;
  uint64_t size_ = 0;
  off_t start_ = 0;
  int readError_ = 0;
  std::vector<unsigned char> seen_;  // the first bytes read
  std::string shown_;
  ostrel_decoder* ostrel_ = nullptr;
  ostrel_info info_{};
};

// Says so when the stream did not hold the frames its header announces. Returns whether it did.
bool ReportMissingFrames(const StreamInput& s, uint32_t framesThere, std::ostream& log) {
  const ostrel_info& info = s.info();
  if (s.joined()) return false;  // no header: no count to hold it against
  if (info.frames == 0) {
    log << PREFIX << s.shown() << ": the header's frame count is 0 (an interrupted encoder?); the file holds "
        << framesThere << " whole frames, which are decoded\n";
    return true;
  }
  if (framesThere < info.frames) {
    log << PREFIX << s.shown() << ": the file is cut short: it holds " << framesThere << " of the " << info.frames
        << " frames its header announces, which are decoded\n";
    return true;
  }
  return false;
}

void ReportDamage(const StreamInput& s, const ostrel_frame_report& report, std::ostream& log) {
  log << PREFIX << s.shown() << ": frame " << report.index << " is damaged (" << report.damage
      << "); decoded as silence\n";
}

// Where decoded samples go: `write` takes up to a frame's worth of interleaved 16-bit stereo
// pairs and says whether the output still works (when it does not, decoding stops with
// DECODE_WRITE_FAILED).
using PcmWriter = std::function<bool(const int16_t* interleaved, int frames)>;

// Decodes an opened stream frame by frame: the samples go to `write` (when set) and `each` is told
// about every frame decoded; false from it stops there (`*stopped`). Returns DECODE_OK at the end
// or a stop, DECODE_BAD_INPUT after a read failure (said on `log`), DECODE_WRITE_FAILED when
// `write` failed.
int ForEachFrame(StreamInput& s, const PcmWriter& write, const std::function<bool(const ostrel_frame_report&)>& each,
                 bool* stopped, std::ostream& log, float gain = 1.0f) {
  ostrel_decoder* dec = s.decoder();
  const uint32_t perFrame = s.info().samples_per_frame;
  std::vector<int16_t> interleaved(2 * static_cast<size_t>(perFrame));
  std::vector<float> scaled(gain != 1.0f ? 2 * static_cast<size_t>(perFrame) : 0);
  *stopped = false;
  for (uint32_t told = 0;;) {
    long got;
    if (gain == 1.0f) {
      got = ostrel_decoder_read(dec, interleaved.data(), perFrame);
    } else {
      // Scaled from the float output, so that the samples are rounded once.
      got = ostrel_decoder_read_float(dec, scaled.data(), perFrame);
      for (long i = 0; i < 2 * got; ++i) interleaved[static_cast<size_t>(i)] = roundfs(scaled[static_cast<size_t>(i)] * 32768.0f * gain);
    }
    if (got < 0) {
      log << PREFIX << (got == OSTREL_ERR_READ ? s.ReadProblem() : s.shown() + ": " + ostrel_strerror(static_cast<int>(got)))
          << "\n";
      // A read error is the input's fault; running out of memory leaves the output not made.
      return got == OSTREL_ERR_MEMORY ? DECODE_WRITE_FAILED : DECODE_BAD_INPUT;
    }
    if (got > 0 && write && !write(interleaved.data(), static_cast<int>(got))) return DECODE_WRITE_FAILED;
    // Every read of a frame's worth decodes at most one frame.
    if (ostrel_decoder_frames_decoded(dec) == told) {
      if (got == 0) return DECODE_OK;
      continue;
    }
    ++told;
    ostrel_frame_report report{};
    (void)ostrel_decoder_frame_report(dec, &report);
    if (!each(report)) {
      *stopped = true;
      return DECODE_OK;
    }
  }
}

// The factor of --apply-gain: 10^(gain / 20) of the stream's REPLAYGAIN_<KIND>_GAIN, at most
// 1 / its peak; 1 (said on `log`) when the stream has no such gain.
float GainFactor(StreamInput& s, const std::string& kind, std::ostream& log) {
  std::string upper = kind;
  for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
  const std::string gainKey = "REPLAYGAIN_" + upper + "_GAIN", peakKey = "REPLAYGAIN_" + upper + "_PEAK";
  double gainDb = 0.0, peak = 0.0;
  bool haveGain = false;
  for (int i = 0; i < ostrel_decoder_tag_count(s.decoder()); ++i) {
    const char *key = nullptr, *value = nullptr;
    if (ostrel_decoder_tag_at(s.decoder(), i, &key, &value) != OSTREL_OK) continue;
    char* end = nullptr;
    const double number = std::strtod(value, &end);
    if (end == value) continue;
    if (gainKey == key) {
      gainDb = number;
      haveGain = true;
    }
    if (peakKey == key) peak = number;
  }
  if (!haveGain) {
    log << PREFIX << s.shown() << ": no " << gainKey << " tag; decoded without a gain\n";
    return 1.0f;
  }
  double factor = std::pow(10.0, gainDb / 20.0);
  if (peak > 0.0 && factor * peak > 1.0) factor = 1.0 / peak;  // no clipping
  return static_cast<float>(factor);
}

// Decodes every frame of an opened stream through `write`.
int DecodeStream(StreamInput& s, const DecodeOptions& options, const PcmWriter& write, std::ostream& log) {
  if (options.onStart) options.onStart(s.info());
  const float gain = options.applyGain.empty() ? 1.0f : GainFactor(s, options.applyGain, log);
  bool stopped = false;
  const int status = ForEachFrame(
      s, write,
      [&](const ostrel_frame_report& report) {
        if (report.damaged != 0) ReportDamage(s, report, log);
        return !options.onFrame || options.onFrame(report.index, report);
      },
      &stopped, log, gain);
  if (status != DECODE_OK || stopped) return status;
  ostrel_decoder* dec = s.decoder();
  const uint32_t decoded = ostrel_decoder_frames_decoded(dec);
  int result = ReportMissingFrames(s, decoded, log) ? DECODE_DAMAGED : DECODE_OK;
  const int damaged = ostrel_decoder_damaged_frames(dec);
  if (damaged > 0) {
    log << PREFIX << s.shown() << ": " << damaged << " of " << decoded << " frames were damaged\n";
    result = DECODE_DAMAGED;
  }
  return result;
}

// The stream's tags as RIFF INFO entries: from its tags (the first value of each key), else
// from the header's title, author and comment (but "None", the encoder's untagged field).
std::vector<std::pair<std::string, std::string>> InfoTags(StreamInput& s) {
  static const std::pair<const char*, const char*> IDS[] = {{"TITLE", "INAM"},  {"ARTIST", "IART"},
                                                            {"ALBUM", "IPRD"},  {"COMMENT", "ICMT"},
                                                            {"DATE", "ICRD"},   {"GENRE", "IGNR"},
                                                            {"TRACKNUMBER", "ITRK"}};
  std::vector<std::pair<std::string, std::string>> entries;
  const int count = ostrel_decoder_tag_count(s.decoder());
  const char* comment = s.info().comment;
  if (count == 0) {  // a free-text comment (a tagged stream has LENGTH at least)
    for (const auto& [id, text] : {std::pair<const char*, const char*>{"INAM", s.info().title},
                                   {"IART", s.info().author}, {"ICMT", comment}}) {
      if (*text != '\0' && std::strcmp(text, "None") != 0) entries.emplace_back(id, text);
    }
    return entries;
  }
  for (const auto& [key, id] : IDS) {
    for (int i = 0; i < count; ++i) {
      const char *k = nullptr, *v = nullptr;
      if (ostrel_decoder_tag_at(s.decoder(), i, &k, &v) == OSTREL_OK && std::strcmp(k, key) == 0) {
        entries.emplace_back(id, v);
        break;
      }
    }
  }
  return entries;
}

void ReportWriteFailure(const std::string& out, const std::string& reason, std::ostream& log) {
  log << CannotWrite(PROGRAM, out, reason) << "\n";
}

void ReportWriteFailure(const std::string& out, int error, std::ostream& log) {
  ReportWriteFailure(out, std::strerror(error != 0 ? error : EIO), log);
}

}  // namespace

void PrintFrameLine(std::ostream& out, uint32_t frame, const ostrel_frame_report& r) {
  char line[160];
  if (r.damaged == 0) {
    char where[2][8];
    for (unsigned c = 0; c < STREAM_CHANNELS; ++c) {
      if (r.switched[c] != 0) {
        std::snprintf(where[c], sizeof where[c], "%d", r.location[c]);
      } else {
        std::snprintf(where[c], sizeof where[c], "-");
      }
    }
    std::snprintf(line, sizeof line, "frame %u: step %d, switch %s/%s, symbols %d, bits %u\n", frame, r.step,
                  where[0], where[1], r.symbols, r.bits);
  } else {
    std::snprintf(line, sizeof line, "frame %u: damaged (%s)\n", frame, r.damage);
  }
  out << line;
}

int DecodeToPcm(const std::string& in, Waveio& pcm, const DecodeOptions& options, std::ostream& log) {
  StreamInput s;
  const int opened = s.Open(in, options, log);
  if (opened != DECODE_OK) return opened;
  return DecodeStream(
      s, options, [&pcm](const int16_t* interleaved, int frames) { return pcm.WriteInterleaved(interleaved, frames), true; },
      log);
}

int DecodeFile(const std::string& in, const std::string& out, const DecodeOptions& options, std::ostream& log) {
  const FileId input = in == STANDARD_STREAM_NAME ? IdOfDescriptor(STDIN_FILENO) : IdOfPath(in);
  std::string reason = OutputRefusal(out, input);
  if (!reason.empty()) {
    ReportWriteFailure(out, reason, log);
    return DECODE_WRITE_FAILED;
  }
  StreamInput s;
  const int opened = s.Open(in, options, log);
  if (opened != DECODE_OK) return opened;
  // A WAV file's lengths are 32-bit byte counts: an output longer than that is an RF64 file (a
  // stream, such as a pipe or -t's output, states no lengths anyway). The length is known from the
  // header's count and a plain file's size; a stream of unknown length that turns out longer than
  // a RIFF header can describe is stopped there.
  const uint64_t most = (UINT32_MAX - (WAVE_HEADER_BYTES - 8)) / STREAM_FRAME_BYTES;
  const ostrel_info& info = s.info();
  const uint32_t inFile = s.FramesInFile(info.frames);
  const uint32_t coming = !s.regular() ? info.frames : info.frames == 0 ? inFile : std::min(info.frames, inFile);
  const bool beyondRiff = static_cast<uint64_t>(ostrel_stream_samples(info.kbps, coming)) > most;

  OutputFile output;
  if (!output.OpenReplacing(out, input, &reason)) {
    ReportWriteFailure(out, reason, log);
    return DECODE_WRITE_FAILED;
  }
  int status = DECODE_OK;
  int writeError = 0;
  bool writeFailed = false;  // the output failed (not the decoding, which said so itself)
  {
    Waveio wav(output.WritePath().c_str(), WAVE_WRITE);
    if (beyondRiff) wav.UseRf64();
    if (wav.Error() != 0) {
      ReportWriteFailure(out, errno, log);
      return DECODE_WRITE_FAILED;
    }
    wav.SetInfoTags(InfoTags(s));
    uint64_t written = 0;
    bool tooLong = false;
    // Lengths are stated where the output can seek back to them and it is not RF64.
    const bool limited = !beyondRiff && lseek(fileno(wav.File()), 0, SEEK_CUR) >= 0;
    // Checked after every frame, so a full disk stops the run at once.
    auto write = [&](const int16_t* interleaved, int frames) {
      written += static_cast<uint64_t>(frames);
      if (limited && written > most) {
        tooLong = true;
        return false;
      }
      wav.WriteInterleaved(interleaved, frames);
      if (wav.Error() == 0 && std::ferror(wav.File()) == 0) return true;
      writeError = errno;
      writeFailed = true;
      return false;
    };
    status = DecodeStream(s, options, write, log);
    if (tooLong) {
      ReportWriteFailure(out, "the stream holds more sample frames than a WAV file can hold", log);
      return DECODE_WRITE_FAILED;
    }
    if (status != DECODE_WRITE_FAILED && status != DECODE_BAD_INPUT) {
      errno = 0;
      wav.CloseWave();  // patches the header's lengths, flushes and closes
      if (wav.Error() != 0) {
        writeError = errno;
        writeFailed = true;
        status = DECODE_WRITE_FAILED;
      }
    }
  }
  // The input failed, or memory ran out (said already): the temporary file goes.
  if (status == DECODE_BAD_INPUT || (status == DECODE_WRITE_FAILED && !writeFailed)) return status;
  if (status == DECODE_WRITE_FAILED) {
    ReportWriteFailure(out, writeError, log);
    return status;
  }
  if (!output.Commit(options.replace, &reason)) {
    ReportWriteFailure(out, reason, log);
    return DECODE_WRITE_FAILED;
  }
  return status;
}

int PrintInfo(const std::string& in, const DecodeOptions& options, std::ostream& out, std::ostream& log) {
  StreamInput s;
  const int opened = s.Open(in, options, log);
  if (opened != DECODE_OK) return opened;
  const ostrel_info& info = s.info();
  // A plain file's size tells how many whole frames it holds; a stream is decoded to its end.
  const bool list = options.verbose || options.onFrame || !s.regular();
  const uint64_t ms = info.samples * 1000 / STREAM_SAMPLE_RATE;
  out << "File:        " << Printable(s.shown()) << "\n";
  out << "Data rate:   " << info.kbps << " kb/s (rate code " << info.kbps / 2 << ")\n";
  out << "Sample rate: " << info.sample_rate << " Hz, " << info.channels << " channels\n";
  out << "Frame size:  " << info.frame_bytes * 8 << " bits (" << info.frame_bytes << " bytes), "
      << info.samples_per_frame << " samples per channel\n";
  const uint32_t inFile = s.FramesInFile(info.frames);
  out << "Frames:      " << info.frames;
  if (s.regular() && inFile != info.frames) out << " (the file holds " << inFile << " whole frames)";
  out << "\n";
  char duration[48];
  std::snprintf(duration, sizeof duration, "%llu.%03llu s", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned long long>(ms % 1000));
  out << "Duration:    " << duration;
  const int tags = ostrel_decoder_tag_count(s.decoder());
  bool exact = false;
  for (int i = 0; i < tags; ++i) {
    const char *key = nullptr, *value = nullptr;
    if (ostrel_decoder_tag_at(s.decoder(), i, &key, &value) == OSTREL_OK && std::strcmp(key, "LENGTH") == 0 &&
        value[0] >= '0' && value[0] <= '9' && std::strtoull(value, nullptr, 10) == info.samples) {
      exact = true;
    }
  }
  if (exact) out << " (" << info.samples << " sample frames, as LENGTH gives)";
  out << "\n";
  // The strings with every byte they hold (a NUL among them included).
  const auto tag = [&s](const char* key) {
    size_t bytes = 0;
    const char* text = ostrel_decoder_tag(s.decoder(), key, &bytes);
    return text != nullptr ? std::string(text, bytes) : std::string();
  };
  out << "Title:       " << Printable(tag("title")) << "\n";
  out << "Author:      " << Printable(tag("author")) << "\n";
  const std::string comment = tag("comment");
  if (tags > 0) {  // tags (LENGTH at least), else a free-text comment
    out << "Tags:        " << tags << "\n";
    for (int i = 0; i < tags; ++i) {
      const char *key = nullptr, *value = nullptr;
      if (ostrel_decoder_tag_at(s.decoder(), i, &key, &value) == OSTREL_OK) {
        out << "  " << Printable(key) << "=" << Printable(value) << "\n";
      }
    }
  } else {
    out << "Comments:    " << Printable(comment) << "\n";
  }
  if (!list) return ReportMissingFrames(s, inFile, log) ? DECODE_DAMAGED : DECODE_OK;

  int status = DECODE_OK;
  bool stopped = false;
  const int listing = ForEachFrame(
      s, PcmWriter(),
      [&](const ostrel_frame_report& r) {
        if (options.verbose) PrintFrameLine(out, r.index, r);
        if (r.damaged != 0) status = DECODE_DAMAGED;
        return !options.onFrame || options.onFrame(r.index, r);
      },
      &stopped, log);
  if (listing != DECODE_OK) return listing;
  if (stopped) return status;
  const uint32_t listed = ostrel_decoder_frames_decoded(s.decoder());
  if (ReportMissingFrames(s, listed, log)) status = DECODE_DAMAGED;
  return status;
}

}  // namespace ostrel
