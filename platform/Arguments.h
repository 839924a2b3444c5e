// A program's arguments and standard streams as the programs expect them on every system: the
// arguments in UTF-8, standard input and output carrying bytes unchanged.
#pragma once

namespace ostrel {

// Called first thing in main. On Windows it replaces `argc` and `argv` with the command line's
// own wide arguments converted to UTF-8 (the C runtime's argv holds them in the ANSI code page,
// which cannot name every file), puts standard input and output into binary mode (no line-end
// translation in a stream or a WAV file) and makes the console show UTF-8. Elsewhere it does
// nothing. The new argv lives until the process ends.
void UseUtf8Arguments(int& argc, char**& argv);

}  // namespace ostrel
