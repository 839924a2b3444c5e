// Runs a program with piped standard input and captures what it prints, for end-to-end tests.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace ostrel::test {

struct RunResult {
  int status = -1;        // exit status when the program exited, else -1
  int signal = 0;         // the signal that ended it, if any
  std::string out, err;   // what it wrote on standard output and standard error
};

// Runs `argv[0]` with the given arguments, feeds `input` on standard input and closes it, and
// waits for the program to end. `workdir`, when not empty, is its working folder.
inline RunResult Run(const std::vector<std::string>& argv, const std::string& input,
                     const std::string& workdir = "") {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    if (!workdir.empty() && chdir(workdir.c_str()) != 0) _exit(127);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);

  RunResult result;
  size_t written = 0;
  bool inputOpen = true;
  if (input.empty()) {
    close(in[1]);
    inputOpen = false;
  } else {
    fcntl(in[1], F_SETFL, O_NONBLOCK);
  }
  bool outOpen = true, errOpen = true;
  char buf[4096];
  while (outOpen || errOpen) {
    fd_set rd, wr;
    FD_ZERO(&rd);
    FD_ZERO(&wr);
    int maxfd = 0;
    if (outOpen) { FD_SET(out[0], &rd); maxfd = out[0] > maxfd ? out[0] : maxfd; }
    if (errOpen) { FD_SET(err[0], &rd); maxfd = err[0] > maxfd ? err[0] : maxfd; }
    if (inputOpen) { FD_SET(in[1], &wr); maxfd = in[1] > maxfd ? in[1] : maxfd; }
    if (select(maxfd + 1, &rd, &wr, nullptr, nullptr) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (inputOpen && FD_ISSET(in[1], &wr)) {
      ssize_t n = write(in[1], input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 && errno != EAGAIN) written = input.size();
      if (written >= input.size()) { close(in[1]); inputOpen = false; }
    }
    if (outOpen && FD_ISSET(out[0], &rd)) {
      ssize_t n = read(out[0], buf, sizeof buf);
      if (n <= 0) { outOpen = false; close(out[0]); } else { result.out.append(buf, static_cast<size_t>(n)); }
    }
    if (errOpen && FD_ISSET(err[0], &rd)) {
      ssize_t n = read(err[0], buf, sizeof buf);
      if (n <= 0) { errOpen = false; close(err[0]); } else { result.err.append(buf, static_cast<size_t>(n)); }
    }
  }
  if (inputOpen) close(in[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

// Path of a program built into the build folder, e.g. Program("ostrelenc").
inline std::string Program(const std::string& name) { return std::string(OSTREL_BUILD_DIR) + "/" + name; }

}  // namespace ostrel::test
