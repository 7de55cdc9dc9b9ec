#pragma once

// The segment-loop late network of "Dark Room", "Nostromo" and "Narcissus": loop i runs a modulated
// allpass on late line i, fixed allpasses on lines 8 + i and 16 + i, a high shelf, a plain delay on
// line 24 + i and a bass shelf. The modes differ in loop count, allpass coefficient, modulation and
// coupling; the lengths, decay rules and the segments themselves are written once here.

#include "ReverbEngine.h"

namespace kestrune::segmentloops
{

// Geometric series 2728.5369 x 1.0586963^j, also the line table of "Dark Space".
extern const float kLengthTable[32];

constexpr int kBlock = 32;

// len_j = table_j x scale - 32 and its floor for the lines of the first loopCount loops
// (loopCount 8 covers all 32 lines); sizeTotal = sizeConstant x scale.
void setLengths(ReverbEngine& e, float scale, float sizeConstant, int loopCount);

// Late scale rate x (lateSize x factor + offset) / 48000, in double precision, stored as float.
float lateScale(float rate, float lateSize, double factor, double offset);

// Per-line mid gains and the single normalisation k x sqrt(sizeTotal / (decay x rate)).
void decayMid(ReverbEngine& e, int loopCount, float normalisationFactor);
// Per-loop ratios over the loop's whole length; the bass ratio is capped at 50.
void decayBass(ReverbEngine& e, int loopCount);
void decayHigh(ReverbEngine& e, int loopCount);

// Feed and the four segments with their shelves; late L/R are tapped from loops 0 and 1 after the
// high shelf. segmentOneDelay[i] is loop i's modulated delay for this block.
void runLoops(ReverbEngine& e, int loopCount, float g, const float* segmentOneDelay);

// Fixed-size block steps on distinct buffers: a known trip count and no aliasing let -O2
// vectorise them, which the general vector layer cannot promise.
inline void addInto(float* __restrict x, const float* __restrict a)
{
    for (int j = 0; j < kBlock; ++j)
        x[j] += a[j];
}

inline void scaleInPlace(float* __restrict x, float s)
{
    for (int j = 0; j < kBlock; ++j)
        x[j] *= s;
}

// acc += x * s
inline void scaleAddInto(float* __restrict acc, const float* __restrict x, float s)
{
    for (int j = 0; j < kBlock; ++j)
        acc[j] += x[j] * s;
}

// (a, b) <- (a + b, b - a)
inline void butterfly(float* __restrict a, float* __restrict b)
{
    for (int j = 0; j < kBlock; ++j)
    {
        const float x = a[j];
        const float y = b[j];
        a[j] = x + y;
        b[j] = y - x;
    }
}

} // namespace kestrune::segmentloops
