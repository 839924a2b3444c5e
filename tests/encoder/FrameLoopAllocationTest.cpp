// The frame loop must not allocate: every buffer is sized before the first frame, and the
// process-wide caches are built on first use. This executable replaces the global allocation
// functions to count what the frames allocate once the first frames have built the caches.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "common/TempDir.h"
#include "common/WavFixture.h"
#include "encoder/EncoderFixture.h"
#include "encoder/FrameEncoder.h"

namespace {
bool counting = false;
long allocations = 0;

void* Allocate(std::size_t size) {
  if (counting) ++allocations;
  void* p = std::malloc(size != 0 ? size : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace ostrel {
namespace {

using test::Material;
using test::ParametersFor;
using test::TempDir;
using test::WriteWav;

class FrameLoopAllocation : public testing::TestWithParam<int> {};

TEST_P(FrameLoopAllocation, FramesAfterTheFirstAllocateNothing) {
  const auto DataRate = static_cast<unsigned char>(GetParam());
  SCOPED_TRACE(GetParam());
  TempDir dir;
  const std::string source = dir.File("in.wav"), target = dir.File("out.ost");
  RunParameters params = ParametersFor(DataRate, 0, source, target);
  const int frames = 8;
  // Clicks in every frame, alternating channels, so long, transition and short blocks all recur.
  WriteWav(source, Material(static_cast<size_t>(frames * params.TOTAL), static_cast<size_t>(params.TOTAL) / 3, 11));
  Waveio in(source.c_str(), 0);
  std::FILE* fptr = std::fopen(target.c_str(), "wb");
  ASSERT_NE(fptr, nullptr);
  {
    FrameEncoder encoder(params, in, fptr);
    encoder.WriteHeader();
    const int warmUp = 2;
    for (int frame = 0; frame < warmUp; ++frame) encoder.EncodeFrame();
    allocations = 0;
    counting = true;
    for (int frame = warmUp; frame < frames; ++frame) encoder.EncodeFrame();
    counting = false;
    EXPECT_EQ(allocations, 0);
    encoder.FlushBits();
  }
  std::fclose(fptr);
}

// One rate per long-block length.
INSTANTIATE_TEST_SUITE_P(Rates, FrameLoopAllocation, testing::Values(196, 96, 64));

}  // namespace
}  // namespace ostrel
