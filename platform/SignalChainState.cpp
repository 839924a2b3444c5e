// The guards' side of the signal chain that does not depend on the platform: disarming a removal,
// arming and ending a stop, and what a run asks about its stop.
#include "platform/SignalChain.h"
#include "platform/SignalChainState.h"

namespace ostrel {

namespace signal_chain {

static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch lock-free atomics");
std::atomic<int> g_mode{kPassOn};
std::atomic<int> g_stopRequested{0};

}  // namespace signal_chain

using namespace signal_chain;

RemoveOnSignal::~RemoveOnSignal() { Disarm(); }

void RemoveOnSignal::Disarm() {
  if (!armed_) return;
  armed_ = false;
  int mode = kRemove;
  g_mode.compare_exchange_strong(mode, kPassOn);
}

StopOnSignal::StopOnSignal() {
  InstallSignalChain();
  continued_ = g_mode.load() == kStop;
  if (continued_) return;
  g_stopRequested.store(0);
  g_mode.store(kStop);
}

StopOnSignal::~StopOnSignal() {
  if (continued_) return;
  int mode = kStop;
  g_mode.compare_exchange_strong(mode, kPassOn);
}

bool StopRequested() { return g_stopRequested.load() != 0; }

int StopSignal() { return g_stopRequested.load(); }

}  // namespace ostrel
