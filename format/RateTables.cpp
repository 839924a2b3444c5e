#include "format/RateTables.h"

#include <cstdlib>

#include "platform/ErrorReport.h"

namespace ostrel {

namespace {

struct RateRow {
  int blocks;        // long blocks per frame
  int longBlock;     // samples
  float resolution;  // Bark
  float offset;      // dB
};

[[noreturn]] void InvalidRate() {
  ErrorReport("Invalid Coding Rate\n", 0);
  std::exit(1);
}

RateRow Row(unsigned char DataRate) {
  switch (DataRate) {
    case 196: return {32, 512, 0.5f, -40.0f};
    case 128: return {32, 512, 0.8f, -20.0f};
    case 96: return {16, 1024, 1.0f, -10.0f};
    case 80: return {16, 2048, 1.0f, 0.0f};
    case 64: return {16, 2048, 1.0f, 15.0f};
    case 56: return {16, 2048, 1.0f, 20.0f};
    case 48: return {16, 2048, 1.0f, 30.0f};
    default: InvalidRate();
  }
}

}  // namespace

bool IsValidDataRate(unsigned char DataRate) {
  for (unsigned char code : DATA_RATES) {
    if (code == DataRate) return true;
  }
  return false;
}

int GetBlocks(unsigned char DataRate) { return Row(DataRate).blocks; }

int GetLongBlock(unsigned char DataRate) { return Row(DataRate).longBlock; }

float GetPercepResolution(unsigned char DataRate) { return Row(DataRate).resolution; }

float GetPercepOffset(unsigned char DataRate) { return Row(DataRate).offset; }

uint32_t GetAvailableBits(unsigned char DataRate, unsigned short SampleRate, unsigned char Channels) {
  const RateRow row = Row(DataRate);
  uint32_t bits = static_cast<uint32_t>(DataRate) * static_cast<uint32_t>(row.longBlock) * 1000u;
  bits /= 2u;
  bits *= Channels;
  bits *= static_cast<uint32_t>(row.blocks);
  bits /= SampleRate;
  return bits / 8u * 8u + 8u;
}

uint32_t GetBytesPerFrame(uint32_t bits) { return bits >> 3; }

uint32_t GetTimeSec(unsigned char DataRate, unsigned short SampleRate, uint32_t Frames) {
  const RateRow row = Row(DataRate);
  uint32_t samples = static_cast<uint32_t>(row.longBlock) * Frames / 2u;
  return samples * static_cast<uint32_t>(row.blocks) / SampleRate;
}

uint32_t GetTimeMS(unsigned char DataRate, unsigned short SampleRate, uint32_t Frames) {
  const RateRow row = Row(DataRate);
  uint32_t samples = static_cast<uint32_t>(row.longBlock) * Frames / 2u;
  return samples * static_cast<uint32_t>(row.blocks) * 1000u / SampleRate;
}

}  // namespace ostrel
