#include "platform/JobRunner.h"

#include "platform/SignalChain.h"

#if defined(_WIN32)
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>
#else
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#endif

namespace ostrel {

#if defined(_WIN32)

void RunJobs(size_t count, int parallel, const JobCalls& calls) {
  StopOnSignal stop;
  std::mutex mutex;
  std::condition_variable ended;
  size_t running = 0;
  std::vector<std::thread> threads;
  for (size_t index = 0; index < count && !StopRequested(); ++index) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      // The stop is polled: the console's handler cannot wake this wait.
      while (running >= static_cast<size_t>(parallel)) ended.wait_for(lock, std::chrono::milliseconds(20));
      if (StopRequested()) break;
      ++running;
    }
    try {
      threads.emplace_back([&calls, &mutex, &ended, &running, index] {
        const int status = calls.run(index);
        std::lock_guard<std::mutex> lock(mutex);
        calls.ended(index, status);
        --running;
        ended.notify_all();
      });
    } catch (const std::system_error& e) {
      std::lock_guard<std::mutex> lock(mutex);
      --running;
      calls.cannotStart(index, e.what());
    }
  }
  for (std::thread& thread : threads) thread.join();
}

#else

void RunJobs(size_t count, int parallel, const JobCalls& calls) {
  // The jobs inherit this stop and go on with it, so a signal never ends one half-way.
  StopOnSignal stop;
  std::map<pid_t, size_t> running;
  size_t next = 0;
  bool passedOn = false;
  std::fflush(nullptr);
  while ((next < count && !StopRequested()) || !running.empty()) {
    while (!StopRequested() && next < count && running.size() < static_cast<size_t>(parallel)) {
      const size_t index = next++;
      const pid_t child = fork();
      if (child == 0) {
        const int status = calls.run(index);
        std::fflush(nullptr);
        _exit(status);
      }
      if (child < 0) {
        calls.cannotStart(index, std::strerror(errno));
        continue;
      }
      running[child] = index;
    }
    if (StopRequested() && !passedOn) {
      for (const auto& job : running) kill(job.first, StopSignal());
      passedOn = true;
    }
    int status = 0;
    const pid_t done = waitpid(-1, &status, running.empty() ? 0 : WNOHANG);
    if (done > 0) {
      const auto job = running.find(done);
      if (job != running.end()) {
        const size_t index = job->second;
        running.erase(job);
        calls.ended(index, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
      }
    } else if (done < 0 && errno == ECHILD) {
      running.clear();
    } else {
      usleep(20000);
    }
  }
}

#endif

}  // namespace ostrel
