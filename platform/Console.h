// Console input: whole answer lines for the dialogue, and a non-blocking key test and unechoed
// single keys for the frame loop.
//
// Input is read with read(2) one byte at a time, never through stdio, so nothing typed ahead is
// swallowed into a buffer: a key sent after the last answer line stays for the key test.
//
// Terminal handling. The key test and the key read put a terminal into non-canonical, no-echo
// mode (signals such as Ctrl-C still work) and leave it there until a line is read or the process
// ends. The first time that happens, the original settings are saved and restored on every way
// out: by an atexit handler, and by the signal chain (platform/SignalChain.h), installed at that
// moment if the program has not done so, which restores the terminal first on SIGINT, SIGTERM,
// SIGHUP and SIGQUIT and takes care of Ctrl-Z and of being continued. A process in the
// background leaves the terminal's modes alone.
//
// On Windows a console is read as the keys it delivers (lines typed in UTF-16, handed on in
// UTF-8); key mode turns its line input and echo off, and Ctrl-C still reaches the control
// handler of the signal chain. Pipes and files are read byte by byte as elsewhere.
#pragma once

#include <string>

namespace ostrel {

class Console {
 public:
  // Reads from the open descriptor `fd`, which stays the caller's.
  explicit Console(int fd);

  // Reads one line: the bytes up to a line end, without the "\n" or "\r\n". A last line without a
  // line end is still a line. Returns false at end of input when nothing was read. Flushes
  // standard output first so a pending prompt is visible; on a terminal it leaves key mode so
  // the answer is echoed and editable.
  bool ReadLine(std::string& line);

  // Non-blocking. On a terminal: a key press is waiting. Otherwise: a byte is waiting on the
  // descriptor (end of input is not a key). A byte found here is kept for the next read.
  bool KeyWaiting();

  // Reads one key without echo and without waiting for Enter; -1 at end of input.
  int ReadKey();

 private:
  // One byte from `fd`; 1 read, 0 end of input, -1 error.
  static int ReadByte(int fd, unsigned char* c);
  // ReadLine on a descriptor read as bytes (a pipe, a file, a POSIX terminal): into the emptied
  // `line`, after the byte KeyWaiting kept if any.
  bool ReadLineBytes(std::string& line);

  int fd_;
  int pending_ = -1;  // byte taken by KeyWaiting and not yet delivered
};

// The console on standard input, shared by the dialogue and the frame loop.
Console& StandardInput();
bool ReadLine(std::string& line);  // StandardInput().ReadLine(line)
bool KeyWaiting();                 // StandardInput().KeyWaiting()
int ReadKey();                     // StandardInput().ReadKey()

// Whether descriptor `fd` is a terminal: isatty, except that on Windows only a console counts
// (the C runtime's isatty also says yes for NUL and other character devices).
bool IsTerminal(int fd);

// Puts a terminal left in key mode back to its saved settings; does nothing otherwise.
// Async-signal-safe: callable from a signal handler.
void RestoreConsole();

// For the job-control handlers of the signal chain; both async-signal-safe.
// Whether a terminal is in key mode now.
bool ConsoleInKeyMode();
// Puts the terminal that was in key mode back into it, when the process is in the foreground.
void ResumeKeyMode();

}  // namespace ostrel
