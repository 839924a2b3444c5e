#include "format/FileHeader.h"

#include <cstring>

namespace ostrel {

namespace {

void PutByte(unsigned value, std::FILE* fptr) { std::fputc(static_cast<int>(value & 0xFFu), fptr); }

void PutLE(unsigned value, int bytes, std::FILE* fptr) {
  for (int i = 0; i < bytes; ++i) PutByte(value >> (8 * i), fptr);
}

void WriteFixedPart(unsigned char DataRate, unsigned short SampleRate, unsigned char Channels,
                    unsigned int Frames, std::FILE* fptr) {
  std::fwrite(FILE_MAGIC, 1, 5, fptr);
  PutByte(FILE_VERSION, fptr);
  PutByte(DataRate, fptr);
  PutLE(SampleRate, 2, fptr);
  PutByte(Channels, fptr);
  PutLE(Frames, 4, fptr);
}

void WriteString(const char* text, std::size_t maxLength, int lengthBytes, std::FILE* fptr) {
  std::size_t length = text != nullptr ? std::strlen(text) : 0;
  length &= maxLength;  // the length field keeps the low 8 or 16 bits
  PutLE(static_cast<unsigned>(length), lengthBytes, fptr);
  if (length != 0) std::fwrite(text, 1, length, fptr);
}

// Reads `bytes` little-endian bytes; false when the file ends first.
bool GetLE(unsigned* value, int bytes, std::FILE* fptr) {
  *value = 0;
  for (int i = 0; i < bytes; ++i) {
    int c = std::fgetc(fptr);
    if (c == EOF) return false;
    *value |= static_cast<unsigned>(c) << (8 * i);
  }
  return true;
}

bool ReadString(char* text, int lengthBytes, std::FILE* fptr) {
  unsigned length = 0;
  bool complete = GetLE(&length, lengthBytes, fptr);
  std::size_t got = 0;
  if (complete && length != 0) {
    got = std::fread(text, 1, length, fptr);
    complete = got == length;
  }
  text[got] = '\0';
  return complete;
}

}  // namespace

void WriteFileHeader(const char* Title, const char* Author, const char* Comments, unsigned char DataRate,
                     unsigned short SampleRate, unsigned char Channels, std::FILE* fptr) {
  WriteFixedPart(DataRate, SampleRate, Channels, 0, fptr);
  WriteString(Title, FILE_TITLE_MAX, 1, fptr);
  WriteString(Author, FILE_TITLE_MAX, 1, fptr);
  WriteString(Comments, FILE_COMMENTS_MAX, 2, fptr);
}

void UpdateFileHeader(unsigned char DataRate, unsigned short SampleRate, unsigned char Channels,
                      unsigned int Frames, std::FILE* fptr) {
  // Where the stream cannot seek, the bytes would land after the frames instead of over the header.
  if (std::fseek(fptr, 0, SEEK_SET) != 0) return;
  WriteFixedPart(DataRate, SampleRate, Channels, Frames, fptr);
}

int ReadFileHeader(char* Title, char* Author, char* Comments, unsigned char* DataRate,
                   unsigned short* SampleRate, unsigned char* Channels, unsigned int* Frames,
                   std::FILE* fptr) {
  int result = 0;
  char magic[6] = {0, 0, 0, 0, 0, 0};
  if (std::fread(magic, 1, 5, fptr) != 5) result = -1;
  magic[5] = '\0';
  if (std::strcmp(magic, FILE_MAGIC) != 0) result = -1;

  unsigned value = 0;
  if (!GetLE(&value, 1, fptr) || value != FILE_VERSION) result = -1;
  if (!GetLE(&value, 1, fptr)) result = -1;
  *DataRate = static_cast<unsigned char>(value);
  if (!GetLE(&value, 2, fptr)) result = -1;
  *SampleRate = static_cast<unsigned short>(value);
  if (!GetLE(&value, 1, fptr)) result = -1;
  *Channels = static_cast<unsigned char>(value);
  if (!GetLE(&value, 4, fptr)) result = -1;
  *Frames = value;

  // A header cut short must not pass as a good one.
  if (!ReadString(Title, 1, fptr)) result = -1;
  if (!ReadString(Author, 1, fptr)) result = -1;
  if (!ReadString(Comments, 2, fptr)) result = -1;
  return result;
}

}  // namespace ostrel
