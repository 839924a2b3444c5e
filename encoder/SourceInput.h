// The source of a run from the command line: opens a WAV file or standard input and checks that
// it can be coded. The one place that decides how an input becomes samples for the encoder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/Waveio.h"
#include "platform/OutputFile.h"

namespace ostrel {

struct Source {
  std::unique_ptr<Waveio> reader;  // read mode, at the first sample, no sum/difference
  uint64_t samples = 0;            // samples per channel; 0 when not known until the end (a pipe)
  WaveTags tags;                   // the source's own text tags (empty when it has none)
  FileId id;                       // the file, so that no output replaces it
};

// Opens `path` ("-": standard input, which stays open for the process otherwise). Returns an
// empty string when the source can be coded, otherwise the end of a sentence about it ("cannot
// be opened: No such file or directory", "is 16-bit PCM, 1 channel, 48000 Hz; the encoder needs
// ..."), to follow "ostrelenc: PATH ".
std::string OpenSource(const std::string& path, Source* source);

}  // namespace ostrel
