// Output files on Windows: identities from the volume and file index, a temporary file committed
// with MoveFileExW, exclusive writing through the share mode.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/FileHandle.h"
#include "platform/OutputFile.h"
#include "platform/Utf8.h"

namespace ostrel {

namespace {

constexpr const char* kTemporarySuffix = ".part-";  // six hexadecimal digits follow
constexpr size_t kTemporaryDigits = 6;
constexpr size_t kNameMax = 255;  // characters of one name on NTFS and FAT

std::string Reason(DWORD error) { return std::strerror(ErrnoOfWindowsError(error)); }

bool IsStandardOutput(const std::string& path) { return path == STANDARD_OUTPUT_NAME; }

std::wstring WideName(const std::string& path) { return WindowsFileName(path); }

FileId IdOfHandle(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info)) return FileId{};
  FileId id;
  id.known = true;
  id.device = info.dwVolumeSerialNumber;
  id.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return id;
}

// Attributes of `path` without following a link; INVALID_FILE_ATTRIBUTES when it is not there.
DWORD AttributesOf(const std::string& path) {
  if (path == NULL_DEVICE_NAME || IsStandardOutput(path)) return FILE_ATTRIBUTE_DEVICE;
  return GetFileAttributesW(WideName(path).c_str());
}

bool IsFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A name that is not a file on a disk: a device (NUL, CON, COM1, ...) or a link.
bool NotPlain(const std::string& path) {
  if (path == NULL_DEVICE_NAME || IsStandardOutput(path)) return true;
  const DWORD attributes = AttributesOf(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
  HANDLE h = CreateFileW(WideName(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool device = GetFileType(h) != FILE_TYPE_DISK;
  CloseHandle(h);
  return device;
}

// The name of a temporary file beside `target`: its name, shortened where the suffix would pass
// the name limit, with the suffix and `serial` in hexadecimal.
std::string TemporaryName(const std::string& target, unsigned serial) {
  const size_t slash = target.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::wstring name = WideFromUtf8(slash == std::string::npos ? target : target.substr(slash + 1));
  const size_t suffix = std::strlen(kTemporarySuffix) + kTemporaryDigits;
  if (name.size() + suffix > kNameMax) name.resize(kNameMax - suffix);
  char digits[16];
  std::snprintf(digits, sizeof digits, "%06x", serial & 0xFFFFFFu);
  return folder + Utf8FromWide(name) + kTemporarySuffix + digits;
}

}  // namespace

FileId IdOfDescriptor(int fd);

FileId IdOfPath(const std::string& path) {
  if (IsStandardOutput(path)) return IdOfDescriptor(1);
  HANDLE h = CreateFileW(WideName(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const FileId id = IdOfHandle(h);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return id;
}

FileId IdOfDescriptor(int fd) {
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  return GetFileType(h) == FILE_TYPE_DISK ? IdOfHandle(h) : FileId{};
}

bool IsPlainFile(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !IsFolder(attributes) && !NotPlain(path);
}

std::string OutputRefusal(const std::string& path, const FileId& input) {
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return "";
  if (SameFile(IdOfPath(path), input)) return OUTPUT_IS_INPUT;
  if (IsFolder(attributes)) return OUTPUT_IS_FOLDER;
  return "";
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) _close(fd_);
  if (removable_ && !kept_) DeleteFileW(WideFromUtf8(writePath_).c_str());
}

void OutputFile::ArmRemoval() {
  removable_ = true;
  if (!onSignal_) onSignal_ = std::make_unique<RemoveOnSignal>(writePath_);
}

bool OutputFile::OpenReplacing(const std::string& target, const FileId& input, std::string* reason) {
  *reason = OutputRefusal(target, input);
  if (!reason->empty()) return false;
  target_ = target;
  if (AttributesOf(target) != INVALID_FILE_ATTRIBUTES && NotPlain(target)) {
    writePath_ = target;
    return true;
  }
  unsigned serial = static_cast<unsigned>(GetCurrentProcessId()) * 2654435761u ^
                    static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 100; ++attempt, serial += 0x9E3779B9u) {
    const std::string name = TemporaryName(target, serial);
    DeferEndingSignals created;  // the file exists only with its removal armed
    HANDLE h = CreateFileW(WideFromUtf8(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      *reason = Reason(error);
      return false;
    }
    CloseHandle(h);
    try {
      writePath_ = name;
      ArmRemoval();
    } catch (...) {
      removable_ = false;
      DeleteFileW(WideFromUtf8(name).c_str());
      throw;
    }
    return true;
  }
  *reason = Reason(ERROR_FILE_EXISTS);
  return false;
}

bool OutputFile::OpenInPlace(const std::string& target, const FileId& input, std::string* reason) {
  *reason = OutputRefusal(target, input);
  if (!reason->empty()) return false;
  target_ = writePath_ = target;
  if (IsStandardOutput(target)) {
    fd_ = _dup(1);
    if (fd_ < 0) *reason = std::strerror(errno);
    return fd_ >= 0;
  }
  const std::wstring wide = WideName(target);
  // Not shared for writing: while this program holds the target, another is refused.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
  HANDLE h = INVALID_HANDLE_VALUE;
  {
    DeferEndingSignals creating;  // a file created here exists only with its removal armed
    h = CreateFileW(wide.c_str(), GENERIC_WRITE, share, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      created_ = true;
      ArmRemoval();
    }
  }
  DWORD error = h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  if (h == INVALID_HANDLE_VALUE && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)) {
    h = CreateFileW(wide.c_str(), GENERIC_WRITE, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    error = h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  }
  if (h == INVALID_HANDLE_VALUE) {
    *reason = error == ERROR_SHARING_VIOLATION ? OUTPUT_HELD
              : IsFolder(AttributesOf(target)) ? OUTPUT_IS_FOLDER
                                               : Reason(error);
    return false;
  }
  fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  if (fd_ < 0) {
    CloseHandle(h);
    *reason = std::strerror(EMFILE);
    return false;
  }
  // Checked again on what was opened: the name may have changed hands since.
  if (SameFile(IdOfDescriptor(fd_), input)) {
    *reason = OUTPUT_IS_INPUT;
    return false;
  }
  return true;
}

bool OutputFile::Empty(std::string* reason) {
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd_));
  if (GetFileType(h) != FILE_TYPE_DISK) return true;  // a device is written into as it is
  DeferEndingSignals emptying;
  if (SetFilePointer(h, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(h)) {
    *reason = Reason(GetLastError());
    return false;
  }
  // What was there is gone; an empty file must not pass for an output. Through a link, removing
  // the name would remove the link instead.
  const DWORD attributes = AttributesOf(target_);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) ArmRemoval();
  return true;
}

FileHandle OutputFile::TakeStream(std::string* reason) {
  FileHandle stream(_fdopen(fd_, "wb"));
  if (!stream) {
    *reason = std::strerror(errno);
    return stream;
  }
  fd_ = -1;
  return stream;
}

bool OutputFile::Commit(bool replace, std::string* reason) {
  if (removable_) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(WideFromUtf8(writePath_).c_str(), WideFromUtf8(target_).c_str(), flags)) {
      const DWORD error = GetLastError();
      *reason = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? OUTPUT_EXISTS : Reason(error);
      return false;
    }
  }
  kept_ = true;
  onSignal_.reset();
  return true;
}

}  // namespace ostrel
