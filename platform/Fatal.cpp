#include "platform/Fatal.h"

#include <cstdio>
#include <cstdlib>

namespace ostrel {

void FatalError(const char* message) {
  std::fputs(message, stdout);
  std::fflush(nullptr);
  std::exit(1);
}

}  // namespace ostrel
