// Answer lines typed on a terminal, with line editing, a history of earlier answers and Tab
// completion of file names (libedit, when the build found it), and the clean-up of a typed or
// dropped path.
#pragma once

#include <string>

namespace ostrel {

// True when this build reads terminal lines with libedit.
bool LineEditingAvailable();

// Shows `prompt` on standard output and reads one line from the terminal on standard input with
// line editing; a line that is not empty joins the history. Returns false at end of input (Ctrl-D
// on an empty line). Without libedit: prints the prompt and reads the line as the console does.
bool EditLine(const std::string& prompt, std::string& line);

// A path as a shell user types it or a file manager drops it: surrounding blanks trimmed, one pair
// of surrounding quotes (' or ") removed, and a leading "~" or "~/" replaced by the home folder,
// "~user/" by that user's.
std::string CleanTypedPath(const std::string& answer);

}  // namespace ostrel
