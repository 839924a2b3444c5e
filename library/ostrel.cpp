// The C interface of libostrel: a thin layer over the engine classes of this folder. Every entry
// point catches what the engine throws (only std::bad_alloc) and turns it into a status; an
// object whose engine was stopped half-way by it keeps OSTREL_ERR_MEMORY for every later call,
// having handed nothing of the unfinished frame to the caller.
#include "ostrel/ostrel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "audio/SampleSource.h"
#include "audio/roundfs.h"
#include "format/ByteSink.h"
#include "format/FileHeader.h"
#include "format/FrameGeometry.h"
#include "format/RateTables.h"
#include "library/FrameDecoder.h"
#include "library/FrameEncoder.h"
#include "ostrel/version.h"
#include "platform/StreamConstants.h"


namespace {

using ostrel::FrameGeometry;
using ostrel::STREAM_CHANNELS;
using ostrel::STREAM_SAMPLE_RATE;
constexpr int BITRATES[] = {96, 112, 128, 160, 192, 256, 392};  // kb/s; the rate code is half
constexpr int BITRATE_COUNT = sizeof BITRATES / sizeof BITRATES[0];

void SetStatus(int* status, int value) {
  if (status != nullptr) *status = value;
}

// The rate code of `kbps`, or 0 when it is not one of the seven rates.
unsigned char RateCode(int kbps) {
  for (int rate : BITRATES) {
    if (rate == kbps) return static_cast<unsigned char>(kbps / 2);
  }
  return 0;
}


// Fills the stream facts of `info` that the header's fixed fields decide; the strings are the
// caller's. Returns OSTREL_OK or OSTREL_ERR_UNSUPPORTED.
int FillInfo(const ostrel::FileHeaderFields& fields, ostrel_info* info) {
  *info = ostrel_info{};
  if (!ostrel::IsValidDataRate(fields.DataRate) || fields.SampleRate != STREAM_SAMPLE_RATE ||
      fields.Channels != STREAM_CHANNELS) {
    return OSTREL_ERR_UNSUPPORTED;
  }
  info->kbps = fields.DataRate * 2;
  info->sample_rate = fields.SampleRate;
  info->channels = fields.Channels;
  info->frames = fields.Frames;
  const FrameGeometry geometry = FrameGeometry::ForRate(fields.DataRate);
  info->samples_per_frame = geometry.TOTAL;
  info->delay = ostrel::FrameDecoder::DelayOf(geometry);  // the synthesis delay a decoder drops
  info->frame_bytes = geometry.FrameBits / 8;
  info->samples = fields.Frames == 0 ? 0 : uint64_t{fields.Frames} * info->samples_per_frame - info->delay;
  info->header_bytes = fields.HeaderBytes;
  return OSTREL_OK;
}

int ParseStatus(int parsed) {
  return parsed == ostrel::FILE_HEADER_FOREIGN ? OSTREL_ERR_NOT_OSTREL : OSTREL_ERR_TRUNCATED;
}

// Reads until `bytes` bytes are in or the callback reports the end. Returns how many came.
size_t ReadFull(ostrel_read_fn read, void* user, unsigned char* data, size_t bytes) {
  size_t got = 0;
  while (got < bytes) {
    const size_t n = read(user, data + got, bytes - got);
    if (n == 0 || n > bytes - got) break;
    got += n;
  }
  return got;
}

}  // namespace

// ---- Status, version, stream facts --------------------------------------------------------

extern "C" const char* ostrel_strerror(int status) {
  switch (status) {
    case OSTREL_OK: return "success";
    case OSTREL_ERR_ARGUMENT: return "invalid argument";
    case OSTREL_ERR_BITRATE: return "unsupported data rate (96, 112, 128, 160, 192, 256 or 392 kb/s)";
    case OSTREL_ERR_TAG: return "unknown tag, or a tag value too long for its field";
    case OSTREL_ERR_STATE: return "call not allowed in the object's present state";
    case OSTREL_ERR_WRITE: return "the write callback failed; the stream is incomplete";
    case OSTREL_ERR_SEEK: return "the seek callback failed; the frame count stays 0";
    case OSTREL_ERR_NOT_OSTREL: return "not an Ostrel stream (wrong magic or version)";
    case OSTREL_ERR_TRUNCATED: return "the stream's header is cut short";
    case OSTREL_ERR_UNSUPPORTED: return "an Ostrel stream this library cannot decode";
    case OSTREL_ERR_DAMAGED: return "damaged frame (decoded as silence)";
    case OSTREL_ERR_MEMORY: return "out of memory";
    case OSTREL_ERR_INTERNAL: return "internal failure; the stream is incomplete";
    default: return "unknown status";
  }
}

extern "C" const char* ostrel_version(void) { return OSTREL_VERSION; }

extern "C" const int* ostrel_bitrates(int* count) {
  if (count != nullptr) *count = BITRATE_COUNT;
  return BITRATES;
}

extern "C" long ostrel_samples_per_frame(int kbps) {
  const unsigned char code = RateCode(kbps);
  if (code == 0) return OSTREL_ERR_BITRATE;
  return static_cast<long>(FrameGeometry::ForRate(code).TOTAL);
}

extern "C" long ostrel_frame_bytes(int kbps) {
  const unsigned char code = RateCode(kbps);
  if (code == 0) return OSTREL_ERR_BITRATE;
  return static_cast<long>(FrameGeometry::ForRate(code).FrameBits / 8);
}

extern "C" long ostrel_frame_decoder_delay(int kbps) {
  const unsigned char code = RateCode(kbps);
  if (code == 0) return OSTREL_ERR_BITRATE;
  return static_cast<long>(ostrel::FrameDecoder::DelayOf(FrameGeometry::ForRate(code)));
}

extern "C" int ostrel_parse_header(const void* data, size_t bytes, ostrel_info* info, char* strings,
                                   size_t strings_bytes) {
  if ((data == nullptr && bytes != 0) || info == nullptr) return OSTREL_ERR_ARGUMENT;
  static const char EMPTY[] = "";
  const auto* p = static_cast<const unsigned char*>(data);
  ostrel::FileHeaderFields fields;
  const int parsed = ostrel::ParseFileHeader(p != nullptr ? p : reinterpret_cast<const unsigned char*>(EMPTY),
                                             bytes, &fields);
  if (parsed != ostrel::FILE_HEADER_OK) return ParseStatus(parsed);
  const int filled = FillInfo(fields, info);
  if (filled != OSTREL_OK) return filled;

  // The three strings one after the other in the caller's buffer, each cut to what is left.
  const size_t offsets[3] = {fields.TitleOffset, fields.AuthorOffset, fields.CommentsOffset};
  const size_t lengths[3] = {fields.TitleBytes, fields.AuthorBytes, fields.CommentsBytes};
  const char** targets[3] = {&info->title, &info->author, &info->comment};
  size_t used = 0;
  for (int k = 0; k < 3; ++k) {
    if (strings == nullptr || used >= strings_bytes) {
      *targets[k] = EMPTY;
      continue;
    }
    const size_t room = strings_bytes - used - 1;
    const size_t n = lengths[k] < room ? lengths[k] : room;
    std::memcpy(strings + used, p + offsets[k], n);
    strings[used + n] = '\0';
    *targets[k] = strings + used;
    used += n + 1;
  }
  return OSTREL_OK;
}

// ---- Frame decoder -----------------------------------------------------------------------

struct ostrel_frame_decoder {
  explicit ostrel_frame_decoder(unsigned char code) : engine(code) {}
  ostrel::FrameDecoder engine;
};

extern "C" ostrel_frame_decoder* ostrel_frame_decoder_create(int kbps, int* status) {
  const unsigned char code = RateCode(kbps);
  if (code == 0) {
    SetStatus(status, OSTREL_ERR_BITRATE);
    return nullptr;
  }
  try {
    auto* dec = new ostrel_frame_decoder(code);
    SetStatus(status, OSTREL_OK);
    return dec;
  } catch (const std::bad_alloc&) {
    SetStatus(status, OSTREL_ERR_MEMORY);
    return nullptr;
  }
}

extern "C" int ostrel_frame_decoder_decode(ostrel_frame_decoder* dec, const void* frame, size_t bytes,
                                           int16_t* interleaved) {
  if (dec == nullptr || frame == nullptr || interleaved == nullptr || bytes != dec->engine.FrameBytes()) {
    return OSTREL_ERR_ARGUMENT;
  }
  bool intact = false;
  try {
    intact = dec->engine.Decode(static_cast<const unsigned char*>(frame), bytes);
  } catch (const std::bad_alloc&) {
    // The synthesis may be half-way through the frame: start again from silence.
    ostrel_frame_decoder_reset(dec);
    return OSTREL_ERR_MEMORY;
  }
  const float* first = dec->engine.Output(0);
  const float* second = dec->engine.Output(1);
  const unsigned total = dec->engine.Total();
  ostrel::InterleavePcm(first, second, interleaved, total);
  return intact ? OSTREL_OK : OSTREL_ERR_DAMAGED;
}

extern "C" void ostrel_frame_decoder_reset(ostrel_frame_decoder* dec) {
  if (dec == nullptr) return;
  try {
    dec->engine.Reset();
  } catch (const std::bad_alloc&) {
    // The engine keeps its old synthesis when the new one cannot be built; the next frames then
    // carry the old overlap, which a player drops as it does after any reset.
  }
}

extern "C" void ostrel_frame_decoder_destroy(ostrel_frame_decoder* dec) { delete dec; }

// ---- Stream decoder ----------------------------------------------------------------------

struct ostrel_decoder {
  ostrel_read_fn read = nullptr;
  void* user = nullptr;
  ostrel_info info{};
  std::string title, author, comment;
  std::unique_ptr<ostrel::FrameDecoder> engine;
  std::vector<unsigned char> frame;
  uint32_t toRead = 0;   // frames to decode: the header's count, or all there are when it is 0
  uint32_t decoded = 0;
  int damaged = 0;
  unsigned next = 0;     // the next output sample of the last frame decoded, and its end
  unsigned end = 0;
  bool ended = false;
  bool outOfMemory = false;  // a frame's decoding was stopped half-way: every later read fails
};

extern "C" ostrel_decoder* ostrel_decoder_create(ostrel_read_fn read, void* user, int* status) {
  if (read == nullptr) {
    SetStatus(status, OSTREL_ERR_ARGUMENT);
    return nullptr;
  }
  try {
    // The header is read exactly, so that the frames start right after it.
    std::vector<unsigned char> header(ostrel::FILE_MAGIC_BYTES + 1);
    size_t have = ReadFull(read, user, header.data(), header.size());
    ostrel::FileHeaderFields fields;
    int parsed = ostrel::ParseFileHeader(header.data(), have, &fields);
    // Too short to hold the magic and version: not a stream of ours, as ostreldec says too.
    if (have < header.size()) parsed = ostrel::FILE_HEADER_FOREIGN;
    while (parsed == ostrel::FILE_HEADER_SHORT) {
      header.resize(fields.HeaderBytes);
      const size_t want = fields.HeaderBytes - have;
      const size_t got = ReadFull(read, user, header.data() + have, want);
      have += got;
      parsed = ostrel::ParseFileHeader(header.data(), have, &fields);
      if (got < want) break;
    }
    if (parsed != ostrel::FILE_HEADER_OK) {
      SetStatus(status, ParseStatus(parsed));
      return nullptr;
    }
    auto dec = std::make_unique<ostrel_decoder>();
    const int filled = FillInfo(fields, &dec->info);
    if (filled != OSTREL_OK) {
      SetStatus(status, filled);
      return nullptr;
    }
    const auto text = [&header](size_t offset, size_t bytes) {
      return std::string(reinterpret_cast<const char*>(header.data()) + offset, bytes);
    };
    dec->title = text(fields.TitleOffset, fields.TitleBytes);
    dec->author = text(fields.AuthorOffset, fields.AuthorBytes);
    dec->comment = text(fields.CommentsOffset, fields.CommentsBytes);
    dec->read = read;
    dec->user = user;
    dec->engine = std::make_unique<ostrel::FrameDecoder>(fields.DataRate);
    dec->frame.assign(dec->engine->FrameBytes(), 0);
    dec->toRead = fields.Frames == 0 ? UINT32_MAX : fields.Frames;
    SetStatus(status, OSTREL_OK);
    return dec.release();
  } catch (const std::bad_alloc&) {
    SetStatus(status, OSTREL_ERR_MEMORY);
    return nullptr;
  }
}

extern "C" int ostrel_decoder_info(const ostrel_decoder* dec, ostrel_info* info) {
  if (dec == nullptr || info == nullptr) return OSTREL_ERR_ARGUMENT;
  *info = dec->info;
  info->title = dec->title.c_str();
  info->author = dec->author.c_str();
  info->comment = dec->comment.c_str();
  return OSTREL_OK;
}

extern "C" long ostrel_decoder_read(ostrel_decoder* dec, int16_t* interleaved, size_t frames) {
  if (dec == nullptr || interleaved == nullptr || frames == 0) return OSTREL_ERR_ARGUMENT;
  if (frames > static_cast<size_t>(LONG_MAX)) frames = static_cast<size_t>(LONG_MAX);
  if (dec->outOfMemory) return OSTREL_ERR_MEMORY;
  while (dec->next == dec->end) {
    if (dec->ended || dec->decoded >= dec->toRead) return 0;
    // A frame cut short at the end of the stream is not decoded, as ostreldec does.
    if (ReadFull(dec->read, dec->user, dec->frame.data(), dec->frame.size()) < dec->frame.size()) {
      dec->ended = true;
      return 0;
    }
    bool intact = false;
    try {
      intact = dec->engine->Decode(dec->frame.data(), dec->frame.size());
    } catch (const std::bad_alloc&) {
      dec->outOfMemory = true;
      return OSTREL_ERR_MEMORY;
    }
    if (!intact) ++dec->damaged;
    ++dec->decoded;
    dec->next = dec->engine->Skip();
    dec->end = dec->engine->Total();
  }
  const size_t left = dec->end - dec->next;
  const size_t n = frames < left ? frames : left;
  const float* first = dec->engine->Output(0) + dec->next;
  const float* second = dec->engine->Output(1) + dec->next;
  ostrel::InterleavePcm(first, second, interleaved, n);
  dec->next += static_cast<unsigned>(n);
  return static_cast<long>(n);
}

extern "C" uint32_t ostrel_decoder_frames_decoded(const ostrel_decoder* dec) {
  return dec != nullptr ? dec->decoded : 0;
}

extern "C" int ostrel_decoder_damaged_frames(const ostrel_decoder* dec) { return dec != nullptr ? dec->damaged : 0; }

extern "C" void ostrel_decoder_destroy(ostrel_decoder* dec) { delete dec; }

// ---- Encoder -----------------------------------------------------------------------------

namespace {

// The samples pushed and not yet read, as the engine's source: a ring of whole frames (one, or
// with threads the frame coded and those the analysis reads ahead). The engine asks for a frame
// only once it is complete, or at the end of input, when the missing samples are zeros and the
// read reports the end: the engine then says when the frames coded hold the whole input (the
// frame in which it runs out, or one more), as for a file read by ostrelenc. With threads the
// reads come from the engine's threads while the caller pushes into a frame no read touches.
class PushedSamples final : public ostrel::SampleSource {
 public:
  explicit PushedSamples(unsigned frameSamples) : total(frameSamples) { Resize(1); }

  // Room for `frames` whole frames; before the first sample only.
  void Resize(unsigned frames) {
    ringFrames = frames;
    first.assign(static_cast<size_t>(frames) * total, 0.0f);
    second.assign(static_cast<size_t>(frames) * total, 0.0f);
  }

  int Read(float* right, float* left, int size) override {
    const size_t n = static_cast<size_t>(size);
    std::lock_guard<std::mutex> hold(lock);
    size_t have = n;
    if (readFrames == completeFrames) {  // the input has ended in or before this frame
      have = fill < n ? fill : n;
      fill = 0;
    }
    const size_t at = static_cast<size_t>(readFrames % ringFrames) * total;
    std::copy(first.begin() + static_cast<long>(at), first.begin() + static_cast<long>(at + have), right);
    std::copy(second.begin() + static_cast<long>(at), second.begin() + static_cast<long>(at + have), left);
    std::fill(right + have, right + n, 0.0f);
    std::fill(left + have, left + n, 0.0f);
    if (have == n) ++readFrames;
    delivered += have;
    return have < n ? 1 : 0;
  }
  uint64_t FramesRead() const override {
    std::lock_guard<std::mutex> hold(lock);
    return delivered;
  }

  // Whole frames pushed so far.
  uint64_t CompleteFrames() const {
    std::lock_guard<std::mutex> hold(lock);
    return completeFrames;
  }
  size_t Room() const { return total - fill; }
  // Appends n sample pairs (n <= Room()); sample(k) gives the k-th value of the interleaved run.
  template <typename Convert>
  void Put(size_t n, size_t start, Convert sample) {
    const size_t at = static_cast<size_t>(completeFrames % ringFrames) * total + fill;
    for (size_t k = 0; k < n; ++k) {
      first[at + k] = sample(2 * (start + k));
      second[at + k] = sample(2 * (start + k) + 1);
    }
    std::lock_guard<std::mutex> hold(lock);
    fill += n;
    if (fill == total) {
      fill = 0;
      ++completeFrames;
    }
  }

 private:
  unsigned total;
  unsigned ringFrames = 1;
  std::vector<float> first, second;
  mutable std::mutex lock;
  size_t fill = 0;              // samples of the frame being pushed
  uint64_t completeFrames = 0;  // frames pushed in full
  uint64_t readFrames = 0;      // frames read in full
  uint64_t delivered = 0;
};

// The bytes the bit writer produced during one frame, handed to the write callback together.
class CallbackSink final : public ostrel::ByteSink {
 public:
  CallbackSink(ostrel_write_fn writeFn, void* userData, size_t reserve) : write(writeFn), user(userData) {
    pending.reserve(reserve);
  }
  bool Put(const unsigned char* data, size_t bytes) override {
    if (failed) return false;
    pending.insert(pending.end(), data, data + bytes);
    return true;
  }
  // Hands the pending bytes to the callback; false once any hand-over failed.
  bool Flush() {
    if (!failed && !pending.empty() && write(user, pending.data(), pending.size()) != 0) failed = true;
    pending.clear();
    return !failed;
  }

 private:
  ostrel_write_fn write;
  void* user;
  std::vector<unsigned char> pending;
  bool failed = false;
};

}  // namespace

struct ostrel_encoder {
  ostrel_encoder(unsigned char code, ostrel_write_fn write, ostrel_seek_fn seekFn, void* userData)
      : DataRate(code),
        geometry(FrameGeometry::ForRate(code)),
        seek(seekFn),
        user(userData),
        source(geometry.TOTAL),
        sink(write, userData, ostrel::FILE_HEADER_MAX_BYTES + geometry.FrameBits / 8 + 64),
        engine(code, source, &sink) {}

  // Codes the buffered frame. Returns the sticky status; `complete` tells whether the input has
  // ended and the frames coded hold all of it.
  int Code(bool* complete = nullptr) {
    const ostrel::FrameEncoder::FrameOutcome outcome = engine.EncodeFrame();
    ++frames;
    if (complete != nullptr) *complete = outcome.inputEnded;
    if (outcome.overBudget || outcome.writerFailed) error = OSTREL_ERR_INTERNAL;
    if (!sink.Flush() || engine.WriteFailed()) error = OSTREL_ERR_WRITE;
    return error;
  }

  int Start() {
    if (started) return error;
    started = true;
    engine.WriteHeader(tags[0].c_str(), tags[1].c_str(), tags[2].c_str());
    if (!sink.Flush() || engine.WriteFailed()) error = OSTREL_ERR_WRITE;
    return error;
  }

  // Runs `step` (which returns the sticky status), turning running out of memory into the sticky
  // OSTREL_ERR_MEMORY: the bytes of a frame (or header) left half-made are never handed over.
  template <typename Step>
  int Guarded(Step step) {
    try {
      return step();
    } catch (const std::bad_alloc&) {
      return error = OSTREL_ERR_MEMORY;
    }
  }

  template <typename Convert>
  int Push(size_t count, Convert sample) {
    if (finished) return error != OSTREL_OK ? error : OSTREL_ERR_STATE;
    if (error != OSTREL_OK) return error;
    return Guarded([&] { return PushSamples(count, sample); });
  }

  template <typename Convert>
  int PushSamples(size_t count, Convert sample) {
    if (Start() != OSTREL_OK) return error;
    size_t i = 0;
    while (i < count) {
      const size_t n = std::min(source.Room(), count - i);
      source.Put(n, i, sample);
      i += n;
      // A frame is coded once the frames the engine may read ahead for it are complete too.
      while (source.CompleteFrames() >= frames + 1u + static_cast<unsigned>(engine.FramesAhead())) {
        if (Code() != OSTREL_OK) return error;
      }
    }
    return OSTREL_OK;
  }

  unsigned char DataRate;
  FrameGeometry geometry;
  ostrel_seek_fn seek;
  void* user;
  std::string tags[3] = {"None", "None", "None"};  // title, author, comment
  PushedSamples source;
  CallbackSink sink;
  ostrel::FrameEncoder engine;
  bool started = false;
  bool finished = false;
  int error = OSTREL_OK;
  uint32_t frames = 0;
  uint64_t clipped = 0;
  int threads = 1;
};

extern "C" ostrel_encoder* ostrel_encoder_create(int kbps, ostrel_write_fn write, ostrel_seek_fn seek, void* user,
                                                 int* status) {
  const unsigned char code = RateCode(kbps);
  if (write == nullptr) {
    SetStatus(status, OSTREL_ERR_ARGUMENT);
    return nullptr;
  }
  if (code == 0) {
    SetStatus(status, OSTREL_ERR_BITRATE);
    return nullptr;
  }
  try {
    auto* enc = new ostrel_encoder(code, write, seek, user);
    SetStatus(status, OSTREL_OK);
    return enc;
  } catch (const std::bad_alloc&) {
    SetStatus(status, OSTREL_ERR_MEMORY);
    return nullptr;
  }
}

extern "C" int ostrel_encoder_set_tag(ostrel_encoder* enc, const char* key, const char* value) {
  if (enc == nullptr || key == nullptr || value == nullptr) return OSTREL_ERR_ARGUMENT;
  int index;
  size_t limit;
  if (std::strcmp(key, "title") == 0) {
    index = 0;
    limit = ostrel::FILE_TITLE_MAX;
  } else if (std::strcmp(key, "author") == 0) {
    index = 1;
    limit = ostrel::FILE_TITLE_MAX;
  } else if (std::strcmp(key, "comment") == 0) {
    index = 2;
    limit = ostrel::FILE_COMMENTS_MAX;
  } else {
    return OSTREL_ERR_TAG;
  }
  if (std::strlen(value) > limit) return OSTREL_ERR_TAG;
  if (enc->started || enc->finished) return OSTREL_ERR_STATE;
  try {
    enc->tags[index] = value;
  } catch (const std::bad_alloc&) {
    return OSTREL_ERR_MEMORY;
  }
  return OSTREL_OK;
}

extern "C" int ostrel_encoder_set_quality(ostrel_encoder* enc, int on) {
  if (enc == nullptr) return OSTREL_ERR_ARGUMENT;
  if (enc->started || enc->finished) return OSTREL_ERR_STATE;
  try {
    enc->engine.SetQuality(on != 0);
  } catch (const std::bad_alloc&) {
    return OSTREL_ERR_MEMORY;
  }
  return OSTREL_OK;
}

extern "C" int ostrel_encoder_set_threads(ostrel_encoder* enc, int threads) {
  if (enc == nullptr || threads < 1) return OSTREL_ERR_ARGUMENT;
  if (enc->started || enc->finished || enc->threads > 1) return OSTREL_ERR_STATE;
  if (threads == 1) return OSTREL_OK;
  try {
    enc->engine.SetThreads(threads);
    enc->source.Resize(static_cast<unsigned>(enc->engine.FramesAhead()) + 1u);
  } catch (const std::bad_alloc&) {
    return OSTREL_ERR_MEMORY;
  } catch (const std::system_error&) {
    return OSTREL_ERR_MEMORY;
  }
  enc->threads = threads;
  return OSTREL_OK;
}

extern "C" int ostrel_encoder_write(ostrel_encoder* enc, const int16_t* interleaved, size_t frames) {
  if (enc == nullptr || (interleaved == nullptr && frames != 0)) return OSTREL_ERR_ARGUMENT;
  return enc->Push(frames, [interleaved](size_t i) { return static_cast<float>(interleaved[i]); });
}

extern "C" int ostrel_encoder_write_float(ostrel_encoder* enc, const float* interleaved, size_t frames) {
  if (enc == nullptr || (interleaved == nullptr && frames != 0)) return OSTREL_ERR_ARGUMENT;
  // 16-bit value v arrives as v / 32768, which times 32768 is v again exactly.
  return enc->Push(frames, [enc, interleaved](size_t i) {
    const float v = interleaved[i];
    if (std::isnan(v)) return 0.0f;
    const float scaled = v * 32768.0f;
    if (scaled > 32767.0f) {
      ++enc->clipped;
      return 32767.0f;
    }
    if (scaled < -32768.0f) {
      ++enc->clipped;
      return -32768.0f;
    }
    return scaled;
  });
}

namespace {

// Codes the rest and writes the last bits and the frame count; the sticky status.
int FinishStream(ostrel_encoder* enc) {
  if (enc->Start() != OSTREL_OK) return enc->error;
  // The frame in which the input ends, coded in full with zeros after the last sample, and one
  // more when the input's last samples still need its overlap.
  bool complete = false;
  while (!complete) {
    if (enc->Code(&complete) != OSTREL_OK) return enc->error;
  }
  enc->engine.FlushBits();
  if (!enc->sink.Flush() || enc->engine.WriteFailed()) return enc->error = OSTREL_ERR_WRITE;
  if (enc->seek == nullptr) return OSTREL_OK;
  std::vector<unsigned char> fixed = ostrel::FileHeaderBytes(
      "", "", "", enc->DataRate, static_cast<unsigned short>(STREAM_SAMPLE_RATE),
      static_cast<unsigned char>(STREAM_CHANNELS), enc->frames);
  fixed.resize(ostrel::FILE_HEADER_FIXED_BYTES);
  if (enc->seek(enc->user, 0) != 0) return enc->error = OSTREL_ERR_SEEK;
  if (enc->sink.Put(fixed.data(), fixed.size()), !enc->sink.Flush()) return enc->error = OSTREL_ERR_WRITE;
  return OSTREL_OK;
}

}  // namespace

extern "C" int ostrel_encoder_finish(ostrel_encoder* enc) {
  if (enc == nullptr) return OSTREL_ERR_ARGUMENT;
  if (enc->finished) return enc->error != OSTREL_OK ? enc->error : OSTREL_ERR_STATE;
  enc->finished = true;
  if (enc->error != OSTREL_OK) return enc->error;
  return enc->Guarded([enc] { return FinishStream(enc); });
}


extern "C" uint32_t ostrel_encoder_frames(const ostrel_encoder* enc) { return enc != nullptr ? enc->frames : 0; }

extern "C" uint64_t ostrel_encoder_clipped(const ostrel_encoder* enc) { return enc != nullptr ? enc->clipped : 0; }

extern "C" void ostrel_encoder_destroy(ostrel_encoder* enc) { delete enc; }
