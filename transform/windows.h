// Window shapes: free functions that fill a caller-owned float array.
//
// Angles are evaluated in double with pi = 3.141592653589793 and the library sine or cosine, and
// each value is rounded to float when stored. Nothing is checked: the caller provides the array
// sizes stated below and sizes >= 1.
#pragma once

namespace ostrel {

// win[n] = sin((n + 0.5) * pi / size), n = 0 .. size-1. Symmetric; its halves are
// power-complementary (w[n]^2 + w[n + size/2]^2 = 1), as overlap-add of the transforms requires.
void SinWin(float* win, int size);

// size1 + size2 entries: the rising half of a sine window of length 2*size1, then the falling
// half of one of length 2*size2 (the window of a long/short transition block).
void VarSinWin(float* win, int size1, int size2);

// Periodic Hamming window: win[n] = 0.54 - 0.46 * cos(2*pi*n/size), n = 0 .. size-1.
void Hamming(float* win, int size);

// 256 entries: 32-point sine slopes around a flat top of 1.0. Equals SpecialV(win, 256, 32).
void Special(float* win);

// 128 entries: 16-point sine slopes around a flat top of 1.0. Equals SpecialV(win, 128, 16).
void Special_128(float* win);

// N entries: O-point sine rise, flat 1.0 from O to N-O-1, O-point cosine fall. Needs 2*O <= N.
void SpecialV(float* win, int N, int O);

// 256 entries of `Synth` from 256 of `Analysis` (a 256-point window overlapping by 32): the
// window whose product with `Analysis`, overlap-added at a hop of 224, is 1.
void Synthesis(float* Synth, const float* Analysis);

// 512 entries from a constant table: a bell rising strictly over entries 0..255 and falling
// strictly over 256..511, with power-complementary halves (w[k]^2 + w[k+256]^2 = 1 within 1e-7).
void AC3Window(float* win);

}  // namespace ostrel
