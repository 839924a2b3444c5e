// What every system's OutputFile says, in one place.
#include "platform/OutputFile.h"

namespace ostrel {

const char* const OUTPUT_EXISTS = "it exists (-f replaces it)";
const char* const OUTPUT_IS_INPUT = "it is the input file";
const char* const OUTPUT_IS_FOLDER = "it is a folder";
const char* const OUTPUT_HELD = "another program is writing it";

bool SameFile(const FileId& a, const FileId& b) {
  return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

std::string CannotWrite(const std::string& program, const std::string& path, const std::string& reason) {
  return program + ": cannot write " + path + ": " + reason;
}

}  // namespace ostrel
