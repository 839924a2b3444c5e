// The WebAssembly side of the JavaScript package (ostrel.mjs): a decoder fed with chunks as they
// arrive and an encoder that keeps its stream in memory, both on the public C interface only.
// Every function here is called from ostrel.mjs; sizes are in bytes, positions in sample frames
// (samples per channel).
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "ostrel/ostrel.h"

namespace {

// The bytes of the header's strings ostrel_parse_header may need: title, author and comment, each
// with its terminating zero.
constexpr size_t HEADER_STRING_BYTES = (OSTREL_TAG_MAX_BYTES + 1) * 2 + OSTREL_COMMENT_MAX_BYTES + 1;

// A stream that arrives in chunks and stays in memory whole, so that every position already
// arrived can be sought. The library's decoder is opened once the header is in and is only ever
// asked for samples whose frames have arrived, so its input never runs dry before the end.
struct WebDecoder {
  std::vector<unsigned char> bytes;
  size_t readAt = 0;
  bool complete = false;  // no more bytes will come
  ostrel_decoder* dec = nullptr;
  ostrel_info info{};
  uint32_t toRead = 0;  // frames the decoder will read: the header's count, or unknown (0)
  // A seek to the edge of what has arrived waits for the frame that holds the sample.
  bool seekPending = false;
  uint64_t pendingSample = 0;

  ~WebDecoder() { ostrel_decoder_destroy(dec); }

  static long Read(void* user, void* data, size_t n) {
    auto* self = static_cast<WebDecoder*>(user);
    const size_t left = self->bytes.size() - self->readAt;
    if (n > left) n = left;
    std::memcpy(data, self->bytes.data() + self->readAt, n);
    self->readAt += n;
    return static_cast<long>(n);
  }

  static int Seek(void* user, uint64_t offset) {
    auto* self = static_cast<WebDecoder*>(user);
    if (offset > self->bytes.size()) return 1;
    self->readAt = static_cast<size_t>(offset);
    return 0;
  }

  // Whole frames that have arrived.
  uint64_t FramesIn() const {
    if (bytes.size() < info.header_bytes) return 0;
    const uint64_t n = (bytes.size() - info.header_bytes) / info.frame_bytes;
    return toRead != 0 && n > toRead ? toRead : n;
  }

  // The sample frames of the stream that can be decoded now, counted from its start.
  uint64_t SamplesIn() const {
    if (complete) return UINT64_MAX;
    const uint64_t produced = FramesIn() * info.samples_per_frame;
    uint64_t n = produced > info.delay ? produced - info.delay : 0;
    if (info.samples != 0 && n > info.samples) n = info.samples;
    return n;
  }

  // Carries out a waiting seek once its frame is in. False while it still waits or when it failed
  // (with the status in `*status`).
  bool Settle(int* status) {
    *status = OSTREL_OK;
    if (!seekPending) return true;
    if (!complete && pendingSample >= SamplesIn()) return false;
    seekPending = false;
    *status = ostrel_decoder_seek(dec, pendingSample);
    return *status == OSTREL_OK;
  }

  uint64_t Position() const { return seekPending ? pendingSample : ostrel_decoder_tell(dec); }
};

// The stream an encoder writes, kept whole; the header is patched in place at the end.
struct WebEncoder {
  std::vector<unsigned char> bytes;
  size_t writeAt = 0;
  std::vector<float> block;  // the samples ostrel.mjs passes in, as floats or as 16-bit samples
  std::vector<int16_t> block16;
  ostrel_encoder* enc = nullptr;

  ~WebEncoder() { ostrel_encoder_destroy(enc); }

  static int Write(void* user, const void* data, size_t n) {
    auto* self = static_cast<WebEncoder*>(user);
    try {
      if (self->bytes.size() < self->writeAt + n) self->bytes.resize(self->writeAt + n);
    } catch (const std::bad_alloc&) {
      return 1;
    }
    std::memcpy(self->bytes.data() + self->writeAt, data, n);
    self->writeAt += n;
    return 0;
  }

  static int Seek(void* user, uint64_t offset) {
    auto* self = static_cast<WebEncoder*>(user);
    if (offset > self->bytes.size()) return 1;
    self->writeAt = static_cast<size_t>(offset);
    return 0;
  }
};

}  // namespace

extern "C" {

// ---- Decoder ----

EMSCRIPTEN_KEEPALIVE WebDecoder* ow_dec_new() { return new (std::nothrow) WebDecoder; }

EMSCRIPTEN_KEEPALIVE void ow_dec_free(WebDecoder* d) { delete d; }

// Room for `n` more bytes at the end of the stream; ostrel.mjs copies the chunk there before any
// other call. NULL when memory ran out.
EMSCRIPTEN_KEEPALIVE unsigned char* ow_dec_append(WebDecoder* d, size_t n) {
  try {
    const size_t at = d->bytes.size();
    d->bytes.resize(at + n);
    return d->bytes.data() + at;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

EMSCRIPTEN_KEEPALIVE void ow_dec_end(WebDecoder* d) { d->complete = true; }

// Opens the library's decoder once the whole header is in. Returns OSTREL_OK when it is open, 1
// while the header is still arriving, or the library's status for a stream it cannot take.
EMSCRIPTEN_KEEPALIVE int ow_dec_open(WebDecoder* d) {
  if (d->dec != nullptr) return OSTREL_OK;
  std::unique_ptr<char[]> strings(new (std::nothrow) char[HEADER_STRING_BYTES]);
  if (!strings) return OSTREL_ERR_MEMORY;
  ostrel_info parsed{};
  const int header = ostrel_parse_header(d->bytes.data(), d->bytes.size(), &parsed, strings.get(), HEADER_STRING_BYTES);
  if (header == OSTREL_ERR_TRUNCATED && !d->complete) return 1;
  if (header != OSTREL_OK) return header;
  d->readAt = 0;
  int status = OSTREL_OK;
  d->dec = ostrel_decoder_open(&WebDecoder::Read, &WebDecoder::Seek, d, 0, &status);
  if (d->dec == nullptr) return status;
  ostrel_decoder_info(d->dec, &d->info);
  d->toRead = d->info.frames;
  return OSTREL_OK;
}

// The stream's facts, by number (0 kbps, 1 sample rate, 2 channels, 3 frames in the header,
// 4 samples, 5 frame bytes, 6 samples per frame, 7 delay, 8 header bytes, 9 damaged frames,
// 10 frames decoded).
EMSCRIPTEN_KEEPALIVE double ow_dec_fact(const WebDecoder* d, int which) {
  const ostrel_info& i = d->info;
  switch (which) {
    case 0: return i.kbps;
    case 1: return i.sample_rate;
    case 2: return i.channels;
    case 3: return i.frames;
    case 4: return static_cast<double>(i.samples);
    case 5: return i.frame_bytes;
    case 6: return i.samples_per_frame;
    case 7: return i.delay;
    case 8: return static_cast<double>(i.header_bytes);
    case 9: return ostrel_decoder_damaged_frames(d->dec);
    case 10: return ostrel_decoder_frames_decoded(d->dec);
    default: return 0;
  }
}

// The header string "title", "author" or "comment" with every byte; its size in `*bytes`.
EMSCRIPTEN_KEEPALIVE const char* ow_dec_string(const WebDecoder* d, const char* key, size_t* bytes) {
  return ostrel_decoder_tag(d->dec, key, bytes);
}

EMSCRIPTEN_KEEPALIVE int ow_dec_tag_count(const WebDecoder* d) { return ostrel_decoder_tag_count(d->dec); }

// The index-th tag's key (part 0) or value (part 1).
EMSCRIPTEN_KEEPALIVE const char* ow_dec_tag(const WebDecoder* d, int index, int part) {
  const char* key = "";
  const char* value = "";
  if (ostrel_decoder_tag_at(d->dec, index, &key, &value) != OSTREL_OK) return "";
  return part == 0 ? key : value;
}

EMSCRIPTEN_KEEPALIVE const char* ow_dec_tag_note(const WebDecoder* d) { return ostrel_decoder_tag_note(d->dec); }

// Sample frames that can be read now without waiting for more bytes (the rest of the stream once
// it is complete, as a large number).
EMSCRIPTEN_KEEPALIVE double ow_dec_readable(const WebDecoder* d) {
  const uint64_t in = d->SamplesIn();
  if (in == UINT64_MAX) return 9007199254740991.0;
  const uint64_t at = d->Position();
  return in > at ? static_cast<double>(in - at) : 0.0;
}

// Reads up to `frames` sample frames into `out` (float with `as_float`, else 16-bit), never more
// than have arrived. Returns how many, 0 when none can be read now (or at the end), or a status.
EMSCRIPTEN_KEEPALIVE long ow_dec_read(WebDecoder* d, void* out, size_t frames, int as_float) {
  int status = OSTREL_OK;
  if (!d->Settle(&status)) return status;
  const double readable = ow_dec_readable(d);
  if (static_cast<double>(frames) > readable) frames = static_cast<size_t>(readable);
  if (frames == 0) return 0;
  long total = 0;
  while (frames > 0) {
    const long n = as_float ? ostrel_decoder_read_float(d->dec, static_cast<float*>(out) + 2 * total, frames)
                            : ostrel_decoder_read(d->dec, static_cast<int16_t*>(out) + 2 * total, frames);
    if (n < 0) return total > 0 ? total : n;
    if (n == 0) break;
    total += n;
    frames -= static_cast<size_t>(n);
  }
  return total;
}

// 1 when `sample` can be sought now: it is one of the samples that have arrived, or the next.
EMSCRIPTEN_KEEPALIVE int ow_dec_can_seek(const WebDecoder* d, double sample) {
  return d->complete || (sample >= 0 && sample <= static_cast<double>(d->SamplesIn()));
}

// Seeks to `sample`; a seek to the sample after those that have arrived is carried out when its
// frame arrives (reads give nothing until then). OSTREL_ERR_STATE beyond that.
EMSCRIPTEN_KEEPALIVE int ow_dec_seek(WebDecoder* d, double sample) {
  if (!ow_dec_can_seek(d, sample)) return sample < 0 ? OSTREL_ERR_ARGUMENT : OSTREL_ERR_STATE;
  d->seekPending = true;
  d->pendingSample = static_cast<uint64_t>(sample);
  int status = OSTREL_OK;
  d->Settle(&status);
  return status;
}

EMSCRIPTEN_KEEPALIVE double ow_dec_tell(const WebDecoder* d) { return static_cast<double>(d->Position()); }

// ---- Encoder ----

// A new encoder at `kbps`, or NULL with the status in `*status`.
EMSCRIPTEN_KEEPALIVE WebEncoder* ow_enc_new(int kbps, int* status) {
  auto* e = new (std::nothrow) WebEncoder;
  if (e == nullptr) {
    *status = OSTREL_ERR_MEMORY;
    return nullptr;
  }
  e->enc = ostrel_encoder_create(kbps, &WebEncoder::Write, &WebEncoder::Seek, e, status);
  if (e->enc == nullptr) {
    delete e;
    return nullptr;
  }
  return e;
}

EMSCRIPTEN_KEEPALIVE void ow_enc_free(WebEncoder* e) { delete e; }

EMSCRIPTEN_KEEPALIVE int ow_enc_tag(WebEncoder* e, const char* key, const char* value, int add) {
  return add ? ostrel_encoder_add_tag(e->enc, key, value) : ostrel_encoder_set_tag(e->enc, key, value);
}

EMSCRIPTEN_KEEPALIVE int ow_enc_quality(WebEncoder* e, int on) { return ostrel_encoder_set_quality(e->enc, on); }

// Room for `frames` interleaved float sample frames, which ow_enc_write then codes.
EMSCRIPTEN_KEEPALIVE float* ow_enc_block(WebEncoder* e, size_t frames) {
  try {
    if (e->block.size() < 2 * frames) e->block.resize(2 * frames);
    return e->block.data();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

EMSCRIPTEN_KEEPALIVE int ow_enc_write(WebEncoder* e, size_t frames) {
  return ostrel_encoder_write_float(e->enc, e->block.data(), frames);
}

// The same for 16-bit samples (ow_enc_write16): a 16-bit source's own numbers.
EMSCRIPTEN_KEEPALIVE int16_t* ow_enc_block16(WebEncoder* e, size_t frames) {
  try {
    if (e->block16.size() < 2 * frames) e->block16.resize(2 * frames);
    return e->block16.data();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

EMSCRIPTEN_KEEPALIVE int ow_enc_write16(WebEncoder* e, size_t frames) {
  return ostrel_encoder_write(e->enc, e->block16.data(), frames);
}

EMSCRIPTEN_KEEPALIVE int ow_enc_finish(WebEncoder* e) { return ostrel_encoder_finish(e->enc); }

// The stream written so far: its bytes (in `*size`).
EMSCRIPTEN_KEEPALIVE const unsigned char* ow_enc_bytes(const WebEncoder* e, size_t* size) {
  *size = e->bytes.size();
  return e->bytes.data();
}

EMSCRIPTEN_KEEPALIVE double ow_enc_fact(const WebEncoder* e, int which) {
  return which == 0 ? ostrel_encoder_frames(e->enc) : static_cast<double>(ostrel_encoder_clipped(e->enc));
}

}  // extern "C"
