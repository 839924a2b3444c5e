#include "platform/Console.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace ostrel {

namespace {

// The one terminal that may be in key mode, with the settings to put back. Written before
// g_keyMode is raised, so a signal handler that sees the flag finds complete settings.
struct termios g_saved;
struct termios g_keySettings;  // the key-mode settings, to put back after a stop
volatile sig_atomic_t g_savedFd = -1;
volatile sig_atomic_t g_keyMode = 0;
bool g_atexitDone = false;
bool g_handlersDone = false;

constexpr int kRestoredSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSignalCount = sizeof kRestoredSignals / sizeof kRestoredSignals[0];
struct sigaction g_previous[kSignalCount];

void OnSignal(int sig, siginfo_t* info, void* context) {
  RestoreConsole();
  int i = 0;
  while (i < kSignalCount && kRestoredSignals[i] != sig) ++i;
  if (i == kSignalCount) return;
  const struct sigaction& previous = g_previous[i];
  if (previous.sa_flags & SA_SIGINFO) {
    if (previous.sa_sigaction != nullptr) previous.sa_sigaction(sig, info, context);
    return;
  }
  if (previous.sa_handler == SIG_IGN) return;
  if (previous.sa_handler == SIG_DFL) {
    // Take the default action once this handler returns (the signal is blocked until then).
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(sig, &fallback, nullptr);
    raise(sig);
    return;
  }
  previous.sa_handler(sig);
}

// Whether this process may set the terminal's modes without being stopped for it: it is in the
// terminal's foreground process group, or the terminal is not its controlling terminal.
bool InForeground(int fd) {
  const pid_t group = tcgetpgrp(fd);
  return group < 0 || group == getpgrp();
}

// Ctrl-Z: the shell gets the terminal back in its saved settings while the process is stopped;
// when the process is continued in the foreground, key mode comes back.
void OnSuspend(int) {
  const int savedErrno = errno;
  const bool keyMode = g_keyMode != 0;
  RestoreConsole();
  struct sigaction stop = {}, ours = {};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGTSTP, &stop, &ours);
  raise(SIGTSTP);
  sigset_t suspend;
  sigemptyset(&suspend);
  sigaddset(&suspend, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &suspend, nullptr);  // stops here until continued
  sigaction(SIGTSTP, &ours, nullptr);
  if (keyMode && InForeground(g_savedFd) && tcsetattr(g_savedFd, TCSANOW, &g_keySettings) == 0) g_keyMode = 1;
  errno = savedErrno;
}

// Continued after a stop that could not be caught (SIGSTOP): the shell may have reset the
// terminal meanwhile, so key mode is set again.
void OnContinue(int) {
  const int savedErrno = errno;
  if (g_keyMode && InForeground(g_savedFd)) tcsetattr(g_savedFd, TCSANOW, &g_keySettings);
  errno = savedErrno;
}

// Installs `handler` for `sig` unless the signal is ignored or already has a handler.
void InstallIfDefault(int sig, void (*handler)(int)) {
  struct sigaction current;
  if (sigaction(sig, nullptr, &current) != 0) return;
  if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) return;
  struct sigaction action = {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
}

void RestoreAtExit() { RestoreConsole(); }

bool EnterKeyMode(int fd) {
  if (g_keyMode) return g_savedFd == fd;
  // In the background, setting the terminal would stop the process (SIGTTOU).
  if (!InForeground(fd)) return false;
  struct termios settings;
  if (tcgetattr(fd, &settings) != 0) return false;
  if (!g_atexitDone) {
    std::atexit(RestoreAtExit);
    g_atexitDone = true;
  }
  InstallConsoleSignalHandlers();
  g_saved = settings;
  g_savedFd = fd;
  g_keyMode = 1;
  settings.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  settings.c_cc[VMIN] = 1;  // a blocking read waits for one key; the key test polls
  settings.c_cc[VTIME] = 0;
  g_keySettings = settings;
  // TCSANOW, not TCSAFLUSH: keys typed ahead must survive the switch.
  if (tcsetattr(fd, TCSANOW, &settings) != 0) {
    g_keyMode = 0;
    return false;
  }
  return true;
}

// One byte; 1 read, 0 end of input, -1 error. Retries when a signal interrupts the wait.
int ReadByte(int fd, unsigned char* c) {
  for (;;) {
    ssize_t n = read(fd, c, 1);
    if (n == 1) return 1;
    if (n == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

}  // namespace

void RestoreConsole() {
  if (g_keyMode) {
    tcsetattr(g_savedFd, TCSANOW, &g_saved);
    g_keyMode = 0;
  }
}

void InstallConsoleSignalHandlers() {
  if (g_handlersDone) return;
  g_handlersDone = true;
  for (int i = 0; i < kSignalCount; ++i) {
    struct sigaction action = {};
    action.sa_sigaction = OnSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(kRestoredSignals[i], &action, &g_previous[i]);
  }
  InstallIfDefault(SIGTSTP, OnSuspend);
  InstallIfDefault(SIGCONT, OnContinue);
}

Console::Console(int fd) : fd_(fd) {}

bool Console::ReadLine(std::string& line) {
  std::fflush(stdout);
  if (g_keyMode && g_savedFd == fd_) RestoreConsole();
  line.clear();
  bool any = false;
  unsigned char c = 0;
  if (pending_ >= 0) {
    c = static_cast<unsigned char>(pending_);
    pending_ = -1;
    any = true;
    if (c == '\n') return true;
    line += static_cast<char>(c);
  }
  while (ReadByte(fd_, &c) == 1) {
    any = true;
    if (c == '\n') break;
    line += static_cast<char>(c);
  }
  if (!any) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

bool Console::KeyWaiting() {
  if (pending_ >= 0) return true;
  if (isatty(fd_)) {
    // Keys typed while the process runs in the background are the shell's; reading them would
    // also stop the process (SIGTTIN).
    if (!InForeground(fd_)) return false;
    EnterKeyMode(fd_);
  }
  struct pollfd p = {fd_, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) return false;
  // Readable may also mean end of input; only a byte that is really there counts.
  unsigned char c = 0;
  if (ReadByte(fd_, &c) != 1) return false;
  pending_ = c;
  return true;
}

int Console::ReadKey() {
  std::fflush(stdout);
  if (pending_ >= 0) {
    int c = pending_;
    pending_ = -1;
    return c;
  }
  if (isatty(fd_)) EnterKeyMode(fd_);
  unsigned char c = 0;
  return ReadByte(fd_, &c) == 1 ? c : -1;
}

Console& StandardInput() {
  static Console console(STDIN_FILENO);
  return console;
}

bool ReadLine(std::string& line) { return StandardInput().ReadLine(line); }
bool KeyWaiting() { return StandardInput().KeyWaiting(); }
int ReadKey() { return StandardInput().ReadKey(); }

}  // namespace ostrel
