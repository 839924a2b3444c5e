// The console on Windows: a console's own input records for keys and lines, byte reads for pipes
// and files.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/Console.h"
#include "platform/SignalChain.h"
#include "platform/Utf8.h"

namespace ostrel {

namespace {

// The one console that may be in key mode, with the mode to put back.
std::atomic<HANDLE> g_savedHandle{nullptr};
std::atomic<DWORD> g_savedMode{0};
std::atomic<bool> g_keyMode{false};
bool g_atexitDone = false;

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

void RestoreAtExit() { RestoreConsole(); }

bool EnterKeyMode(HANDLE h) {
  if (g_keyMode) return g_savedHandle == h;
  DWORD mode = 0;
  if (!GetConsoleMode(h, &mode)) return false;
  if (!g_atexitDone) {
    std::atexit(RestoreAtExit);
    g_atexitDone = true;
  }
  InstallSignalChain();  // restores the console on Ctrl-C and the console's closing
  g_savedHandle = h;
  g_savedMode = mode;
  g_keyMode = true;
  // Processed input stays: Ctrl-C goes to the control handler, not into the keys.
  if (!SetConsoleMode(h, (mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) | ENABLE_PROCESSED_INPUT)) {
    g_keyMode = false;
    return false;
  }
  return true;
}

// The character of a key press among the console's input records, or 0 for anything else (key
// releases, Shift alone, the mouse, window changes).
wchar_t KeyChar(const INPUT_RECORD& record) {
  if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return 0;
  return record.Event.KeyEvent.uChar.UnicodeChar;
}

// One line typed on a console in its line mode, without the line end; false at its end (Ctrl-Z).
bool ReadConsoleLine(HANDLE h, std::string& line) {
  std::wstring wide;
  wchar_t buffer[256];
  for (;;) {
    DWORD n = 0;
    if (!ReadConsoleW(h, buffer, 256, &n, nullptr) || n == 0) {
      if (wide.empty()) return false;
      break;
    }
    wide.append(buffer, n);
    if (!wide.empty() && wide.back() == L'\n') break;
  }
  while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r')) wide.pop_back();
  // Ctrl-Z alone on a line is the console's end of input.
  if (wide == L"\x1a") return false;
  line = Utf8FromWide(wide);
  return true;
}

}  // namespace

void RestoreConsole() {
  if (g_keyMode) {
    SetConsoleMode(g_savedHandle, g_savedMode);
    g_keyMode = false;
  }
}

bool IsTerminal(int fd) { return IsConsole(HandleOf(fd)); }

bool ConsoleInKeyMode() { return g_keyMode; }

void ResumeKeyMode() {
  const HANDLE h = g_savedHandle;
  if (h != nullptr) EnterKeyMode(h);
}

// A pipe's or a file's byte (a console's keys come through its input records).
int Console::ReadByte(int fd, unsigned char* c) {
  const int n = _read(fd, c, 1);
  return n == 1 ? 1 : n == 0 ? 0 : -1;
}

Console::Console(int fd) : fd_(fd) {
  // Bytes as they are: no line-end translation, no Ctrl-Z as the end of a pipe.
  if (!IsConsole(HandleOf(fd))) _setmode(fd, _O_BINARY);
}

bool Console::ReadLine(std::string& line) {
  std::fflush(stdout);
  const HANDLE h = HandleOf(fd_);
  if (g_keyMode && g_savedHandle == h) RestoreConsole();
  line.clear();
  if (IsConsole(h)) {
    std::string rest;
    if (pending_ >= 0) {  // a key taken by KeyWaiting starts the line
      const char first = static_cast<char>(pending_);
      pending_ = -1;
      if (first == '\r' || first == '\n') return true;
      rest += first;
    }
    std::string typed;
    if (!ReadConsoleLine(h, typed)) {
      line = rest;
      return !rest.empty();
    }
    line = rest + typed;
    return true;
  }
  return ReadLineBytes(line);
}

bool Console::KeyWaiting() {
  if (pending_ >= 0) return true;
  const HANDLE h = HandleOf(fd_);
  if (h == INVALID_HANDLE_VALUE) return false;
  if (IsConsole(h)) {
    EnterKeyMode(h);
    for (;;) {
      INPUT_RECORD record;
      DWORD n = 0;
      if (!PeekConsoleInputW(h, &record, 1, &n) || n == 0) return false;
      if (!ReadConsoleInputW(h, &record, 1, &n) || n == 0) return false;
      const wchar_t key = KeyChar(record);
      if (key == 0) continue;  // not a key press: taken away so the next one can be seen
      pending_ = key < 0x80 ? static_cast<int>(key) : '?';
      return true;
    }
  }
  if (GetFileType(h) == FILE_TYPE_PIPE) {
    DWORD available = 0;
    if (!PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr) || available == 0) return false;
  }
  // A file (or a pipe with bytes in it): only a byte that is really there counts.
  unsigned char c = 0;
  if (ReadByte(fd_, &c) != 1) return false;
  pending_ = c;
  return true;
}

int Console::ReadKey() {
  std::fflush(stdout);
  if (pending_ >= 0) {
    const int c = pending_;
    pending_ = -1;
    return c;
  }
  const HANDLE h = HandleOf(fd_);
  if (IsConsole(h)) {
    EnterKeyMode(h);
    for (;;) {
      INPUT_RECORD record;
      DWORD n = 0;
      if (!ReadConsoleInputW(h, &record, 1, &n) || n == 0) return -1;
      const wchar_t key = KeyChar(record);
      if (key != 0) return key < 0x80 ? static_cast<int>(key) : '?';
    }
  }
  unsigned char c = 0;
  return ReadByte(fd_, &c) == 1 ? c : -1;
}

Console& StandardInput() {
  static Console console(0);
  return console;
}

bool ReadLine(std::string& line) { return StandardInput().ReadLine(line); }
bool KeyWaiting() { return StandardInput().KeyWaiting(); }
int ReadKey() { return StandardInput().ReadKey(); }

}  // namespace ostrel
