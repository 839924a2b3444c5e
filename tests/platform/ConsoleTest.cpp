#include "platform/Console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/TempDir.h"

namespace ostrel {
namespace {

// A pipe whose read end a Console reads; the write end is closed on demand (end of input).
struct Pipe {
  int fd[2];
  Pipe() { EXPECT_EQ(pipe(fd), 0); }
  ~Pipe() {
    close(fd[0]);
    Close();
  }
  void Write(const std::string& s) { EXPECT_EQ(write(fd[1], s.data(), s.size()), static_cast<ssize_t>(s.size())); }
  void Close() {
    if (fd[1] >= 0) close(fd[1]);
    fd[1] = -1;
  }
};

bool InKeyMode(int fd) {
  struct termios t;
  EXPECT_EQ(tcgetattr(fd, &t), 0);
  return (t.c_lflag & (ICANON | ECHO)) == 0;
}

bool Cooked(int fd) {
  struct termios t;
  EXPECT_EQ(tcgetattr(fd, &t), 0);
  return (t.c_lflag & ICANON) != 0 && (t.c_lflag & ECHO) != 0;
}

TEST(ConsoleLines, LineEndsTrailingLineAndEndOfInput) {
  Pipe p;
  p.Write("in.wav\r\n  path with spaces \n\nlast");
  p.Close();
  Console c(p.fd[0]);
  std::string line;
  ASSERT_TRUE(c.ReadLine(line));
  EXPECT_EQ(line, "in.wav");
  ASSERT_TRUE(c.ReadLine(line));
  EXPECT_EQ(line, "  path with spaces ");  // trimming is the caller's
  ASSERT_TRUE(c.ReadLine(line));
  EXPECT_EQ(line, "");
  ASSERT_TRUE(c.ReadLine(line));
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(c.ReadLine(line));
  EXPECT_FALSE(c.ReadLine(line));
  EXPECT_EQ(c.ReadKey(), -1);
}

TEST(ConsoleKeys, TypedAheadKeyStaysForTheKeyTest) {
  Pipe p;
  Console c(p.fd[0]);
  EXPECT_FALSE(c.KeyWaiting());  // nothing there yet: returns at once
  p.Write("5\nqQ");
  std::string line;
  ASSERT_TRUE(c.ReadLine(line));
  EXPECT_EQ(line, "5");
  EXPECT_TRUE(c.KeyWaiting());
  EXPECT_TRUE(c.KeyWaiting());  // asking twice does not lose or skip the key
  EXPECT_EQ(c.ReadKey(), 'q');
  EXPECT_EQ(c.ReadKey(), 'Q');
  EXPECT_FALSE(c.KeyWaiting());
  p.Close();
  EXPECT_FALSE(c.KeyWaiting());  // end of input is not a key
  EXPECT_EQ(c.ReadKey(), -1);
}

TEST(ConsoleKeys, ByteSeenByTheKeyTestStartsTheNextLine) {
  Pipe p;
  Console c(p.fd[0]);
  p.Write("ab\n\n");
  p.Close();
  EXPECT_TRUE(c.KeyWaiting());
  std::string line;
  ASSERT_TRUE(c.ReadLine(line));
  EXPECT_EQ(line, "ab");
  EXPECT_TRUE(c.KeyWaiting());
  ASSERT_TRUE(c.ReadLine(line));
  EXPECT_EQ(line, "");
  EXPECT_FALSE(c.ReadLine(line));
}

TEST(ConsoleKeys, RegularFileCountsItsBytesAsKeys) {
  test::TempDir dir;
  test::WriteAll(dir.File("keys"), {'x'});
  int fd = open(dir.File("keys").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  Console c(fd);
  EXPECT_TRUE(c.KeyWaiting());
  EXPECT_EQ(c.ReadKey(), 'x');
  EXPECT_FALSE(c.KeyWaiting());
  close(fd);
}

TEST(ConsoleTerminal, KeyModeReadsUnechoedKeysAndLinesRestoreIt) {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) GTEST_SKIP() << "no pseudo-terminal available";
  ASSERT_TRUE(Cooked(slave));
  Console c(slave);
  EXPECT_FALSE(c.KeyWaiting());
  EXPECT_TRUE(InKeyMode(slave));
  ASSERT_EQ(write(master, "q", 1), 1);  // no Enter
  EXPECT_TRUE(c.KeyWaiting());
  EXPECT_EQ(c.ReadKey(), 'q');

  ASSERT_EQ(write(master, "out file.ost\n", 13), 13);
  std::string line;
  ASSERT_TRUE(c.ReadLine(line));
  EXPECT_EQ(line, "out file.ost");
  EXPECT_TRUE(Cooked(slave));

  ASSERT_EQ(write(master, "z", 1), 1);
  EXPECT_EQ(c.ReadKey(), 'z');
  EXPECT_TRUE(InKeyMode(slave));
  RestoreConsole();
  EXPECT_TRUE(Cooked(slave));
  RestoreConsole();  // harmless when nothing is in key mode
  EXPECT_TRUE(Cooked(slave));
  close(master);
  close(slave);
}

// The scenarios below run in a process started afresh (no handler of an earlier test installed).
// Each puts a pseudo-terminal into key mode in a child, ends the child in one way, and checks the
// terminal afterwards. Returns 0 when all went as it should.
int g_handled = 0;
void CountSignal(int) { g_handled = g_handled + 1; }

int ChildEndsThenCheck(void (*child)(int slave), int expectSignal, int expectCode) {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 0;  // nothing to test without one
  pid_t pid = fork();
  if (pid == 0) {
    child(slave);
    _exit(99);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (expectSignal != 0 && !(WIFSIGNALED(status) && WTERMSIG(status) == expectSignal)) return 10;
  if (expectSignal == 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == expectCode)) return 11;
  struct termios t;
  if (tcgetattr(slave, &t) != 0) return 12;
  if ((t.c_lflag & ICANON) == 0 || (t.c_lflag & ECHO) == 0) return 13;
  return 0;
}

void EnterKeyModeOn(int slave) {
  Console c(slave);
  c.KeyWaiting();
  struct termios t;
  tcgetattr(slave, &t);
  if (t.c_lflag & ICANON) _exit(98);  // key mode was not entered: the check would prove nothing
}

TEST(ConsoleTerminalDeathTest, EveryWayOutRestoresTheTerminal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Killed by a signal whose default action ends the process.
  EXPECT_EXIT(std::exit(ChildEndsThenCheck([](int s) { EnterKeyModeOn(s); raise(SIGTERM); }, SIGTERM, 0)),
              testing::ExitedWithCode(0), "");
  EXPECT_EXIT(std::exit(ChildEndsThenCheck([](int s) { EnterKeyModeOn(s); raise(SIGHUP); }, SIGHUP, 0)),
              testing::ExitedWithCode(0), "");
  // Normal exit.
  EXPECT_EXIT(std::exit(ChildEndsThenCheck([](int s) { EnterKeyModeOn(s); std::exit(4); }, 0, 4)),
              testing::ExitedWithCode(0), "");
  // A handler installed before the key mode is still called, after the terminal was restored.
  EXPECT_EXIT(std::exit(ChildEndsThenCheck(
                  [](int s) {
                    signal(SIGINT, CountSignal);
                    EnterKeyModeOn(s);
                    raise(SIGINT);
                    struct termios t;
                    tcgetattr(s, &t);
                    _exit(g_handled == 1 && (t.c_lflag & ICANON) ? 5 : 6);
                  },
                  0, 5)),
              testing::ExitedWithCode(0), "");
}

// Job control. A session on a pseudo-terminal with a job in its own process group, as a shell
// runs it; `scenario` is what happens to the job once it is in key mode (or, for kBackground,
// what it tries while in the background). Returns 0 when all went as it should.
enum JobScenario { kCtrlZ, kStopAndShellReset, kBackground };

int JobControlCheck(JobScenario scenario) {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 0;  // nothing to test without one
  const pid_t leader = fork();
  if (leader == 0) {
    signal(SIGTTOU, SIG_IGN);  // the "shell" sets the terminal also while a job is in the foreground
    if (setsid() < 0 || ioctl(slave, TIOCSCTTY, 0) != 0) _exit(30);
    int go[2];
    if (pipe(go) != 0) _exit(31);
    const pid_t job = fork();
    if (job == 0) {
      signal(SIGTTOU, SIG_DFL);
      setpgid(0, 0);
      char c;
      if (read(go[0], &c, 1) != 1) _exit(40);
      Console console(slave);
      if (scenario == kBackground) {
        if (write(master, "q", 1) != 1) _exit(41);
        // Neither the key test nor its key mode may touch a terminal that belongs to another job.
        if (console.KeyWaiting()) _exit(42);
        _exit(Cooked(slave) ? 0 : 43);
      }
      console.KeyWaiting();
      if (!InKeyMode(slave)) _exit(44);
      raise(scenario == kCtrlZ ? SIGTSTP : SIGSTOP);
      // Continued: key mode is back, so a q needs no Enter.
      _exit(InKeyMode(slave) ? 0 : 45);
    }
    setpgid(job, job);
    if (scenario != kBackground && tcsetpgrp(slave, job) != 0) _exit(32);
    if (write(go[1], "g", 1) != 1) _exit(33);
    int status = 0;
    if (waitpid(job, &status, WUNTRACED) != job) _exit(34);
    if (WIFSTOPPED(status)) {
      if (scenario == kBackground) {
        kill(job, SIGKILL);
        _exit(35);  // stopped for touching the terminal from the background
      }
      // Ctrl-Z hands the terminal back as it was; after SIGSTOP the shell resets it itself.
      if (scenario == kCtrlZ && !Cooked(slave)) _exit(36);
      if (scenario == kStopAndShellReset) {
        struct termios t;
        tcgetattr(slave, &t);
        t.c_lflag |= ICANON | ECHO;
        tcsetattr(slave, TCSANOW, &t);
      }
      kill(job, SIGCONT);
      if (waitpid(job, &status, 0) != job) _exit(37);
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 38);
  }
  int status = 0;
  waitpid(leader, &status, 0);
  close(master);
  close(slave);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 39;
}

TEST(ConsoleTerminalDeathTest, JobControlKeepsKeyModeForTheForegroundJobOnly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(JobControlCheck(kCtrlZ)), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(std::exit(JobControlCheck(kStopAndShellReset)), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(std::exit(JobControlCheck(kBackground)), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ostrel
