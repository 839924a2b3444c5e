#include "platform/Semaphore.h"

#include <chrono>

namespace ostrel {

Semaphore::Semaphore(long initial, long maximum) : count_(initial), maximum_(maximum) {}

bool Semaphore::Wait(unsigned timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!released_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return count_ > 0; })) {
    return false;
  }
  --count_;
  return true;
}

bool Semaphore::Release(long count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count <= 0 || count > maximum_ - count_) return false;
    count_ += count;
  }
  released_.notify_all();
  return true;
}

long Semaphore::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

}  // namespace ostrel
