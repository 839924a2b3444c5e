// Test-only helpers: a Bitstream writer whose bits can be read back as a string of '0'/'1', and a
// Bitstream reader over given bytes.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "format/Bitstream.h"

namespace ostrel::test {

class BitSink {
 public:
  BitSink() : file_(std::tmpfile()), out(file_, 1) {}
  ~BitSink() { std::fclose(file_); }
  // Closes the writer and returns the first `bits` bits written, as '0'/'1'.
  std::string Bits(uint64_t bits) {
    out.close();
    std::fflush(file_);
    std::rewind(file_);
    std::string s;
    for (int c; (c = std::fgetc(file_)) != EOF;) {
      for (int b = 7; b >= 0; --b) s += ((c >> b) & 1) ? '1' : '0';
    }
    return s.substr(0, bits);
  }
  std::string AllBits() { return Bits(out.BitCount()); }
  std::vector<unsigned char> Bytes() {
    std::string s = AllBits();
    std::vector<unsigned char> bytes((s.size() + 7) / 8, 0);
    for (size_t i = 0; i < s.size(); ++i) bytes[i / 8] |= (s[i] == '1') << (7 - i % 8);
    return bytes;
  }

 private:
  std::FILE* file_;

 public:
  Bitstream out;
};

class BitSource {
 public:
  explicit BitSource(const std::vector<unsigned char>& bytes) : file_(Fill(bytes)), in(file_, 0) {}
  ~BitSource() { std::fclose(file_); }

 private:
  static std::FILE* Fill(const std::vector<unsigned char>& bytes) {
    std::FILE* f = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
  }
  std::FILE* file_;

 public:
  Bitstream in;
};

}  // namespace ostrel::test
