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

namespace {

HANDLE CreateShared(const std::string& path, bool write) {
  return CreateFileW(WideFromUtf8(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int OpenForReading(const std::string& path) {
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
