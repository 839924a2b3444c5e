// The decoder's program level over libostrel: a compressed stream in (a file, or standard input
// read as it comes), 16-bit stereo PCM out (a WAV file, or any Waveio sink such as the sound
// card), plus the header and per-frame listing of `ostreldec --info`.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "audio/Waveio.h"
#include "ostrel/ostrel.h"

namespace ostrel {

// Exit statuses of the decoding functions (and of ostreldec).
constexpr int DECODE_OK = 0;
// Decoding ran to the end, but frames were damaged (decoded as silence) or missing (a file
// shorter than its header says, or a frame count of 0 left by an interrupted encoder).
constexpr int DECODE_DAMAGED = 1;
// The input is not a compressed file this decoder can read, cannot be opened or read, or the
// command line is wrong. No output was left.
constexpr int DECODE_BAD_INPUT = 2;
// The output could not be written (or would have overwritten the input). No output file is left.
constexpr int DECODE_WRITE_FAILED = 3;

struct DecodeOptions {
  // What messages call the input; empty: its path ("standard input" for "-").
  std::string name;
  // The input may start in the middle of a stream: without a header it is decoded from the first
  // frame found (ostrel_decoder_open with OSTREL_JOIN), which is said on the log.
  bool join = false;
  // Decoding only: "track" or "album" scales the output by the stream's REPLAYGAIN_TRACK_GAIN or
  // REPLAYGAIN_ALBUM_GAIN, lowered so that the matching peak stays within full scale; a stream
  // without the tag is decoded as it is, which is said on the log. "" (the default): no gain.
  std::string applyGain;
  // Decoding only: called once the header has been read (or the first frame found), with what it
  // says (`frames` and `samples` 0 when not known).
  std::function<void(const ostrel_info& info)> onStart;
  // PrintInfo: one line per frame after the header.
  bool verbose = false;
  // Called after each frame has been decoded (and, when decoding, written) with the frame's
  // number, counted from 0, and what it held. Returning false stops decoding after that frame;
  // the result is then computed from the frames done so far.
  std::function<bool(uint32_t frame, const ostrel_frame_report& report)> onFrame;
  // DecodeFile: a plain file that appears under the output's name while decoding is replaced
  // (-f); otherwise it is kept and the output is reported as not written.
  bool replace = false;
};

// Decodes the compressed stream `in` (a path, or "-" for standard input, read as it arrives: a
// pipe is decoded while it is still being written) into the WAV file `out` (16-bit stereo,
// 44100 Hz). The output lines up sample for sample with the encoder's input and holds
// ostrel_stream_samples of the frames decoded. It is written under a temporary name in the same
// folder and renamed into place only when decoding completed (with or without damaged frames), so
// a failed run leaves no output behind; `out` may not name the input file. An `out` that exists
// and is not a plain file (a symbolic link, a device such as /dev/null, a pipe) is written into
// directly instead, never replaced; an output that cannot seek back (a pipe) gets a WAV header
// with the lengths 0xFFFFFFFF. Messages (bad input, damaged or missing frames, read and write
// failures) go to `log`, one line each, prefixed "ostreldec: ". Returns one of the DECODE_
// statuses.
int DecodeFile(const std::string& in, const std::string& out, const DecodeOptions& options, std::ostream& log);

// Decodes the compressed stream `in` into `pcm`, a Waveio in write or sound-card mode that stays
// the caller's: it is neither closed nor finished here. Messages and result as DecodeFile, except
// that write failures of the sink are the caller's to detect.
int DecodeToPcm(const std::string& in, Waveio& pcm, const DecodeOptions& options, std::ostream& log);

// Prints the header of the compressed stream `in` on `out` (rate, frame size, frame count,
// duration, title, author, comments) and, with options.verbose, one line per frame (step size,
// switch flags and locations, symbol count, bits used, or why the frame is damaged). Messages go
// to `log`. Returns DECODE_OK, DECODE_DAMAGED when the frames listed are damaged or missing, or
// DECODE_BAD_INPUT.
int PrintInfo(const std::string& in, const DecodeOptions& options, std::ostream& out, std::ostream& log);

// Writes the listing line of one frame, e.g. "frame 4: step 17, switch -/5, symbols 9120, bits
// 47488" (switch locations per channel, "-" for no switch), or "frame 4: damaged (bad sync word)".
void PrintFrameLine(std::ostream& out, uint32_t frame, const ostrel_frame_report& report);

}  // namespace ostrel
