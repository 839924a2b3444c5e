#include "encoder/Dialogue.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "common/StreamFixture.h"
#include "common/TempDir.h"
#include "common/WavFixture.h"

namespace ostrel {
namespace {

using test::TempDir;

const char kBanner[] =
    "\t---------------------------------------\n"
    "\tSimple Demonstration of Ostrel Encoder\n"
    "\tThe Ostrel Codec Project\n"
    "\t---------------------------------------\n\n";
const char kMenu[] =
    "\nAvailable Data Rates:\n"
    "---------------------\n\n"
    "1\t392 kb/s\n2\t256 kb/s\n3\t192 kb/s\n4\t160 kb/s\n5\t128 kb/s\n6\t112 kb/s\n7\t96 kb/s\n"
    "\nEnter target data rate: ";
const char kSourcePrompt[] = "Enter source file path: ";
const char kTargetPrompt[] = "Enter target file path: ";

// One dialogue fed from a list of answer lines; end of input after the last one.
struct Session {
  DialogueResult result;
  std::string out, err;

  // `terminal`: the answers count as typed on a terminal (without line editing).
  explicit Session(std::vector<std::string> lines, bool terminal = false) {
    std::deque<std::string> queue(lines.begin(), lines.end());
    char* outText = nullptr;
    char* errText = nullptr;
    size_t outSize = 0, errSize = 0;
    DialogueConsole console;
    console.out = open_memstream(&outText, &outSize);
    console.err = open_memstream(&errText, &errSize);
    console.terminal = terminal;
    console.readLine = [&queue](std::string& line) {
      if (queue.empty()) return false;
      line = queue.front();
      queue.pop_front();
      return true;
    };
    result = RunDialogue(console);
    std::fclose(console.out);
    std::fclose(console.err);
    out.assign(outText, outSize);
    err.assign(errText, errSize);
    std::free(outText);
    std::free(errText);
  }
  ~Session() {
    if (result.in) result.in->wave()->CloseWave();
  }
  int Count(const std::string& text, const std::string& what) const {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  int Lines(const std::string& text) const { return Count(text, "\n"); }
};

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

TEST(Dialogue, CompleteRunPrintsTheDialogueAndLeavesAnEmptyTarget) {
  TempDir dir;
  const std::string source = dir.File("in.wav");
  test::WriteWav(source, test::Silence(44100 * 3 + 10));
  test::WriteAll(dir.File("out.ost"), {1, 2, 3});  // an existing target is emptied
  Session s({source, dir.File("out.ost"), "7"});
  ASSERT_EQ(s.result.status, 0);
  EXPECT_EQ(s.out, std::string(kBanner) + kSourcePrompt + kTargetPrompt + kMenu + "\nData Rate Selected: 96 kb/s\n");
  EXPECT_EQ(s.err, "");
  ASSERT_NE(s.result.fptr, nullptr);
  ASSERT_TRUE(s.result.in);
  EXPECT_EQ(s.result.in->wave()->type, WAVE_READ);
  EXPECT_EQ(s.result.in->wave()->SumDiff, 0);
  EXPECT_EQ(test::ReadAll(dir.File("out.ost")).size(), 0u);

  const RunParameters& p = s.result.params;
  EXPECT_EQ(p.DataRate, 48);
  EXPECT_EQ(p.Length, 3u);
  EXPECT_EQ(p.TOTAL, 16384);
  EXPECT_EQ(p.sourcePath, source);
  EXPECT_EQ(p.targetPath, dir.File("out.ost"));

  // The reader starts at the first sample and the target takes bytes.
  float r[1], l[1];
  EXPECT_EQ(s.result.in->wave()->IO(r, l, 1), 0);
  EXPECT_EQ(std::fputs("x", s.result.fptr.get()) >= 0, true);
}

TEST(Dialogue, MenuChoicesAndWhatIsNotAChoice) {
  for (const test::RateRow& r : test::RateRows()) EXPECT_EQ(DataRateForChoice(r.row), r.code);
  for (int choice : {0, 8, -1, INT_MIN, INT_MAX}) EXPECT_EQ(DataRateForChoice(choice), 64) << choice;

  struct Case {
    const char* line;
    bool number;
    int value;
  };
  const Case cases[] = {{"3", true, 3},          {"  +2", true, 2},   {"-1", true, -1},
                        {"7abc", true, 7},       {"5 kb/s", true, 5}, {"99999999999", true, INT_MAX},
                        {"-99999999999", true, INT_MIN}, {"a", false, 0}, {"+", false, 0},
                        {"- 3", false, 0},       {"x7", false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    int value = 12345;
    EXPECT_EQ(ParseChoice(c.line, &value), c.number);
    if (c.number) {
      EXPECT_EQ(value, c.value);
    }
  }

  TempDir dir;
  test::WriteWav(dir.File("in.wav"), test::Silence(10));
  for (const char* answer : {"0", "8", "-1", "q", "4x", "  6  "}) {
    SCOPED_TRACE(answer);
    Session s({dir.File("in.wav"), dir.File("out.ost"), answer});
    ASSERT_EQ(s.result.status, 0);
    const std::string a = answer;
    const char* expected = a == "4x" ? "160" : a == "  6  " ? "112" : "128";
    EXPECT_NE(s.out.find(std::string("\nData Rate Selected: ") + expected + " kb/s\n"), std::string::npos);
  }
}

TEST(Dialogue, RunParametersForEveryRate) {
  for (const test::RateRow& r : test::RateRows()) {
    SCOPED_TRACE(static_cast<int>(r.code));
    RunParameters p = DeriveRunParameters(r.code, 10584000, 44100);
    EXPECT_EQ(p.DataRate, r.code);
    EXPECT_EQ(p.CHANNELS, 2);
    EXPECT_EQ(p.SAMPLERATE, 44100);
    EXPECT_EQ(p.NBLOCKS, r.nBlocks);
    EXPECT_EQ(p.LONGSIZE, r.longSize);
    EXPECT_EQ(p.SHORTSIZE, r.longSize / 4);             // 128, 256 or 512
    EXPECT_EQ(p.TRANSIZE, r.longSize * 5 / 8);          // 320, 640 or 1280
    EXPECT_EQ(p.TOTAL, r.Total());
    EXPECT_EQ(p.Res, r.res);
    EXPECT_EQ(p.dBOffset, r.offset);
    EXPECT_EQ(p.Length, 60u);  // a 60-second source
  }
  EXPECT_EQ(DeriveRunParameters(64, 10583999, 44100).Length, 59u);
  EXPECT_EQ(DeriveRunParameters(64, 4 * 22050 * 10, 22050).Length, 10u);  // the header's rate counts
  EXPECT_EQ(DeriveRunParameters(64, 4000, 0).Length, 0u);
}

TEST(Dialogue, LengthComesFromTheSamplesReallyThere) {
  TempDir dir;
  // A 60-second source written by a streaming writer that never patched its sizes.
  std::vector<unsigned char> bytes = test::WavBytes(test::Silence(44100 * 60));
  for (int i = 4; i < 8; ++i) bytes[i] = 0xFF;
  for (int i = 40; i < 44; ++i) bytes[i] = 0xFF;
  test::WriteAll(dir.File("long.wav"), bytes);
  Session s({dir.File("long.wav"), dir.File("out.ost"), "5"});
  ASSERT_EQ(s.result.status, 0);
  EXPECT_EQ(s.result.params.Length, 60u);
}

TEST(Dialogue, SourceIsAskedForAgainUntilItCanBeCoded) {
  TempDir dir;
  const std::vector<int16_t> audio(400, 7);
  test::WriteWav(dir.File("mono.wav"), audio, 1, 44100);
  test::WriteWav(dir.File("48k.wav"), audio, 2, 48000);
  test::WriteWav(dir.File("zero.wav"), audio, 2, 0);
  test::WriteWav(dir.File("empty.wav"), {});
  std::vector<unsigned char> adpcm = test::WavBytes(audio, 1, 8000, 4);
  adpcm[20] = 0x11;  // IMA ADPCM
  test::WriteAll(dir.File("adpcm.wav"), adpcm);
  test::WriteAll(dir.File("notes.txt"), {'h', 'i', '\n'});
  test::WriteWav(dir.File("good.wav"), audio);
  // With libsndfile mono and 48 kHz are converted; without it they are refused too.
  std::vector<std::string> bad = {"zero.wav", "empty.wav", "adpcm.wav", "notes.txt"};
  if (!SourceReaderHasSndfile()) bad.insert(bad.end(), {"mono.wav", "48k.wav"});
  // A file that is there but cannot be opened is "not found" too, with the reason beside it.
  ASSERT_EQ(symlink("loop.wav", dir.File("loop.wav").c_str()), 0);
  std::vector<std::string> answers = {dir.File("missing.wav"), dir.File("loop.wav"), dir.path()};
  for (const std::string& name : bad) answers.push_back(dir.File(name));
  answers.insert(answers.end(), {dir.File("good.wav"), dir.File("out.ost"), "1"});

  Session s(answers);
  ASSERT_EQ(s.result.status, 0);
  EXPECT_EQ(s.Count(s.out, "File not found\n\nEnter source file path: "), 2);
  EXPECT_EQ(s.Count(s.out, kSourcePrompt), 4 + static_cast<int>(bad.size()));
  EXPECT_EQ(s.Count(s.out, kTargetPrompt), 1);
  EXPECT_EQ(s.Lines(s.err), 2 + static_cast<int>(bad.size()));  // the loop, the folder, each wrong file
  EXPECT_NE(s.err.find("Cannot open " + dir.File("loop.wav") + ": Too many levels of symbolic links."),
            std::string::npos)
      << s.err;
  EXPECT_NE(s.err.find(dir.path() + " is a folder; " + SourceReaderReads() + ".\n"), std::string::npos) << s.err;
  for (const std::string& name : bad) EXPECT_NE(s.err.find(dir.File(name) + " "), std::string::npos) << name;
  EXPECT_NE(s.err.find(dir.File("empty.wav") + " holds no samples.\n"), std::string::npos) << s.err;
  EXPECT_NE(s.err.find(dir.File("adpcm.wav") + " is ADPCM, which is not supported.\n"), std::string::npos) << s.err;
  if (!SourceReaderHasSndfile()) {
    EXPECT_NE(s.err.find("mono.wav is 16-bit PCM, 1 channel, 44100 Hz; this build reads only"), std::string::npos)
        << s.err;
  }
  EXPECT_EQ(s.result.params.sourcePath, dir.File("good.wav"));
}

// A converted source's run parameters: Length from its own rate, the reader a pull-mode Waveio.
TEST(Dialogue, ConvertedSourceGetsItsLengthFromItsOwnRate) {
  if (!SourceReaderHasSndfile()) GTEST_SKIP() << "built without libsndfile";
  TempDir dir;
  test::WriteWav(dir.File("mono.wav"), std::vector<int16_t>(44100 * 20, 5), 1, 44100);
  Session s({dir.File("mono.wav"), dir.File("out.ost"), "5"});
  ASSERT_EQ(s.result.status, 0);
  EXPECT_FALSE(s.result.in->canonical());
  EXPECT_EQ(s.result.in->wave()->type, WAVE_PULL);
  EXPECT_EQ(s.result.params.Length, 20u);
}

TEST(Dialogue, TargetThatIsTheSourceIsRefusedUnderEveryName) {
  TempDir dir;
  const std::string source = dir.File("in.wav");
  test::WriteWav(source, test::Sine(2000, 440.0, 9000.0));
  const std::vector<unsigned char> before = test::ReadAll(source);
  ASSERT_EQ(symlink(source.c_str(), dir.File("link.wav").c_str()), 0);
  ASSERT_EQ(link(source.c_str(), dir.File("hard.wav").c_str()), 0);

  Session s({source, source, dir.path() + "/./in.wav", dir.path() + "//in.wav", dir.File("link.wav"),
             dir.File("hard.wav"), dir.File("out.ost"), "3"});
  ASSERT_EQ(s.result.status, 0);
  EXPECT_EQ(s.Count(s.out, kTargetPrompt), 6);
  EXPECT_EQ(s.Lines(s.err), 5);
  EXPECT_EQ(s.Count(s.err, ": it is the input file\n"), 5);
  EXPECT_EQ(test::ReadAll(source), before);
  EXPECT_EQ(s.result.params.targetPath, dir.File("out.ost"));
}

TEST(Dialogue, TargetThatCannotBeOpenedIsAskedForAgain) {
  TempDir dir;
  test::WriteWav(dir.File("in.wav"), test::Silence(100));
  ASSERT_EQ(mkdir(dir.File("folder").c_str(), 0755), 0);
  Session s({dir.File("in.wav"), dir.File("missing/out.ost"), dir.File("folder"), dir.File("out.ost"), "2"});
  ASSERT_EQ(s.result.status, 0);
  EXPECT_EQ(s.Count(s.out, kTargetPrompt), 3);
  EXPECT_EQ(s.Lines(s.err), 2);
  EXPECT_EQ(s.err, "ostrelenc: cannot write " + dir.File("missing/out.ost") + ": No such file or directory\n" +
                       "ostrelenc: cannot write " + dir.File("folder") + ": it is a folder\n");
  EXPECT_FALSE(Exists(dir.File("missing")));
}

TEST(Dialogue, EndOfInputAtEachPromptCreatesAndTruncatesNothing) {
  TempDir dir;
  test::WriteWav(dir.File("in.wav"), test::Silence(100));
  test::WriteAll(dir.File("kept.ost"), {9, 9, 9});
  struct Case {
    std::vector<std::string> answers;
    const char* what;
  };
  const std::vector<Case> cases = {
      {{}, "source file path"},
      {{"", "   "}, "source file path"},
      {{dir.File("missing.wav")}, "source file path"},
      {{dir.File("in.wav")}, "target file path"},
      {{dir.File("in.wav"), dir.File("new.ost")}, "data rate"},
      {{dir.File("in.wav"), dir.File("new.ost"), " "}, "data rate"},
      {{dir.File("in.wav"), dir.File("kept.ost")}, "data rate"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers.size());
    Session s(c.answers);
    EXPECT_EQ(s.result.status, 1);
    EXPECT_FALSE(s.result.in);
    EXPECT_FALSE(s.result.fptr);
    EXPECT_FALSE(s.result.target);
    EXPECT_EQ(s.err, std::string("End of input before the ") + c.what + " was given; nothing was encoded.\n");
    EXPECT_EQ(s.out.find("Data Rate Selected"), std::string::npos);
    EXPECT_FALSE(Exists(dir.File("new.ost")));
    EXPECT_EQ(test::ReadAll(dir.File("kept.ost")), (std::vector<unsigned char>{9, 9, 9}));
  }
}

TEST(Dialogue, AnswersAreWholeTrimmedLines) {
  TempDir dir;
  const std::string source = dir.File("my song.wav");
  test::WriteWav(source, test::Silence(100));
  Session s({"", "  " + source + "\t", "", dir.File("my output.ost") + "  ", "", "  4 "});
  ASSERT_EQ(s.result.status, 0);
  EXPECT_EQ(s.Count(s.out, kSourcePrompt), 1);  // blank lines are passed over, not answers
  EXPECT_EQ(s.result.params.sourcePath, source);
  EXPECT_EQ(s.result.params.targetPath, dir.File("my output.ost"));
  EXPECT_EQ(s.result.params.DataRate, 80);
  EXPECT_TRUE(Exists(dir.File("my output.ost")));
}

// Typed on a terminal: a dropped or quoted path is cleaned up, ~ is the home folder, an empty
// answer asks again, the rate may be given in kb/s, and an answer that is neither a row nor a rate
// is said not to be understood before the design's 128 kb/s is taken. Piped, the same answers
// are taken as they always were.
TEST(Dialogue, TypedAnswersAtATerminal) {
  TempDir dir;
  test::WriteWav(dir.File("in put.wav"), test::Silence(4410));
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  setenv("HOME", dir.path().c_str(), 1);
  {
    Session s({"  '" + dir.File("in put.wav") + "' ", "", "~/out.ost", "256 kb/s"}, true);
    ASSERT_EQ(s.result.status, 0) << s.err;
    EXPECT_EQ(s.result.params.sourcePath, dir.File("in put.wav"));
    EXPECT_EQ(s.result.params.targetPath, dir.path() + "/out.ost");
    EXPECT_EQ(s.Count(s.out, kTargetPrompt), 2);  // asked again after the empty answer
    EXPECT_EQ(s.result.params.DataRate, 128);
    EXPECT_EQ(s.err, "");
  }
  for (const char* figure : {"96", "112", "128", "160", "192", "392"}) {
    Session s({"\"" + dir.File("in put.wav") + "\"", dir.File("out.ost"), figure}, true);
    ASSERT_EQ(s.result.status, 0) << s.err;
    EXPECT_EQ(s.result.params.DataRate * 2, std::atoi(figure));
  }
  for (const char* answer : {"abc", "100", "0", "8"}) {
    Session s({dir.File("in put.wav"), dir.File("out.ost"), answer}, true);
    ASSERT_EQ(s.result.status, 0) << s.err;
    EXPECT_EQ(s.result.params.DataRate, 64);
    EXPECT_EQ(s.err, std::string("ostrelenc: ") + answer + ": not understood, using 128 kb/s\n");
  }
  {
    Session piped({dir.File("in put.wav"), dir.File("out.ost"), "256"});
    EXPECT_EQ(piped.result.params.DataRate, 64);
    EXPECT_EQ(piped.err, "");
    Session quoted({"'" + dir.File("in put.wav") + "'", "~/x.ost"});
    EXPECT_EQ(quoted.result.status, 1);  // neither answer is taken apart: the source is not found
    EXPECT_NE(quoted.out.find("File not found"), std::string::npos);
  }
  setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace ostrel
