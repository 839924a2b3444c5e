// ostreltune: codes a WAV file at one data rate, with the reference encoder's choices or in the
// quality mode, without the dialogue: the tool that measurements and tests of the two modes run.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/Waveio.h"
#include "format/FileHeader.h"
#include "format/RateTables.h"
#include "library/FrameEncoder.h"
#include "platform/StreamConstants.h"

namespace {

const char* const USAGE =
    "Usage: ostreltune [--quality] KBPS IN.wav OUT.ost\n"
    "Codes IN.wav (16-bit PCM, two channels at 44100 Hz) into OUT.ost at KBPS (96, 112, 128, 160,\n"
    "192, 256 or 392) with the reference encoder's choices, or with --quality in the quality mode.\n"
    "Prints the frames written and the mean step size. Exit status: 0 coded, 1 failed, 2 usage.\n";

int Usage() {
  std::fputs(USAGE, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int arg = 1;
  bool quality = false;
  if (arg < argc && std::strcmp(argv[arg], "--quality") == 0) {
    quality = true;
    ++arg;
  }
  if (argc - arg != 3) return Usage();
  char* end = nullptr;
  const long kbps = std::strtol(argv[arg], &end, 10);
  if (*end != '\0' || kbps <= 0 || kbps % 2 != 0 || kbps > 510 ||
      !ostrel::IsValidDataRate(static_cast<unsigned char>(kbps / 2))) {
    std::fprintf(stderr, "ostreltune: %s is not a data rate of the format\n", argv[arg]);
    return Usage();
  }
  const auto DataRate = static_cast<unsigned char>(kbps / 2);
  const char* source = argv[arg + 1];
  const char* target = argv[arg + 2];

  ostrel::Waveio in(source, 0);
  if (in.error != 0) {
    std::fprintf(stderr, "ostreltune: cannot read \"%s\" as 16-bit PCM WAV\n", source);
    return 1;
  }
  std::FILE* fptr = std::fopen(target, "wb");
  if (fptr == nullptr) {
    std::fprintf(stderr, "ostreltune: cannot create \"%s\"\n", target);
    return 1;
  }
  uint32_t frames = 0;
  double stepSum = 0.0;
  bool failed = false;
  {
    ostrel::FrameEncoder encoder(DataRate, in, fptr);
    encoder.SetQuality(quality);
    encoder.WriteHeader();
    bool ended = false;
    while (!ended) {
      const ostrel::FrameEncoder::FrameOutcome outcome = encoder.EncodeFrame();
      ++frames;
      stepSum += encoder.LastStepSize();
      ended = outcome.inputEnded;
      if (outcome.overBudget || outcome.writerFailed) {
        std::fprintf(stderr, "ostreltune: frame %u %s\n", frames - 1,
                     outcome.overBudget ? "did not fit its budget" : "held a value its field cannot carry");
        failed = true;
        ended = true;
      }
    }
    encoder.FlushBits();
    failed = failed || encoder.WriteFailed();
  }
  if (std::fseek(fptr, 0, SEEK_SET) == 0) {
    ostrel::UpdateFileHeader(DataRate, static_cast<unsigned short>(ostrel::STREAM_SAMPLE_RATE),
                             static_cast<unsigned char>(ostrel::STREAM_CHANNELS), frames, fptr);
  }
  if (std::fclose(fptr) != 0 || failed) {
    std::fprintf(stderr, "ostreltune: writing \"%s\" failed\n", target);
    std::remove(target);
    return 1;
  }
  in.CloseWave();
  std::printf("frames %u  mean step size %.2f\n", frames, stepSum / frames);
  return 0;
}
