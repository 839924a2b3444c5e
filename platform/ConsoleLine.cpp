// The part of reading a line that is the same on every system: bytes up to the line end.
#include "platform/Console.h"

namespace ostrel {

bool Console::ReadLineBytes(std::string& line) {
  bool any = false;
  unsigned char c = 0;
  if (pending_ >= 0) {
    c = static_cast<unsigned char>(pending_);
    pending_ = -1;
    any = true;
    if (c == '\n') return true;
    line += static_cast<char>(c);
  }
  while (ReadByte(fd_, &c) == 1) {
    any = true;
    if (c == '\n') break;
    line += static_cast<char>(c);
  }
  if (!any) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

}  // namespace ostrel
