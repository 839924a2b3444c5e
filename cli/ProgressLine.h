// The programs' progress display: one line on standard error rewritten in place while a file is
// coded (percent of samples, elapsed time, speed as a multiple of real time, time left), and the
// wording of the figures shown after it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace ostrel {

class ProgressLine {
 public:
  // `out` is borrowed (standard error). With `enabled` false nothing is ever printed, but the
  // clock still runs. `label` begins the line (the program and the file). `totalSamples` is the
  // source length in samples per channel, 0 when it is not known (standard input).
  ProgressLine(std::FILE* out, bool enabled, std::string label, uint64_t totalSamples, unsigned sampleRate);
  ~ProgressLine();  // Clear()
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // `samplesDone` samples per channel are coded: rewrites the line, at most five times a second.
  void Update(uint64_t samplesDone);

  // Removes the line, so that what follows starts at the left margin of an empty line.
  void Clear();

  // Seconds since construction.
  double Elapsed() const;

  // The line for `samplesDone` at `elapsed` seconds, without "\r" (exposed for tests).
  std::string Text(uint64_t samplesDone, double elapsed) const;

 private:
  std::FILE* out_;
  bool enabled_;
  std::string label_;
  uint64_t total_;
  unsigned rate_;
  std::chrono::steady_clock::time_point start_;
  double lastShown_ = -1.0;
  size_t shownLength_ = 0;  // characters of the line now on the screen
};

// "0:07", "3:02", "1:02:03": whole seconds as a clock reading.
std::string ClockText(double seconds);

// "3.7 s of 60.0 s (6%)", or "3.7 s" when `totalSamples` is 0: how much of a source was coded.
std::string CodedText(uint64_t samplesDone, uint64_t totalSamples, unsigned sampleRate);

// "1.2 MB", "830 kB", "512 bytes".
std::string SizeText(uint64_t bytes);

// "31.2x real time": `audioSeconds` of audio in `elapsed` seconds.
std::string SpeedText(double audioSeconds, double elapsed);

}  // namespace ostrel
