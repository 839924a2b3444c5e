#include "cli/LineEditor.h"

#if !defined(_WIN32)
#include <pwd.h>
#include <unistd.h>
#endif

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "platform/Console.h"

#if defined(OSTREL_HAVE_LIBEDIT)
#include <editline/readline.h>
#endif

namespace ostrel {

namespace {

std::string Trim(const std::string& s) {
  size_t begin = 0, end = s.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(s[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(s[end - 1]))) --end;
  return s.substr(begin, end - begin);
}

std::string HomeOf(const std::string& user) {
#if defined(_WIN32)
  // Only one's own home: Windows keeps no table of the others' to ask.
  if (!user.empty()) return "";
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  const char* profile = std::getenv("USERPROFILE");
  return profile != nullptr ? profile : "";
#else
  if (user.empty()) {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    const struct passwd* me = getpwuid(getuid());
    return me != nullptr && me->pw_dir != nullptr ? me->pw_dir : "";
  }
  const struct passwd* them = getpwnam(user.c_str());
  return them != nullptr && them->pw_dir != nullptr ? them->pw_dir : "";
#endif
}

}  // namespace

#if defined(OSTREL_HAVE_LIBEDIT)

bool LineEditingAvailable() { return true; }

bool EditLine(const std::string& prompt, std::string& line) {
  static bool initialised = false;
  if (!initialised) {
    rl_readline_name = "ostrelenc";  // for settings in ~/.editrc
    rl_instream = stdin;
    rl_outstream = stdout;
    initialised = true;
  }
  std::fflush(stdout);
  RestoreConsole();  // libedit sets the terminal up itself from its ordinary settings
  char* text = readline(prompt.c_str());
  if (text == nullptr) return false;
  line = text;
  std::free(text);
  if (!Trim(line).empty()) add_history(line.c_str());
  return true;
}

#else

bool LineEditingAvailable() { return false; }

bool EditLine(const std::string& prompt, std::string& line) {
  std::fputs(prompt.c_str(), stdout);
  return ReadLine(line);
}

#endif

std::string CleanTypedPath(const std::string& answer) {
  std::string path = Trim(answer);
  if (path.size() >= 2 && (path.front() == '\'' || path.front() == '"') && path.back() == path.front()) {
    path = path.substr(1, path.size() - 2);
  }
  if (!path.empty() && path[0] == '~') {
    const size_t slash = path.find('/');
    const std::string user = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    const std::string home = HomeOf(user);
    if (!home.empty()) path = home + (slash == std::string::npos ? "" : path.substr(slash));
  }
  return path;
}

}  // namespace ostrel
