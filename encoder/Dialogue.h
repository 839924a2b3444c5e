// The encoder's console dialogue (source, target, data rate) and the run parameters it derives.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "audio/SourceReader.h"
#include "platform/FileHandle.h"
#include "platform/OutputFile.h"
#include "platform/StreamConstants.h"

namespace ostrel {

// Fixed after the dialogue. Sizes in samples (per channel) unless said otherwise.
struct RunParameters {
  unsigned char DataRate = 64;     // rate code: kb/s divided by two
  // The stream's fixed format (platform/StreamConstants.h) and the rate's frame layout
  // (ostrel_frame_layout_of), under the driver's names.
  int CHANNELS = static_cast<int>(STREAM_CHANNELS);  // the encoder always codes two channels
  unsigned short SAMPLERATE = static_cast<unsigned short>(STREAM_SAMPLE_RATE);
  int NBLOCKS = 0;                 // long blocks per frame: NBlocks
  int LONGSIZE = 0;                // long transform length: LSIZE
  int SHORTSIZE = 0;               // short transform length: SSIZE
  int TRANSIZE = 0;                // transition transform length: TRANSIZE
  int TOTAL = 0;                   // new samples per channel and frame: TOTAL
  float Res = 0.0f;                // band width of the psychoacoustic models
  float dBOffset = 0.0f;           // level offset of the psychoacoustic models, in dB
  uint32_t Length = 0;             // source length in whole seconds
  std::string sourcePath, targetPath;
  int threads = 1;                 // threads of the frame loop (ostrelenc --threads)
};

// Where the dialogue reads its answers and prints.
struct DialogueConsole {
  std::function<bool(std::string& line)> readLine;  // one answer line; false at end of input
  std::FILE* out = nullptr;                         // banner, prompts, menu, selection message
  std::FILE* err = nullptr;                         // one-line complaints about an answer
  // The answers are typed on a terminal: a path answer has its surrounding quotes removed and a
  // leading ~ expanded (CleanTypedPath), an empty answer asks again, and at the rate prompt a
  // figure in kb/s selects that rate and an answer that is not understood is said to be. Piped
  // answers (false) are taken as they always were.
  bool terminal = false;
  // With `terminal`, when set: reads one answer showing `prompt` itself (line editing), instead
  // of the prompt being printed on `out` and `readLine` reading.
  std::function<bool(const std::string& prompt, std::string& line)> editLine;
};

// Standard input through the console layer (with line editing when it is a terminal and the build
// has libedit), standard output and standard error.
DialogueConsole StandardDialogueConsole();

struct DialogueResult {
  int status = 0;                // 0: complete; otherwise the exit status to end the program with
  std::unique_ptr<SourceReader> in;  // complete: the source, at its first sample (a canonical
                                     // WAV through Waveio's read mode, no sum/difference)
  FileHandle fptr;               // complete: the target, empty, open for binary writing
  std::unique_ptr<OutputFile> target;  // complete: the target, handed over; must outlive the frame
                                       // loop's start, so that a signal before it removes the target
  RunParameters params;          // complete: every run parameter
};

// Runs the dialogue: banner, source prompt (asked again while the file cannot be opened, with the
// reason on `err` when it is not simply missing, or is a folder, holds no samples, or is not a
// sound file the SourceReader reads, named in plain words), target prompt (asked again while it is the source itself or
// cannot be opened for writing, or is a folder; the reason on `err` as "ostrelenc: cannot write
// PATH: REASON"), the rate menu and the selection message. An answer is the whole line with
// surrounding blanks trimmed; blank lines are skipped. The target is checked without being
// truncated and is emptied only once the rate has been answered. At end of input it prints a
// message on `err`, removes a target it created, and returns status 1 with nothing else. From
// the moment it creates or empties the target until the frame loop takes over, SIGINT, SIGTERM
// and SIGHUP remove the target before they end the process.
DialogueResult RunDialogue(const DialogueConsole& console);

// The rate code a menu choice selects: 1..7 give 196, 128, 96, 80, 64, 56, 48; anything else 64.
unsigned char DataRateForChoice(int choice);

// The rate code a typed answer selects at a terminal: a menu row 1..7, or one of the seven data
// rates in kb/s (96 .. 392, "256" or "256 kb/s"). False when it is neither: the caller then takes
// the design's 128 kb/s and says the answer was not understood.
bool DataRateForTypedAnswer(const std::string& answer, unsigned char* DataRate);

// Reads a number from an answer line as "%d" would: blanks, an optional sign, digits; whatever
// follows is ignored. False when the line does not start that way. Values beyond the int range
// saturate.
bool ParseChoice(const std::string& line, int* choice);

// The run parameters for a rate code and a source of `dataBytes` sample bytes (16-bit stereo) at
// `sampleRate` (Length 0 when the rate is 0). `DataRate` must be a valid code.
RunParameters DeriveRunParameters(unsigned char DataRate, uint32_t dataBytes, uint32_t sampleRate);

}  // namespace ostrel
