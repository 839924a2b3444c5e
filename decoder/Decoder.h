// The decoder's library level: compressed file in, 16-bit stereo PCM out (a WAV file, or any
// Waveio sink such as the sound card), plus the header and per-frame listing of `ostreldec --info`.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "audio/Waveio.h"
#include "coding/FrameReader.h"

namespace ostrel {

// Exit statuses of the decoding functions (and of ostreldec).
constexpr int DECODE_OK = 0;
// Decoding ran to the end, but frames were damaged (decoded as silence) or missing (a file
// shorter than its header says, or a frame count of 0 left by an interrupted encoder).
constexpr int DECODE_DAMAGED = 1;
// The input is not a compressed file this decoder can read, cannot be opened, or the command
// line is wrong. Nothing was written.
constexpr int DECODE_BAD_INPUT = 2;
// The output could not be written (or would have overwritten the input). No output file is left.
constexpr int DECODE_WRITE_FAILED = 3;

struct DecodeOptions {
  // What messages call the input; empty: its path.
  std::string name;
  // Decoding only: called once the header has been read, with the frames that will be decoded
  // and the samples per channel each holds.
  std::function<void(uint32_t frames, uint32_t samplesPerFrame)> onStart;
  // PrintInfo: one line per frame after the header.
  bool verbose = false;
  // Called after each frame has been read (and, when decoding, synthesised and written) with the
  // frame's number, counted from 0, and what the reader found. Returning false stops decoding
  // after that frame; the result is then computed from the frames done so far.
  std::function<bool(uint32_t frame, const FrameReport& report)> onFrame;
  // DecodeFile: a plain file that appears under the output's name while decoding is replaced
  // (-f); otherwise it is kept and the output is reported as not written.
  bool replace = false;
};

// Decodes the compressed file `in` into the WAV file `out` (16-bit stereo, 44100 Hz). The output
// lines up sample for sample with the encoder's input and holds frames x samples per frame minus
// half a long block samples per channel. It is written under a temporary name in the same folder
// and renamed into place only when decoding completed (with or without damaged frames), so a
// failed run leaves no output behind; `out` may not name the input file. An `out` that exists and
// is not a plain file (a symbolic link, a device such as /dev/null, a pipe) is written into
// directly instead, never replaced; an output that cannot seek back (a pipe) gets a WAV header with
// the lengths 0xFFFFFFFF. Messages (bad input,
// damaged or missing frames, write failures) go to `log`, one line each, prefixed "ostreldec: ".
// Returns one of the DECODE_ statuses.
int DecodeFile(const std::string& in, const std::string& out, const DecodeOptions& options, std::ostream& log);

// Decodes the compressed file `in` into `pcm`, a Waveio in write or sound-card mode that stays the
// caller's: it is neither closed nor finished here. Messages and result as DecodeFile, except that
// write failures of the sink are the caller's to detect.
int DecodeToPcm(const std::string& in, Waveio& pcm, const DecodeOptions& options, std::ostream& log);

// Prints the header of the compressed file `in` on `out` (rate, frame size, frame count, duration,
// title, author, comments) and, with options.verbose, one line per frame (step size, switch flags
// and locations, symbol count, bits used, or why the frame is damaged). Messages go to `log`.
// Returns DECODE_OK, DECODE_DAMAGED when the frames listed are damaged or missing, or
// DECODE_BAD_INPUT.
int PrintInfo(const std::string& in, const DecodeOptions& options, std::ostream& out, std::ostream& log);

// Writes the listing line of one frame, e.g. "frame 4: step 17, switch -/5, symbols 9120, bits
// 47488" (switch locations per channel, "-" for no switch), or "frame 4: damaged (bad sync word)".
void PrintFrameLine(std::ostream& out, uint32_t frame, const FrameReport& report);

}  // namespace ostrel
