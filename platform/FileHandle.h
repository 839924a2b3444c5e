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
// On Windows the name is converted to the system's wide form, the file may be removed while it
// is open (as on POSIX systems), so that an interrupted output can be taken away, and the /dev
// names below work as on Linux.
std::FILE* OpenFile(const std::string& path, const char* mode);

// The same for reading through a descriptor of the C runtime (close it with close); -1 with errno.
int OpenForReading(const std::string& path);

#if defined(_WIN32)
// The names the programs use for what Linux keeps under /dev: "/dev/null" is Windows' NUL, and
// "/dev/stdin" and "/dev/stdout", which Windows does not name, are the open descriptors 0 and 1.
extern const char* const NULL_DEVICE_NAME;      // "/dev/null"
extern const char* const STANDARD_INPUT_NAME;   // "/dev/stdin"
extern const char* const STANDARD_OUTPUT_NAME;  // "/dev/stdout"
// The wide name Windows knows the file `path` (UTF-8) by.
std::wstring WindowsFileName(const std::string& path);
#endif

}  // namespace ostrel
