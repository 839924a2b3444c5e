// ostrelcmp: compares a decoded WAV file with its source: the signal-to-noise ratio, and the
// noise-to-mask ratio under the comparator's own ear model, optionally drawn as a heat map.
#include <getopt.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/Waveio.h"
#include "tools/NmrPlot.h"
#include "tools/NoiseToMask.h"
#include "tools/PerceptualModel.h"

namespace {

const char* const USAGE =
    "Usage: ostrelcmp [--plot FILE.png] SOURCE.wav DECODED.wav\n"
    "Compares both channels of DECODED with SOURCE over the source's length (a longer decoded file\n"
    "is cut there; a shorter one is compared over what it holds, said so, and exit status 1) and\n"
    "prints:\n"
    "  SNR      the source's power over the difference's power, dB;\n"
    "  NMR      the noise (DECODED - SOURCE) against the source's masking threshold: 10 log10 of the\n"
    "           mean over frames and Bark bands of noise energy / mask energy, dB (below 0: the\n"
    "           noise is under the mask on average);\n"
    "  audible  the share of frames whose noise exceeds the mask (NMR > 0 dB) in some band;\n"
    "  worst    the three bands with the highest mean NMR.\n"
    "The ear model: 2048-sample Hann windows with 50 % overlap, Bark bands, Schroeder's spreading,\n"
    "a tonality-dependent offset (5.5 dB for noise, 14.5 + Bark dB for tones) and Terhardt's\n"
    "threshold in quiet, with a full-scale 16-bit sine taken as 96 dB SPL. Of two channels the\n"
    "larger ratio counts in each frame and band.\n"
    "  --plot FILE.png  also draw the NMR over time and Bark band as a heat map\n"
    "Exit status: 0 compared, 1 the decoded file is shorter than the source, 2 bad arguments or\n"
    "unreadable files, 3 the plot could not be written.\n";

// Sample frames of a 16-bit stereo file.
bool Frames(const ostrel::Waveio& wav, uint32_t* frames) {
  if (wav.Error() != 0 || wav.infochannels() != 2 || wav.inforesolution() != 16) return false;
  *frames = wav.infosamples();
  return true;
}

std::string Db(double db) {
  if (std::isinf(db)) return db < 0 ? "-inf" : "+inf";
  char text[32];
  std::snprintf(text, sizeof text, "%+.2f", db);
  return text;
}

// True when `path` names the same file as `other` (both exist).
bool SameFile(const std::string& path, const char* other) {
  std::error_code ignored;
  return std::filesystem::equivalent(path, other, ignored);
}

}  // namespace

int main(int argc, char** argv) {
  static const option LONG_OPTIONS[] = {{"plot", required_argument, nullptr, 'p'},
                                        {"help", no_argument, nullptr, 'h'},
                                        {nullptr, 0, nullptr, 0}};
  std::string plotPath;
  bool plot = false;
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, "h", LONG_OPTIONS, nullptr)) != -1;) {
    if (c == 'h') {
      std::fputs(USAGE, stdout);
      return 0;
    }
    if (c == 'p') {
      plot = true;
      plotPath = optarg;
      continue;
    }
    std::fputs(USAGE, stderr);
    return 2;
  }
  if (argc - optind != 2) {
    std::fputs(USAGE, stderr);
    return 2;
  }
  const char* const names[2] = {argv[optind], argv[optind + 1]};
  if (plot && !ostrel::tools::PlotAvailable()) {
    std::fputs("ostrelcmp: --plot: plotting is not available: this build has no libpng (install libpng-dev "
               "and reconfigure)\n",
               stderr);
    return 2;
  }
  if (plot && (plotPath.empty() || SameFile(plotPath, names[0]) || SameFile(plotPath, names[1]))) {
    std::fprintf(stderr, "ostrelcmp: --plot %s: the plot needs a file of its own, not one of the inputs\n",
                 plotPath.c_str());
    return 2;
  }

  ostrel::Waveio source(names[0], ostrel::WAVE_READ), decoded(names[1], ostrel::WAVE_READ);
  uint32_t sourceFrames = 0, decodedFrames = 0;
  for (int i = 0; i < 2; ++i) {
    if (!Frames(i == 0 ? source : decoded, i == 0 ? &sourceFrames : &decodedFrames)) {
      std::fprintf(stderr, "ostrelcmp: %s is not a readable 16-bit stereo WAV file\n", names[i]);
      return 2;
    }
  }
  const uint32_t sourceRate = source.infosrate(), decodedRate = decoded.infosrate();
  if (sourceRate != decodedRate || sourceRate < 8000 || sourceRate > 192000) {
    std::fprintf(stderr, "ostrelcmp: %s runs at %u Hz and %s at %u Hz; both must share one rate of 8000 .. 192000 Hz\n",
                 names[0], sourceRate, names[1], decodedRate);
    return 2;
  }
  const bool shorter = decodedFrames < sourceFrames;
  const uint32_t frames = shorter ? decodedFrames : sourceFrames;

  const ostrel::tools::PerceptualModel model(sourceRate);
  ostrel::tools::NmrMeter meter(model, 2);
  constexpr int CHUNK = 4096;  // sample frames per read
  std::vector<short> a1(CHUNK), a2(CHUNK), b1(CHUNK), b2(CHUNK);
  std::vector<double> sourceSamples[2] = {std::vector<double>(CHUNK), std::vector<double>(CHUNK)};
  std::vector<double> decodedSamples[2] = {std::vector<double>(CHUNK), std::vector<double>(CHUNK)};
  const double* const sourceChannels[2] = {sourceSamples[0].data(), sourceSamples[1].data()};
  const double* const decodedChannels[2] = {decodedSamples[0].data(), decodedSamples[1].data()};
  double signal = 0.0, noise = 0.0;
  int peak = 0;
  for (uint32_t done = 0; done < frames;) {
    const int n = static_cast<int>(frames - done < CHUNK ? frames - done : CHUNK);
    source.IO(a1.data(), a2.data(), n);
    decoded.IO(b1.data(), b2.data(), n);
    for (int i = 0; i < n; ++i) {
      const size_t k = static_cast<size_t>(i);
      const int d1 = a1[k] - b1[k], d2 = a2[k] - b2[k];
      signal += double(a1[k]) * a1[k] + double(a2[k]) * a2[k];
      noise += double(d1) * d1 + double(d2) * d2;
      peak = std::abs(d1) > peak ? std::abs(d1) : peak;
      peak = std::abs(d2) > peak ? std::abs(d2) : peak;
      sourceSamples[0][k] = a1[k];
      sourceSamples[1][k] = a2[k];
      decodedSamples[0][k] = b1[k];
      decodedSamples[1][k] = b2[k];
    }
    meter.Add(sourceChannels, decodedChannels, static_cast<size_t>(n));
    done += static_cast<uint32_t>(n);
  }
  source.CloseWave();
  decoded.CloseWave();
  std::printf("source  %u sample frames (%.3f s)\n", sourceFrames, sourceFrames / double(sourceRate));
  std::printf("decoded %u sample frames (%.3f s)\n", decodedFrames, decodedFrames / double(decodedRate));
  if (noise == 0.0) {
    std::printf("SNR     identical over %u sample frames\n", frames);
  } else if (signal == 0.0) {
    std::printf("SNR     -inf dB (silent source), peak difference %d\n", peak);
  } else {
    std::printf("SNR     %.2f dB over %u sample frames, peak difference %d\n", 10.0 * std::log10(signal / noise),
                frames, peak);
  }

  const ostrel::tools::NmrMap map = meter.Finish();
  const ostrel::tools::NmrSummary summary = ostrel::tools::Summarise(map, 3);
  std::printf("NMR     %s dB (mean noise-to-mask ratio over %d frames x %d Bark bands)\n",
              Db(summary.totalDb).c_str(), map.frames, map.bands);
  std::printf("audible %.1f %% of frames (%d of %d) have noise above the mask in some band\n",
              100.0 * summary.audibleShare, summary.audibleFrames, map.frames);
  if (noise != 0.0) {
    std::printf("worst  ");
    for (const auto& [band, db] : summary.worstBands) {
      std::printf(" band %d (%.0f-%.0f Hz) %s dB;", band, model.BandLowHz(band), model.BandHighHz(band),
                  Db(db).c_str());
    }
    std::printf("\n");
  }
  std::fflush(stdout);

  int status = 0;
  if (shorter) {
    std::fprintf(stderr,
                 "ostrelcmp: %s is shorter than %s (%u of %u sample frames); compared over the %u frames it "
                 "holds\n",
                 names[1], names[0], decodedFrames, sourceFrames, decodedFrames);
    status = 1;
  }
  if (plot) {
    std::string error;
    if (!ostrel::tools::WriteNmrPlot(map, model, plotPath, &error)) {
      std::fprintf(stderr, "ostrelcmp: --plot: %s\n", error.c_str());
      return 3;
    }
    std::printf("plot    %s\n", plotPath.c_str());
  }
  return status;
}
