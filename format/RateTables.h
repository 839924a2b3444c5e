// The rate tables: every size of the coding layout as a function of the one-byte rate code.
#pragma once

#include <cstdint>

namespace ostrel {

// Long blocks per frame (16 or 32).
int GetBlocks(unsigned char DataRate);
// Long block length in samples (512, 1024 or 2048).
int GetLongBlock(unsigned char DataRate);
// The `res` argument of the psychoacoustic models (band width in Bark).
float GetPercepResolution(unsigned char DataRate);
// The `offset` argument of the psychoacoustic models, in dB.
float GetPercepOffset(unsigned char DataRate);
// Bits in every frame: the frame's duration times the data rate, cut to whole bytes, plus one byte.
uint32_t GetAvailableBits(unsigned char DataRate, unsigned short SampleRate, unsigned char Channels);
// Whole bytes in `bits` bits.
uint32_t GetBytesPerFrame(uint32_t bits);
// Duration of `Frames` frames in whole seconds and in whole milliseconds (32-bit arithmetic).
uint32_t GetTimeSec(unsigned char DataRate, unsigned short SampleRate, uint32_t Frames);
uint32_t GetTimeMS(unsigned char DataRate, unsigned short SampleRate, uint32_t Frames);

// The seven valid rate codes (data rate in kb/s divided by two), ascending: the one list of them.
constexpr unsigned char DATA_RATES[] = {48, 56, 64, 80, 96, 128, 196};
constexpr int DATA_RATE_COUNT = sizeof DATA_RATES / sizeof DATA_RATES[0];

// True for the seven valid codes. Readers test a code with this before calling the functions
// above, which report an unknown code through ErrorReport and end the program with status 1.
bool IsValidDataRate(unsigned char DataRate);

}  // namespace ostrel
