#include "encoder/SourceInput.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/OutputName.h"
#include "platform/StreamConstants.h"
#include "platform/FileHandle.h"
#include "platform/Console.h"

namespace ostrel {

namespace {
constexpr const char* kStandardInput = "/dev/stdin";
}

std::string OpenSource(const std::string& path, Source* source) {
  const std::string file = path == STANDARD_STREAM_NAME ? kStandardInput : path;
  if (path == STANDARD_STREAM_NAME && IsTerminal(STDIN_FILENO)) return "is a terminal; pipe a sound file into it";
  // The reader says only that a file cannot be opened; the probe says why.
  if (path != STANDARD_STREAM_NAME) {
    std::FILE* probe = OpenFile(file, "rb");
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
    // The reader looks at a source twice when it is not 16-bit stereo 44100 Hz WAV, which a pipe
    // does not allow: such sources come from files.
    struct stat st;
    if (path == STANDARD_STREAM_NAME && fstat(STDIN_FILENO, &st) == 0 && !S_ISREG(st.st_mode)) {
      return "is not a 16-bit PCM WAV stream of 2 channels at 44100 Hz; other sources are read from files "
             "(or standard input redirected from one)";
    }
    return problem;
  }
  const SourceReader& r = *source->reader;
  source->samples = r.rate() != 0 ? r.promisedFrames() * STREAM_SAMPLE_RATE / r.rate() : 0;
  if (Waveio* wave = source->reader->wave(); r.canonical() && wave != nullptr) source->tags = wave->tags;
  return "";
}

}  // namespace ostrel
