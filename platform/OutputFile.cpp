#include "platform/OutputFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace ostrel {

namespace {

const char* const kTemporarySuffix = ".part-XXXXXX";  // mkstemp fills in the X

FileId IdOf(const struct stat& st) {
  FileId id;
  id.known = true;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  return id;
}

std::string Reason(int error) { return std::strerror(error != 0 ? error : EIO); }

// The mkstemp pattern of a temporary file beside `target`: the target's name with the suffix,
// the name shortened first where it would pass the folder's name limit.
std::string TemporaryPattern(const std::string& target) {
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  long limit = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  if (limit <= 0) limit = NAME_MAX;
  const size_t suffix = std::strlen(kTemporarySuffix);
  const size_t room = static_cast<size_t>(limit) > suffix ? static_cast<size_t>(limit) - suffix : 0;
  return folder + name.substr(0, room) + kTemporarySuffix;
}

// Gives `from` the name `to` unless `to` exists; 0, or -1 with errno (EEXIST when it exists).
int RenameNoReplace(const char* from, const char* to) {
#if defined(RENAME_NOREPLACE)
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return -1;
#endif
  // A file system without it: a second name, which link() makes only where none is, then the
  // temporary one goes.
  if (::link(from, to) == 0) {
    ::unlink(from);
    return 0;
  }
  if (errno == EEXIST) return -1;
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS) return -1;
  // Nor links: only a look before the rename is left.
  struct stat st;
  if (::lstat(to, &st) == 0) {
    errno = EEXIST;
    return -1;
  }
  return std::rename(from, to);
}

}  // namespace

FileId IdOfPath(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? IdOf(st) : FileId{};
}

FileId IdOfDescriptor(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? IdOf(st) : FileId{};
}

bool IsPlainFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string OutputRefusal(const std::string& path, const FileId& input) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "";
  if (SameFile(IdOf(st), input)) return OUTPUT_IS_INPUT;
  if (S_ISDIR(st.st_mode)) return OUTPUT_IS_FOLDER;
  return "";
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (removable_ && !kept_) ::unlink(writePath_.c_str());
}

void OutputFile::ArmRemoval() {
  removable_ = true;
  if (!onSignal_) onSignal_ = std::make_unique<RemoveOnSignal>(writePath_);
}

bool OutputFile::OpenReplacing(const std::string& target, const FileId& input, std::string* reason) {
  *reason = OutputRefusal(target, input);
  if (!reason->empty()) return false;
  target_ = target;
  // A link or a node put in its place would be destroyed and the output sent nowhere.
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    writePath_ = target;
    return true;
  }
  const std::string pattern = TemporaryPattern(target);
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  DeferEndingSignals created;  // the file exists only with its removal armed
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    *reason = Reason(errno);
    return false;
  }
  try {
    writePath_ = name.data();
    ArmRemoval();
  } catch (...) {
    // Out of memory before the file was this object's to remove: removed here.
    removable_ = false;
    ::unlink(name.data());
    ::close(fd);
    throw;
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd, 0666 & ~mask) != 0 || ::close(fd) != 0) {
    *reason = Reason(errno);
    return false;
  }
  return true;
}

bool OutputFile::OpenInPlace(const std::string& target, const FileId& input, std::string* reason) {
  *reason = OutputRefusal(target, input);
  if (!reason->empty()) return false;
  target_ = writePath_ = target;
  {
    DeferEndingSignals creating;  // a file created here exists only with its removal armed
    fd_ = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      created_ = true;
      ArmRemoval();
    }
  }
  if (fd_ < 0 && errno == EEXIST) fd_ = ::open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    *reason = errno == EISDIR ? OUTPUT_IS_FOLDER : Reason(errno);
    return false;
  }
  // One writer at a time. A file system without locks gives no protection, and no refusal.
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    // Even a file created here belongs to the program that holds it now.
    removable_ = false;
    onSignal_.reset();
    *reason = OUTPUT_HELD;
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
  struct stat opened;
  if (::fstat(fd_, &opened) != 0) {
    *reason = Reason(errno);
    return false;
  }
  if (!S_ISREG(opened.st_mode)) return true;
  // Emptying and arming the removal are one step: a signal between them would leave an empty
  // file behind.
  DeferEndingSignals emptying;
  if (::ftruncate(fd_, 0) != 0) {
    *reason = Reason(errno);
    return false;
  }
  // What was there is gone; an empty file must not pass for an output. Through a link, removing
  // the name would remove the link instead.
  struct stat named;
  if (::lstat(target_.c_str(), &named) == 0 && S_ISREG(named.st_mode) && SameFile(IdOf(named), IdOf(opened))) {
    ArmRemoval();
  }
  return true;
}

FileHandle OutputFile::TakeStream(std::string* reason) {
  FileHandle stream(::fdopen(fd_, "wb"));
  if (!stream) {
    *reason = Reason(errno);
    return stream;
  }
  fd_ = -1;
  return stream;
}

bool OutputFile::Commit(bool replace, std::string* reason) {
  if (removable_) {
    const int moved = replace ? std::rename(writePath_.c_str(), target_.c_str())
                              : RenameNoReplace(writePath_.c_str(), target_.c_str());
    if (moved != 0) {
      *reason = errno == EEXIST ? OUTPUT_EXISTS : Reason(errno);
      return false;
    }
  }
  // After the rename: a signal in between removes a name that is gone already.
  kept_ = true;
  onSignal_.reset();
  return true;
}

}  // namespace ostrel
