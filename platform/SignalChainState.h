// The state the signal chain's handler shares with its guards, the same on every platform: one
// mode, changed by single atomic stores, and the signal that asked for a stop. Only the files of
// the signal chain include this.
#pragma once

#include <atomic>

namespace ostrel {
namespace signal_chain {

// What an ending signal does once the console is restored: go on down the chain, first remove
// the armed output, or only request a stop.
enum Mode : int { kPassOn = 0, kRemove = 1, kStop = 2 };

extern std::atomic<int> g_mode;
// The signal that requested the stop (the first one), or 0.
extern std::atomic<int> g_stopRequested;

}  // namespace signal_chain
}  // namespace ostrel
