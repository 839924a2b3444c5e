// The C interface of libostrel: a thin layer over the engine classes of this folder. Every entry
// point catches what the engine throws (only std::bad_alloc) and turns it into a status; an
// object whose engine was stopped half-way by it keeps OSTREL_ERR_MEMORY for every later call,
// having handed nothing of the unfinished frame to the caller.
#include "ostrel/ostrel.h"

#include <algorithm>
#include <array>
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
#include "format/CommentFields.h"
#include "format/FileHeader.h"
#include "format/FrameGeometry.h"
#include "coding/FrameLayout.h"
#include "coding/FrameReader.h"
#include "format/RateTables.h"
#include "library/FrameDecoder.h"
#include "library/FrameEncoder.h"
#include "ostrel/version.h"
#include "platform/StreamConstants.h"


static_assert(OSTREL_TAG_MAX_BYTES == ostrel::FILE_TITLE_MAX && OSTREL_COMMENT_MAX_BYTES == ostrel::FILE_COMMENTS_MAX,
              "the public limits are the header's fields");

namespace {

using ostrel::FrameGeometry;
using ostrel::STREAM_CHANNELS;
using ostrel::STREAM_SAMPLE_RATE;
constexpr int BITRATE_COUNT = ostrel::DATA_RATE_COUNT;
// The rates in kb/s, ascending: twice the rate codes.
constexpr std::array<int, BITRATE_COUNT> Bitrates() {
  std::array<int, BITRATE_COUNT> kbps{};
  for (int i = 0; i < BITRATE_COUNT; ++i) kbps[static_cast<size_t>(i)] = 2 * ostrel::DATA_RATES[i];
  return kbps;
}
constexpr std::array<int, BITRATE_COUNT> BITRATES = Bitrates();

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
  static const char EMPTY[] = "";
  *info = ostrel_info{};
  info->kbps = fields.DataRate * 2;
  info->sample_rate = fields.SampleRate;
  info->channels = fields.Channels;
  info->frames = fields.Frames;
  info->title = info->author = info->comment = EMPTY;
  if (!ostrel::IsValidDataRate(fields.DataRate) || fields.SampleRate != STREAM_SAMPLE_RATE ||
      fields.Channels != STREAM_CHANNELS) {
    return OSTREL_ERR_UNSUPPORTED;
  }
  const FrameGeometry geometry = FrameGeometry::ForRate(fields.DataRate);
  info->samples_per_frame = geometry.TOTAL;
  info->delay = ostrel::FrameDecoder::DelayOf(geometry);  // the synthesis delay a decoder drops
  info->frame_bytes = geometry.FrameBits / 8;
  info->samples = static_cast<uint64_t>(ostrel_stream_samples(info->kbps, fields.Frames));
  info->header_bytes = fields.HeaderBytes;
  return OSTREL_OK;
}

// Takes the comment's LENGTH into `info` (its `samples`), unless it is more than the frames
// hold: then the frames are trusted and `*note` says so. Returns the limit a decoder stops at.
uint64_t ApplyLength(const ostrel::ParsedComment& comment, ostrel_info* info, std::string* note) {
  if (!comment.lengthKnown) return UINT64_MAX;
  if (info->frames != 0 && comment.length > info->samples) {
    if (note != nullptr && note->empty()) {
      *note = "the header's LENGTH of " + std::to_string(comment.length) + " sample frames is more than its " +
              std::to_string(info->frames) + " frames hold (" + std::to_string(info->samples) +
              "); the frames are trusted";
    }
    return UINT64_MAX;
  }
  info->samples = comment.length;
  return comment.length;
}

int ParseStatus(int parsed) {
  return parsed == ostrel::FILE_HEADER_FOREIGN ? OSTREL_ERR_NOT_OSTREL : OSTREL_ERR_TRUNCATED;
}

}  // namespace

namespace {

// A stream's tags, in the order given (keys in upper case), and the header strings they make.
// With fields the comment holds them all (and LENGTH); without, the header's title, author and
// comment are the first TITLE, ARTIST and COMMENT, or "None".
struct TagSet {
  std::vector<ostrel::CommentField> fields;
  bool withFields = true;
  bool withEncoder = true;  // ENCODER is added unless a field gives it

  // The first value of field `key`, or `otherwise`.
  const std::string& First(const char* key, const std::string& otherwise) const {
    for (const ostrel::CommentField& f : fields) {
      if (f.key == key) return f.value;
    }
    return otherwise;
  }

  // The fields written: the caller's, and ENCODER unless the caller gave one.
  std::vector<ostrel::CommentField> Written() const {
    static const std::string NONE;
    std::vector<ostrel::CommentField> all = fields;
    if (withEncoder && &First("ENCODER", NONE) == &NONE) all.push_back({"ENCODER", std::string("libostrel ") + OSTREL_VERSION});
    return all;
  }

  // The header's three strings, with LENGTH's value `length` in the fields' comment; `*lengthAt`
  // receives the offset of that value in the header (0 without fields).
  void HeaderStrings(const std::string& length, std::string* title, std::string* author, std::string* comment,
                     size_t* lengthAt) const {
    static const std::string NONE = "None";
    *title = First("TITLE", NONE);
    *author = First("ARTIST", NONE);
    *lengthAt = 0;
    if (!withFields) {
      *comment = First("COMMENT", NONE);
      return;
    }
    size_t at = 0;
    *comment = ostrel::BuildComment(Written(), length, &at);
    *lengthAt = ostrel::FILE_HEADER_FIXED_BYTES + 1 + title->size() + 1 + author->size() + 2 + at;
  }


  // Sets (`add` false: replaces every value of the key) or adds a tag. Returns an OSTREL_ status.
  int Set(const char* key, const char* value, bool add) {
    std::string name = ostrel::FieldKey(key);
    if (name == "AUTHOR") name = "ARTIST";
    const std::string text = value;
    if (!ostrel::KeyProblem(name).empty() || name == ostrel::LENGTH_KEY) return OSTREL_ERR_TAG;
    // The first encoders' header has room for these three only.
    if (!withFields && name != "TITLE" && name != "ARTIST" && name != "COMMENT") return OSTREL_ERR_TAG;
    if ((name == "TITLE" || name == "ARTIST") && text.size() > ostrel::FILE_TITLE_MAX) return OSTREL_ERR_TAG;
    if (text.size() > ostrel::FILE_COMMENTS_MAX) return OSTREL_ERR_TAG;
    if (withFields && !ostrel::ValueProblem(text).empty()) return OSTREL_ERR_TAG;
    std::vector<ostrel::CommentField> before = fields;
    if (!add) {
      fields.erase(std::remove_if(fields.begin(), fields.end(),
                                  [&name](const ostrel::CommentField& f) { return f.key == name; }),
                   fields.end());
    }
    fields.push_back({name, text});
    std::string title, author, comment;
    size_t at = 0;
    HeaderStrings(ostrel::UnknownLengthValue(), &title, &author, &comment, &at);
    if (comment.size() > ostrel::FILE_COMMENTS_MAX) {
      fields = std::move(before);
      return OSTREL_ERR_TAG;
    }
    return OSTREL_OK;
  }
};

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
    case OSTREL_ERR_READ: return "the input could not be read";
    case OSTREL_ERR_FRAME_VALUE: return "a frame held a value its field cannot carry; the stream is damaged";
    case OSTREL_ERR_STOPPED: return "stopped by the frame callback";
    default: return "unknown status";
  }
}

extern "C" const char* ostrel_version(void) { return OSTREL_VERSION; }

extern "C" const int* ostrel_bitrates(int* count) {
  if (count != nullptr) *count = BITRATE_COUNT;
  return BITRATES.data();
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

extern "C" int64_t ostrel_stream_samples(int kbps, uint32_t frames) {
  const unsigned char code = RateCode(kbps);
  if (code == 0) return OSTREL_ERR_BITRATE;
  if (frames == 0) return 0;
  const FrameGeometry geometry = FrameGeometry::ForRate(code);
  return static_cast<int64_t>(uint64_t{frames} * geometry.TOTAL - ostrel::FrameDecoder::DelayOf(geometry));
}

extern "C" int ostrel_frame_layout_of(int kbps, ostrel_frame_layout* layout) {
  if (layout == nullptr) return OSTREL_ERR_ARGUMENT;
  const unsigned char code = RateCode(kbps);
  if (code == 0) return OSTREL_ERR_BITRATE;
  const FrameGeometry g = FrameGeometry::ForRate(code);
  layout->long_block = static_cast<int>(g.LSIZE);
  layout->short_block = static_cast<int>(g.SSIZE);
  layout->transition_block = static_cast<int>(g.TRANSIZE);
  layout->blocks = static_cast<int>(g.NBlocks);
  layout->samples_per_frame = static_cast<int>(g.TOTAL);
  layout->frame_bits = g.FrameBits;
  layout->model_resolution = g.Res;
  layout->model_offset = g.dBOffset;
  return OSTREL_OK;
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
  try {
    ApplyLength(ostrel::ParseComment(reinterpret_cast<const char*>(p) + fields.CommentsOffset, fields.CommentsBytes),
                info, nullptr);
  } catch (const std::bad_alloc&) {
    return OSTREL_ERR_MEMORY;
  }

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

extern "C" int ostrel_retag_header(const void* header, size_t bytes, const char* const* keys,
                                   const char* const* values, size_t count, void* out, size_t out_bytes,
                                   size_t* written) {
  if (header == nullptr || written == nullptr || (count != 0 && (keys == nullptr || values == nullptr))) {
    return OSTREL_ERR_ARGUMENT;
  }
  const auto* p = static_cast<const unsigned char*>(header);
  ostrel::FileHeaderFields fields;
  const int parsed = ostrel::ParseFileHeader(p, bytes, &fields);
  if (parsed != ostrel::FILE_HEADER_OK) return ParseStatus(parsed);
  try {
    TagSet tags;
    tags.withEncoder = false;
    for (size_t i = 0; i < count; ++i) {
      if (keys[i] == nullptr || values[i] == nullptr) return OSTREL_ERR_ARGUMENT;
      const int set = tags.Set(keys[i], values[i], true);
      if (set != OSTREL_OK) return set;
    }
    // LENGTH as the old header has it: its number, or unknown.
    const ostrel::ParsedComment old =
        ostrel::ParseComment(reinterpret_cast<const char*>(p) + fields.CommentsOffset, fields.CommentsBytes);
    const std::string length = old.lengthKnown ? ostrel::LengthValue(old.length) : ostrel::UnknownLengthValue();
    std::string title, author, comment;
    size_t at = 0;
    tags.HeaderStrings(length, &title, &author, &comment, &at);
    const std::vector<unsigned char> made = ostrel::FileHeaderBytes(
        title.c_str(), author.c_str(), comment.c_str(), fields.DataRate, fields.SampleRate, fields.Channels,
        fields.Frames);
    *written = made.size();
    if (out == nullptr || out_bytes < made.size()) return OSTREL_ERR_ARGUMENT;
    std::memcpy(out, made.data(), made.size());
    return OSTREL_OK;
  } catch (const std::bad_alloc&) {
    return OSTREL_ERR_MEMORY;
  }
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
  if (dec != nullptr) dec->engine.Reset();
}

extern "C" void ostrel_frame_decoder_destroy(ostrel_frame_decoder* dec) { delete dec; }

// ---- Frame search ------------------------------------------------------------------------

namespace {

// Looks for the first frame start in `data`; the read checks use (and make when missing) one
// frame decoder per rate code in `readers`. Returns an OSTREL_ status as ostrel_find_frame does.
int FindFrame(const unsigned char* data, size_t bytes, bool end, size_t* offset, unsigned char* DataRate,
              std::unique_ptr<ostrel::FrameDecoder> (&readers)[BITRATE_COUNT]) {
  const auto syncAt = [data, bytes](size_t at) {
    return at + 2 <= bytes && data[at] == (ostrel::FRAME_SYNC_WORD >> 8) && data[at + 1] == (ostrel::FRAME_SYNC_WORD & 0xFF);
  };
  for (size_t at = 0; at + 2 <= bytes; ++at) {
    // Straight to the next byte that may start a sync word: one memchr over the bytes rather
    // than a test of each.
    const void* first = std::memchr(data + at, ostrel::FRAME_SYNC_WORD >> 8, bytes - 1 - at);
    if (first == nullptr) break;
    at = static_cast<size_t>(static_cast<const unsigned char*>(first) - data);
    if (!syncAt(at)) continue;
    for (int r = 0; r < BITRATE_COUNT; ++r) {
      const unsigned char code = RateCode(BITRATES[r]);
      const size_t frameBytes = FrameGeometry::ForRate(code).FrameBits / 8;
      const bool whole = at + frameBytes <= bytes;
      const bool followed = syncAt(at + frameBytes);
      if (!followed && !(end && whole && at + frameBytes + 2 > bytes)) {
        if (at + frameBytes + 2 > bytes && !end) {  // more bytes would tell
          *offset = at;
          return OSTREL_ERR_TRUNCATED;
        }
        continue;
      }
      if (!readers[r]) readers[r] = std::make_unique<ostrel::FrameDecoder>(code);
      if (readers[r]->Read(data + at, frameBytes)) {
        *offset = at;
        *DataRate = code;
        return OSTREL_OK;
      }
    }
  }
  // The last byte may be the first of a sync word.
  *offset = bytes > 0 ? bytes - 1 : 0;
  return OSTREL_ERR_NOT_OSTREL;
}

}  // namespace

extern "C" int ostrel_find_frame(const void* data, size_t bytes, int end, size_t* offset, int* kbps) {
  if ((data == nullptr && bytes != 0) || offset == nullptr || kbps == nullptr) return OSTREL_ERR_ARGUMENT;
  try {
    std::unique_ptr<ostrel::FrameDecoder> readers[BITRATE_COUNT];
    unsigned char code = 0;
    const int found = FindFrame(static_cast<const unsigned char*>(data), bytes, end != 0, offset, &code, readers);
    if (found == OSTREL_OK) *kbps = code * 2;
    return found;
  } catch (const std::bad_alloc&) {
    return OSTREL_ERR_MEMORY;
  }
}

// ---- Stream decoder ----------------------------------------------------------------------

struct ostrel_decoder {
  // The input: the callbacks, and bytes read before they were needed (the look at the header, the
  // frame search), which come first.
  ostrel_input_fn read = nullptr;
  ostrel_read_fn plainRead = nullptr;  // ostrel_decoder_create's callback, used instead of `read`
  ostrel_seek_fn seek = nullptr;
  void* user = nullptr;
  std::vector<unsigned char> ahead;
  size_t aheadAt = 0;
  uint64_t consumed = 0;  // bytes taken from the callbacks since the start (or the last seek's offset)

  ostrel_info info{};
  std::string title, author, comment;
  std::vector<ostrel::CommentField> fields;  // the comment's fields (none in a free-text comment)
  std::string note;                          // what was wrong with them, or ""
  uint64_t limit = UINT64_MAX;               // the stream's exact length, where LENGTH gives it
  std::unique_ptr<ostrel::FrameDecoder> engine;
  std::vector<unsigned char> frame;
  uint32_t toRead = 0;     // frames to decode: the header's count, or all there are when it is 0
  uint32_t nextFrame = 0;  // the number of the next frame to read
  uint32_t decoded = 0;
  int damaged = 0;
  bool reported = false;   // a frame was decoded: `report` tells about it
  ostrel_frame_report report{};
  unsigned next = 0;     // the next output sample of the last frame decoded, and its end
  unsigned end = 0;
  uint64_t position = 0;   // the sample the next read starts with
  bool ended = false;
  int error = OSTREL_OK;   // a read callback's failure, until a seek succeeds
  bool outOfMemory = false;  // a frame's decoding was stopped half-way: every later read fails

  // Reads until `bytes` bytes are in, the input ends, or it fails (error set). Returns how many came.
  size_t Fill(unsigned char* data, size_t bytes) {
    size_t got = 0;
    if (aheadAt < ahead.size()) {
      got = std::min(bytes, ahead.size() - aheadAt);
      std::memcpy(data, ahead.data() + aheadAt, got);
      aheadAt += got;
      if (aheadAt == ahead.size()) {
        ahead.clear();
        aheadAt = 0;
      }
    }
    while (got < bytes) {
      long n;
      if (plainRead != nullptr) {
        const size_t m = plainRead(user, data + got, bytes - got);
        n = m > bytes - got ? 0 : static_cast<long>(m);
      } else {
        n = read(user, data + got, bytes - got);
      }
      if (n < 0) error = OSTREL_ERR_READ;
      if (n <= 0 || static_cast<size_t>(n) > bytes - got) break;
      got += static_cast<size_t>(n);
      consumed += static_cast<uint64_t>(n);
    }
    return got;
  }

  // Reads and decodes the next frame. False at the end of the stream, after a read error or when
  // memory ran out (outOfMemory).
  bool DecodeNext() {
    if (Fill(frame.data(), frame.size()) < frame.size()) {
      // A frame cut short at the end of the stream is not decoded, as ostreldec does.
      ended = true;
      return false;
    }
    bool intact = false;
    try {
      intact = engine->Decode(frame.data(), frame.size());
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
      return false;
    }
    if (!intact) ++damaged;
    ++decoded;
    const ostrel::FrameReport& r = engine->Report();
    report = ostrel_frame_report{};
    report.index = nextFrame++;
    report.damaged = intact ? 0 : 1;
    report.damage = intact ? "" : ostrel::DescribeDamage(r.Damage);
    report.step = r.Steps;
    report.symbols = r.SymbolCount;
    report.bits = r.BitsUsed;
    for (unsigned c = 0; c < STREAM_CHANNELS; ++c) {
      report.switched[c] = r.SwitchUsed[c];
      report.location[c] = r.Location[c];
    }
    reported = true;
    next = engine->Skip();
    end = engine->Total();
    return true;
  }

  // Makes the output samples of the next frames available; returns how many are (0 at the end) or
  // a negative status.
  long Available() {
    if (outOfMemory) return OSTREL_ERR_MEMORY;
    if (position >= limit) return 0;
    while (next == end) {
      if (error != OSTREL_OK) return error;
      if (ended || nextFrame >= toRead) return 0;
      if (!DecodeNext()) return outOfMemory ? OSTREL_ERR_MEMORY : error != OSTREL_OK ? error : 0;
    }
    return static_cast<long>(end - next);
  }

  template <typename Sample, typename Store>
  long Read(Sample* interleaved, size_t frames, Store store) {
    if (interleaved == nullptr || frames == 0) return OSTREL_ERR_ARGUMENT;
    if (frames > static_cast<size_t>(LONG_MAX)) frames = static_cast<size_t>(LONG_MAX);
    const long available = Available();
    if (available <= 0) return available;
    const size_t n = static_cast<size_t>(std::min<uint64_t>({frames, static_cast<uint64_t>(available), limit - position}));
    store(engine->Output(0) + next, engine->Output(1) + next, interleaved, n);
    next += static_cast<unsigned>(n);
    position += n;
    return static_cast<long>(n);
  }
};

namespace {

// Reads the header that starts with the `lead` bytes already read. Returns OSTREL_OK with the
// fields and the whole header in `header`, or the status of a header that cannot be read.
int ReadHeader(ostrel_decoder& dec, std::vector<unsigned char>& header, ostrel::FileHeaderFields* fields) {
  size_t have = header.size();
  int parsed = ostrel::ParseFileHeader(header.data(), have, fields);
  while (parsed == ostrel::FILE_HEADER_SHORT) {
    header.resize(fields->HeaderBytes);
    const size_t want = fields->HeaderBytes - have;
    const size_t got = dec.Fill(header.data() + have, want);
    have += got;
    parsed = ostrel::ParseFileHeader(header.data(), have, fields);
    if (got < want) break;
  }
  if (dec.error != OSTREL_OK) return dec.error;
  if (parsed != ostrel::FILE_HEADER_OK) return ParseStatus(parsed);
  return FillInfo(*fields, &dec.info);
}

// Finds the first frame of a stream joined in the middle, whose first `lead` bytes are read.
// Returns OSTREL_OK with the frame's bytes and what follows them left to read, or a status.
int JoinStream(ostrel_decoder& dec, std::vector<unsigned char> bytes) {
  constexpr size_t LOOK = 65536;                 // bytes read at a time while searching
  constexpr uint64_t GIVE_UP = uint64_t{4} << 20;  // bytes searched before the input is not ours
  std::unique_ptr<ostrel::FrameDecoder> readers[BITRATE_COUNT];
  // What each read brings, appended to `bytes`: a short input costs its own length, not LOOK
  // cleared bytes.
  const std::unique_ptr<unsigned char[]> chunk(new unsigned char[LOOK]);
  uint64_t dropped = 0;
  bool end = false;
  for (;;) {
    size_t offset = 0;
    unsigned char code = 0;
    const int found = FindFrame(bytes.data(), bytes.size(), end, &offset, &code, readers);
    if (found == OSTREL_OK) {
      ostrel::FileHeaderFields fields;
      fields.DataRate = code;
      fields.SampleRate = static_cast<unsigned short>(STREAM_SAMPLE_RATE);
      fields.Channels = static_cast<unsigned char>(STREAM_CHANNELS);
      fields.HeaderBytes = static_cast<size_t>(dropped + offset);
      FillInfo(fields, &dec.info);
      for (int r = 0; r < BITRATE_COUNT; ++r) {
        if (readers[r] && BITRATES[r] == code * 2) dec.engine = std::move(readers[r]);  // fresh: only read
      }
      dec.ahead.assign(bytes.begin() + static_cast<long>(offset), bytes.end());
      dec.aheadAt = 0;
      return OSTREL_OK;
    }
    if (end || dropped + bytes.size() >= GIVE_UP) return OSTREL_ERR_NOT_OSTREL;
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<long>(offset));
    dropped += offset;
    const size_t got = dec.Fill(chunk.get(), LOOK);
    bytes.insert(bytes.end(), chunk.get(), chunk.get() + got);
    if (dec.error != OSTREL_OK) return dec.error;
    end = got < LOOK;
  }
}

// Reads the start of the stream: the header, or with `join` the first frame found. Returns the
// decoder ready for its first frame, or NULL and the status.
ostrel_decoder* OpenDecoder(std::unique_ptr<ostrel_decoder> dec, bool join, int* status) {
  // The magic and version first: the header is read exactly, so that the frames start right
  // after it.
  std::vector<unsigned char> lead(ostrel::FILE_MAGIC_BYTES + 1);
  lead.resize(dec->Fill(lead.data(), lead.size()));
  const bool header = lead.size() == ostrel::FILE_MAGIC_BYTES + 1 &&
                      std::memcmp(lead.data(), ostrel::FILE_MAGIC, ostrel::FILE_MAGIC_BYTES) == 0 &&
                      lead.back() == ostrel::FILE_VERSION;
  int opened = dec->error;
  ostrel::FileHeaderFields fields;
  if (opened == OSTREL_OK && header) {
    opened = ReadHeader(*dec, lead, &fields);
    if (opened == OSTREL_OK) {
      const auto text = [&lead](size_t offset, size_t bytes) {
        return std::string(reinterpret_cast<const char*>(lead.data()) + offset, bytes);
      };
      dec->title = text(fields.TitleOffset, fields.TitleBytes);
      dec->author = text(fields.AuthorOffset, fields.AuthorBytes);
      dec->comment = text(fields.CommentsOffset, fields.CommentsBytes);
      ostrel::ParsedComment parsed = ostrel::ParseComment(dec->comment.data(), dec->comment.size());
      dec->fields = std::move(parsed.fields);
      dec->note = parsed.problem;
      dec->limit = ApplyLength(parsed, &dec->info, &dec->note);
      dec->engine = std::make_unique<ostrel::FrameDecoder>(fields.DataRate);
    }
  } else if (opened == OSTREL_OK) {
    // Too short to hold the magic and version, or other bytes: not a stream of ours, unless a
    // frame can be found in it.
    opened = join ? JoinStream(*dec, std::move(lead)) : OSTREL_ERR_NOT_OSTREL;
  }
  if (opened != OSTREL_OK) {
    SetStatus(status, opened);
    return nullptr;
  }
  dec->frame.assign(dec->engine->FrameBytes(), 0);
  dec->toRead = dec->info.frames == 0 ? UINT32_MAX : dec->info.frames;
  SetStatus(status, OSTREL_OK);
  return dec.release();
}

// A decoder whose input `attach` sets, opened as OpenDecoder does (with OSTREL_JOIN in `flags`,
// the only flag there is), after the checks both constructors share: a read callback
// (`haveRead`) and no unknown flag.
template <typename Attach>
ostrel_decoder* NewDecoder(bool haveRead, int flags, Attach attach, int* status) {
  if (!haveRead || (flags & ~OSTREL_JOIN) != 0) {
    SetStatus(status, OSTREL_ERR_ARGUMENT);
    return nullptr;
  }
  try {
    auto dec = std::make_unique<ostrel_decoder>();
    attach(*dec);
    return OpenDecoder(std::move(dec), (flags & OSTREL_JOIN) != 0, status);
  } catch (const std::bad_alloc&) {
    SetStatus(status, OSTREL_ERR_MEMORY);
    return nullptr;
  }
}

}  // namespace

extern "C" ostrel_decoder* ostrel_decoder_open(ostrel_input_fn read, ostrel_seek_fn seek, void* user, int flags,
                                               int* status) {
  return NewDecoder(read != nullptr, flags,
                    [=](ostrel_decoder& dec) {
                      dec.read = read;
                      dec.seek = seek;
                      dec.user = user;
                    },
                    status);
}

extern "C" ostrel_decoder* ostrel_decoder_create(ostrel_read_fn read, void* user, int* status) {
  return NewDecoder(read != nullptr, 0,
                    [=](ostrel_decoder& dec) {
                      dec.plainRead = read;
                      dec.user = user;
                    },
                    status);
}

extern "C" int ostrel_decoder_info(const ostrel_decoder* dec, ostrel_info* info) {
  if (dec == nullptr || info == nullptr) return OSTREL_ERR_ARGUMENT;
  *info = dec->info;
  info->title = dec->title.c_str();
  info->author = dec->author.c_str();
  info->comment = dec->comment.c_str();
  return OSTREL_OK;
}

extern "C" int ostrel_decoder_tag_count(const ostrel_decoder* dec) {
  return dec != nullptr ? static_cast<int>(dec->fields.size()) : 0;
}

extern "C" int ostrel_decoder_tag_at(const ostrel_decoder* dec, int index, const char** key, const char** value) {
  if (dec == nullptr || key == nullptr || value == nullptr || index < 0 ||
      static_cast<size_t>(index) >= dec->fields.size()) {
    return OSTREL_ERR_ARGUMENT;
  }
  *key = dec->fields[static_cast<size_t>(index)].key.c_str();
  *value = dec->fields[static_cast<size_t>(index)].value.c_str();
  return OSTREL_OK;
}

extern "C" const char* ostrel_decoder_tag_note(const ostrel_decoder* dec) {
  return dec != nullptr ? dec->note.c_str() : "";
}

extern "C" int ostrel_comment_tags(const char* comment, size_t bytes, ostrel_tag_fn fn, void* user) {
  if (comment == nullptr && bytes != 0) return OSTREL_ERR_ARGUMENT;
  try {
    const ostrel::ParsedComment parsed = ostrel::ParseComment(comment != nullptr ? comment : "", bytes);
    if (!parsed.hasFields) return 0;
    if (fn != nullptr) {
      for (const ostrel::CommentField& f : parsed.fields) fn(user, f.key.c_str(), f.value.c_str());
    }
    return 1;
  } catch (const std::bad_alloc&) {
    return OSTREL_ERR_MEMORY;
  }
}

extern "C" const char* ostrel_decoder_tag(const ostrel_decoder* dec, const char* key, size_t* bytes) {
  if (dec == nullptr || key == nullptr) return nullptr;
  const std::string* tag = std::strcmp(key, "title") == 0    ? &dec->title
                           : std::strcmp(key, "author") == 0 ? &dec->author
                           : std::strcmp(key, "comment") == 0 ? &dec->comment
                                                              : nullptr;
  if (tag == nullptr) return nullptr;
  if (bytes != nullptr) *bytes = tag->size();
  return tag->c_str();
}

extern "C" long ostrel_decoder_read(ostrel_decoder* dec, int16_t* interleaved, size_t frames) {
  if (dec == nullptr) return OSTREL_ERR_ARGUMENT;
  return dec->Read(interleaved, frames, [](const float* first, const float* second, int16_t* out, size_t n) {
    ostrel::InterleavePcm(first, second, out, n);
  });
}

extern "C" long ostrel_decoder_read_float(ostrel_decoder* dec, float* interleaved, size_t frames) {
  if (dec == nullptr) return OSTREL_ERR_ARGUMENT;
  return dec->Read(interleaved, frames, [](const float* first, const float* second, float* out, size_t n) {
    constexpr float SCALE = 1.0f / 32768.0f;  // a power of two: exact
    for (size_t i = 0; i < n; ++i) {
      out[2 * i] = first[i] * SCALE;
      out[2 * i + 1] = second[i] * SCALE;
    }
  });
}

extern "C" int ostrel_decoder_seek(ostrel_decoder* dec, uint64_t sample) {
  if (dec == nullptr) return OSTREL_ERR_ARGUMENT;
  if ((dec->info.frames != 0 || dec->limit != UINT64_MAX) && sample > dec->info.samples) return OSTREL_ERR_ARGUMENT;
  if (dec->seek == nullptr) return OSTREL_ERR_STATE;
  if (dec->outOfMemory) return OSTREL_ERR_MEMORY;
  // The frame that holds the sample, and the one before it, whose overlap the sample needs.
  const uint64_t at = sample + dec->info.delay;
  const uint64_t target = at / dec->info.samples_per_frame;
  const unsigned into = static_cast<unsigned>(at % dec->info.samples_per_frame);
  const uint64_t first = target > 0 ? target - 1 : 0;
  dec->ahead.clear();
  dec->aheadAt = 0;
  dec->next = dec->end = 0;
  dec->position = sample;
  dec->error = OSTREL_OK;
  dec->ended = true;  // until the frames are in
  if (target >= dec->toRead) return OSTREL_OK;
  const uint64_t offset = dec->info.header_bytes + first * dec->info.frame_bytes;
  if (dec->seek(dec->user, offset) != 0) return OSTREL_ERR_SEEK;
  dec->consumed = offset;
  dec->ended = false;
  dec->engine->Reset();
  dec->nextFrame = static_cast<uint32_t>(first);
  for (uint64_t f = first; f <= target; ++f) {
    if (!dec->DecodeNext()) {
      dec->ended = true;
      dec->next = dec->end = 0;
      return dec->outOfMemory ? OSTREL_ERR_MEMORY : dec->error;
    }
  }
  dec->next = into;
  return OSTREL_OK;
}

extern "C" uint64_t ostrel_decoder_tell(const ostrel_decoder* dec) { return dec != nullptr ? dec->position : 0; }

extern "C" int ostrel_decoder_frame_report(const ostrel_decoder* dec, ostrel_frame_report* report) {
  if (dec == nullptr || report == nullptr) return OSTREL_ERR_ARGUMENT;
  if (!dec->reported) return OSTREL_ERR_STATE;
  *report = dec->report;
  return OSTREL_OK;
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
    if (frameFn != nullptr && frameFn(frameUser, frames) != 0) return error = OSTREL_ERR_STOPPED;
    const ostrel::FrameEncoder::FrameOutcome outcome = engine.EncodeFrame();
    ++frames;
    if (complete != nullptr) *complete = outcome.inputEnded;
    if (outcome.writerFailed) error = OSTREL_ERR_FRAME_VALUE;
    if (outcome.overBudget) error = OSTREL_ERR_INTERNAL;
    if (!sink.Flush() || engine.WriteFailed()) error = OSTREL_ERR_WRITE;
    return error;
  }

  int Start() {
    if (started) return error;
    started = true;
    std::string title, author, comment;
    tags.HeaderStrings(ostrel::UnknownLengthValue(), &title, &author, &comment, &lengthAt);
    engine.WriteHeader(title.c_str(), author.c_str(), comment.c_str());
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
    pushed += count;
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
  TagSet tags;
  size_t lengthAt = 0;   // offset of LENGTH's value in the header
  uint64_t pushed = 0;   // sample frames written
  PushedSamples source;
  CallbackSink sink;
  ostrel::FrameEncoder engine;
  bool started = false;
  bool finished = false;
  int error = OSTREL_OK;
  uint32_t frames = 0;
  uint64_t clipped = 0;
  int threads = 1;
  ostrel_frame_fn frameFn = nullptr;
  void* frameUser = nullptr;
};

namespace ostrel {

void SetFrameBudget(ostrel_encoder* enc, int bits) { enc->engine.SetBudget(bits); }

}  // namespace ostrel

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

namespace {

// Sets or adds a tag of the encoder's stream (TagSet::Set). Returns an OSTREL_ status.
int SetTag(ostrel_encoder* enc, const char* key, const char* value, bool add) {
  if (enc == nullptr || key == nullptr || value == nullptr) return OSTREL_ERR_ARGUMENT;
  if (enc->started || enc->finished) {
    TagSet probe;
    probe.withFields = enc->tags.withFields;
    const int fits = probe.Set(key, value, add);
    return fits != OSTREL_OK ? fits : OSTREL_ERR_STATE;
  }
  try {
    return enc->tags.Set(key, value, add);
  } catch (const std::bad_alloc&) {
    return OSTREL_ERR_MEMORY;
  }
}

}  // namespace

extern "C" int ostrel_encoder_set_tag(ostrel_encoder* enc, const char* key, const char* value) {
  return SetTag(enc, key, value, false);
}

extern "C" int ostrel_encoder_add_tag(ostrel_encoder* enc, const char* key, const char* value) {
  return SetTag(enc, key, value, true);
}

extern "C" int ostrel_encoder_set_fields(ostrel_encoder* enc, int on) {
  if (enc == nullptr) return OSTREL_ERR_ARGUMENT;
  if (enc->started || enc->finished) return OSTREL_ERR_STATE;
  for (const ostrel::CommentField& f : enc->tags.fields) {
    if (on == 0 && f.key != "TITLE" && f.key != "ARTIST" && f.key != "COMMENT") return OSTREL_ERR_STATE;
  }
  enc->tags.withFields = on != 0;
  return OSTREL_OK;
}

extern "C" int ostrel_encoder_set_quality(ostrel_encoder* enc, int on) {
  if (enc == nullptr) return OSTREL_ERR_ARGUMENT;
  if (enc->started || enc->finished) return OSTREL_ERR_STATE;
  try {
    enc->engine.SetQuality(on != 0);
  } catch (const std::bad_alloc&) {
    return OSTREL_ERR_MEMORY;
  } catch (const std::system_error&) {  // the analysis threads, rebuilt for the mode
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

extern "C" int ostrel_encoder_set_frame_callback(ostrel_encoder* enc, ostrel_frame_fn fn, void* user) {
  if (enc == nullptr) return OSTREL_ERR_ARGUMENT;
  if (enc->started || enc->finished) return OSTREL_ERR_STATE;
  enc->frameFn = fn;
  enc->frameUser = user;
  return OSTREL_OK;
}

namespace {

// Codes the rest and writes the last bits and the frame count; the status finish returns.
int FinishStream(ostrel_encoder* enc) {
  if (enc->error == OSTREL_OK && enc->Start() == OSTREL_OK) {
    // The frame in which the input ends, coded in full with zeros after the last sample, and one
    // more when the input's last samples still need its overlap.
    bool complete = false;
    while (!complete && enc->Code(&complete) == OSTREL_OK) {
    }
  }
  // A stream stopped on request, or at a frame that could not be coded, is closed after the frames
  // coded, as far as it got; one whose bytes did not all go out is left as it is.
  const int stop = enc->error;
  if (stop != OSTREL_OK && stop != OSTREL_ERR_STOPPED && stop != OSTREL_ERR_INTERNAL && stop != OSTREL_ERR_FRAME_VALUE) {
    return stop;
  }
  const int done = stop == OSTREL_ERR_STOPPED ? OSTREL_OK : stop;
  enc->engine.FlushBits();
  if (!enc->sink.Flush() || enc->engine.WriteFailed()) return enc->error = OSTREL_ERR_WRITE;
  if (enc->seek == nullptr) return done;
  // The fixed part with the frame count and, with fields, everything up to LENGTH's value: the
  // sample frames written, as far as the frames coded hold them.
  const uint64_t held = static_cast<uint64_t>(ostrel_stream_samples(2 * enc->DataRate, enc->frames));
  std::string title, author, comment;
  size_t at = 0;
  enc->tags.HeaderStrings(ostrel::LengthValue(std::min(enc->pushed, held)), &title, &author, &comment, &at);
  std::vector<unsigned char> fixed = ostrel::FileHeaderBytes(
      title.c_str(), author.c_str(), comment.c_str(), enc->DataRate, static_cast<unsigned short>(STREAM_SAMPLE_RATE),
      static_cast<unsigned char>(STREAM_CHANNELS), enc->frames);
  fixed.resize(at != 0 ? at + ostrel::LENGTH_DIGITS : ostrel::FILE_HEADER_FIXED_BYTES);
  if (enc->seek(enc->user, 0) != 0) return done != OSTREL_OK ? done : (enc->error = OSTREL_ERR_SEEK);
  if (enc->sink.Put(fixed.data(), fixed.size()), !enc->sink.Flush()) return enc->error = OSTREL_ERR_WRITE;
  return done;
}

}  // namespace

extern "C" int ostrel_encoder_finish(ostrel_encoder* enc) {
  if (enc == nullptr) return OSTREL_ERR_ARGUMENT;
  if (enc->finished) return enc->error != OSTREL_OK ? enc->error : OSTREL_ERR_STATE;
  enc->finished = true;
  return enc->Guarded([enc] { return FinishStream(enc); });
}

extern "C" uint32_t ostrel_encoder_frames(const ostrel_encoder* enc) { return enc != nullptr ? enc->frames : 0; }

extern "C" uint64_t ostrel_encoder_clipped(const ostrel_encoder* enc) { return enc != nullptr ? enc->clipped : 0; }

extern "C" void ostrel_encoder_destroy(ostrel_encoder* enc) { delete enc; }
