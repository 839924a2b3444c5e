#include "cli/ProgramVersion.h"

#include "ostrel/version.h"

namespace ostrel {

const char* ProjectVersion() { return OSTREL_VERSION; }

void PrintVersion(std::FILE* out, const char* program) {
  std::fprintf(out, "%s (Ostrel) %s\n", program, ProjectVersion());
  std::fputs("Ostrel compressed audio: 44100 Hz stereo, 96 to 392 kb/s.\n", out);
}

}  // namespace ostrel
