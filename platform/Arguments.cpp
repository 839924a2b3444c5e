#include "platform/Arguments.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "platform/Utf8.h"
#endif

namespace ostrel {

#if defined(_WIN32)

void UseUtf8Arguments(int& argc, char**& argv) {
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return;  // the C runtime's arguments, then
  static std::vector<std::string> texts;
  static std::vector<char*> pointers;
  texts.clear();
  for (int i = 0; i < count; ++i) texts.push_back(Utf8FromWide(wide[i]));
  LocalFree(wide);
  pointers.clear();
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  argc = count;
  argv = pointers.data();
}

#else

void UseUtf8Arguments(int&, char**&) {}

#endif

}  // namespace ostrel
