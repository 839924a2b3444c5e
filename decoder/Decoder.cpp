#include "decoder/Decoder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "format/FileHeader.h"
#include "format/FrameGeometry.h"
#include "format/RateTables.h"
#include "library/FrameDecoder.h"
#include "platform/FileHandle.h"
#include "platform/OutputFile.h"
#include "platform/StreamConstants.h"

namespace ostrel {

namespace {


const char* const PROGRAM = "ostreldec";
const std::string PREFIX = std::string(PROGRAM) + ": ";

// Everything the header fixes about a compressed file, and how many of its frames are there.
struct Stream {
  FileHandle file;
  std::string path;
  std::string Title, Author, Comments;
  unsigned char DataRate = 0;
  unsigned short SampleRate = 0;
  unsigned char Channels = 0;
  uint32_t Frames = 0;        // the header's frame count
  long HeaderBytes = 0;       // where the first frame starts
  uint32_t FrameBits = 0;     // the fixed size of every frame
  uint32_t FramesInFile = 0;  // whole frames the file holds
  uint32_t FramesToRead = 0;  // frames to decode: the header's count, limited to what is there
  FrameGeometry Geometry;     // block sizes and frame size of the rate code
};

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

// The three header strings with every byte they hold (ReadFileHeader's copies end at a NUL), from
// the header's `bytes` bytes at the start of `f`; the file position is left after the header.
void ReadHeaderStrings(std::FILE* f, long bytes, Stream& s) {
  std::vector<unsigned char> header(static_cast<size_t>(bytes));
  FileHeaderFields fields;
  if (std::fseek(f, 0, SEEK_SET) == 0 && std::fread(header.data(), 1, header.size(), f) == header.size() &&
      ParseFileHeader(header.data(), header.size(), &fields) == FILE_HEADER_OK) {
    const auto text = [&header](size_t offset, size_t length) {
      return std::string(reinterpret_cast<const char*>(header.data()) + offset, length);
    };
    s.Title = text(fields.TitleOffset, fields.TitleBytes);
    s.Author = text(fields.AuthorOffset, fields.AuthorBytes);
    s.Comments = text(fields.CommentsOffset, fields.CommentsBytes);
  }
  std::fseek(f, bytes, SEEK_SET);
}

// Opens `path` and reads and checks its header. Returns DECODE_OK, or DECODE_BAD_INPUT after one
// line on `log` saying why the file cannot be decoded.
int OpenStream(const std::string& filePath, const DecodeOptions& options, Stream& s, std::ostream& log) {
  s.path = options.name.empty() ? filePath : options.name;
  const std::string& path = s.path;
  s.file.reset(std::fopen(filePath.c_str(), "rb"));
  if (!s.file) {
    log << PREFIX << "cannot open " << path << ": " << std::strerror(errno) << "\n";
    return DECODE_BAD_INPUT;
  }
  std::FILE* f = s.file.get();

  // The magic and version decide whether the file is ours at all; only then can a failed header
  // read mean the header was cut short.
  unsigned char lead[FILE_MAGIC_BYTES + 1] = {};
  const std::size_t got = std::fread(lead, 1, sizeof lead, f);
  if (got < sizeof lead || std::memcmp(lead, FILE_MAGIC, FILE_MAGIC_BYTES) != 0 ||
      lead[FILE_MAGIC_BYTES] != FILE_VERSION) {
    log << PREFIX << path << ": not an Ostrel compressed file (wrong magic or version)\n";
    return DECODE_BAD_INPUT;
  }
  std::rewind(f);
  std::vector<char> title(FILE_TITLE_MAX + 1), author(FILE_TITLE_MAX + 1), comments(FILE_COMMENTS_MAX + 1);
  unsigned int frames = 0;
  if (ReadFileHeader(title.data(), author.data(), comments.data(), &s.DataRate, &s.SampleRate, &s.Channels,
                     &frames, f) != 0) {
    log << PREFIX << path << ": not an Ostrel compressed file (header cut short)\n";
    return DECODE_BAD_INPUT;
  }
  s.Frames = frames;
  s.Title = title.data();
  s.Author = author.data();
  s.Comments = comments.data();
  if (!IsValidDataRate(s.DataRate)) {
    log << PREFIX << path << ": not an Ostrel compressed file (unknown rate code " << unsigned(s.DataRate)
        << ")\n";
    return DECODE_BAD_INPUT;
  }
  if (s.SampleRate != STREAM_SAMPLE_RATE || s.Channels != STREAM_CHANNELS) {
    log << PREFIX << path << ": unsupported stream (" << s.SampleRate << " Hz, " << unsigned(s.Channels)
        << " channels); only 44100 Hz stereo can be decoded\n";
    return DECODE_BAD_INPUT;
  }

  s.HeaderBytes = std::ftell(f);
  if (s.HeaderBytes > 0) ReadHeaderStrings(f, s.HeaderBytes, s);
  s.Geometry = FrameGeometry::ForRate(s.DataRate);
  s.FrameBits = s.Geometry.FrameBits;

  struct stat st {};
  if (fstat(fileno(f), &st) != 0 || s.HeaderBytes < 0) {
    log << PREFIX << "cannot read " << path << ": " << std::strerror(errno) << "\n";
    return DECODE_BAD_INPUT;
  }
  // Frames are found by their offsets, which needs a file that can seek.
  if (!S_ISREG(st.st_mode)) {
    log << PREFIX << path << ": not a regular file\n";
    return DECODE_BAD_INPUT;
  }
  const uint64_t frameBytes = s.FrameBits / 8;
  const uint64_t size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  const uint64_t payload = size > static_cast<uint64_t>(s.HeaderBytes) ? size - static_cast<uint64_t>(s.HeaderBytes) : 0;
  const uint64_t whole = payload / frameBytes;
  s.FramesInFile = whole > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(whole);
  s.FramesToRead = s.Frames == 0 ? s.FramesInFile : (s.Frames < s.FramesInFile ? s.Frames : s.FramesInFile);
  return DECODE_OK;
}

// Says so when the file does not hold the frames its header announces. Returns whether it did.
bool ReportMissingFrames(const Stream& s, std::ostream& log) {
  if (s.Frames == 0) {
    log << PREFIX << s.path << ": the header's frame count is 0 (an interrupted encoder?); decoding the "
        << s.FramesInFile << " whole frames the file holds\n";
    return true;
  }
  if (s.FramesInFile < s.Frames) {
    log << PREFIX << s.path << ": the file is cut short: it holds " << s.FramesInFile << " of the " << s.Frames
        << " frames its header announces; decoding those\n";
    return true;
  }
  return false;
}

// Frames have a fixed size in whole bytes, so each one starts at a known offset; a damaged frame
// cannot shift the ones after it.
// Reads frame `frame` into `bytes` (FrameBits / 8 of them); what the file lacks reads as zeros.
void ReadFrameBytes(const Stream& s, uint32_t frame, std::vector<unsigned char>& bytes) {
  const long long offset = static_cast<long long>(s.HeaderBytes) + static_cast<long long>(frame) * (s.FrameBits / 8);
  std::fill(bytes.begin(), bytes.end(), 0);
  if (fseeko(s.file.get(), static_cast<off_t>(offset), SEEK_SET) == 0) {
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), s.file.get());
    (void)got;  // the file holds whole frames up to FramesToRead; a read error leaves zeros
  }
}

void ReportDamage(const Stream& s, uint32_t frame, const FrameReport& report, std::ostream& log) {
  log << PREFIX << s.path << ": frame " << frame << " is damaged (" << DescribeDamage(report.Damage)
      << "); decoded as silence\n";
}

// Decodes every frame of an opened stream into `pcm`. `sinkOk` is asked after every frame whether
// the output still works; when it says no, decoding stops and DECODE_WRITE_FAILED is returned.
int DecodeStream(Stream& s, Waveio& pcm, const DecodeOptions& options, const std::function<bool()>& sinkOk,
                 std::ostream& log) {
  int status = ReportMissingFrames(s, log) ? DECODE_DAMAGED : DECODE_OK;
  FrameDecoder engine(s.DataRate);
  std::vector<unsigned char> frame(engine.FrameBytes());
  if (options.onStart) options.onStart(s.FramesToRead, engine.Total());

  uint32_t damaged = 0;
  for (uint32_t f = 0; f < s.FramesToRead; ++f) {
    ReadFrameBytes(s, f, frame);
    if (!engine.Decode(frame.data(), frame.size())) {
      ReportDamage(s, f, engine.Report(), log);
      ++damaged;
    }
    // The synthesis lags the source; the engine says how much of the output comes before the
    // stream's first sample, and dropping that makes the output line up with the encoder's input.
    const unsigned skip = engine.Skip();
    if (skip < engine.Total()) {
      pcm.IO(engine.Output(0) + skip, engine.Output(1) + skip, static_cast<int>(engine.Total() - skip));
    }
    if (!sinkOk()) return DECODE_WRITE_FAILED;
    if (options.onFrame && !options.onFrame(f, engine.Report())) break;
  }
  if (damaged > 0) {
    log << PREFIX << s.path << ": " << damaged << " of " << s.FramesToRead << " frames were damaged\n";
    status = DECODE_DAMAGED;
  }
  return status;
}

void ReportWriteFailure(const std::string& out, const std::string& reason, std::ostream& log) {
  log << CannotWrite(PROGRAM, out, reason) << "\n";
}

void ReportWriteFailure(const std::string& out, int error, std::ostream& log) {
  ReportWriteFailure(out, std::strerror(error != 0 ? error : EIO), log);
}

}  // namespace

void PrintFrameLine(std::ostream& out, uint32_t frame, const FrameReport& r) {
  char line[160];
  if (r.Damage == FrameDamage::None) {
    char where[2][8];
    for (unsigned c = 0; c < STREAM_CHANNELS; ++c) {
      if (r.SwitchUsed[c] != 0) {
        std::snprintf(where[c], sizeof where[c], "%d", r.Location[c]);
      } else {
        std::snprintf(where[c], sizeof where[c], "-");
      }
    }
    std::snprintf(line, sizeof line, "frame %u: step %d, switch %s/%s, symbols %d, bits %u\n", frame, r.Steps,
                  where[0], where[1], r.SymbolCount, r.BitsUsed);
  } else {
    std::snprintf(line, sizeof line, "frame %u: damaged (%s)\n", frame, DescribeDamage(r.Damage));
  }
  out << line;
}

int DecodeToPcm(const std::string& in, Waveio& pcm, const DecodeOptions& options, std::ostream& log) {
  Stream s;
  const int opened = OpenStream(in, options, s, log);
  if (opened != DECODE_OK) return opened;
  return DecodeStream(s, pcm, options, [] { return true; }, log);
}

int DecodeFile(const std::string& in, const std::string& out, const DecodeOptions& options, std::ostream& log) {
  const FileId input = IdOfPath(in);
  std::string reason = OutputRefusal(out, input);
  if (!reason.empty()) {
    ReportWriteFailure(out, reason, log);
    return DECODE_WRITE_FAILED;
  }
  Stream s;
  const int opened = OpenStream(in, options, s, log);
  if (opened != DECODE_OK) return opened;
  // A WAV file's lengths are 32-bit byte counts: a longer output is an RF64 file (a stream, such
  // as a pipe or -t's output, states no lengths anyway).
  const uint64_t samples = s.FramesToRead == 0 ? 0 : uint64_t{s.FramesToRead} * s.Geometry.TOTAL - s.Geometry.HLSIZE;
  const bool beyondRiff = samples * STREAM_FRAME_BYTES > UINT32_MAX - (WAVE_HEADER_BYTES - 8);

  OutputFile output;
  if (!output.OpenReplacing(out, input, &reason)) {
    ReportWriteFailure(out, reason, log);
    return DECODE_WRITE_FAILED;
  }
  int status = DECODE_OK;
  int writeError = 0;
  {
    Waveio wav(output.WritePath().c_str(), WAVE_WRITE);
    if (beyondRiff) wav.UseRf64();
    if (wav.Error() != 0) {
      ReportWriteFailure(out, errno, log);
      return DECODE_WRITE_FAILED;
    }
    // Checked after every frame, so a full disk stops the run at once.
    auto sinkOk = [&wav, &writeError] {
      if (wav.Error() == 0 && std::ferror(wav.File()) == 0) return true;
      writeError = errno;
      return false;
    };
    status = DecodeStream(s, wav, options, sinkOk, log);
    if (status != DECODE_WRITE_FAILED) {
      errno = 0;
      wav.CloseWave();  // patches the header's lengths, flushes and closes
      if (wav.Error() != 0) {
        writeError = errno;
        status = DECODE_WRITE_FAILED;
      }
    }
  }
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
  Stream s;
  const int opened = OpenStream(in, options, s, log);
  if (opened != DECODE_OK) return opened;

  const uint64_t samples = static_cast<uint64_t>(s.Frames) * s.Geometry.TOTAL;
  const uint64_t ms = samples * 1000 / STREAM_SAMPLE_RATE;
  out << "File:        " << Printable(s.path) << "\n";
  out << "Data rate:   " << unsigned(s.DataRate) * 2 << " kb/s (rate code " << unsigned(s.DataRate) << ")\n";
  out << "Sample rate: " << s.SampleRate << " Hz, " << unsigned(s.Channels) << " channels\n";
  out << "Frame size:  " << s.FrameBits << " bits (" << s.FrameBits / 8 << " bytes), " << s.Geometry.TOTAL
      << " samples per channel\n";
  out << "Frames:      " << s.Frames;
  if (s.FramesInFile != s.Frames) out << " (the file holds " << s.FramesInFile << " whole frames)";
  out << "\n";
  char duration[48];
  std::snprintf(duration, sizeof duration, "%llu.%03llu s", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned long long>(ms % 1000));
  out << "Duration:    " << duration << "\n";
  out << "Title:       " << Printable(s.Title) << "\n";
  out << "Author:      " << Printable(s.Author) << "\n";
  out << "Comments:    " << Printable(s.Comments) << "\n";

  int status = ReportMissingFrames(s, log) ? DECODE_DAMAGED : DECODE_OK;
  if (!options.verbose && !options.onFrame) return status;

  FrameDecoder engine(s.DataRate);
  std::vector<unsigned char> frame(engine.FrameBytes());
  for (uint32_t f = 0; f < s.FramesToRead; ++f) {
    ReadFrameBytes(s, f, frame);
    const bool intact = engine.Read(frame.data(), frame.size());
    const FrameReport& r = engine.Report();
    if (options.verbose) PrintFrameLine(out, f, r);
    if (!intact) status = DECODE_DAMAGED;
    if (options.onFrame && !options.onFrame(f, r)) break;
  }
  return status;
}

}  // namespace ostrel
