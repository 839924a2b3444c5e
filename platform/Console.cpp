#include "platform/Console.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/SignalChain.h"

namespace ostrel {

namespace {

// The one terminal that may be in key mode, with the settings to put back. Written before
// g_keyMode is raised, so a signal handler that sees the flag finds complete settings.
struct termios g_saved;
struct termios g_keySettings;  // the key-mode settings, to put back after a stop
volatile sig_atomic_t g_savedFd = -1;
volatile sig_atomic_t g_keyMode = 0;
bool g_atexitDone = false;

// Whether this process may set the terminal's modes without being stopped for it: it is in the
// terminal's foreground process group, or the terminal is not its controlling terminal.
bool InForeground(int fd) {
  const pid_t group = tcgetpgrp(fd);
  return group < 0 || group == getpgrp();
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
  InstallSignalChain();  // restores the terminal on a signal that ends the process
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

}  // namespace

void RestoreConsole() {
  if (g_keyMode) {
    tcsetattr(g_savedFd, TCSANOW, &g_saved);
    g_keyMode = 0;
  }
}

bool IsTerminal(int fd) { return isatty(fd) != 0; }

bool ConsoleInKeyMode() { return g_keyMode != 0; }

void ResumeKeyMode() {
  if (g_savedFd >= 0 && InForeground(g_savedFd) && tcsetattr(g_savedFd, TCSANOW, &g_keySettings) == 0) g_keyMode = 1;
}

// Retries when a signal interrupts the wait.
int Console::ReadByte(int fd, unsigned char* c) {
  for (;;) {
    ssize_t n = read(fd, c, 1);
    if (n == 1) return 1;
    if (n == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

Console::Console(int fd) : fd_(fd) {}

bool Console::ReadLine(std::string& line) {
  std::fflush(stdout);
  if (g_keyMode && g_savedFd == fd_) RestoreConsole();
  line.clear();
  return ReadLineBytes(line);
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
