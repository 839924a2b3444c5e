#include "audio/Waveio.h"

#include "platform/ByteOrder.h"
#include "platform/StreamConstants.h"

#include "audio/MCI_Buffer.h"
#include "audio/RiffChunk.h"
#include "platform/FileHandle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

namespace ostrel {

namespace {

constexpr uint32_t kSizeUnknown = 0xFFFFFFFFu;  // data size written by streaming writers
constexpr uint32_t kChunkHeaderBytes = RIFF_CHUNK_HEADER_BYTES;
constexpr uint32_t kFmtExtensibleBytes = 40;    // fmt chunk body of WAVE_FORMAT_EXTENSIBLE
constexpr uint32_t kSubFormatOffset = 24;       // bytes into that body
// INFO text kept of one tag: one byte more than the longest header field (65535 bytes), so that
// a longer tag is still seen to be too long rather than cut to fit.
constexpr uint64_t kMaxTagBytes = 65536;

// The PCM sub-format identifier after its first four bytes, which hold the format code 1.
constexpr unsigned char kPcmGuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                            0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

void SetTag(char* tag, const char* text) {
  std::memcpy(tag, text, 4);
  tag[4] = '\0';
}

bool ReadExact(std::FILE* f, unsigned char* p, size_t n) { return std::fread(p, 1, n, f) == n; }

// Moves `n` bytes forward: seeks where the file allows it, reads and drops the bytes otherwise.
bool Skip(std::FILE* f, uint64_t n) {
  if (n == 0) return true;
  if (n <= 0x7FFFFFFF && fseeko(f, static_cast<off_t>(n), SEEK_CUR) == 0) return true;
  unsigned char scratch[4096];
  while (n > 0) {
    size_t step = n < sizeof scratch ? static_cast<size_t>(n) : sizeof scratch;
    size_t got = std::fread(scratch, 1, step, f);
    if (got == 0) return false;
    n -= got;
  }
  return true;
}

int16_t Sample(const unsigned char* p) { return static_cast<int16_t>(Get16(p)); }

// The first (a) and, in stereo, second (b) sample of frame n from `got` bytes read into `p`;
// a sample the file did not hold is 0.
void FrameSamples(const unsigned char* p, size_t got, size_t n, bool stereo, int* a, int* b) {
  const size_t at = n * (stereo ? 4 : 2);
  *a = at + 2 <= got ? Sample(p + at) : 0;
  *b = stereo && at + 4 <= got ? Sample(p + at + 2) : 0;
}


// The "fmt " chunk of a WAV header and the "data" chunk's header after it (32 bytes at `at`),
// with `dataSize` as the data chunk's size: the canonical header and the RF64 one share them.
void PutFormatAndData(unsigned char* at, const WaveHeader& h, uint32_t dataSize) {
  std::memcpy(at, h.Format, 4);
  Put32(at + 4, h.Fmt);
  Put16(at + 8, h.Code);
  Put16(at + 10, h.nChan);
  Put32(at + 12, h.sRate);
  Put32(at + 16, h.BytePerSec);
  Put16(at + 20, h.Blocks);
  Put16(at + 22, h.BitsPerSample);
  std::memcpy(at + 24, h.DataName, 4);
  Put32(at + 28, dataSize);
}

}  // namespace

Waveio::Waveio(const char* filename, int intype) : Waveio(filename, intype, 0) {}

Waveio::Waveio(const char* filename, int intype, int inSumDiff) {
  SumDiff = inSumDiff;
  type = intype;
  std::FILE* stream = nullptr;
  if (type == WAVE_READ) stream = OpenFile(filename, "rb");
  if (type == WAVE_WRITE) stream = OpenFile(filename, "wb");
  Start(stream);
}

Waveio::Waveio(std::FILE* stream, int intype) {
  type = intype;
  Start(stream);
}

void Waveio::Start(std::FILE* stream) {
  wave = std::make_unique<WaveHeader>();
  std::memset(wave.get(), 0, sizeof(WaveHeader));
  if (type != WAVE_READ && type != WAVE_WRITE) {
    if (stream != nullptr) std::fclose(stream);
    SetError(WAVE_ERROR_MODE);
    return;
  }
  fptr = stream;
  if (type == WAVE_READ) {
    OpenForReading();
  } else {
    OpenForWriting();
  }
}

Waveio::Waveio(WavePull pull) : pull_(std::move(pull)) {
  type = WAVE_PULL;
  StereoFile = StereoIO = 1;
}

Waveio::Waveio() : Waveio(0) {}

Waveio::Waveio(int inSumDiff) : Waveio(inSumDiff, SoundCardSettings{}) {}

Waveio::Waveio(int inSumDiff, const SoundCardSettings& settings) {
  SumDiff = inSumDiff;
  type = WAVE_SOUNDCARD;
  StereoIO = StereoFile = 1;
  buffer = std::make_unique<MCI_Buffer>(settings);
}

Waveio::~Waveio() {
  if (fptr != nullptr) std::fclose(fptr);
}

void Waveio::OpenForReading() {
  if (fptr == nullptr) {
    SetError(WAVE_ERROR_OPEN);
    return;
  }
  if (!ReadChunks()) {
    // Never read a file of another kind as audio.
    SetError(WAVE_ERROR_FORMAT);
    std::fclose(fptr);
    fptr = nullptr;
    atEnd_ = true;
    return;
  }
  StereoFile = StereoIO = (wave->nChan == 2) ? 1 : 0;
}

bool Waveio::ReadChunks() {
  WaveHeader& h = *wave;
  unsigned char riff[12];
  if (!ReadExact(fptr, riff, sizeof riff)) return false;
  std::memcpy(h.RiffID, riff, 4);
  h.RiffLen = Get32(riff + 4);
  std::memcpy(h.FileTypeName, riff + 8, 4);
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) return false;

  uint64_t position = sizeof riff;  // bytes from the start of the file
  bool haveFmt = false, haveData = false, subFormatPcm = false;
  uint64_t dataStart = 0;
  uint32_t dataSize = 0;
  while (!(haveFmt && haveData)) {
    RiffChunk chunk;
    if (!ReadRiffChunk(fptr, &chunk)) break;
    position += kChunkHeaderBytes;
    const uint32_t size = chunk.size;
    const uint64_t padded = chunk.Padded();
    if (!haveFmt && chunk.Is("fmt ")) {
      haveFmt = true;
      SetTag(h.Format, "fmt ");
      h.Fmt = size;
      if (size < WAVE_FMT_PCM_BYTES) return false;
      unsigned char body[kFmtExtensibleBytes];
      const uint32_t bodyBytes = size >= kFmtExtensibleBytes ? kFmtExtensibleBytes : WAVE_FMT_PCM_BYTES;
      if (!ReadExact(fptr, body, bodyBytes)) return false;
      h.Code = Get16(body);
      h.nChan = Get16(body + 2);
      h.sRate = Get32(body + 4);
      h.BytePerSec = Get32(body + 8);
      h.Blocks = Get16(body + 12);
      h.BitsPerSample = Get16(body + 14);
      if (bodyBytes == kFmtExtensibleBytes) {
        const unsigned char* guid = body + kSubFormatOffset;
        subFormatPcm = Get32(guid) == WAVE_FORMAT_PCM && std::memcmp(guid + 4, kPcmGuidTail, 12) == 0;
      }
      if (!Skip(fptr, padded - bodyBytes)) return false;
      position += padded;
    } else if (!haveData && chunk.Is("data")) {
      haveData = true;
      SetTag(h.DataName, "data");
      dataStart = position;
      dataSize = size;
      if (haveFmt) break;
      // The format chunk follows the samples: step over them to find it, then come back.
      if (size == kSizeUnknown || !Skip(fptr, padded)) break;
      position += padded;
    } else if (chunk.Is("LIST")) {
      if (!ReadListChunk(size) || !Skip(fptr, padded - size)) break;
      position += padded;
    } else {
      if (!Skip(fptr, padded)) break;
      position += padded;
    }
  }
  if (!haveFmt || !haveData) return false;

  const bool pcm = h.Code == WAVE_FORMAT_PCM || (h.Code == WAVE_FORMAT_EXTENSIBLE && subFormatPcm);
  if (!pcm || h.BitsPerSample != 16 || (h.nChan != 1 && h.nChan != 2)) return false;

  // How many sample bytes are really there. A streaming writer that never came back leaves a data
  // size of 0xFFFFFFFF, or 0 with a RIFF size that ends before the samples.
  const bool riffUnpatched = h.RiffLen == 0 || h.RiffLen == kSizeUnknown ||
                             static_cast<uint64_t>(h.RiffLen) + kChunkHeaderBytes <= dataStart;
  struct stat st;
  uint64_t length = dataSize;
  const bool regular = fstat(fileno(fptr), &st) == 0 && S_ISREG(st.st_mode);
  if (regular) {
    const uint64_t fileBytes = static_cast<uint64_t>(st.st_size);
    const uint64_t present = fileBytes > dataStart ? fileBytes - dataStart : 0;
    if (dataSize == kSizeUnknown || dataSize > present || (dataSize == 0 && riffUnpatched && present > 0)) {
      length = present;
    }
  } else if (dataSize == kSizeUnknown || (dataSize == 0 && riffUnpatched)) {
    length = UINT64_MAX;  // not a regular file: read until the stream ends
  }
  h.nSamples = length > kSizeUnknown ? kSizeUnknown : static_cast<uint32_t>(length);
  dataLeft_ = length;
  // Tags may also follow the samples; only a file that can seek is looked at there.
  if (regular && fseeko(fptr, static_cast<off_t>(dataStart + length + (length & 1u)), SEEK_SET) == 0) {
    RiffChunk chunk;
    while (ReadRiffChunk(fptr, &chunk)) {
      if (chunk.Is("LIST")) {
        if (!ReadListChunk(chunk.size) || !Skip(fptr, chunk.size & 1u)) break;
      } else if (!Skip(fptr, chunk.Padded())) {
        break;
      }
    }
    position = UINT64_MAX;  // forces the seek back to the samples
  }
  // A stated size that the file does not hold is still what was promised.
  const bool sizeStated = dataSize != kSizeUnknown && !(dataSize == 0 && riffUnpatched);
  if (length == UINT64_MAX) {
    promised_ = 0;  // a stream without a stated size promises nothing
  } else {
    promised_ = sizeStated && dataSize > length ? dataSize : length;
  }
  if (position != dataStart && fseeko(fptr, static_cast<off_t>(dataStart), SEEK_SET) != 0) return false;
  return true;
}

bool Waveio::ReadListChunk(uint32_t size) {
  // Form type, then entries of a tag, a size and the text, each padded to an even size.
  unsigned char form[4];
  if (size < sizeof form) return Skip(fptr, size);
  if (!ReadExact(fptr, form, sizeof form)) return false;
  uint64_t left = size - sizeof form;
  if (std::memcmp(form, "INFO", 4) != 0) return Skip(fptr, left);
  while (left >= kChunkHeaderBytes) {
    unsigned char entry[kChunkHeaderBytes];
    if (!ReadExact(fptr, entry, sizeof entry)) return false;
    left -= sizeof entry;
    const uint64_t textBytes = Get32(entry + 4);
    const uint64_t padded = textBytes + (textBytes & 1u);
    std::string* into = nullptr;
    if (std::memcmp(entry, "INAM", 4) == 0) into = &tags.INAM;
    if (std::memcmp(entry, "IART", 4) == 0) into = &tags.IART;
    if (std::memcmp(entry, "ICMT", 4) == 0) into = &tags.ICMT;
    if (padded > left) return Skip(fptr, left);  // an entry running past its chunk is dropped
    if (into != nullptr) {
      // A size field is no promise that the text is there: never hold more than a tag can use.
      const uint64_t keep = textBytes < kMaxTagBytes ? textBytes : kMaxTagBytes;
      into->resize(static_cast<size_t>(keep));
      if (keep > 0 && !ReadExact(fptr, reinterpret_cast<unsigned char*>(&(*into)[0]), keep)) return false;
      into->resize(std::strlen(into->c_str()));  // the text ends at its first terminator
      if (!Skip(fptr, padded - keep)) return false;
    } else if (!Skip(fptr, padded)) {
      return false;
    }
    left -= padded;
  }
  return Skip(fptr, left);
}

void Waveio::OpenForWriting() {
  count = 0;
  StereoIO = StereoFile = 1;
  if (fptr == nullptr) {
    SetError(WAVE_ERROR_OPEN);
    return;
  }
  // A stream of unknown position cannot be come back to either.
  sizesUnknown_ = lseek(fileno(fptr), 0, SEEK_CUR) < 0;
  WaveHeader& h = *wave;
  SetTag(h.RiffID, "RIFF");
  h.RiffLen = sizesUnknown_ ? kSizeUnknown : WAVE_HEADER_BYTES - kChunkHeaderBytes;
  SetTag(h.FileTypeName, "WAVE");
  SetTag(h.Format, "fmt ");
  h.Fmt = WAVE_FMT_PCM_BYTES;
  h.Code = WAVE_FORMAT_PCM;
  h.nChan = STREAM_CHANNELS;
  h.sRate = STREAM_SAMPLE_RATE;
  h.BytePerSec = STREAM_BYTES_PER_SECOND;
  h.Blocks = STREAM_FRAME_BYTES;
  h.BitsPerSample = STREAM_SAMPLE_BITS;
  SetTag(h.DataName, "data");
  h.nSamples = sizesUnknown_ ? kSizeUnknown : 0;
  WriteHeader();
}

bool Waveio::UseRf64() {
  if (type != WAVE_WRITE || fptr == nullptr || written_ != 0) return false;
  if (sizesUnknown_ || rf64_) return true;
  if (std::fseek(fptr, 0, SEEK_SET) != 0) {
    SetError(WAVE_ERROR_WRITE);
    return true;
  }
  rf64_ = true;
  WriteRf64Header(0);
  return true;
}

void Waveio::WriteRf64Header(uint64_t frames) {
  constexpr uint32_t kDs64Bytes = 28;  // RIFF size, data size, sample count, table length 0
  const WaveHeader& h = *wave;
  const uint64_t dataBytes = frames * h.nChan * 2u;
  unsigned char b[WAVE_HEADER_BYTES + kChunkHeaderBytes + kDs64Bytes];
  const auto put64 = [](unsigned char* at, uint64_t v) {
    Put32(at, static_cast<uint32_t>(v));
    Put32(at + 4, static_cast<uint32_t>(v >> 32));
  };
  std::memcpy(b, "RF64", 4);
  Put32(b + 4, kSizeUnknown);
  std::memcpy(b + 8, "WAVE", 4);
  std::memcpy(b + 12, "ds64", 4);
  Put32(b + 16, kDs64Bytes);
  put64(b + 20, sizeof b - kChunkHeaderBytes + dataBytes);
  put64(b + 28, dataBytes);
  put64(b + 36, frames);
  Put32(b + 44, 0);
  PutFormatAndData(b + 48, h, kSizeUnknown);
  if (std::fwrite(b, 1, sizeof b, fptr) != sizeof b) SetError(WAVE_ERROR_WRITE);
}

void Waveio::WriteHeader() {
  const WaveHeader& h = *wave;
  unsigned char b[WAVE_HEADER_BYTES];
  std::memcpy(b, h.RiffID, 4);
  Put32(b + 4, h.RiffLen);
  std::memcpy(b + 8, h.FileTypeName, 4);
  PutFormatAndData(b + 12, h, h.nSamples);
  if (std::fwrite(b, 1, sizeof b, fptr) != sizeof b) SetError(WAVE_ERROR_WRITE);
}

size_t Waveio::ReadBytes(size_t bytes) {
  if (io_bytes.size() < bytes) io_bytes.resize(bytes);
  size_t got = 0;
  if (!atEnd_ && fptr != nullptr) {
    const size_t want = dataLeft_ < bytes ? static_cast<size_t>(dataLeft_) : bytes;
    got = std::fread(io_bytes.data(), 1, want, fptr);
    dataLeft_ -= got;
    read_ += got;
  }
  if (got < bytes) {
    if (!atEnd_) ranOut_ = true;
    atEnd_ = true;
  }
  return got;
}

void Waveio::WriteBytes(size_t bytes) {
  if (fptr == nullptr) return;
  if (std::fwrite(io_bytes.data(), 1, bytes, fptr) != bytes) SetError(WAVE_ERROR_WRITE);
}

int Waveio::IO(short* right, short* left, int size) {
  if (size <= 0) return 0;
  const size_t frames = static_cast<size_t>(size);
  if (type == WAVE_READ) {
    const size_t wanted = frames * (StereoFile ? 4 : 2);
    const size_t got = ReadBytes(wanted);
    for (size_t n = 0; n < frames; ++n) {
      int a, b;
      FrameSamples(io_bytes.data(), got, n, StereoFile != 0, &a, &b);
      right[n] = static_cast<short>(a);
      if (StereoFile) left[n] = static_cast<short>(b);
    }
    return got < wanted ? 1 : 0;
  }
  if (type == WAVE_WRITE) {
    if (io_bytes.size() < frames * 4) io_bytes.resize(frames * 4);
    unsigned char* p = io_bytes.data();
    for (size_t n = 0; n < frames; ++n) {
      Put16(p + 4 * n, static_cast<uint16_t>(right[n]));
      Put16(p + 4 * n + 2, static_cast<uint16_t>(left[n]));
    }
    WriteBytes(frames * 4);
    count += static_cast<uint32_t>(size);
    written_ += static_cast<uint64_t>(size);
    return 0;
  }
  if (type == WAVE_SOUNDCARD) {
    for (size_t n = 0; n < frames; ++n) AppendPair(right[n], left[n]);
    return 0;
  }
  SetError(WAVE_ERROR_MODE);
  return 0;
}

int Waveio::IO(float* right, float* left, int size) {
  if (size <= 0) return 0;
  const size_t frames = static_cast<size_t>(size);
  if (type == WAVE_PULL) {
    const size_t got = atEnd_ ? 0 : pull_(right, left, frames);
    read_ += 4u * got;
    for (size_t n = got; n < frames; ++n) right[n] = left[n] = 0.0f;
    if (got < frames) {
      if (!atEnd_) ranOut_ = true;
      atEnd_ = true;
    }
    return got < frames ? 1 : 0;
  }
  if (type == WAVE_READ) {
    const size_t wanted = frames * (StereoFile ? 4 : 2);
    const size_t got = ReadBytes(wanted);
    for (size_t n = 0; n < frames; ++n) {
      int a, b;
      FrameSamples(io_bytes.data(), got, n, StereoFile != 0, &a, &b);
      if (!StereoFile) {
        right[n] = static_cast<float>(a);
        continue;
      }
      if (SumDiff) {
        right[n] = static_cast<float>(a + b) / 2.0f;
        left[n] = static_cast<float>(a - b) / 2.0f;
      } else {
        right[n] = static_cast<float>(a);
        left[n] = static_cast<float>(b);
      }
    }
    return got < wanted ? 1 : 0;
  }
  if (type == WAVE_WRITE) {
    if (io_bytes.size() < frames * 4) io_bytes.resize(frames * 4);
    if (io_pcm.size() < frames * 2) io_pcm.resize(frames * 2);
    if (SumDiff && StereoFile) {
      for (size_t n = 0; n < frames; ++n) SumAndDifference(right[n], left[n]);
    }
    InterleavePcm(right, left, io_pcm.data(), frames);
    WritePcm(io_pcm.data(), frames);
    return 0;
  }
  if (type == WAVE_SOUNDCARD) {
    for (size_t n = 0; n < frames; ++n) {
      short first, second;
      OutputPair(right[n], left[n], &first, &second);
      AppendPair(first, second);
    }
    return 0;
  }
  SetError(WAVE_ERROR_MODE);
  return 0;
}

int Waveio::WriteInterleaved(const int16_t* pcm, int size) {
  if (size <= 0) return 0;
  const size_t frames = static_cast<size_t>(size);
  if (type == WAVE_WRITE) {
    if (io_bytes.size() < frames * 4) io_bytes.resize(frames * 4);
    WritePcm(pcm, frames);
    return 0;
  }
  if (type == WAVE_SOUNDCARD) {
    for (size_t n = 0; n < frames; ++n) AppendPair(pcm[2 * n], pcm[2 * n + 1]);
    return 0;
  }
  SetError(WAVE_ERROR_MODE);
  return 0;
}

void Waveio::WritePcm(const int16_t* pcm, size_t frames) {
  unsigned char* p = io_bytes.data();
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(p, pcm, frames * 4);
#else
  for (size_t i = 0; i < 2 * frames; ++i) Put16(p + 2 * i, static_cast<uint16_t>(pcm[i]));
#endif
  WriteBytes(frames * 4);
  count += static_cast<uint32_t>(frames);
  written_ += frames;
}

void Waveio::AppendPair(short first, short second) {
  if (buffer == nullptr) {
    SetError(WAVE_ERROR_DEVICE);
    return;
  }
  if (buffer->Append(0, first) != 0) SetError(WAVE_ERROR_DEVICE);
  if (buffer->Append(1, second) != 0) SetError(WAVE_ERROR_DEVICE);
}

void Waveio::Set_Volume(int volume) {
  if (type != WAVE_SOUNDCARD || buffer == nullptr) {
    SetError(WAVE_ERROR_MODE);
    return;
  }
  buffer->Set_Volume(volume);
}

void Waveio::Pause() {
  if (type != WAVE_SOUNDCARD || buffer == nullptr) {
    SetError(WAVE_ERROR_MODE);
    return;
  }
  buffer->Clear_Buffer();
}

void Waveio::Stop() {
  if (type != WAVE_SOUNDCARD || buffer == nullptr) {
    SetError(WAVE_ERROR_MODE);
    return;
  }
  buffer->Stop();
}

void Waveio::SumAndDifference(float& right, float& left) {
  const float whole = std::trunc(right);
  right = right + left;
  left = whole - left;
}

void Waveio::OutputPair(float& right, float& left, short* first, short* second) const {
  if (SumDiff && StereoFile) SumAndDifference(right, left);
  *first = roundfs(right);
  *second = roundfs(left);
}

void Waveio::CloseWave() {
  if (type == WAVE_READ || type == WAVE_PULL) {
    if (fptr != nullptr) std::fclose(fptr);
    fptr = nullptr;
    atEnd_ = true;
    return;
  }
  if (type == WAVE_WRITE) {
    if (fptr == nullptr) return;
    WaveHeader& h = *wave;
    const uint32_t dataBytes = count * h.nChan * 2u;
    h.RiffLen = WAVE_HEADER_BYTES - kChunkHeaderBytes + dataBytes;
    h.BytePerSec = h.sRate * h.nChan * 2u;
    h.Blocks = static_cast<uint16_t>(h.nChan * 2u);
    h.nSamples = dataBytes;
    if (!sizesUnknown_ && !rf64_ && !infoTags_.empty()) {  // an RF64 file counts its data only
      // LIST, size, "INFO", then per entry: id, size (with the terminator), text, NUL, padding.
      std::vector<unsigned char> list = {'L', 'I', 'S', 'T', 0, 0, 0, 0, 'I', 'N', 'F', 'O'};
      for (const auto& [id, text] : infoTags_) {
        if (id.size() != 4 || text.empty()) continue;
        const size_t at = list.size();
        list.resize(at + kChunkHeaderBytes);
        std::memcpy(list.data() + at, id.data(), 4);
        Put32(list.data() + at + 4, static_cast<uint32_t>(text.size() + 1));
        list.insert(list.end(), text.begin(), text.end());
        list.push_back(0);
        if (list.size() % 2 != 0) list.push_back(0);
      }
      Put32(list.data() + 4, static_cast<uint32_t>(list.size() - kChunkHeaderBytes));
      if (std::fwrite(list.data(), 1, list.size(), fptr) != list.size()) SetError(WAVE_ERROR_WRITE);
      h.RiffLen += static_cast<uint32_t>(list.size());
    }
    // A stream that cannot seek (a pipe) keeps the lengths 0xFFFFFFFF of the first header; a
    // second header would land after the samples.
    if (sizesUnknown_) {
      if (std::fflush(fptr) != 0) SetError(WAVE_ERROR_WRITE);
    } else if (std::fseek(fptr, 0, SEEK_SET) == 0) {
      if (rf64_) {
        WriteRf64Header(written_);
      } else {
        WriteHeader();
      }
    } else {
      SetError(WAVE_ERROR_WRITE);
    }
    if (std::fclose(fptr) != 0) SetError(WAVE_ERROR_WRITE);
    fptr = nullptr;
    return;
  }
  if (type == WAVE_SOUNDCARD) {
    buffer.reset();
    return;
  }
  SetError(WAVE_ERROR_MODE);
}

bool Waveio::DeviceOpened() const { return buffer != nullptr && buffer->opened != 0; }

std::string Waveio::DeviceError() const { return buffer != nullptr ? buffer->device_error : std::string(); }

uint32_t Waveio::infosamples() const {
  if (!wave) return 0;
  if (type == WAVE_WRITE) return count;
  return wave->nChan != 0 ? wave->nSamples / (2u * wave->nChan) : 0;
}

}  // namespace ostrel
