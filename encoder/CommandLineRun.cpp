#include "encoder/CommandLineRun.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "cli/OutputName.h"
#include "cli/ProgramVersion.h"
#include "cli/ProgressLine.h"
#include "encoder/CommandLine.h"
#include "encoder/SourceInput.h"
#include "encoder/LibraryEncode.h"
#include "encoder/ReplayGain.h"
#include "platform/StreamConstants.h"
#include "ostrel/ostrel.h"
#include "platform/FileHandle.h"
#include "platform/JobRunner.h"
#include "platform/OutputFile.h"
#include "platform/SignalChain.h"
#include "platform/Console.h"

namespace ostrel {

namespace {

constexpr const char* kProgram = "ostrelenc";

// The name messages use for a file: "standard input" / "standard output" for "-".
std::string Shown(const std::string& path, const char* standard) {
  return path == STANDARD_STREAM_NAME ? standard : path;
}

// The source's tags (Vorbis comment keys): libsndfile's strings of a file, else a WAV's
// LIST/INFO text as the WAV reader found it.
std::vector<std::pair<std::string, std::string>> TagsOfSource(const std::string& input, const Source& source) {
  std::vector<std::pair<std::string, std::string>> tags;
  if (input != STANDARD_STREAM_NAME) tags = SourceTags(input);
  if (tags.empty()) {
    for (const auto& [key, value] : {std::pair<const char*, const std::string&>{"TITLE", source.tags.INAM},
                                     {"ARTIST", source.tags.IART}, {"COMMENT", source.tags.ICMT}}) {
      if (!value.empty()) tags.emplace_back(key, value);
    }
  }
  return tags;
}

// The first value of `key` in `tags`, or "".
std::string FirstTag(const std::vector<std::pair<std::string, std::string>>& tags, const std::string& key) {
  for (const auto& tag : tags) {
    if (tag.first == key) return tag.second;
  }
  return "";
}

// A header string: the option when given, else the source's tag, else untagged (""). False
// (after a message) when the source's tag is too long for its field.
bool PickTag(bool given, const std::string& option, const std::string& fromSource, size_t maxBytes,
             const char* tagName, const std::string& input, std::string* value) {
  if (given) {
    *value = option;
  } else if (!fromSource.empty()) {
    if (fromSource.size() > maxBytes) {
      std::fprintf(stderr, "%s: %s: its %s tag is %zu bytes long; the header holds at most %zu (give one with an option)\n",
                   kProgram, input.c_str(), tagName, fromSource.size(), maxBytes);
      return false;
    }
    *value = fromSource;
  } else {
    value->clear();
  }
  return true;
}

// Codes one input into one output. Returns 0, 1, or 128 + the signal that stopped it.
int EncodeOneFile(const EncoderOptions& o, const std::string& input, const std::string& output, bool progressLine,
                  bool summary, const std::vector<std::pair<std::string, std::string>>& gainTags) {
  const std::string inName = Shown(input, "standard input");
  const std::string outName = Shown(output, "standard output");
  const bool toStdout = output == STANDARD_STREAM_NAME;
  if (toStdout && IsTerminal(STDOUT_FILENO)) {
    std::fprintf(stderr, "%s: not writing a compressed stream to a terminal; name an output with -o\n", kProgram);
    return ENCODE_EXIT_FAILED;
  }
  if (!toStdout && !o.force) {
    const std::string refusal = ExistingOutputRefusal(output);
    if (!refusal.empty()) {
      std::fprintf(stderr, "%s\n", CannotWrite(kProgram, output, refusal).c_str());
      return ENCODE_EXIT_FAILED;
    }
  }

  Source source;
  const std::string problem = OpenSource(input, &source);
  if (!problem.empty()) {
    std::fprintf(stderr, "%s: %s %s\n", kProgram, inName.c_str(), problem.c_str());
    return ENCODE_EXIT_FAILED;
  }
  EncodeSettings settings;
  settings.kbps = o.kbps;
  settings.quality = o.quality;
  settings.threads = CodingThreads(o);
  // The source's tags, each key replaced by the options that give it.
  const std::vector<std::pair<std::string, std::string>> fromSource = TagsOfSource(input, source);
  const bool haveTitle = o.haveTitle || !FirstTag(o.tags, "TITLE").empty();
  const bool haveArtist = o.haveArtist || !FirstTag(o.tags, "ARTIST").empty();
  const bool haveComment = o.haveComment || !FirstTag(o.tags, "COMMENT").empty();
  if (!PickTag(haveTitle, o.title, FirstTag(fromSource, "TITLE"), OSTREL_TAG_MAX_BYTES, "TITLE (INAM)", inName,
               &settings.title) ||
      !PickTag(haveArtist, o.artist, FirstTag(fromSource, "ARTIST"), OSTREL_TAG_MAX_BYTES, "ARTIST (IART)", inName,
               &settings.author) ||
      !PickTag(haveComment, o.comment, FirstTag(fromSource, "COMMENT"), OSTREL_COMMENT_MAX_BYTES, "COMMENT (ICMT)",
               inName, &settings.comment)) {
    return ENCODE_EXIT_FAILED;
  }
  for (const auto& tag : fromSource) {
    const bool header = tag.first == "TITLE" || tag.first == "ARTIST" || tag.first == "COMMENT";
    if (!header && FirstTag(o.tags, tag.first).empty()) settings.tags.push_back(tag);
  }
  settings.tags.insert(settings.tags.end(), o.tags.begin(), o.tags.end());
  settings.tags.insert(settings.tags.end(), gainTags.begin(), gainTags.end());

  // From here on SIGINT, SIGTERM and SIGHUP only stop the run, before the output exists and until
  // it has been committed or removed (`outputFile` goes first): whenever one comes, this input
  // ends complete, or stopped with a valid shorter output and the message, or with nothing.
  StopOnSignal stop;
  // The target: standard output as it is, or a temporary file renamed into place once complete.
  OutputFile outputFile;
  FileHandle target;
  std::string reason;
  if (toStdout) {
    const int fd = dup(STDOUT_FILENO);
    if (fd >= 0) target.reset(fdopen(fd, "wb"));
    if (!target) {
      if (fd >= 0) close(fd);
      std::fprintf(stderr, "%s\n", CannotWrite(kProgram, outName, std::strerror(errno)).c_str());
      return ENCODE_EXIT_FAILED;
    }
  } else {
    if (!outputFile.OpenReplacing(output, source.id, &reason)) {
      std::fprintf(stderr, "%s\n", CannotWrite(kProgram, output, reason).c_str());
      return ENCODE_EXIT_FAILED;
    }
    target.reset(OpenFile(outputFile.WritePath(), "wb"));
    if (!target) {
      std::fprintf(stderr, "%s\n", CannotWrite(kProgram, output, std::strerror(errno)).c_str());
      return ENCODE_EXIT_FAILED;
    }
  }

  const std::string conversion = source.reader->Conversion();
  if (!conversion.empty() && !o.quiet) std::fprintf(stderr, "%s: %s: %s\n", kProgram, inName.c_str(), conversion.c_str());
  ProgressLine progress(stderr, progressLine, std::string(kProgram) + ": " + inName, source.samples, STREAM_SAMPLE_RATE);
  settings.progress = [&progress](uint64_t samples) { progress.Update(samples); };
  settings.stopWanted = [] { return StopRequested(); };
  EncodeRun run = EncodeSource(settings, *source.reader, target.get());
  const int stopSignal = run.stopped ? StopSignal() : 0;
  progress.Clear();
  if (std::fclose(target.release()) != 0 && run.status == OSTREL_OK) {
    run.status = OSTREL_ERR_WRITE;
    run.writeError = errno;
  }
  if (run.status != OSTREL_OK) {
    // The temporary file goes when `outputFile` does; the target is left as it was.
    std::string why = ostrel_strerror(run.status);
    if (run.status == OSTREL_ERR_WRITE && run.writeError != 0) why = std::strerror(run.writeError);
    if (run.status == OSTREL_ERR_TAG) {
      std::fprintf(stderr,
                   "%s: %s: the tag %s cannot be written: its value must be UTF-8 without NUL bytes, title and "
                   "artist at most %d bytes, and all tags together at most %d bytes; nothing was written\n",
                   kProgram, inName.c_str(), run.badTag.c_str(), OSTREL_TAG_MAX_BYTES, OSTREL_COMMENT_MAX_BYTES);
    } else if (run.status == OSTREL_ERR_MEMORY) {
      std::fprintf(stderr, "%s: %s: out of memory; %s\n", kProgram, inName.c_str(),
                   toStdout ? "the stream is incomplete" : "nothing was left behind");
    } else if (run.status == OSTREL_ERR_INTERNAL) {
      std::fprintf(stderr, "%s: %s: a frame could not be coded within its budget (Padding Error!); %s\n", kProgram,
                   inName.c_str(), toStdout ? "the stream is incomplete" : "nothing was left behind");
    } else if (run.status == OSTREL_ERR_FRAME_VALUE) {
      std::fprintf(stderr, "%s: %s: internal error: %s; %s\n", kProgram, inName.c_str(), why.c_str(),
                   toStdout ? "the stream is incomplete" : "nothing was left behind");
    } else {
      std::fprintf(stderr, "%s; %s\n", CannotWrite(kProgram, outName, why).c_str(),
                   toStdout ? "the stream is incomplete" : "nothing was left behind");
    }
    return ENCODE_EXIT_FAILED;
  }
  if (!toStdout && !outputFile.Commit(o.force, &reason)) {
    std::fprintf(stderr, "%s\n", CannotWrite(kProgram, output, reason).c_str());
    return ENCODE_EXIT_FAILED;
  }

  const SourceReader& reader = *source.reader;
  if (reader.clipped() > 0) {
    std::fprintf(stderr, "%s: %s: %llu samples beyond full scale were limited to it\n", kProgram, inName.c_str(),
                 static_cast<unsigned long long>(reader.clipped()));
  }
  if (stopSignal == 0 && reader.EndedEarly()) {
    std::fprintf(stderr, "%s: %s ended early: its header promised %llu sample frames, it held %llu; %s codes those\n",
                 kProgram, inName.c_str(), static_cast<unsigned long long>(reader.promisedFrames()),
                 static_cast<unsigned long long>(reader.framesRead()), outName.c_str());
    return ENCODE_EXIT_FAILED;
  }
  if (stopSignal != 0) {
    std::fprintf(stderr, "%s: %s: stopped by %s after %s; %s holds what was coded\n", kProgram, inName.c_str(),
                 SignalName(stopSignal).c_str(), CodedText(run.samples, source.samples, STREAM_SAMPLE_RATE).c_str(),
                 outName.c_str());
    return ENCODE_EXIT_SIGNAL_BASE + stopSignal;
  }
  if (!run.countStored && !o.quiet) {
    std::fprintf(stderr, "%s: %s cannot seek back: the header's frame count stays 0 (decoders take every frame)\n",
                 kProgram, outName.c_str());
  }
  if (summary) {
    const double seconds = static_cast<double>(run.samples) / STREAM_SAMPLE_RATE;
    const double elapsed = progress.Elapsed();
    std::fprintf(stderr, "%s: %s -> %s: %s, %.1f s of audio, %d kb/s, %.1f s, %s\n", kProgram, inName.c_str(),
                 outName.c_str(), SizeText(run.bytes).c_str(), seconds, o.kbps, elapsed,
                 SpeedText(seconds, elapsed).c_str());
  }
  // A stop that came once the source was read in full: the output is complete; no further input.
  return StopRequested() ? ENCODE_EXIT_SIGNAL_BASE + StopSignal() : ENCODE_EXIT_OK;
}

}  // namespace

int RunEncoderCommandLine(int argc, char** argv) {
  EncoderOptions o;
  std::string problem;
  switch (ParseEncoderCommandLine(argc, argv, &o, &problem)) {
    case CommandLineAction::Help:
      PrintEncoderHelp(stdout);
      return ENCODE_EXIT_OK;
    case CommandLineAction::Version:
      PrintVersion(stdout, kProgram);
      return ENCODE_EXIT_OK;
    case CommandLineAction::UsageError:
      std::fprintf(stderr, "%s: %s\n", kProgram, problem.c_str());
      PrintEncoderUsage(stderr);
      std::fprintf(stderr, "Try '%s --help' for the options.\n", kProgram);
      return ENCODE_EXIT_USAGE;
    case CommandLineAction::Run:
      break;
  }
  const bool show = !o.quiet && (o.progress || IsTerminal(STDERR_FILENO));
  auto outputOf = [&o](const std::string& input) {
    if (!o.output.empty()) return o.output;
    if (input == STANDARD_STREAM_NAME) return std::string(STANDARD_STREAM_NAME);
    return OutputBeside(input, ".ost");
  };

  int worst = ENCODE_EXIT_OK;
  auto account = [&worst](int status) {
    if (status > worst) worst = status;
  };
  const size_t count = o.inputs.size();
  // ReplayGain: every source is measured (and the album over all of them) before the first is
  // coded, so that each header holds its figures from the start.
  std::vector<std::vector<std::pair<std::string, std::string>>> gainTags(count);
  if (o.replayGain) {
    for (const std::string& input : o.inputs) {
      if (input == STANDARD_STREAM_NAME) {
        std::fprintf(stderr, "%s: --replay-gain reads each source before coding it: name files, not standard input\n",
                     kProgram);
        return ENCODE_EXIT_USAGE;
      }
    }
    std::vector<GainFigures> tracks;
    GainFigures album;
    std::vector<std::string> problems;
    MeasureGains(o.inputs, o.albumGain, &tracks, &album, &problems);
    for (const std::string& p : problems) std::fprintf(stderr, "%s: %s\n", kProgram, p.c_str());
    for (size_t i = 0; i < count; ++i) {
      gainTags[i] = GainTags(tracks[i], false);
      if (o.albumGain) {
        for (auto& tag : GainTags(album, true)) gainTags[i].push_back(std::move(tag));
      }
    }
  }
  if (o.jobs <= 1 || count == 1) {
    for (size_t i = 0; i < count && worst < ENCODE_EXIT_SIGNAL_BASE && !StopRequested(); ++i) {
      account(EncodeOneFile(o, o.inputs[i], outputOf(o.inputs[i]), show, show, gainTags[i]));
    }
    if (StopRequested() && worst < ENCODE_EXIT_SIGNAL_BASE) worst = ENCODE_EXIT_SIGNAL_BASE + StopSignal();
    return worst;
  }

  // Several at once (platform/JobRunner.h): one process per file where there is fork, so that
  // each has its own coding state. A stop reaches the running ones (the terminal sends Ctrl-C to
  // all; anything else is passed on) and no further file starts. The jobs go on with the runner's
  // stop (EncodeOneFile's own continues it), so a signal never ends one half-way, before its
  // removal is armed or its output committed.
  JobCalls calls;
  calls.run = [&](size_t index) {
    const std::string& input = o.inputs[index];
    try {
      return EncodeOneFile(o, input, outputOf(input), false, show, gainTags[index]);
    } catch (const std::bad_alloc&) {
      std::fprintf(stderr, "%s: %s: out of memory; nothing was left behind\n", kProgram, input.c_str());
      return static_cast<int>(ENCODE_EXIT_FAILED);
    }
  };
  calls.cannotStart = [&](size_t index, const std::string& reason) {
    std::fprintf(stderr, "%s: %s: cannot start a job: %s\n", kProgram, o.inputs[index].c_str(), reason.c_str());
    account(ENCODE_EXIT_FAILED);
  };
  calls.ended = [&](size_t, int status) { account(status); };
  RunJobs(count, o.jobs, calls);
  if (StopRequested() && worst < ENCODE_EXIT_SIGNAL_BASE) worst = ENCODE_EXIT_SIGNAL_BASE + StopSignal();
  return worst;
}

}  // namespace ostrel
