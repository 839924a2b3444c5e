#include "platform/RemoveOnSignal.h"

#include <signal.h>
#include <unistd.h>

namespace ostrel {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// The path to remove; read by the handler, so it is set before the handlers go in and cleared
// (atomically, as a pointer) before the string it points into goes away.
const char* volatile g_path = nullptr;
bool g_installed[kSignalCount] = {};
struct sigaction g_previous[kSignalCount];

extern "C" void RemoveAndEnd(int sig) {
  const char* path = g_path;
  g_path = nullptr;
  if (path != nullptr) unlink(path);
  // The default action (ending the process) once this handler returns and unblocks the signal.
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(sig, &fallback, nullptr);
  raise(sig);
}

}  // namespace

RemoveOnSignal::RemoveOnSignal(const std::string& path) : path_(path) {
  g_path = path_.c_str();
  for (int i = 0; i < kSignalCount; ++i) {
    struct sigaction current;
    g_installed[i] = false;
    if (sigaction(kSignals[i], nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action = {};
    action.sa_handler = RemoveAndEnd;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals) sigaddset(&action.sa_mask, sig);  // one removal at a time
    action.sa_flags = SA_RESTART;
    g_installed[i] = sigaction(kSignals[i], &action, &g_previous[i]) == 0;
  }
}

RemoveOnSignal::~RemoveOnSignal() {
  Disarm();
  for (int i = 0; i < kSignalCount; ++i) {
    if (g_installed[i]) sigaction(kSignals[i], &g_previous[i], nullptr);
    g_installed[i] = false;
  }
}

void RemoveOnSignal::Disarm() { g_path = nullptr; }

}  // namespace ostrel
