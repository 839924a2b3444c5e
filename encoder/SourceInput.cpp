#include "encoder/SourceInput.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/OutputName.h"
#include "platform/StreamConstants.h"

namespace ostrel {

namespace {
constexpr const char* kStandardInput = "/dev/stdin";
}

std::string OpenSource(const std::string& path, Source* source) {
  const std::string file = path == STANDARD_STREAM_NAME ? kStandardInput : path;
  // The reader says only that a file cannot be opened; the probe says why.
  if (path != STANDARD_STREAM_NAME) {
    std::FILE* probe = std::fopen(file.c_str(), "rb");
    if (probe == nullptr) return std::string("cannot be opened: ") + std::strerror(errno);
    struct stat st;
    const bool folder = fstat(fileno(probe), &st) == 0 && S_ISDIR(st.st_mode);
    std::fclose(probe);
    if (folder) return "is a folder";
  }
  source->id = IdOfPath(file);
  source->reader = std::make_unique<SourceReader>(file);
  const std::string problem = source->reader->problem();
  if (!problem.empty()) {
    source->reader.reset();
    return problem;
  }
  const SourceReader& r = *source->reader;
  source->samples = r.rate() != 0 ? r.promisedFrames() * STREAM_SAMPLE_RATE / r.rate() : 0;
  if (Waveio* wave = source->reader->wave(); r.canonical() && wave != nullptr) source->tags = wave->tags;
  return "";
}

}  // namespace ostrel
