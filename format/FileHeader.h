// The compressed file header: magic, version, rate code, sample rate, channels, frame count and
// three free-text strings. All multi-byte fields are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace ostrel {

constexpr char FILE_MAGIC[] = "Zelk1";               // 5 bytes in the file, no terminator
constexpr unsigned char FILE_VERSION = 1;
constexpr std::size_t FILE_HEADER_FIXED_BYTES = 14;  // magic .. frame count; patched in place
// Bytes from the start to the fields of the fixed part (after the magic and the version).
constexpr std::size_t FILE_VERSION_OFFSET = 5;
constexpr std::size_t FILE_RATE_OFFSET = 6;
constexpr std::size_t FILE_SAMPLE_RATE_OFFSET = 7;
constexpr std::size_t FILE_CHANNELS_OFFSET = 9;
constexpr std::size_t FILE_FRAMES_OFFSET = 10;
constexpr std::size_t FILE_TITLE_MAX = 255;          // bytes (8-bit length field)
constexpr std::size_t FILE_COMMENTS_MAX = 65535;     // bytes (16-bit length field)

constexpr std::size_t FILE_MAGIC_BYTES = sizeof FILE_MAGIC - 1;  // no terminator in the file
// Bytes of the longest header: the fixed part, three length fields and the longest strings.
constexpr std::size_t FILE_HEADER_MAX_BYTES = FILE_HEADER_FIXED_BYTES + 1 + 1 + 2 + 2 * FILE_TITLE_MAX +
                                              FILE_COMMENTS_MAX;

// The whole header as bytes, as WriteFileHeader writes it, with the frame count `Frames`. A string
// longer than its length field is cut to the field's width (callers that must not cut check the
// lengths first). Null strings are empty.
std::vector<unsigned char> FileHeaderBytes(const char* Title, const char* Author, const char* Comments,
                                           unsigned char DataRate, unsigned short SampleRate,
                                           unsigned char Channels, uint32_t Frames);

// What a header in memory holds. The strings are not copied: each is a span of the parsed bytes.
struct FileHeaderFields {
  unsigned char DataRate = 0;
  unsigned short SampleRate = 0;
  unsigned char Channels = 0;
  uint32_t Frames = 0;
  std::size_t TitleOffset = 0, TitleBytes = 0;  // offsets from the start of the header
  std::size_t AuthorOffset = 0, AuthorBytes = 0;
  std::size_t CommentsOffset = 0, CommentsBytes = 0;
  std::size_t HeaderBytes = 0;  // the whole header; while it is cut short, the bytes needed so far
};

// Results of ParseFileHeader.
constexpr int FILE_HEADER_OK = 0;
constexpr int FILE_HEADER_FOREIGN = -1;  // wrong magic or version
constexpr int FILE_HEADER_SHORT = -2;    // more bytes are needed: at least fields->HeaderBytes

// Parses a header from the `bytes` bytes at `data` (borrowed). The magic and version are judged
// first, on the bytes there are: FILE_HEADER_FOREIGN as soon as they cannot be ours.
int ParseFileHeader(const unsigned char* data, std::size_t bytes, FileHeaderFields* fields);

// Writes the whole header at the current position of `fptr` with a frame count of 0. A string
// longer than its length field is cut to the field's width.
void WriteFileHeader(const char* Title, const char* Author, const char* Comments, unsigned char DataRate,
                     unsigned short SampleRate, unsigned char Channels, std::FILE* fptr);

// Rewrites the fixed 14 bytes at the start of the file with the given frame count and leaves the
// file position at offset 14. Writes nothing when `fptr` cannot seek to its start (a pipe).
void UpdateFileHeader(unsigned char DataRate, unsigned short SampleRate, unsigned char Channels,
                      unsigned int Frames, std::FILE* fptr);

// Reads a header from the current position of `fptr`. `Title` and `Author` must hold 256 bytes,
// `Comments` 65536; each is zero-terminated. Returns 0 when the magic and version are right and
// the whole header was there; -1 otherwise (every field is still read as far as the file goes).
[[nodiscard]] int ReadFileHeader(char* Title, char* Author, char* Comments, unsigned char* DataRate,
                   unsigned short* SampleRate, unsigned char* Channels, unsigned int* Frames,
                   std::FILE* fptr);

}  // namespace ostrel
