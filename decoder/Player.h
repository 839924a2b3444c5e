// Playing a compressed file on the sound card: the library level of `ostreldec --play`.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "audio/MCI_Buffer.h"

namespace ostrel {

struct PlayOptions {
  // The device and its buffering; the defaults play on the system's default sound output.
  SoundCardSettings soundCard;
  // Device volume for Waveio::Set_Volume, 0 to 65535 (full); negative leaves the device's own.
  int volume = -1;
  // Asked after every frame; true stops playback at once, discarding what is queued.
  std::function<bool()> stopWanted;
  // The input may start in the middle of a stream (DecodeOptions::join).
  bool join = false;
  // ReplayGain to apply: "track", "album" or "" (DecodeOptions::applyGain).
  std::string applyGain;
};

// Decodes the compressed stream `in` (a path, or "-" for standard input) and plays it through a Waveio in sound-card mode. At the end
// of the file everything queued is played out before it returns; a stop discards it. Messages go
// to `log`, one line each, prefixed "ostreldec: ". Returns the DECODE_ statuses of
// decoder/Decoder.h (a stop is not a failure); DECODE_WRITE_FAILED when the device cannot be
// opened or stops taking samples (then playback ends at once).
int PlayFile(const std::string& in, const PlayOptions& options, std::ostream& log);

}  // namespace ostrel
