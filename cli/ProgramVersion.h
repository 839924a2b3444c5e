// The version text of the programs (-V, --version).
#pragma once

#include <cstdio>

namespace ostrel {

// The project's version, "MAJOR.MINOR.PATCH".
const char* ProjectVersion();

// Prints "<program> (Ostrel) <version>" and a line on what it reads and writes to `out`.
void PrintVersion(std::FILE* out, const char* program);

}  // namespace ostrel
