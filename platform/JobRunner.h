// Jobs side by side: at most a given number at once, each in a process of its own on POSIX
// systems (a forked copy of this one, so that each has its own state), in a thread of its own on
// Windows, which has no fork (the library allows instances in parallel threads).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace ostrel {

struct JobCalls {
  // Does job `index` and returns its exit status. In a forked process it is called there, and
  // what it prints is flushed before the process ends.
  std::function<int(size_t index)> run;
  // Job `index` could not be started, for `reason` (the system's words).
  std::function<void(size_t index, const std::string& reason)> cannotStart;
  // Job `index` ended with `status`: what run returned, or 128 + N when signal N ended its process.
  std::function<void(size_t index, int status)> ended;
};

// Runs jobs 0 .. count - 1 in order, at most `parallel` at once, and returns when all have ended.
// Runs under a StopOnSignal (SignalChain.h) of its own or the caller's: once a stop is requested no
// further job starts, and the running ones are stopped too (a forked one gets the signal passed
// on; a thread sees the same request) and end in their own way.
void RunJobs(size_t count, int parallel, const JobCalls& calls);

}  // namespace ostrel
