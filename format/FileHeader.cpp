#include "format/FileHeader.h"

#include <cstring>

#include "platform/ByteOrder.h"

namespace ostrel {

namespace {

void PutString(std::vector<unsigned char>& out, const char* text, std::size_t maxLength, int lengthBytes) {
  std::size_t length = text != nullptr ? std::strlen(text) : 0;
  length &= maxLength;  // the length field keeps the low 8 or 16 bits
  AppendLE(out, static_cast<unsigned>(length), lengthBytes);
  out.insert(out.end(), text, text + length);
}

void PutFixedPart(std::vector<unsigned char>& out, unsigned char DataRate, unsigned short SampleRate,
                  unsigned char Channels, uint32_t Frames) {
  out.insert(out.end(), FILE_MAGIC, FILE_MAGIC + FILE_MAGIC_BYTES);
  out.push_back(FILE_VERSION);
  out.push_back(DataRate);
  AppendLE(out, SampleRate, 2);
  out.push_back(Channels);
  AppendLE(out, Frames, 4);
}

// Reads `bytes` little-endian bytes; false when the file ends first.
bool ReadLE(unsigned* value, int bytes, std::FILE* fptr) {
  unsigned char raw[4] = {0, 0, 0, 0};
  const bool complete = std::fread(raw, 1, static_cast<std::size_t>(bytes), fptr) == static_cast<std::size_t>(bytes);
  *value = GetLE(raw, bytes);
  return complete;
}

// The rate, sample rate, channels and frame count of the fixed part at `p`.
void DecodeFixedPart(const unsigned char* p, FileHeaderFields* fields) {
  fields->DataRate = p[FILE_RATE_OFFSET];
  fields->SampleRate = static_cast<unsigned short>(GetLE(p + FILE_SAMPLE_RATE_OFFSET, 2));
  fields->Channels = p[FILE_CHANNELS_OFFSET];
  fields->Frames = GetLE(p + FILE_FRAMES_OFFSET, 4);
}

bool ReadString(char* text, int lengthBytes, std::FILE* fptr) {
  unsigned length = 0;
  bool complete = ReadLE(&length, lengthBytes, fptr);
  std::size_t got = 0;
  if (complete && length != 0) {
    got = std::fread(text, 1, length, fptr);
    complete = got == length;
  }
  text[got] = '\0';
  return complete;
}

}  // namespace

std::vector<unsigned char> FileHeaderBytes(const char* Title, const char* Author, const char* Comments,
                                           unsigned char DataRate, unsigned short SampleRate,
                                           unsigned char Channels, uint32_t Frames) {
  std::vector<unsigned char> out;
  PutFixedPart(out, DataRate, SampleRate, Channels, Frames);
  PutString(out, Title, FILE_TITLE_MAX, 1);
  PutString(out, Author, FILE_TITLE_MAX, 1);
  PutString(out, Comments, FILE_COMMENTS_MAX, 2);
  return out;
}

int ParseFileHeader(const unsigned char* data, std::size_t bytes, FileHeaderFields* fields) {
  *fields = FileHeaderFields{};
  const std::size_t lead = bytes < FILE_MAGIC_BYTES ? bytes : FILE_MAGIC_BYTES;
  if (std::memcmp(data, FILE_MAGIC, lead) != 0) return FILE_HEADER_FOREIGN;
  if (bytes > FILE_VERSION_OFFSET && data[FILE_VERSION_OFFSET] != FILE_VERSION) return FILE_HEADER_FOREIGN;
  // Fixed part and the title's length field.
  std::size_t need = FILE_HEADER_FIXED_BYTES + 1;
  fields->HeaderBytes = need;
  if (bytes < need) return FILE_HEADER_SHORT;
  DecodeFixedPart(data, fields);
  const int lengthBytes[3] = {1, 1, 2};
  std::size_t* offsets[3] = {&fields->TitleOffset, &fields->AuthorOffset, &fields->CommentsOffset};
  std::size_t* lengths[3] = {&fields->TitleBytes, &fields->AuthorBytes, &fields->CommentsBytes};
  std::size_t at = FILE_HEADER_FIXED_BYTES;
  for (int k = 0; k < 3; ++k) {
    need = at + static_cast<std::size_t>(lengthBytes[k]);
    fields->HeaderBytes = need;
    if (bytes < need) return FILE_HEADER_SHORT;
    const std::size_t length = GetLE(data + at, lengthBytes[k]);
    at = need;
    *offsets[k] = at;
    *lengths[k] = length;
    at += length;
    fields->HeaderBytes = at;
    if (bytes < at) return FILE_HEADER_SHORT;
  }
  return FILE_HEADER_OK;
}

void WriteFileHeader(const char* Title, const char* Author, const char* Comments, unsigned char DataRate,
                     unsigned short SampleRate, unsigned char Channels, std::FILE* fptr) {
  const std::vector<unsigned char> bytes = FileHeaderBytes(Title, Author, Comments, DataRate, SampleRate, Channels, 0);
  std::fwrite(bytes.data(), 1, bytes.size(), fptr);
}

void UpdateFileHeader(unsigned char DataRate, unsigned short SampleRate, unsigned char Channels,
                      unsigned int Frames, std::FILE* fptr) {
  // Where the stream cannot seek, the bytes would land after the frames instead of over the header.
  if (std::fseek(fptr, 0, SEEK_SET) != 0) return;
  std::vector<unsigned char> fixed;
  PutFixedPart(fixed, DataRate, SampleRate, Channels, Frames);
  std::fwrite(fixed.data(), 1, fixed.size(), fptr);
}

int ReadFileHeader(char* Title, char* Author, char* Comments, unsigned char* DataRate,
                   unsigned short* SampleRate, unsigned char* Channels, unsigned int* Frames,
                   std::FILE* fptr) {
  int result = 0;
  // The fixed part (what the file holds of it; the rest reads as zeros), judged and decoded as
  // ParseFileHeader does: the magic and version decide the result, every field is read on.
  unsigned char fixed[FILE_HEADER_FIXED_BYTES] = {};
  if (std::fread(fixed, 1, sizeof fixed, fptr) != sizeof fixed) result = -1;
  if (std::memcmp(fixed, FILE_MAGIC, FILE_MAGIC_BYTES) != 0 || fixed[FILE_VERSION_OFFSET] != FILE_VERSION) result = -1;
  FileHeaderFields fields;
  DecodeFixedPart(fixed, &fields);
  *DataRate = fields.DataRate;
  *SampleRate = fields.SampleRate;
  *Channels = fields.Channels;
  *Frames = fields.Frames;

  // A header cut short must not pass as a good one.
  if (!ReadString(Title, 1, fptr)) result = -1;
  if (!ReadString(Author, 1, fptr)) result = -1;
  if (!ReadString(Comments, 2, fptr)) result = -1;
  return result;
}

}  // namespace ostrel
