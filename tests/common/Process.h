// Runs a program with piped standard input and captures what it prints, for end-to-end tests;
// on request with a file-size limit, or a signal sent once its output shows a given text or a
// given time after it started, for tests of interruption and write failures; or with a terminal
// (a pseudo-terminal) as its standard input and output, for what a program does only there.
// On Windows the program runs with pipes only: signals, file-size limits and terminals are POSIX
// matters, and the tests that want them skip there (OSTREL_SKIP_ON_WINDOWS).
#pragma once

#include "common/PosixOnWindows.h"

#if defined(_WIN32)
#include "common/ProcessWin32.h"
#else

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace ostrel::test {

struct RunResult {
  int status = -1;        // exit status when the program exited, else -1
  int signal = 0;         // the signal that ended it, if any
  std::string out, err;   // what it wrote on standard output and standard error
};

struct RunOptions {
  std::string workdir;       // the program's working folder; empty: this process's
  long fileSizeLimit = -1;   // bytes a file of the program may grow to; -1: no limit
  std::string signalAfter;   // once standard output contains this text, send `signal` (once)
  long signalDelayUs = -1;   // >= 0: send `signal` this many microseconds after the start instead
  // Non-empty: send `signal` once, for each of these paths, a file whose path begins with it (an
  // output's temporary file, say) holds at least signalWhenBytes bytes.
  std::vector<std::string> signalWhenFiles;
  long signalWhenBytes = 0;
  int signal = 0;            // 0: send nothing
  int signalCount = 1;       // with signalDelayUs: how many times, 1.5 ms apart
  bool signalGroup = false;  // the program leads a process group of its own, which gets the signal
  bool holdInput = false;    // keep standard input open (no end of input) until the program ends
  std::function<void()> actionAfter;  // once standard output contains `signalAfter`, run this (once)
  // Standard input and output are a terminal of the program's own session: `input` is typed on it
  // (and echoed into `out` with what the program prints there); it stays open until the end.
  bool terminal = false;
};

namespace detail {

// Whether a file whose path begins with `prefix` holds at least `bytes` bytes.
inline bool FileReached(const std::string& prefix, long bytes) {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::path(prefix).parent_path();
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string path = entry.path().string();
    if (path.compare(0, prefix.size(), prefix) != 0) continue;
    const auto size = entry.file_size(error);
    if (!error && static_cast<long>(size) >= bytes) return true;
  }
  return false;
}

// The child's side of Run: wires the pipes to its standard streams and starts the program.
// SIGINT, SIGTERM, SIGHUP, SIGPIPE and SIGXFSZ get their default actions, as if started from a shell,
// whatever the test runner set up: a program that wants writes beyond a file-size limit to fail
// with EFBIG rather than be killed must ignore SIGXFSZ itself.
[[noreturn]] inline void StartChild(const std::vector<std::string>& argv, const RunOptions& options,
                                    const int (&in)[2], const int (&out)[2], const int (&err)[2],
                                    const char* terminal) {
  if (terminal != nullptr) {
    // A session of its own, whose controlling terminal is the pseudo-terminal.
    setsid();
    const int tty = open(terminal, O_RDWR);
    if (tty < 0) _exit(127);
    dup2(tty, 0);
    dup2(tty, 1);
    close(tty);
  } else {
    dup2(in[0], 0);
    dup2(out[1], 1);
  }
  dup2(err[1], 2);
  if (options.signalGroup && terminal == nullptr) setpgid(0, 0);
  for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
  if (!options.workdir.empty() && chdir(options.workdir.c_str()) != 0) _exit(127);
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  signal(SIGHUP, SIG_DFL);
  signal(SIGPIPE, SIG_DFL);
  signal(SIGXFSZ, SIG_DFL);
  if (options.fileSizeLimit >= 0) {
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.fileSizeLimit);
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

// Appends what `fd` has to `text`; closes it and clears `open` at its end.
inline void Drain(int fd, bool& open, std::string& text) {
  char buf[4096];
  ssize_t n = read(fd, buf, sizeof buf);
  if (n <= 0) {
    open = false;
    close(fd);
  } else {
    text.append(buf, static_cast<size_t>(n));
  }
}

}  // namespace detail

// Runs `argv[0]` with the given arguments, feeds `input` on standard input and closes it (unless
// options.holdInput), and waits for the program to end, collecting both its outputs meanwhile.
inline RunResult Run(const std::vector<std::string>& argv, const std::string& input,
                     const RunOptions& options = {}) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
  int master = -1;
  const char* terminal = nullptr;
  if (options.terminal) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || (terminal = ptsname(master)) == nullptr) return {};
  }
  const auto signalAt = std::chrono::steady_clock::now() + std::chrono::microseconds(options.signalDelayUs);
  pid_t pid = fork();
  if (pid == 0) detail::StartChild(argv, options, in, out, err, terminal);
  if (options.signalGroup && !options.terminal) setpgid(pid, pid);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (master >= 0) {
    // Typing and reading go through the terminal's master side; the pipes stay unused.
    close(in[1]);
    close(out[0]);
    in[1] = dup(master);
    out[0] = master;
  }
  signal(SIGPIPE, SIG_IGN);

  RunResult result;
  size_t written = 0;
  bool inputOpen = true;
  bool inputHeld = false;  // written in full, kept open
  const bool holdInput = options.holdInput || options.terminal;  // closing a terminal hangs it up
  if (input.empty()) {
    if (holdInput) {
      inputHeld = true;
    } else {
      close(in[1]);
    }
    inputOpen = false;
  } else {
    fcntl(in[1], F_SETFL, O_NONBLOCK);
  }
  bool outOpen = true, errOpen = true, signalled = options.signal == 0 && !options.actionAfter;
  while (outOpen || errOpen) {
    fd_set rd, wr;
    FD_ZERO(&rd);
    FD_ZERO(&wr);
    int maxfd = 0;
    if (outOpen) { FD_SET(out[0], &rd); maxfd = out[0] > maxfd ? out[0] : maxfd; }
    if (errOpen) { FD_SET(err[0], &rd); maxfd = err[0] > maxfd ? err[0] : maxfd; }
    if (inputOpen) { FD_SET(in[1], &wr); maxfd = in[1] > maxfd ? in[1] : maxfd; }
    struct timeval wait = {0, 0};
    const bool timed = !signalled && options.signalDelayUs >= 0;
    const bool watching = !signalled && !options.signalWhenFiles.empty();
    if (watching) wait.tv_usec = 5000;
    if (timed) {
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(signalAt - std::chrono::steady_clock::now());
      const long us = left.count() > 0 ? static_cast<long>(left.count()) : 0;
      wait.tv_sec = us / 1000000;
      wait.tv_usec = us % 1000000;
    }
    const int ready = select(maxfd + 1, &rd, &wr, nullptr, timed || watching ? &wait : nullptr);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (watching && std::all_of(options.signalWhenFiles.begin(), options.signalWhenFiles.end(),
                                [&](const std::string& prefix) { return detail::FileReached(prefix, options.signalWhenBytes); })) {
      kill(options.signalGroup ? -pid : pid, options.signal);
      signalled = true;
    }
    if (timed && std::chrono::steady_clock::now() >= signalAt) {
      for (int k = 0; k < options.signalCount; ++k) {
        if (k > 0) usleep(1500);
        kill(options.signalGroup ? -pid : pid, options.signal);
      }
      signalled = true;
    }
    if (ready == 0) continue;
    if (inputOpen && FD_ISSET(in[1], &wr)) {
      ssize_t n = write(in[1], input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 && errno != EAGAIN) written = input.size();
      if (written >= input.size()) {
        if (holdInput) {
          inputHeld = true;
        } else {
          close(in[1]);
        }
        inputOpen = false;
      }
    }
    if (outOpen && FD_ISSET(out[0], &rd)) {
      detail::Drain(out[0], outOpen, result.out);
      if (!signalled && options.signalDelayUs < 0 && result.out.find(options.signalAfter) != std::string::npos) {
        if (options.signal != 0) kill(pid, options.signal);
        if (options.actionAfter) options.actionAfter();
        signalled = true;
      }
    }
    if (errOpen && FD_ISSET(err[0], &rd)) detail::Drain(err[0], errOpen, result.err);
  }
  if (inputOpen || inputHeld) close(in[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

// Path of a program built into the build folder, e.g. Program("ostrelenc").
inline std::string Program(const std::string& name) { return std::string(OSTREL_BUILD_DIR) + "/" + name; }

}  // namespace ostrel::test

#endif

