#include "platform/ErrorReport.h"

#include "platform/Console.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace ostrel {

namespace {

// Splits the message into lines, dropping one trailing line end so "X\n" frames as one line.
std::vector<std::string> MessageLines(const char* message) {
  std::vector<std::string> lines;
  std::string current;
  for (const char* p = message; *p != '\0'; ++p) {
    if (*p == '\n') {
      lines.push_back(current);
      current.clear();
    } else {
      current += *p;
    }
  }
  if (!current.empty() || lines.empty()) lines.push_back(current);
  return lines;
}

}  // namespace

void ErrorReport(const char* ErrorMessage, unsigned char mode) {
  if (mode != 0) return;
  const char* title = "Internal Error";
  std::vector<std::string> lines = MessageLines(ErrorMessage != nullptr ? ErrorMessage : "");
  size_t width = std::strlen(title);
  for (const std::string& line : lines) width = line.size() > width ? line.size() : width;

  std::fflush(stdout);
  std::string rule = "+" + std::string(width + 2, '-') + "+\n";
  std::fputs(rule.c_str(), stderr);
  std::fprintf(stderr, "| %-*s |\n", static_cast<int>(width), title);
  std::fputs(rule.c_str(), stderr);
  for (const std::string& line : lines) std::fprintf(stderr, "| %-*s |\n", static_cast<int>(width), line.c_str());
  std::fputs(rule.c_str(), stderr);

  if (IsTerminal(STDIN_FILENO)) {
    RestoreConsole();  // the acknowledgement is typed as a normal, echoed line
    std::fputs("Press Enter to continue.", stderr);
    std::fflush(stderr);
    char c = 0;
    while (read(STDIN_FILENO, &c, 1) == 1 && c != '\n') {
    }
    std::fputs("\n", stderr);
  }
  std::fflush(stderr);
}

}  // namespace ostrel
