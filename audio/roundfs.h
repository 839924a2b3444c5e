// The one conversion of float samples on the 16-bit scale to 16-bit PCM, shared by the WAV and
// sound-card writers and the library's decoder. Kept apart from Waveio so that a decoder that
// only converts samples does not link the file and sound-card code.
#pragma once

namespace ostrel {

// Converts a float sample to 16 bits: clamps to -32768.0 .. 32767.0, then rounds halves upward
// (2.5 -> 3, -2.5 -> -2). NaN gives 0.
short roundfs(float input);

}  // namespace ostrel
