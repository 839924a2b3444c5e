// Run and Program of common/Process.h on Windows: the program started with CreateProcessW, its
// standard streams pipes that threads of this process feed and drain.
#pragma once

// Lean: the multimedia header's macros (WAVE_FORMAT_PCM, ...) would clash with the WAV reader's names.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Utf8.h"

namespace ostrel::test {

struct RunResult {
  int status = -1;        // exit status when the program exited, else -1
  int signal = 0;         // always 0 here
  std::string out, err;   // what it wrote on standard output and standard error ("\r\n" as "\n")
};

// The options of the POSIX Run; only workdir, holdInput and signalAfter with actionAfter work
// here. The others are refused (status -1), and the tests that want them skip on Windows.
struct RunOptions {
  std::string workdir;
  long fileSizeLimit = -1;
  std::string signalAfter;
  long signalDelayUs = -1;
  std::vector<std::string> signalWhenFiles;  // as in Process.h; the signal tests skip on Windows
  long signalWhenBytes = 0;
  int signal = 0;
  int signalCount = 1;
  bool signalGroup = false;
  bool holdInput = false;
  std::function<void()> actionAfter;
  bool terminal = false;
};

namespace detail {

// One argument as CommandLineToArgvW reads it back: quoted when it has blanks or quotes, with
// the backslashes before a quote doubled.
inline std::wstring QuotedArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

inline void DrainPipe(HANDLE h, std::string* text, const std::function<void(const std::string&)>& seen) {
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0) {
    text->append(buffer, n);
    if (seen) seen(*text);
  }
}

}  // namespace detail

inline RunResult Run(const std::vector<std::string>& argv, const std::string& input, const RunOptions& options = {}) {
  RunResult result;
  if (options.terminal || options.fileSizeLimit >= 0 || options.signal != 0) {
    result.err = "Run: terminals, file-size limits and signals are not available on Windows";
    return result;
  }
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE inRead, inWrite, outRead, outWrite, errRead, errWrite;
  if (!CreatePipe(&inRead, &inWrite, &inherit, 0) || !CreatePipe(&outRead, &outWrite, &inherit, 0) ||
      !CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    return result;
  }
  for (HANDLE mine : {inWrite, outRead, errRead}) SetHandleInformation(mine, HANDLE_FLAG_INHERIT, 0);
  std::wstring command;
  for (const std::string& arg : argv) {
    if (!command.empty()) command += L' ';
    command += detail::QuotedArgument(WideFromUtf8(arg));
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inRead;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process = {};
  const std::wstring workdir = WideFromUtf8(options.workdir);
  const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      workdir.empty() ? nullptr : workdir.c_str(), &startup, &process);
  CloseHandle(inRead);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (!started) {
    CloseHandle(inWrite);
    CloseHandle(outRead);
    CloseHandle(errRead);
    result.err = "Run: cannot start " + (argv.empty() ? std::string() : argv[0]);
    return result;
  }
  bool acted = false;
  std::function<void(const std::string&)> watch;
  if (options.actionAfter) {
    watch = [&](const std::string& out) {
      if (!acted && out.find(options.signalAfter) != std::string::npos) {
        acted = true;
        options.actionAfter();
      }
    };
  }
  std::thread writer([&] {
    DWORD n = 0;
    for (size_t written = 0; written < input.size(); written += n) {
      if (!WriteFile(inWrite, input.data() + written, static_cast<DWORD>(input.size() - written), &n, nullptr)) break;
    }
    if (!options.holdInput) {
      CloseHandle(inWrite);
      inWrite = nullptr;
    }
  });
  std::thread errors([&] { detail::DrainPipe(errRead, &result.err, nullptr); });
  detail::DrainPipe(outRead, &result.out, watch);
  errors.join();
  writer.join();
  WaitForSingleObject(process.hProcess, INFINITE);
  if (inWrite != nullptr) CloseHandle(inWrite);
  DWORD code = 0;
  if (GetExitCodeProcess(process.hProcess, &code)) result.status = static_cast<int>(code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  CloseHandle(outRead);
  CloseHandle(errRead);
  // Standard error is in text mode, as Windows programs have it: its line ends compare as "\n".
  for (size_t at = 0; (at = result.err.find("\r\n", at)) != std::string::npos;) result.err.erase(at, 1);
  return result;
}

// Path of a program built into the build folder, e.g. Program("ostrelenc").
inline std::string Program(const std::string& name) { return std::string(OSTREL_BUILD_DIR) + "/" + name + ".exe"; }

}  // namespace ostrel::test
