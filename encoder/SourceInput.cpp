#include "encoder/SourceInput.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/OutputName.h"
#include "encoder/Dialogue.h"

namespace ostrel {

namespace {
constexpr const char* kSourceNeeded = "the encoder needs 16-bit PCM WAV, 2 channels, 44100 Hz";
constexpr uint32_t kSizeUnknown = 0xFFFFFFFFu;
constexpr uint32_t kBytesPerSampleFrame = 4;  // 16-bit stereo
}  // namespace

std::string OpenSource(const std::string& path, Source* source) {
  std::FILE* stream = nullptr;
  if (path == STANDARD_STREAM_NAME) {
    const int fd = dup(STDIN_FILENO);
    if (fd >= 0) stream = fdopen(fd, "rb");
    if (stream == nullptr && fd >= 0) close(fd);
  } else {
    stream = std::fopen(path.c_str(), "rb");
  }
  if (stream == nullptr) return std::string("cannot be opened: ") + std::strerror(errno);
  struct stat st;
  if (fstat(fileno(stream), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(stream);
    return std::string("is a folder; ") + kSourceNeeded;
  }
  source->id = IdOfDescriptor(fileno(stream));
  source->reader = std::make_unique<Waveio>(stream, WAVE_READ);
  const std::string problem = SourceFormatProblem(*source->reader);
  if (!problem.empty()) {
    source->reader.reset();
    return problem + "; " + kSourceNeeded;
  }
  const uint32_t bytes = source->reader->wave->nSamples;
  source->samples = bytes == kSizeUnknown ? 0 : bytes / kBytesPerSampleFrame;
  source->tags = source->reader->tags;
  return "";
}

}  // namespace ostrel
