// Removes a file that must not outlive an interrupted process: a temporary output, or a target
// created for a run that has not started yet.
#pragma once

#include <string>

namespace ostrel {

// While alive, SIGINT, SIGTERM or SIGHUP (where they would end the process anyway) first remove
// `path`, then end the process as before. Signals that are ignored or have a handler of their own
// are left alone. One guard at a time; the path is taken as given (relative paths resolve against
// the working folder at the time of the signal).
class RemoveOnSignal {
 public:
  explicit RemoveOnSignal(const std::string& path);
  ~RemoveOnSignal();  // the previous dispositions come back; the file is left as it is
  RemoveOnSignal(const RemoveOnSignal&) = delete;
  RemoveOnSignal& operator=(const RemoveOnSignal&) = delete;

  // From now on the file is kept, also on a signal (call it before the file gets its final name).
  void Disarm();

 private:
  std::string path_;
};

}  // namespace ostrel
