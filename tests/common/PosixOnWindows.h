// Lets the POSIX-only parts of the tests compile on Windows, where the tests that use them skip
// before reaching them (OSTREL_SKIP_ON_WINDOWS, with the reason). setenv and unsetenv do work.
#pragma once

#if defined(_WIN32)
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#ifndef SIGHUP
#define SIGHUP 1
#endif
#ifndef SIGQUIT
#define SIGQUIT 3
#endif
#ifndef SIGKILL
#define SIGKILL 9
#endif
#ifndef SIGXFSZ
#define SIGXFSZ 25
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#define RLIMIT_FSIZE 1
struct rlimit {
  unsigned long rlim_cur, rlim_max;
};
inline int setrlimit(int, const rlimit*) { return errno = ENOSYS, -1; }
inline int lstat(const char* path, struct stat* st) { return stat(path, st); }
inline int symlink(const char*, const char*) { return errno = ENOSYS, -1; }
inline int link(const char*, const char*) { return errno = ENOSYS, -1; }
inline int mkfifo(const char*, int) { return errno = ENOSYS, -1; }
inline int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }

#define OSTREL_SKIP_ON_WINDOWS(reason) GTEST_SKIP() << "not on Windows: " << (reason)
#else
#define OSTREL_SKIP_ON_WINDOWS(reason) \
  do {                                 \
  } while (0)
#endif
