#include "platform/FileHandle.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/Utf8.h"
#else
#include <fcntl.h>
#endif

namespace ostrel {

#if defined(_WIN32)

const char* const NULL_DEVICE_NAME = "/dev/null";
const char* const STANDARD_INPUT_NAME = "/dev/stdin";
const char* const STANDARD_OUTPUT_NAME = "/dev/stdout";

std::wstring WindowsFileName(const std::string& path) {
  return path == NULL_DEVICE_NAME ? L"NUL" : WideFromUtf8(path);
}

namespace {

HANDLE CreateShared(const std::string& path, bool write) {
  return CreateFileW(WindowsFileName(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int OpenForReading(const std::string& path) {
  if (path == STANDARD_INPUT_NAME) return _dup(0);
  HANDLE h = CreateShared(path, false);
  if (h == INVALID_HANDLE_VALUE) {
    errno = ErrnoOfWindowsError(GetLastError());
    return -1;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    errno = EMFILE;
  }
  return fd;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  const bool write = std::strchr(mode, 'w') != nullptr;
  if ((!write && path == STANDARD_INPUT_NAME) || (write && path == STANDARD_OUTPUT_NAME)) {
    const int fd = _dup(write ? 1 : 0);
    std::FILE* f = fd >= 0 ? _fdopen(fd, write ? "wb" : "rb") : nullptr;
    if (f == nullptr && fd >= 0) _close(fd);
    return f;
  }
  HANDLE h = CreateShared(path, write);
  if (h == INVALID_HANDLE_VALUE) {
    errno = ErrnoOfWindowsError(GetLastError());
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), (write ? _O_WRONLY : _O_RDONLY) | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    errno = EMFILE;
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, write ? "wb" : "rb");
  if (f == nullptr) _close(fd);
  return f;
}

#else

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

int OpenForReading(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

#endif

}  // namespace ostrel
