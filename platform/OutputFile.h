// Output files of the programs: what may not be written (the file being read, under any name or
// link, and folders), an output kept under a temporary name until it is complete, a target that
// is removed should the program end before it holds anything, and the one form of the messages
// about outputs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/FileHandle.h"
#include "platform/SignalChain.h"

namespace ostrel {

// A file's identity: device and inode (on Windows: volume serial number and file index). Two
// names, links or open files are one file exactly when their identities are equal.
struct FileId {
  bool known = false;  // false: the file could not be looked at (it may not exist)
  uint64_t device = 0;
  uint64_t inode = 0;
};
FileId IdOfPath(const std::string& path);  // follows symbolic links
FileId IdOfDescriptor(int fd);
bool SameFile(const FileId& a, const FileId& b);  // both known and equal

// True when `path` names a plain file that is there (following a symbolic link).
bool IsPlainFile(const std::string& path);

// Why an output is not written over a plain file that is there already, unless told to replace it.
extern const char* const OUTPUT_EXISTS;  // "it exists (-f replaces it)"
// The other refusals of OutputFile, besides the system's own reasons.
extern const char* const OUTPUT_IS_INPUT;   // "it is the input file"
extern const char* const OUTPUT_IS_FOLDER;  // "it is a folder"
extern const char* const OUTPUT_HELD;       // "another program is writing it"

// The one form of every message about an output: "<program>: cannot write <path>: <reason>".
std::string CannotWrite(const std::string& program, const std::string& path, const std::string& reason);

// Why `path` may not be written while `input` is read: "it is the input file" (the same file
// under any name) or "it is a folder"; empty when neither, also when it does not exist yet.
std::string OutputRefusal(const std::string& path, const FileId& input);

// One output on its way to its target. Whatever the object made and was not told to keep (a
// temporary file, a target it created or emptied) is removed when the object goes, and also when
// SIGINT, SIGTERM or SIGHUP end the process first. Failures give false and the reason (the
// system's wording of errno, or an OutputRefusal), to be reported with CannotWrite.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // For a writer that opens WritePath() itself and whose output replaces the target only once
  // complete: refuses the input and folders, then creates an empty temporary file in the target's
  // folder, with the permissions a new file gets and a name that fits wherever the target's own
  // name fits. A target that exists and is not a plain file (a symbolic link, a device, a pipe)
  // is written into directly and never replaced: nothing is created, WritePath() is the target.
  bool OpenReplacing(const std::string& target, const FileId& input, std::string* reason);

  // For writing into the target itself: refuses the input and folders, then opens `target` for
  // writing, creating it when it does not exist but emptying nothing (Empty does that). The open
  // target is held exclusively (an advisory lock, kept by the stream TakeStream makes): while one
  // object or program holds it, another is refused with "another program is writing it".
  bool OpenInPlace(const std::string& target, const FileId& input, std::string* reason);

  const std::string& WritePath() const { return writePath_; }
  bool Created() const { return created_; }  // OpenInPlace created the target

  // OpenInPlace only: empties a plain file (devices and pipes are left as they are). From then on
  // the target is removed like one created here, unless it is reached through a symbolic link.
  bool Empty(std::string* reason);

  // OpenInPlace only: the open target as a stream for binary writing, which now owns it.
  FileHandle TakeStream(std::string* reason);

  // OpenReplacing: the output is complete; the temporary file takes the target's name (on
  // Windows: MoveFileExW, replacing only with `replace`), and nothing is removed any more. Without `replace`, a plain file that has appeared under the
  // target's name meanwhile (another program's output) is never replaced: the commit fails with
  // OUTPUT_EXISTS, and the temporary file goes with the object.
  bool Commit(bool replace, std::string* reason);

  // OpenInPlace: the target now belongs to the run that fills it and is no longer removed when
  // this object goes. A signal still removes it until that run's StopOnSignal takes over, so the
  // object must live until then.
  void HandOver() { kept_ = true; }

 private:
  void ArmRemoval();

  std::string target_, writePath_;
  int fd_ = -1;              // OpenInPlace: the open target until TakeStream (a C runtime descriptor)
  bool created_ = false;
  bool removable_ = false;   // writePath_ is this object's to remove
  bool kept_ = false;
  std::unique_ptr<RemoveOnSignal> onSignal_;
};

}  // namespace ostrel
