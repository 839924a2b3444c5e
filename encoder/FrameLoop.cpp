#include "encoder/FrameLoop.h"

#include <utility>

#include "encoder/FrameEncoder.h"

namespace ostrel {

namespace {

constexpr const char* kProgram = "ostrelenc";

}  // namespace

int RunFrameLoop(const RunParameters& params, SourceReader& source, FileHandle fptr) {
  const char* name = params.sourcePath.c_str();
  const std::string conversion = source.Conversion();
  if (!conversion.empty()) {
    std::printf("%s: %s\n", name, conversion.c_str());
    std::fflush(stdout);
  }
  int status = EncodeFrames(params, *source.wave(), std::move(fptr));
  std::fflush(stdout);
  if (source.clipped() > 0) {
    std::fprintf(stderr, "%s: %s: %llu samples beyond full scale were limited to it.\n", kProgram, name,
                 static_cast<unsigned long long>(source.clipped()));
  }
  if (source.EndedEarly()) {
    std::fprintf(stderr,
                 "%s: %s ended early: its header promised %llu sample frames, it held %llu; the stream "
                 "codes those %llu.\n",
                 kProgram, name, static_cast<unsigned long long>(source.promisedFrames()),
                 static_cast<unsigned long long>(source.framesRead()),
                 static_cast<unsigned long long>(source.framesRead()));
    status = 1;
  }
  return status;
}

}  // namespace ostrel
