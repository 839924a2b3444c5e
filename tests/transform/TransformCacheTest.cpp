// Cache behaviour of the transforms, in an executable whose global operator new counts every
// allocation and can be told to fail. Tests that need caches as a fresh process has them run
// their body in a re-executed child (threadsafe death-test style), so no state from another
// test can leak in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "common/CountingAllocator.h"
#include "transform/DeathTestOutput.h"
#include "transform/VariableIMDCT.h"
#include "transform/VariableMDCT.h"
#include "transform/fft.h"
#include "transform/mdct.h"

namespace ostrel {
namespace {

using testing::ExitedWithCode;

// Arrays the test itself needs, allocated before counting starts.
struct Scratch {
  std::vector<float> x = std::vector<float>(2048, 0.25f);
  std::vector<float> y = std::vector<float>(2048, 0.0f);
  std::vector<float> r = std::vector<float>(640, 1.0f);
  std::vector<float> i = std::vector<float>(640, 0.0f);
};

// One block of every type at every rate, forward and back, plus the spectral kernels at the
// lengths the codec and its tools use.
void RunEveryTransform(std::vector<VariableMDCT>& analysis, std::vector<VariableIMDCT>& synthesis,
                       Scratch& s) {
  for (size_t rate = 0; rate < analysis.size(); ++rate) {
    for (int type : {0, 1, 2, 3, 0}) {
      analysis[rate].Transform(s.x.data(), type);
      synthesis[rate].Transform(s.x.data(), type);
    }
  }
  for (int nn : {512, 320, 128, 256, 160, 64, 80, 32}) CompFFT(s.x.data(), nn, 1);
  for (int N : {64, 128, 256}) {
    fftl(s.x.data(), s.y.data(), N);
    ifft(s.x.data(), s.y.data(), N);
  }
  fft640(s.r.data(), s.i.data());
}

TEST(TransformCacheTest, SteadyStateAllocatesNothing) {
  std::vector<VariableMDCT> analysis;
  std::vector<VariableIMDCT> synthesis;
  for (int Llength : {2048, 1024, 512}) {
    analysis.emplace_back(Llength, Llength / 4);
    synthesis.emplace_back(Llength, Llength / 4);
  }
  Scratch scratch;
  RunEveryTransform(analysis, synthesis, scratch);  // warm-up builds every cache at its largest size
  const long before = test::AllocationCount();
  for (int repeat = 0; repeat < 3; ++repeat) RunEveryTransform(analysis, synthesis, scratch);
  EXPECT_EQ(test::AllocationCount() - before, 0);
}

// Runs `body` in a freshly started process; the child exits 0 when every check in it held.
// `body` returns an empty string on success or a description of the first failed check.
template <typename Body>
void InFreshProcess(Body body) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const std::string failure = body();
        if (!failure.empty()) {
          std::fputs(failure.c_str(), stderr);
          std::exit(2);
        }
        std::exit(0);
      },
      ExitedWithCode(0), "");
}

TEST(TransformCacheTest, CompFFTTableGrowsByEachDimensionSeparately) {
  InFreshProcess([]() -> std::string {
    int rows = -1;
    int rowComplex = -1;
    std::vector<float> data(1024, 0.5f);
    CompFFTCacheShape(&rows, &rowComplex);
    if (rows != 0 || rowComplex != 0) return "cache not empty in a fresh process";
    CompFFT(data.data(), 320, 1);
    CompFFTCacheShape(&rows, &rowComplex);
    if (rows != 5 || rowComplex != 64) return "after 320: " + std::to_string(rows) + "x" + std::to_string(rowComplex);
    CompFFT(data.data(), 512, 1);
    CompFFTCacheShape(&rows, &rowComplex);
    if (rows != 5 || rowComplex != 512) return "after 512: " + std::to_string(rows) + "x" + std::to_string(rowComplex);
    const long before = test::AllocationCount();
    CompFFT(data.data(), 64, 1);
    CompFFT(data.data(), 5, -1);
    if (test::AllocationCount() != before) return "smaller transforms reallocated";
    CompFFTCacheShape(&rows, &rowComplex);
    if (rows != 5 || rowComplex != 512) return "after 64: " + std::to_string(rows) + "x" + std::to_string(rowComplex);
    return "";
  });
}

TEST(TransformCacheTest, MdctWorkArrayGrowsOnlyForLongerTransforms) {
  InFreshProcess([]() -> std::string {
    std::vector<float> data(4096, 0.5f);
    CompFFT(data.data(), 320, 1);  // brings the DFT table to its final 5 x 512 shape
    CompFFT(data.data(), 512, 1);
    mdct(data.data(), 2048, 1024, 1);
    long before = test::AllocationCount();
    for (int N : {1280, 512, 256, 1024, 640, 2048}) mdct(data.data(), N, N / 2, 1);
    if (test::AllocationCount() != before) return "a transform no longer than 2048 allocated";
    before = test::AllocationCount();
    mdct(data.data(), 4096, 2048, 1);
    if (test::AllocationCount() == before) return "a longer transform did not grow the work array";
    return "";
  });
}

// A cache that cannot be built throws, prints nothing and stays usable: the next call builds it
// and gives what a process that never ran short gives.
TEST(TransformCacheTest, FailedCacheAllocationThrowsAndIsBuiltOnTheNextCall) {
  InFreshProcess([]() -> std::string {
    std::vector<float> data(2048), expected;
    std::vector<float> imag(2048, 0.0f);
    const auto refill = [&data, &imag] {
      for (size_t k = 0; k < data.size(); ++k) data[k] = static_cast<float>(k % 7) - 3.0f;
      std::fill(imag.begin(), imag.end(), 0.0f);
    };
    const std::vector<std::function<void()>> calls = {
        [&] { CompFFT(data.data(), 320, 1); },
        [&] { fft640(data.data(), imag.data()); },
        [&] { mdct(data.data(), 2048, 1024, 1); },
    };
    for (const auto& call : calls) {
      refill();
      test::FailAllocations(true);
      bool threw = false;
      try {
        call();
      } catch (const std::bad_alloc&) {
        threw = true;
      }
      test::FailAllocations(false);
      if (!threw) return "a cache built without memory";
      refill();
      call();
      expected = data;
      refill();
      call();
      if (data != expected) return "the rebuilt cache gives another result";
    }
    return "";
  });
}

}  // namespace
}  // namespace ostrel
