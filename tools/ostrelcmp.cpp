// ostrelcmp: compares a decoded WAV file with its source: the signal-to-noise ratio, and the
// noise-to-mask ratio under the comparator's own ear model, optionally drawn as a heat map.
#include <getopt.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "audio/Waveio.h"
#include "tools/peaq/QualityMeter.h"
#include "tools/NmrPlot.h"
#include "tools/NoiseToMask.h"
#include "tools/PerceptualModel.h"
#include "platform/Arguments.h"

namespace {

const char* const USAGE =
    "Usage: ostrelcmp [--plot FILE.png] [--movs] [--segments SECONDS] [--json] SOURCE.wav DECODED.wav\n"
    "Compares both channels of DECODED with SOURCE over the source's length (a longer decoded file\n"
    "is cut there; a shorter one is compared over what it holds, said so, and exit status 1) and\n"
    "prints:\n"
    "  SNR      the source's power over the difference's power, dB;\n"
    "  NMR      the noise (DECODED - SOURCE) against the source's masking threshold: 10 log10 of the\n"
    "           mean over frames and Bark bands of noise energy / mask energy, dB (below 0: the\n"
    "           noise is under the mask on average);\n"
    "  audible  the share of frames whose noise exceeds the mask (NMR > 0 dB) in some band;\n"
    "  worst    the three bands with the highest mean NMR;\n"
    "  ODG      the objective difference grade: how listeners would grade DECODED against SOURCE,\n"
    "           0 imperceptible, -1 perceptible but not annoying, -2 slightly annoying, -3 annoying,\n"
    "           -4 very annoying (the network's range is -3.98 .. +0.22);\n"
    "  DI       the distortion index the grade is mapped from (higher is better).\n"
    "The NMR's ear model: 2048-sample Hann windows with 50 % overlap, Bark bands, Schroeder's\n"
    "spreading, a tonality-dependent offset (5.5 dB for noise, 14.5 + Bark dB for tones) and\n"
    "Terhardt's threshold in quiet, with a full-scale 16-bit sine taken as 96 dB SPL. Of two channels\n"
    "the larger ratio counts in each frame and band.\n"
    "The grade follows the basic version of ITU-R BS.1387-1 at 48000 Hz (other rates are resampled\n"
    "with libsoxr first): an FFT ear model with 109 bands, eleven model output variables and a\n"
    "neural network. Both files are aligned at their first samples; the grade assumes no delay.\n"
    "  --plot FILE.png     also draw the NMR over time and Bark band as a heat map\n"
    "  --movs              also print the eleven model output variables behind the grade\n"
    "  --segments SECONDS  also print the grade of consecutive segments of that length\n"
    "  --json              print everything as one JSON object instead (keys snr_db, nmr_db, audible,\n"
    "                      odg, di, movs, segments, ...)\n"
    "A build without libsoxr grades only 48000 Hz files: for others the ODG and DI lines are left\n"
    "out and standard error says why (the JSON has \"odg\": null and a \"grade_error\").\n"
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

// A JSON number, or null for a value JSON cannot hold (infinities).
std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[40];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

// Parses the length of --segments: a positive number of seconds.
bool ParseSeconds(const char* text, double* seconds) {
  char* end = nullptr;
  *seconds = std::strtod(text, &end);
  return end != text && *end == '\0' && std::isfinite(*seconds) && *seconds > 0.0;
}

}  // namespace

int main(int argc, char** argv) {
  ostrel::UseUtf8Arguments(argc, argv);
  static const option LONG_OPTIONS[] = {{"plot", required_argument, nullptr, 'p'},
                                        {"movs", no_argument, nullptr, 'm'},
                                        {"segments", required_argument, nullptr, 's'},
                                        {"json", no_argument, nullptr, 'j'},
                                        {"help", no_argument, nullptr, 'h'},
                                        {nullptr, 0, nullptr, 0}};
  std::string plotPath;
  bool plot = false, movs = false, json = false;
  double segmentSeconds = 0.0;
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
    if (c == 'm') {
      movs = true;
      continue;
    }
    if (c == 'j') {
      json = true;
      continue;
    }
    if (c == 's') {
      if (!ParseSeconds(optarg, &segmentSeconds)) {
        std::fprintf(stderr, "ostrelcmp: --segments %s: the segment length must be a positive number of seconds\n",
                     optarg);
        return 2;
      }
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
  // The whole compared stretch of both files, for the quality grade. Without the memory for it
  // (hours of audio) the report goes on and only the grade is missing.
  ostrel::peaq::Channels sourceAll, decodedAll;
  bool keep = true;
  try {
    sourceAll.assign(2, std::vector<double>(frames));
    decodedAll.assign(2, std::vector<double>(frames));
  } catch (const std::bad_alloc&) {
    keep = false;
    sourceAll.clear();
    decodedAll.clear();
  }
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
      for (int c = 0; keep && c < 2; ++c) {
        sourceAll[static_cast<size_t>(c)][done + k] = sourceSamples[c][k];
        decodedAll[static_cast<size_t>(c)][done + k] = decodedSamples[c][k];
      }
    }
    meter.Add(sourceChannels, decodedChannels, static_cast<size_t>(n));
    done += static_cast<uint32_t>(n);
  }
  source.CloseWave();
  decoded.CloseWave();

  const ostrel::tools::NmrMap map = meter.Finish();
  const ostrel::tools::NmrSummary summary = ostrel::tools::Summarise(map, 3);
  ostrel::peaq::Quality quality;
  std::string gradeError = "not enough memory to hold both files for the grade";
  bool graded = false;
  try {
    graded = keep && ostrel::peaq::MeasureQuality(sourceAll, decodedAll, static_cast<int>(sourceRate), segmentSeconds,
                                                  &quality, &gradeError);
  } catch (const std::bad_alloc&) {
    gradeError = "not enough memory to hold both files for the grade";
  }
  const double snrDb = noise == 0.0 ? INFINITY : signal == 0.0 ? -INFINITY : 10.0 * std::log10(signal / noise);

  if (json) {
    std::printf("{\"source_frames\": %u, \"decoded_frames\": %u, \"compared_frames\": %u, \"sample_rate\": %u,\n",
                sourceFrames, decodedFrames, frames, sourceRate);
    std::printf(" \"snr_db\": %s, \"identical\": %s, \"peak_difference\": %d,\n", JsonNumber(snrDb).c_str(),
                noise == 0.0 ? "true" : "false", peak);
    std::printf(" \"nmr_db\": %s, \"audible\": %s, \"audible_frames\": %d, \"nmr_frames\": %d,\n",
                JsonNumber(summary.totalDb).c_str(), JsonNumber(summary.audibleShare).c_str(), summary.audibleFrames,
                map.frames);
    std::printf(" \"worst_bands\": [");
    for (size_t i = 0; noise != 0.0 && i < summary.worstBands.size(); ++i) {
      const auto& [band, db] = summary.worstBands[i];
      std::printf("%s{\"band\": %d, \"low_hz\": %s, \"high_hz\": %s, \"nmr_db\": %s}", i ? ", " : "", band,
                  JsonNumber(model.BandLowHz(band)).c_str(), JsonNumber(model.BandHighHz(band)).c_str(),
                  JsonNumber(db).c_str());
    }
    std::printf("],\n");
    if (graded) {
      std::printf(" \"odg\": %s, \"di\": %s,\n \"movs\": {", JsonNumber(quality.grade.odg).c_str(),
                  JsonNumber(quality.grade.di).c_str());
      for (int i = 0; i < ostrel::peaq::MOV_COUNT; ++i) {
        std::printf("%s\"%s\": %s", i ? ", " : "", ostrel::peaq::MOV_NAMES[static_cast<size_t>(i)],
                    JsonNumber(quality.movs[static_cast<size_t>(i)]).c_str());
      }
      std::printf("}");
      if (segmentSeconds > 0.0) {
        std::printf(",\n \"segments\": [");
        for (size_t i = 0; i < quality.segments.size(); ++i) {
          const ostrel::peaq::Segment& s = quality.segments[i];
          const double none = NAN;  // a stretch without signal has no grade: null
          std::printf("%s\n  {\"start\": %s, \"end\": %s, \"odg\": %s, \"di\": %s}", i ? "," : "",
                      JsonNumber(s.start).c_str(), JsonNumber(s.end).c_str(),
                      JsonNumber(s.graded ? s.grade.odg : none).c_str(), JsonNumber(s.graded ? s.grade.di : none).c_str());
        }
        std::printf("]");
      }
    } else {
      std::printf(" \"odg\": null, \"di\": null, \"movs\": null, \"grade_error\": \"%s\"", gradeError.c_str());
    }
    std::printf("}\n");
  } else {
    std::printf("source  %u sample frames (%.3f s)\n", sourceFrames, sourceFrames / double(sourceRate));
    std::printf("decoded %u sample frames (%.3f s)\n", decodedFrames, decodedFrames / double(decodedRate));
    if (noise == 0.0) {
      std::printf("SNR     identical over %u sample frames\n", frames);
    } else if (signal == 0.0) {
      std::printf("SNR     -inf dB (silent source), peak difference %d\n", peak);
    } else {
      std::printf("SNR     %.2f dB over %u sample frames, peak difference %d\n", snrDb, frames, peak);
    }
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
      status = 3;
    } else if (!json) {
      std::printf("plot    %s\n", plotPath.c_str());
    }
  }
  if (!graded) {
    // The comparison above stands; only the grade is missing, and the missing lines say so to scripts.
    std::fprintf(stderr, "ostrelcmp: no quality grade: %s\n", gradeError.c_str());
    return status;
  }
  if (!json) {
    std::printf("ODG: %+.2f\n", quality.grade.odg);
    std::printf("DI: %+.2f\n", quality.grade.di);
    if (movs) {
      for (int i = 0; i < ostrel::peaq::MOV_COUNT; ++i) {
        std::printf("%-15s %.6g\n", ostrel::peaq::MOV_NAMES[static_cast<size_t>(i)], quality.movs[static_cast<size_t>(i)]);
      }
    }
    for (const ostrel::peaq::Segment& s : quality.segments) {
      if (s.graded) {
        std::printf("segment %8.3f - %8.3f s  ODG %+.2f  DI %+.2f\n", s.start, s.end, s.grade.odg, s.grade.di);
      } else {
        std::printf("segment %8.3f - %8.3f s  no signal in the source\n", s.start, s.end);
      }
    }
  }
  return status;
}
