// The signal chain on Windows: the console's control handler, which the system calls on a thread
// of its own for Ctrl-C, Ctrl-Break and the console's closing.
#include <windows.h>

#include <atomic>
#include <csignal>
#include <mutex>

#include "platform/Console.h"
#include "platform/SignalChain.h"
#include "platform/SignalChainState.h"
#include "platform/Utf8.h"

namespace ostrel {

namespace {

using namespace signal_chain;  // the mode and the stop request, shared with the guards
// The file kRemove removes: a long path's whole length. Written only while the mode is not
// kRemove, and the handler reads it only in kRemove.
wchar_t g_removePath[32768];
std::atomic<bool> g_installed{false};
// Held by DeferEndingSignals; the handler takes it before it acts, so it waits for the end of a
// step that must not be cut in two. Recursive: such steps may nest.
std::recursive_mutex g_defer;

int SignalOfEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return SIGINT;
    case CTRL_BREAK_EVENT:
      return SIGBREAK;
    default:  // the console closes, the user logs off, the system shuts down
      return SIGTERM;
  }
}

BOOL WINAPI OnControl(DWORD event) {
  const int sig = SignalOfEvent(event);
  std::lock_guard<std::recursive_mutex> deferred(g_defer);
  RestoreConsole();
  int mode = g_mode.load();
  if (mode == kStop) {
    int none = 0;
    g_stopRequested.compare_exchange_strong(none, sig);  // the first one is the one reported
    return TRUE;                                          // the run stops itself
  }
  if (mode == kRemove && g_mode.compare_exchange_strong(mode, kPassOn)) DeleteFileW(g_removePath);
  return FALSE;  // the next handler, in the end the system's, which ends the process
}

}  // namespace

void InstallSignalChain() {
  if (g_installed.exchange(true)) return;
  SetConsoleCtrlHandler(OnControl, TRUE);
}

RemoveOnSignal::RemoveOnSignal(const std::string& path) {
  InstallSignalChain();
  const std::wstring wide = WideFromUtf8(path);
  if (wide.size() >= sizeof g_removePath / sizeof g_removePath[0]) return;
  if (g_mode.load() == kStop) return;  // the run in progress completes its output
  std::lock_guard<std::recursive_mutex> deferred(g_defer);
  g_mode.store(kPassOn);
  wide.copy(g_removePath, wide.size());
  g_removePath[wide.size()] = L'\0';
  g_mode.store(kRemove);
  armed_ = true;
}

std::string SignalName(int sig) {
  switch (sig) {
    case SIGINT:
      return "Ctrl-C";
    case SIGBREAK:
      return "Ctrl-Break";
    case SIGTERM:
      return "the console's closing";
    default:
      return "signal " + std::to_string(sig);
  }
}

DeferEndingSignals::DeferEndingSignals() { g_defer.lock(); }

DeferEndingSignals::~DeferEndingSignals() { g_defer.unlock(); }

}  // namespace ostrel
