// UTF-8 text: the check every reader and writer of tags uses, and the conversion of older
// single-byte text (ISO 8859-1, what WAV INFO chunks mostly hold) into it.
#pragma once

#include <string>

namespace ostrel {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsUtf8(const std::string& text);

// `text` as it is when it is UTF-8, else read as ISO 8859-1 and converted.
std::string AsUtf8(const std::string& text);

}  // namespace ostrel

#if defined(_WIN32)
namespace ostrel {

// Windows speaks UTF-16 in its file names and command lines; the programs speak UTF-8. Invalid
// sequences become U+FFFD.
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);

// The errno value nearest to a Windows error code (GetLastError), so that messages read as they
// do elsewhere ("No such file or directory", "Permission denied", ...).
int ErrnoOfWindowsError(unsigned long error);

}  // namespace ostrel
#endif
