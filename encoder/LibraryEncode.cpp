#include "encoder/LibraryEncode.h"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace ostrel {

namespace {

struct FileTarget {
  std::FILE* file;
  uint64_t at = 0;   // where the next write lands
  uint64_t end = 0;  // bytes in the stream
  int error = 0;     // errno of the first failed write
  int seekError = 0;
};

int WriteToFile(void* user, const void* data, size_t bytes) {
  auto* target = static_cast<FileTarget*>(user);
  if (std::fwrite(data, 1, bytes, target->file) != bytes) {
    if (target->error == 0) target->error = errno;
    return 1;
  }
  target->at += bytes;
  target->end = std::max(target->end, target->at);
  return 0;
}

int SeekFile(void* user, uint64_t offset) {
  auto* target = static_cast<FileTarget*>(user);
  errno = 0;
  if (std::fflush(target->file) != 0) {
    target->error = errno;
    return 1;
  }
  if (fseeko(target->file, static_cast<off_t>(offset), SEEK_SET) != 0) {
    target->seekError = errno != 0 ? errno : ESPIPE;
    return 1;
  }
  target->at = offset;
  return 0;
}

}  // namespace

EncodeRun EncodeSource(const EncodeSettings& settings, SourceReader& source, std::FILE* file) {
  constexpr size_t kChunkFrames = 4096;  // sample frames handed over at a time
  EncodeRun run;
  FileTarget target{file};
  const bool seekable = settings.alwaysSeek || lseek(fileno(file), 0, SEEK_CUR) >= 0;
  ostrel_encoder* enc =
      ostrel_encoder_create(settings.kbps, WriteToFile, seekable ? SeekFile : nullptr, &target, &run.status);
  if (enc == nullptr) return run;
  run.status = ostrel_encoder_set_quality(enc, settings.quality ? 1 : 0);
  if (run.status == OSTREL_OK) run.status = ostrel_encoder_set_threads(enc, settings.threads);
  if (run.status == OSTREL_OK) run.status = ostrel_encoder_set_fields(enc, settings.fields ? 1 : 0);
  std::vector<std::pair<std::string, std::string>> tags = {
      {"TITLE", settings.title}, {"ARTIST", settings.author}, {"COMMENT", settings.comment}};
  tags.insert(tags.end(), settings.tags.begin(), settings.tags.end());
  for (const auto& tag : tags) {
    if (run.status != OSTREL_OK || tag.second.empty()) continue;
    run.status = ostrel_encoder_add_tag(enc, tag.first.c_str(), tag.second.c_str());
    if (run.status == OSTREL_ERR_TAG) run.badTag = tag.first;
  }
  if (run.status == OSTREL_OK) run.status = ostrel_encoder_set_frame_callback(enc, settings.onFrame, settings.frameUser);
  if (run.status == OSTREL_OK && settings.adjust) settings.adjust(enc);
  const bool configured = run.status == OSTREL_OK;
  std::vector<float> first(kChunkFrames), second(kChunkFrames), chunk(2 * kChunkFrames);
  std::vector<int16_t> pcm(2 * kChunkFrames);
  // A canonical WAV's samples are 16-bit values and go in as they are; converted ones are floats
  // on the 16-bit scale, the library's on -1..1: a value v passes as v / 32768 and comes back
  // exactly. Both give the engine the same numbers.
  const bool whole = source.canonical();
  while (run.status == OSTREL_OK) {
    if (settings.stopWanted && settings.stopWanted()) {
      run.stopped = true;
      break;
    }
    const size_t got = source.Read(first.data(), second.data(), kChunkFrames);
    if (whole) {
      for (size_t i = 0; i < got; ++i) {
        pcm[2 * i] = static_cast<int16_t>(first[i]);
        pcm[2 * i + 1] = static_cast<int16_t>(second[i]);
      }
      if (got > 0) run.status = ostrel_encoder_write(enc, pcm.data(), got);
    } else {
      for (size_t i = 0; i < got; ++i) {
        chunk[2 * i] = first[i] / 32768.0f;
        chunk[2 * i + 1] = second[i] / 32768.0f;
      }
      if (got > 0) run.status = ostrel_encoder_write_float(enc, chunk.data(), got);
    }
    run.samples += got;
    if (settings.progress) settings.progress(run.samples);
    if (got < kChunkFrames) break;
  }
  if (run.status == OSTREL_ERR_STOPPED) {
    run.stopped = true;
    run.status = OSTREL_OK;
  }
  // Finished also after a stop or a frame that could not be coded: the stream then ends after
  // the frames coded (after a failed write nothing more is written).
  const int finished = configured ? ostrel_encoder_finish(enc) : run.status;
  if (run.status == OSTREL_OK) run.status = finished;
  run.countStored = seekable && (finished == OSTREL_OK);
  run.frames = ostrel_encoder_frames(enc);
  ostrel_encoder_destroy(enc);
  errno = 0;
  if (std::fflush(file) != 0 && run.status == OSTREL_OK) {
    run.status = OSTREL_ERR_WRITE;
    target.error = errno;
  }
  if (target.seekError != 0 && run.status == OSTREL_ERR_SEEK) run.seekError = target.seekError;
  run.writeError = target.error;
  run.bytes = target.end;
  return run;
}

}  // namespace ostrel
