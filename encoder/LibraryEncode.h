// Coding one source into an open file through libostrel's encoder: the one driver of the engine
// that the command line and the dialogue share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "audio/SourceReader.h"
#include "ostrel/ostrel.h"

namespace ostrel {

struct EncodeSettings {
  int kbps = 128;
  bool quality = false;
  int threads = 1;
  // The header's title, author and comment; an empty one is left untagged ("None" in the header).
  std::string title, author, comment;
  // Further tags (key, value), in order; a key may come more than once.
  std::vector<std::pair<std::string, std::string>> tags;
  // Tags and LENGTH in the comment (ostrel_encoder_set_fields); false writes the header the
  // dialogue has always written.
  bool fields = true;
  // Store the frame count even where the target may not seek back (the seek then fails and says
  // so); otherwise a target that cannot seek keeps the count 0 without trying.
  bool alwaysSeek = false;
  // Called before each frame is coded (ostrel_encoder_set_frame_callback); nonzero stops.
  ostrel_frame_fn onFrame = nullptr;
  void* frameUser = nullptr;
  // Called after every chunk handed over, with the samples per channel handed over so far.
  std::function<void(uint64_t samples)> progress;
  // Asked before every chunk; true ends the input there (the stream is finished as it stands).
  std::function<bool()> stopWanted;
  // Called on the encoder before the first samples (tests set what the public interface does not).
  std::function<void(ostrel_encoder*)> adjust;
};

// What coding one source came to.
struct EncodeRun {
  int status = OSTREL_OK;    // the first failure of the library, or OSTREL_OK (also after a stop)
  std::string badTag;        // with OSTREL_ERR_TAG: the key of the tag the library refused
  int writeError = 0;        // errno of a failed write, when one was seen
  int seekError = 0;         // errno of a failed seek back to the header
  uint64_t samples = 0;      // samples per channel handed to the encoder
  uint32_t frames = 0;       // frames of the stream
  uint64_t bytes = 0;        // bytes of the stream
  bool stopped = false;      // stopped by the frame callback or stopWanted
  bool countStored = false;  // the frame count was patched into the header
};

// Feeds `source` (at its first sample) to an encoder writing to `file` (which stays open and is
// flushed) until the source ends or a stop, then finishes the stream, so that it is complete up
// to where it got.
EncodeRun EncodeSource(const EncodeSettings& settings, SourceReader& source, std::FILE* file);

}  // namespace ostrel
