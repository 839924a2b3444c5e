// The compressed file header: magic, version, rate code, sample rate, channels, frame count and
// three free-text strings. All multi-byte fields are little-endian.
#pragma once

#include <cstddef>
#include <cstdio>

namespace ostrel {

constexpr char FILE_MAGIC[] = "Zelk1";               // 5 bytes in the file, no terminator
constexpr unsigned char FILE_VERSION = 1;
constexpr std::size_t FILE_HEADER_FIXED_BYTES = 14;  // magic .. frame count; patched in place
constexpr std::size_t FILE_FRAMES_OFFSET = 10;       // bytes from the start to the frame count
constexpr std::size_t FILE_TITLE_MAX = 255;          // bytes (8-bit length field)
constexpr std::size_t FILE_COMMENTS_MAX = 65535;     // bytes (16-bit length field)

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
