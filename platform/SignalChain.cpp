#include "platform/SignalChain.h"
#include "platform/SignalChainState.h"

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/Console.h"

namespace ostrel {

namespace {

using namespace signal_chain;  // the mode and the stop request, shared with the guards
// The file kRemove removes. Written only while the mode is not kRemove, so the handler never
// reads it half written.
char g_removePath[PATH_MAX];

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kEndingCount = sizeof kEndingSignals / sizeof kEndingSignals[0];
struct sigaction g_previous[kEndingCount];
bool g_installed = false;

// The signals that remove or stop; SIGQUIT is left to its core dump.
void AddRemovingSignals(sigset_t* set) {
  sigaddset(set, SIGINT);
  sigaddset(set, SIGTERM);
  sigaddset(set, SIGHUP);
}

void PassOn(int sig, siginfo_t* info, void* context, const struct sigaction& previous) {
  if (previous.sa_flags & SA_SIGINFO) {
    if (previous.sa_sigaction != nullptr) previous.sa_sigaction(sig, info, context);
    return;
  }
  if (previous.sa_handler == SIG_IGN) return;
  if (previous.sa_handler == SIG_DFL) {
    // The default action, taken as soon as this handler returns and the signal is unblocked.
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(sig, &fallback, nullptr);
    raise(sig);
    return;
  }
  previous.sa_handler(sig);
}

void OnEndingSignal(int sig, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  RestoreConsole();
  if (sig != SIGQUIT) {
    int mode = g_mode.load();
    if (mode == kStop) {
      int none = 0;
      g_stopRequested.compare_exchange_strong(none, sig);  // the first signal is the one reported
      errno = savedErrno;
      return;
    }
    if (mode == kRemove && g_mode.compare_exchange_strong(mode, kPassOn)) unlink(g_removePath);
  }
  int i = 0;
  while (i < kEndingCount && kEndingSignals[i] != sig) ++i;
  if (i < kEndingCount) PassOn(sig, info, context, g_previous[i]);
  errno = savedErrno;
}

// Ctrl-Z: the shell gets the terminal back in its saved settings while the process is stopped;
// when the process is continued in the foreground, key mode comes back.
void OnSuspend(int) {
  const int savedErrno = errno;
  const bool keyMode = ConsoleInKeyMode();
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
  if (keyMode) ResumeKeyMode();
  errno = savedErrno;
}

// Continued after a stop that could not be caught (SIGSTOP): the shell may have reset the
// terminal meanwhile, so key mode is set again.
void OnContinue(int) {
  const int savedErrno = errno;
  if (ConsoleInKeyMode()) ResumeKeyMode();
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

}  // namespace

void InstallSignalChain() {
  if (g_installed) return;
  g_installed = true;
  struct sigaction action = {};
  action.sa_sigaction = OnEndingSignal;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int sig : kEndingSignals) sigaddset(&action.sa_mask, sig);  // one link of the chain at a time
  for (int i = 0; i < kEndingCount; ++i) {
    struct sigaction& previous = g_previous[i];
    if (sigaction(kEndingSignals[i], nullptr, &previous) != 0) continue;
    // A job started with the signal ignored (in the background, under nohup) keeps it ignored.
    if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(kEndingSignals[i], &action, nullptr);
  }
  InstallIfDefault(SIGTSTP, OnSuspend);
  InstallIfDefault(SIGCONT, OnContinue);
  signal(SIGXFSZ, SIG_IGN);
}

RemoveOnSignal::RemoveOnSignal(const std::string& path) {
  InstallSignalChain();
  if (path.size() >= sizeof g_removePath) return;
  if (g_mode.load() == kStop) return;  // the run in progress completes its output
  g_mode.store(kPassOn);                // the path is rewritten while nothing reads it
  path.copy(g_removePath, path.size());
  g_removePath[path.size()] = '\0';
  g_mode.store(kRemove);
  armed_ = true;
}

std::string SignalName(int sig) { return strsignal(sig); }

DeferEndingSignals::DeferEndingSignals() {
  sigset_t block;
  sigemptyset(&block);
  AddRemovingSignals(&block);
  pthread_sigmask(SIG_BLOCK, &block, &previous_);
}

DeferEndingSignals::~DeferEndingSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace ostrel
