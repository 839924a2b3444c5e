// Lets a death test compare what the dying code printed on standard output: gtest only captures
// standard error, so the child sends its standard output there first.
#pragma once

#include <unistd.h>

#include <cstdio>

namespace ostrel {
namespace test {

// Call at the start of a death-test statement, in the child process.
inline void StdoutToStderr() {
  std::fflush(stdout);  // whatever the parent left buffered goes to the real standard output
  dup2(STDERR_FILENO, STDOUT_FILENO);
}

}  // namespace test
}  // namespace ostrel
