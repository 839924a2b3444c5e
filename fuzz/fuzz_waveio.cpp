// Fuzz target: the WAV reader on arbitrary file contents, through both sample interfaces.
#include <cstdint>
#include <vector>

#include "audio/Waveio.h"
#include "fuzz/FuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ostrel::fuzz::MemoryFile input(data, size);
  if (!input.ok()) return 0;
  constexpr int CHUNK = 257;  // sample frames per read; odd so reads end inside sample pairs too
  const bool sumDiff = size > 0 && (data[0] & 1) != 0;
  ostrel::Waveio wav(input.path().c_str(), 0, sumDiff ? 1 : 0);
  if (wav.Error() != 0) return 0;
  std::vector<short> s1(CHUNK), s2(CHUNK);
  std::vector<float> f1(CHUNK), f2(CHUNK);
  // Each read consumes at least one byte until the end, so this ends; the bound is a safeguard.
  for (size_t reads = 0; reads <= size + 2; ++reads) {
    const int ended = (reads % 2 == 0) ? wav.IO(s1.data(), s2.data(), CHUNK) : wav.IO(f1.data(), f2.data(), CHUNK);
    if (ended != 0) break;
  }
  wav.CloseWave();
  return 0;
}
