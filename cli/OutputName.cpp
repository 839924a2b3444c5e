#include "cli/OutputName.h"

#include "platform/OutputFile.h"

namespace ostrel {

std::string OutputBeside(const std::string& input, const std::string& extension) {
  const size_t slash = input.find_last_of('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = input.find_last_of('.');
  // A leading dot (".hidden") starts the name rather than an extension.
  if (dot != std::string::npos && dot > nameStart) return input.substr(0, dot) + extension;
  return input + extension;
}

std::string ExistingOutputRefusal(const std::string& output) {
  return IsPlainFile(output) ? OUTPUT_EXISTS : "";
}

}  // namespace ostrel
