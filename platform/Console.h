// Console input: whole answer lines for the dialogue, and a non-blocking key test and unechoed
// single keys for the frame loop.
//
// Input is read with read(2) one byte at a time, never through stdio, so nothing typed ahead is
// swallowed into a buffer: a key sent after the last answer line stays for the key test.
//
// Terminal handling. The key test and the key read put a terminal into non-canonical, no-echo
// mode (signals such as Ctrl-C still work) and leave it there until a line is read or the process
// ends. The first time that happens, the original settings are saved and restored on every way
// out: by an atexit handler, and by handlers for SIGINT, SIGTERM, SIGHUP and SIGQUIT installed at
// that moment. Those handlers restore the terminal and then pass the signal on to whatever
// disposition was in place before them: a function handler installed earlier is called (its
// program goes on; the next key test enters the mode again), the default action is taken by
// re-raising the signal, an ignored signal stays ignored.
// A handler installed after the first key test replaces ours for its signal; if it ends the
// process by any means other than exit(), it should call RestoreConsole() first (safe there).
// Job control: Ctrl-Z (SIGTSTP) restores the terminal before the process stops, and on being
// continued in the foreground (also after SIGSTOP) key mode is set again. A process in the
// background leaves the terminal's modes alone.
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
  int fd_;
  int pending_ = -1;  // byte taken by KeyWaiting and not yet delivered
};

// The console on standard input, shared by the dialogue and the frame loop.
Console& StandardInput();
bool ReadLine(std::string& line);  // StandardInput().ReadLine(line)
bool KeyWaiting();                 // StandardInput().KeyWaiting()
int ReadKey();                     // StandardInput().ReadKey()

// Puts a terminal left in key mode back to its saved settings; does nothing otherwise.
// Async-signal-safe: callable from a signal handler.
void RestoreConsole();

// Installs the terminal-restoring signal handlers now (otherwise done at the first key test) so
// that handlers installed afterwards are the ones that run first.
void InstallConsoleSignalHandlers();

}  // namespace ostrel
