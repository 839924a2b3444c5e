// Running out of memory in the programs: one failing allocation swept over every allocation of an
// ostrelenc and an ostreldec run (through a preloaded operator new). Every run either ends as a
// run with memory enough does, or says "out of memory" on standard error, exits with its status
// for an output not made (1 for ostrelenc, 3 for ostreldec) and leaves nothing behind; nothing
// but the stream ever reaches standard output.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "common/Process.h"
#include "common/TempDir.h"
#include "common/WavFixture.h"

namespace ostrel::test {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

RunOptions In(const std::string& dir) {
  RunOptions options;
  options.workdir = dir;
  return options;
}

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

// Sweeps the failing allocation over `argv` run in `dir`, whose result is the file `output`
// (empty: standard output) and whose exit status on failing to make it is `failed`. Returns the
// number of allocation points.
long Sweep(const std::vector<std::string>& argv, const std::string& dir, const std::string& output, int failed) {
  const std::string outPath = output.empty() ? "" : dir + "/" + output;
  const RunResult reference = Run(argv, "", In(dir));
  EXPECT_EQ(reference.status, 0) << reference.err;
  const std::string expected = output.empty() ? reference.out : Slurp(outPath);
  if (!outPath.empty()) fs::remove(outPath);
  const std::set<std::string> before = Names(dir);
  const std::string mark = dir + "/../failed-" + std::to_string(getpid());

  setenv("LD_PRELOAD", OSTREL_FAILING_ALLOCATION, 1);
  setenv("OSTREL_FAIL_MARK", mark.c_str(), 1);
  long n = 1, broken = 0;
  for (; n < 5000; ++n) {
    fs::remove(mark);
    setenv("OSTREL_FAIL_ALLOCATION", std::to_string(n).c_str(), 1);
    const RunResult r = Run(argv, "", In(dir));
    const bool met = fs::exists(mark);
    const std::string out = output.empty() ? r.out : (fs::exists(outPath) ? Slurp(outPath) : "");
    std::set<std::string> left = Names(dir);
    std::string fault;
    if (r.status == 0) {
      if (out != expected) fault = "a run that succeeded gave another output";
      if (!outPath.empty()) left.erase(output);
    } else if (r.status != failed || r.err.find("out of memory") == std::string::npos) {
      fault = "status " + std::to_string(r.status) + ", signal " + std::to_string(r.signal) + ": " + r.err;
    } else if (!output.empty() && fs::exists(outPath)) {
      fault = "a failed run left its output";
    }
    if (r.out.find("memory") != std::string::npos) fault = "a message in the data on standard output";
    if (left != before) fault += " (left files behind)";
    if (!fault.empty()) {
      ++broken;
      ADD_FAILURE() << "allocation " << n << ": " << fault;
    }
    for (const std::string& name : Names(dir)) {
      if (!before.count(name)) fs::remove(dir + "/" + name);
    }
    if (!met) break;
  }
  unsetenv("LD_PRELOAD");
  unsetenv("OSTREL_FAIL_ALLOCATION");
  unsetenv("OSTREL_FAIL_MARK");
  fs::remove(mark);
  EXPECT_LT(n, 5000);
  EXPECT_EQ(broken, 0) << "of " << n - 1 << " allocation points";
  return n - 1;
}

class ProgramMemoryTest : public testing::Test {
 protected:
  void SetUp() override {
#if defined(OSTREL_SANITIZE_BUILD)
    GTEST_SKIP() << "a preloaded operator new cannot be combined with the sanitizers' runtime";
#endif
    Stereo samples = Sine(30000, 440.0, 8000.0);
    AddClick(samples, 20000, 0);
    WriteWav(dir.path() + "/in.wav", samples);
  }
  TempDir dir;
};

TEST_F(ProgramMemoryTest, EncoderEndsCleanlyAtEveryAllocation) {
  EXPECT_GT(Sweep({Program("ostrelenc"), "-q", "--threads", "1", "in.wav", "-o", "out.ost"}, dir.path(), "out.ost", 1), 50);
}

TEST_F(ProgramMemoryTest, DecoderEndsCleanlyAtEveryAllocation) {
  ASSERT_EQ(test::Run({Program("ostrelenc"), "-q", "in.wav", "-o", "in.ost"}, "", In(dir.path())).status, 0);
  fs::remove(dir.path() + "/in.wav");
  EXPECT_GT(Sweep({Program("ostreldec"), "-q", "in.ost", "-o", "out.wav"}, dir.path(), "out.wav", 3), 20);
  EXPECT_GT(Sweep({Program("ostreldec"), "-q", "in.ost", "-o", "-"}, dir.path(), "", 3), 20);
}

}  // namespace
}  // namespace ostrel::test
