// A counting semaphore private to the process, with a timed wait, for handing finished sound
// buffers from a device thread back to the thread that fills them.
#pragma once

#include <condition_variable>
#include <mutex>

namespace ostrel {

class Semaphore {
 public:
  // Starts with `initial` counts; the count never exceeds `maximum`.
  Semaphore(long initial, long maximum);

  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  // Takes one count, waiting up to `timeoutMs` milliseconds for one to be released.
  // Returns true when a count was taken, false on timeout (nothing taken).
  bool Wait(unsigned timeoutMs);

  // Adds `count` counts and wakes waiters. Returns false, changing nothing, when that would
  // exceed the maximum or `count` is not positive. Safe from any thread.
  bool Release(long count = 1);

  // The counts available now (for tests and checks; may change at once on other threads).
  long Count() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable released_;
  long count_;
  const long maximum_;
};

}  // namespace ostrel
