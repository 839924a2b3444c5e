#include "encoder/Dialogue.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

#include "cli/LineEditor.h"
#include "ostrel/ostrel.h"
#include "platform/Console.h"
#include "platform/OutputFile.h"
#include "platform/StreamConstants.h"
#include "platform/FileHandle.h"

namespace ostrel {

namespace {

constexpr int kMenuRows = 7;  // one per data rate, the highest first
constexpr unsigned char kDefaultRate = 64;
constexpr const char* kProgram = "ostrelenc";

std::string Trim(const std::string& s) {
  size_t begin = 0, end = s.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(s[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(s[end - 1]))) --end;
  return s.substr(begin, end - begin);
}

enum class Answer { Path, Rate };

// Shows `prompt` and reads the next non-blank answer line, trimmed; at a terminal a blank answer
// shows the prompt again, and a path is cleaned up as typed paths are. False at end of input.
bool ReadAnswer(const DialogueConsole& console, const char* prompt, Answer kind, std::string* answer) {
  std::string line;
  if (!console.terminal) {
    std::fputs(prompt, console.out);
    std::fflush(console.out);
    while (console.readLine(line)) {
      *answer = Trim(line);
      if (!answer->empty()) return true;
    }
    return false;
  }
  for (;;) {
    std::fflush(console.out);
    bool read = false;
    if (console.editLine) {
      read = console.editLine(prompt, line);
    } else {
      std::fputs(prompt, console.out);
      std::fflush(console.out);
      read = console.readLine(line);
    }
    if (!read) return false;
    *answer = kind == Answer::Path ? CleanTypedPath(line) : Trim(line);
    if (!answer->empty()) return true;
  }
}

// The result of a dialogue that ends without a run.
DialogueResult Failed() {
  DialogueResult result;
  result.status = 1;
  return result;
}

DialogueResult EndOfInput(const DialogueConsole& console, const char* what) {
  std::fputs("\n", console.out);  // ends the unanswered prompt's line
  std::fflush(console.out);
  std::fprintf(console.err, "End of input before the %s was given; nothing was encoded.\n", what);
  return Failed();
}

// Says on `err` why `target` cannot be written.
DialogueResult TargetFailed(const DialogueConsole& console, const std::string& target, const std::string& reason) {
  std::fflush(console.out);
  std::fprintf(console.err, "%s\n", CannotWrite(kProgram, target, reason).c_str());
  return Failed();
}


}  // namespace

DialogueConsole StandardDialogueConsole() {
  DialogueConsole console;
  console.readLine = [](std::string& line) { return ReadLine(line); };
  console.out = stdout;
  console.err = stderr;
  console.terminal = IsTerminal(STDIN_FILENO);
  if (console.terminal && LineEditingAvailable()) {
    console.editLine = [](const std::string& prompt, std::string& line) { return EditLine(prompt, line); };
  }
  return console;
}

bool DataRateForTypedAnswer(const std::string& answer, unsigned char* DataRate) {
  int choice = 0;
  if (!ParseChoice(answer, &choice)) return false;
  if (choice >= 1 && choice <= kMenuRows) {
    *DataRate = DataRateForChoice(choice);
    return true;
  }
  for (int row = 1; row <= kMenuRows; ++row) {
    if (choice == 2 * DataRateForChoice(row)) {
      *DataRate = DataRateForChoice(row);
      return true;
    }
  }
  return false;
}

unsigned char DataRateForChoice(int choice) {
  int count = 0;
  const int* kbps = ostrel_bitrates(&count);  // ascending
  static_assert(kMenuRows == 7, "one menu row per data rate");
  return choice >= 1 && choice <= count ? static_cast<unsigned char>(kbps[count - choice] / 2) : kDefaultRate;
}

bool ParseChoice(const std::string& line, int* choice) {
  size_t i = 0;
  while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  if (i >= line.size() || !std::isdigit(static_cast<unsigned char>(line[i]))) return false;
  long long value = 0;
  for (; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i) {
    if (value <= INT_MAX) value = value * 10 + (line[i] - '0');
  }
  if (negative) value = -value;
  *choice = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
  return true;
}

RunParameters DeriveRunParameters(unsigned char DataRate, uint32_t dataBytes, uint32_t sampleRate) {
  ostrel_frame_layout g{};
  (void)ostrel_frame_layout_of(DataRate * 2, &g);  // a valid code, as the caller guarantees
  RunParameters p;
  p.DataRate = DataRate;
  p.CHANNELS = static_cast<int>(STREAM_CHANNELS);
  p.NBLOCKS = g.blocks;
  p.LONGSIZE = g.long_block;
  p.Res = g.model_resolution;
  p.SHORTSIZE = g.short_block;
  p.TRANSIZE = g.transition_block;
  p.TOTAL = g.samples_per_frame;
  p.dBOffset = g.model_offset;
  p.SAMPLERATE = static_cast<unsigned short>(STREAM_SAMPLE_RATE);
  p.Length = sampleRate != 0 ? dataBytes / STREAM_FRAME_BYTES / sampleRate : 0;
  return p;
}

DialogueResult RunDialogue(const DialogueConsole& console) {
  std::FILE* out = console.out;
  std::fputs("\t---------------------------------------\n", out);
  std::fputs("\tSimple Demonstration of Ostrel Encoder\n", out);
  std::fputs("\tThe Ostrel Codec Project\n", out);
  std::fputs("\t---------------------------------------\n\n", out);

  // Source: opened as a probe first, then as the reader, which must hold codable audio.
  std::string source;
  std::unique_ptr<SourceReader> in;
  FileId sourceId;
  for (;;) {
    if (!ReadAnswer(console, "Enter source file path: ", Answer::Path, &source)) {
      return EndOfInput(console, "source file path");
    }
    std::FILE* probe = OpenFile(source, "rb");
    if (probe == nullptr) {
      const int reason = errno;
      if (reason != ENOENT) {  // the file may well be there; say what keeps it closed
        std::fflush(out);
        std::fprintf(console.err, "Cannot open %s: %s.\n", source.c_str(), std::strerror(reason));
      }
      std::fputs("File not found\n\n", out);
      continue;
    }
    struct stat probed;
    const bool folder = fstat(fileno(probe), &probed) == 0 && S_ISDIR(probed.st_mode);
    sourceId = IdOfDescriptor(fileno(probe));
    std::fclose(probe);
    if (folder) {
      std::fflush(out);
      std::fprintf(console.err, "%s is a folder; %s.\n", source.c_str(), SourceReaderReads());
      continue;
    }
    in = std::make_unique<SourceReader>(source);
    if (in->problem().empty()) break;
    std::fflush(out);
    std::fprintf(console.err, "%s %s.\n", source.c_str(), in->problem().c_str());
    in.reset();
  }

  // Target: opened for writing without truncating it, so that nothing is destroyed until the
  // dialogue is complete; refused when it is the source under any name. One the dialogue
  // created goes again if the user breaks off before the run starts.
  std::string target;
  std::unique_ptr<OutputFile> output;
  for (;;) {
    if (!ReadAnswer(console, "Enter target file path: ", Answer::Path, &target)) {
      return EndOfInput(console, "target file path");
    }
    output = std::make_unique<OutputFile>();
    std::string reason;
    if (output->OpenInPlace(target, sourceId, &reason)) break;
    output.reset();
    TargetFailed(console, target, reason);
  }

  std::fputs("\nAvailable Data Rates:\n", out);
  std::fputs("---------------------\n\n", out);
  for (int row = 1; row <= kMenuRows; ++row) std::fprintf(out, "%d\t%d kb/s\n", row, DataRateForChoice(row) * 2);
  std::fputs("\n", out);
  std::string answer;
  if (!ReadAnswer(console, "Enter target data rate: ", Answer::Rate, &answer)) {
    return EndOfInput(console, "data rate");
  }
  int choice = 0;
  unsigned char DataRate = ParseChoice(answer, &choice) ? DataRateForChoice(choice) : kDefaultRate;
  if (console.terminal && !DataRateForTypedAnswer(answer, &DataRate)) {
    std::fflush(out);
    std::fprintf(console.err, "%s: %s: not understood, using %d kb/s\n", kProgram, answer.c_str(), kDefaultRate * 2);
  }

  // The dialogue is complete: now the target is emptied (devices are left as they are).
  std::string reason;
  if (!output->Empty(&reason)) return TargetFailed(console, target, reason);
  FileHandle fptr = output->TakeStream(&reason);
  if (!fptr) return TargetFailed(console, target, reason);

  std::fprintf(out, "\nData Rate Selected: %d kb/s\n", DataRate * 2);
  std::fflush(out);

  DialogueResult result;
  if (in->canonical()) {
    const WaveHeader& header = *in->wave()->Header();
    result.params = DeriveRunParameters(DataRate, header.nSamples, header.sRate);
  } else {
    result.params = DeriveRunParameters(DataRate, 0, 0);
    result.params.Length = in->seconds();
  }
  result.params.sourcePath = source;
  result.params.targetPath = target;
  result.in = std::move(in);
  result.fptr = std::move(fptr);
  output->HandOver();
  result.target = std::move(output);
  return result;
}

}  // namespace ostrel
