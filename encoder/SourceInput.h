// The source of a run from the command line: a sound file or standard input, opened through the
// SourceReader (which converts what is not 16-bit stereo at 44100 Hz), with the facts the
// command line reports and the tags it falls back on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/SourceReader.h"
#include "audio/Waveio.h"
#include "platform/OutputFile.h"

namespace ostrel {

struct Source {
  std::unique_ptr<SourceReader> reader;  // at the first sample
  uint64_t samples = 0;  // samples per channel at 44100 Hz the header promises; 0 when not known
  WaveTags tags;         // a WAV source's LIST/INFO text (empty when it has none)
  FileId id;             // the file, so that no output replaces it
};

// Opens `path` ("-": standard input; a pipe there must carry 16-bit stereo 44100 Hz WAV, since
// converted sources are read twice). Returns an empty string when the source can be coded,
// otherwise the end of a sentence about it, to follow "ostrelenc: PATH " ("cannot be opened: No
// such file or directory", "is a folder", "is ADPCM, which is not supported").
std::string OpenSource(const std::string& path, Source* source);

}  // namespace ostrel
