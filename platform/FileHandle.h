// An owning handle on a stdio stream: the stream is closed when the handle goes; and the one way
// the programs open a file by name, which takes the name in UTF-8 on every system.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace ostrel {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};

// A holder that needs the result of fclose (a write error that shows only when the buffer is
// flushed) closes it itself: std::fclose(handle.release()).
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// std::fopen for a file named in UTF-8, in binary mode "rb" or "wb"; nullptr with errno on failure.
// On Windows the name is converted to the system's wide form, and the file may be removed while
// it is open (as on POSIX systems), so that an interrupted output can be taken away.
std::FILE* OpenFile(const std::string& path, const char* mode);

// The same for reading through a descriptor of the C runtime (close it with close); -1 with errno.
int OpenForReading(const std::string& path);

}  // namespace ostrel
