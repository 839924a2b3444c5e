// The numbers every layer of the codec shares: the one audio format the streams carry and the
// ranges of the per-frame values (weight codes, gains, step sizes) that the analysis produces and
// the frame layout sends. Pure constants, so that psycho, audio and format, which may not include
// each other, all take them from here.
#pragma once

namespace ostrel {

// The audio of every stream and of the encoder's source: 16-bit PCM stereo at 44100 Hz.
constexpr unsigned STREAM_SAMPLE_RATE = 44100;  // samples per second and channel
constexpr unsigned STREAM_CHANNELS = 2;
constexpr unsigned STREAM_SAMPLE_BITS = 16;  // bits per sample
constexpr unsigned STREAM_FRAME_BYTES = STREAM_CHANNELS * STREAM_SAMPLE_BITS / 8;  // bytes per sample frame: 4
constexpr unsigned STREAM_BYTES_PER_SECOND = STREAM_SAMPLE_RATE * STREAM_FRAME_BYTES;  // bytes: 176400

// Weight codes: code c stands for the amplitude weight 10^(c / 15), one step being 1/15 of a
// decade of amplitude (4/3 dB). The quantiser produces and the stream carries only this range.
constexpr int WEIGHT_CODE_MIN = -32;
constexpr int WEIGHT_CODE_MAX = 223;

// Gains: one per weight set, the block's normalised peak rounded up and limited to this range.
constexpr int GAIN_MIN = 10;
constexpr int GAIN_MAX = 29;

// Step sizes: the whole-number quantiser multiplier of a frame.
constexpr int STEP_SIZE_MIN = 1;
constexpr int STEP_SIZE_MAX = 32;

}  // namespace ostrel
