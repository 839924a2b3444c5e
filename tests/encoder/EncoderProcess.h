// Runs the encoder with piped input and, on request, a file-size limit or a signal sent once its
// output shows a given text: for end-to-end tests of interruption and write failures.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/Process.h"

namespace ostrel::test {

struct RunOptions {
  long fileSizeLimit = -1;   // bytes a file of the program may grow to; -1: no limit
  std::string signalAfter;   // once standard output contains this text, send `signal`
  int signal = 0;
};

// Like Run, with the options above. The input is written whole and then closed.
inline RunResult RunWith(const std::string& program, const std::string& input, const RunOptions& options) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    // As if started from a terminal, whatever the test runner ignores.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    if (options.fileSizeLimit >= 0) {
      // Writes beyond the limit then fail with EFBIG instead of killing the program.
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit;
      limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.fileSizeLimit);
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  // The input is short: it fits the pipe at once.
  if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
  }
  close(in[1]);

  RunResult result;
  bool outOpen = true, errOpen = true, signalled = options.signal == 0;
  char buf[4096];
  while (outOpen || errOpen) {
    fd_set rd;
    FD_ZERO(&rd);
    if (outOpen) FD_SET(out[0], &rd);
    if (errOpen) FD_SET(err[0], &rd);
    int maxfd = out[0] > err[0] ? out[0] : err[0];
    if (select(maxfd + 1, &rd, nullptr, nullptr, nullptr) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (outOpen && FD_ISSET(out[0], &rd)) {
      ssize_t n = read(out[0], buf, sizeof buf);
      if (n <= 0) {
        outOpen = false;
        close(out[0]);
      } else {
        result.out.append(buf, static_cast<size_t>(n));
      }
      if (!signalled && result.out.find(options.signalAfter) != std::string::npos) {
        kill(pid, options.signal);
        signalled = true;
      }
    }
    if (errOpen && FD_ISSET(err[0], &rd)) {
      ssize_t n = read(err[0], buf, sizeof buf);
      if (n <= 0) {
        errOpen = false;
        close(err[0]);
      } else {
        result.err.append(buf, static_cast<size_t>(n));
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace ostrel::test
