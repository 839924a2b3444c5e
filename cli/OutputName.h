// Where a program's output goes when only the input is named, and when an existing output may be
// replaced.
#pragma once

#include <string>

namespace ostrel {

// "-" stands for standard input or output on every command line.
constexpr const char* STANDARD_STREAM_NAME = "-";

// The output beside `input`: its name with the last extension replaced by `extension` (".ost",
// ".wav"), or `extension` appended when the name has none. "dir/song.wav" -> "dir/song.ost".
std::string OutputBeside(const std::string& input, const std::string& extension);

// Why `output` is not written without --force: "it exists (-f replaces it)" for a plain file
// (also one reached through a symbolic link); empty when it does not exist or is something a
// program writes into rather than replaces (a device such as /dev/null, a pipe).
std::string ExistingOutputRefusal(const std::string& output);

}  // namespace ostrel
