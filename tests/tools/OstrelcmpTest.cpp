// ostrelcmp end to end: its report, a decoded file shorter than and shifted against its source,
// and the --plot image.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/Process.h"
#include "common/TempDir.h"
#include "common/WavFixture.h"
#include "tools/peaq/Resampler.h"

namespace ostrel::test {
namespace {

constexpr size_t SECOND = 44100;  // sample frames

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class Ostrelcmp : public testing::Test {
 protected:
  void SetUp() override {
    // A 1 kHz tone with quiet white noise in both channels: the source.
    source_ = Sine(SECOND, 1000.0, 8000.0);
    const Stereo noise = Noise(SECOND, 2000.0, 3);
    for (size_t i = 0; i < source_.size(); ++i) source_[i] = Clip16(double(source_[i]) + noise[i]);
    WriteWav(dir_.File("source.wav"), source_);
  }
  // Runs ostrelcmp with `args`.
  static RunResult Cmp(std::vector<std::string> args) {
    args.insert(args.begin(), Program("ostrelcmp"));
    return test::Run(args, "");
  }
  TempDir dir_;
  Stereo source_;
};

// A decoded file that runs on past the source (as the decoder's does) is cut at the source's end;
// the SNR line keeps its place and form, and the NMR report follows it.
TEST_F(Ostrelcmp, ReportsSnrFirstThenTheNoiseToMaskFigures) {
  Stereo decoded = source_;
  const Stereo lsb = Noise(SECOND, 1.4, 5);  // -1, 0 or +1
  for (size_t i = 0; i < decoded.size(); ++i) decoded[i] = Clip16(double(decoded[i]) + lsb[i]);
  decoded.resize(decoded.size() + 2 * 1000, 0);
  WriteWav(dir_.File("decoded.wav"), decoded);
  const RunResult r = Cmp({dir_.File("source.wav"), dir_.File("decoded.wav")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_GE(lines.size(), 6u) << r.out;
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(SNR     \d+\.\d\d dB over 44100 sample frames, peak difference 1)")))
      << lines[2];
  // One-LSB noise is far under the mask of this signal.
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[3], m, std::regex(R"(NMR     (-\d+\.\d\d) dB \(.* 45 frames x 25 Bark bands\))")))
      << lines[3];
  EXPECT_LT(std::stod(m[1]), -20.0);
  EXPECT_EQ(lines[4].rfind("audible 0.0 % of frames (0 of 45)", 0), 0u) << lines[4];
  EXPECT_EQ(lines[5].rfind("worst   band ", 0), 0u) << lines[5];
}

// A decoder that lost its alignment and its last samples: the shift shows as loud audible noise,
// the missing part is named on standard error, and the exit status says the comparison is partial.
TEST_F(Ostrelcmp, AShiftedShorterDecodedFileIsAudibleAndReportedShort) {
  Stereo decoded(2 * 64, 0);
  decoded.insert(decoded.end(), source_.begin(), source_.end() - 2 * 5000);
  WriteWav(dir_.File("decoded.wav"), decoded);
  const RunResult r = Cmp({dir_.File("source.wav"), dir_.File("decoded.wav")});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("decoded.wav is shorter than"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("(39164 of 44100 sample frames); compared over the 39164 frames it holds"), std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("SNR     "), std::string::npos) << r.out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(NMR     \+(\d+\.\d\d) dB)"))) << r.out;
  EXPECT_GT(std::stod(m[1]), 5.0);
  EXPECT_NE(r.out.find("audible 100.0 % of frames"), std::string::npos) << r.out;
}

// The grade's lines follow the report; --movs and --segments add theirs after them, and --json
// gives the same figures as one object. Damage in the second half shows in the second segment,
// and a decoded file running on past the source grades as if cut at the source's end.
TEST_F(Ostrelcmp, GradesTheDecodedFileAfterTheReport) {
  if (!peaq::CanResample()) GTEST_SKIP() << "built without libsoxr: 44.1 kHz files get no grade";
  Stereo decoded = source_;
  const Stereo loud = Noise(SECOND, 3000.0, 8);
  for (size_t i = SECOND; i < decoded.size(); ++i) decoded[i] = Clip16(double(decoded[i]) + loud[i]);
  WriteWav(dir_.File("decoded.wav"), decoded);
  Stereo longer = decoded;
  longer.resize(longer.size() + 2 * 3000, 0);
  WriteWav(dir_.File("longer.wav"), longer);

  const RunResult plain = Cmp({dir_.File("source.wav"), dir_.File("decoded.wav")});
  ASSERT_EQ(plain.status, 0) << plain.out << plain.err;
  const std::vector<std::string> lines = Lines(plain.out);
  ASSERT_EQ(lines.size(), 8u) << plain.out;
  EXPECT_EQ(lines[5].rfind("worst   band ", 0), 0u) << lines[5];
  std::smatch odg;
  ASSERT_TRUE(std::regex_match(lines[6], odg, std::regex(R"(ODG: ([+-]\d\.\d\d))"))) << lines[6];
  EXPECT_TRUE(std::regex_match(lines[7], std::regex(R"(DI: [+-]\d+\.\d\d)"))) << lines[7];
  EXPECT_LT(std::stod(odg[1]), -1.0);  // half a second of noise louder than the source's own

  const RunResult cut = Cmp({dir_.File("source.wav"), dir_.File("longer.wav")});
  EXPECT_EQ(Lines(cut.out)[6], lines[6]);

  const RunResult more = Cmp({"--movs", "--segments", "0.5", dir_.File("source.wav"), dir_.File("decoded.wav")});
  ASSERT_EQ(more.status, 0) << more.err;
  const std::vector<std::string> moreLines = Lines(more.out);
  ASSERT_EQ(moreLines.size(), 8u + 11u + 2u) << more.out;
  EXPECT_EQ(moreLines[8].rfind("BandwidthRefB ", 0), 0u) << moreLines[8];
  EXPECT_EQ(moreLines[18].rfind("RelDistFramesB ", 0), 0u) << moreLines[18];
  std::smatch first, second;
  ASSERT_TRUE(std::regex_match(moreLines[19], first, std::regex(R"(segment +0\.000 - +0\.500 s  ODG ([+-]\d\.\d\d)  DI .*)")))
      << moreLines[19];
  ASSERT_TRUE(std::regex_match(moreLines[20], second, std::regex(R"(segment +0\.500 - +1\.000 s  ODG ([+-]\d\.\d\d)  DI .*)")))
      << moreLines[20];
  EXPECT_GT(std::stod(first[1]), std::stod(second[1]) + 1.0);

  const RunResult json = Cmp({"--json", "--segments", "0.5", dir_.File("source.wav"), dir_.File("decoded.wav")});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out.front(), '{');
  EXPECT_EQ(json.out.substr(json.out.size() - 2), "}\n");
  for (const char* key : {"\"snr_db\": ", "\"nmr_db\": ", "\"audible\": ", "\"di\": ", "\"movs\": {\"BandwidthRefB\": ",
                          "\"EHSB\": ", "\"segments\": [", "{\"start\": 0.5, \"end\": 1, \"odg\": "}) {
    EXPECT_NE(json.out.find(key), std::string::npos) << key << "\n" << json.out;
  }
  std::smatch jsonOdg;
  ASSERT_TRUE(std::regex_search(json.out, jsonOdg, std::regex(R"(\n "odg": (-?\d+\.?\d*))"))) << json.out;
  EXPECT_NEAR(std::stod(jsonOdg[1]), std::stod(odg[1]), 0.005);

  const RunResult bad = Cmp({"--segments", "0", dir_.File("source.wav"), dir_.File("decoded.wav")});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("positive number of seconds"), std::string::npos) << bad.err;
}

// A source without signal has nothing to grade: the report stands, the grade lines are left out
// with the reason on standard error, and the JSON says null.
TEST_F(Ostrelcmp, ASilentSourceGetsNoGrade) {
  if (!peaq::CanResample()) GTEST_SKIP() << "built without libsoxr: 44.1 kHz files get no grade anyway";
  WriteWav(dir_.File("silence.wav"), Silence(SECOND));
  WriteWav(dir_.File("noise.wav"), Noise(SECOND, 8.0, 4));
  const RunResult r = Cmp({dir_.File("silence.wav"), dir_.File("noise.wav")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("ODG"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("audible "), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("no quality grade: the source holds no signal"), std::string::npos) << r.err;
  const RunResult json = Cmp({"--json", dir_.File("silence.wav"), dir_.File("noise.wav")});
  EXPECT_NE(json.out.find("\"odg\": null, \"di\": null, \"movs\": null, \"grade_error\": \"the source holds no signal"),
            std::string::npos)
      << json.out;
}

// The heat map is a complete PNG file with the plot's dimensions; it never takes an input's place.
TEST_F(Ostrelcmp, PlotWritesAPngImage) {
  Stereo decoded = source_;
  for (size_t i = SECOND / 2 * 2; i < SECOND * 2; ++i) decoded[i] = Clip16(decoded[i] * 0.5);
  WriteWav(dir_.File("decoded.wav"), decoded);
  const std::string png = dir_.File("nmr.png");
  const RunResult r = Cmp({"--plot", png, dir_.File("source.wav"), dir_.File("decoded.wav")});
#ifndef OSTREL_HAVE_PNG
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("plotting is not available"), std::string::npos) << r.err;
  EXPECT_TRUE(ReadAll(png).empty());
  GTEST_SKIP() << "built without libpng: --plot only says that plotting is not available";
#else
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<unsigned char> bytes = ReadAll(png);
  ASSERT_GT(bytes.size(), 1000u);
  const std::vector<unsigned char> signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 8), signature);
  EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "IHDR");
  auto be32 = [&](size_t at) {
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
  };
  // 45 frames of 20 pixels between margins of 90 and 120; 25 bands of 16 pixels between 58 and 56.
  EXPECT_EQ(be32(16), 90u + 45u * 20u + 120u);
  EXPECT_EQ(be32(20), 58u + 25u * 16u + 56u);
  EXPECT_EQ(std::string(bytes.end() - 8, bytes.end() - 4), "IEND");
  EXPECT_NE(r.out.find("plot    " + png), std::string::npos) << r.out;

  const std::vector<unsigned char> sourceBytes = ReadAll(dir_.File("source.wav"));
  const RunResult onInput = Cmp({"--plot", dir_.File("source.wav"), dir_.File("source.wav"), dir_.File("decoded.wav")});
  EXPECT_EQ(onInput.status, 2);
  EXPECT_NE(onInput.err.find("not one of the inputs"), std::string::npos) << onInput.err;
  EXPECT_EQ(ReadAll(dir_.File("source.wav")), sourceBytes);
#endif
}

}  // namespace
}  // namespace ostrel::test
