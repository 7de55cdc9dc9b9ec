// Pieces that several late networks share.
#pragma once

#include "../Bounds.h"
#include "../Engine.h"

#include <cmath>

namespace kestrune::reference
{

inline int blockOf(const Engine& e)
{
    return static_cast<int>(e.blockLength);
}

// Exponent of the RT60 gain of a delay of length samples for decay time seconds; single precision.
inline float decayExponent(float length, float time, float rate)
{
    return (kLn0001 * length) / (time * rate);
}

inline float rt60Gain(float length, float time, float rate)
{
    return static_cast<float>(std::exp(static_cast<double>(decayExponent(length, time, rate))));
}

// gain(length, time) / divisor with the exponential kept in double, as the ratios are formed.
inline float rt60Ratio(float length, float time, float rate, double divisor)
{
    return static_cast<float>(std::exp(static_cast<double>(decayExponent(length, time, rate))) / divisor);
}

inline double rt60Double(float length, float time, float rate)
{
    return std::exp(static_cast<double>(decayExponent(length, time, rate)));
}

// Late scale formed in double from single-precision operands: rate * (size * a + b) / 48000.
inline float lateScale(float rate, float size, double a, double b)
{
    return static_cast<float>(static_cast<double>(rate) * (static_cast<double>(size) * a + b) / 48000.0);
}

inline void addInto(float* x, const float* y, int n)
{
    for (int j = 0; j < n; ++j)
        x[j] = x[j] + y[j];
}

// x += y * g, the scaled add of the taps.
inline void addScaled(float* x, const float* y, float g, int n)
{
    for (int j = 0; j < n; ++j)
        x[j] = y[j] * g + x[j];
}

inline void scale(float* x, float g, int n)
{
    for (int j = 0; j < n; ++j)
        x[j] = x[j] * g;
}

// Buffer 4m gets branch B left, 4m+1 branch B right, 4m+2 branch A left, 4m+3 branch A right.
inline void injectFourWay(Engine& e, int lines, int n)
{
    for (int i = 0; i < lines; ++i)
    {
        const int c = i % 2;
        addInto(e.lineBuffer[i], (i % 4) < 2 ? e.branchB[c] : e.branchA[c], n);
    }
}

// Butterfly stages from stride lines/2 down to 2: (a, b) -> (a + b, b - a).
inline void butterflies(Engine& e, int lines, int n)
{
    for (int stride = lines / 2; stride >= 2; stride /= 2)
        for (int base = 0; base < lines; base += 2 * stride)
            for (int k = 0; k < stride; ++k)
            {
                float* a = e.lineBuffer[base + k];
                float* b = e.lineBuffer[base + k + stride];
                for (int j = 0; j < n; ++j)
                {
                    const float sum = a[j] + b[j];
                    b[j] = b[j] - a[j];
                    a[j] = sum;
                }
            }
}

// Pair (2k, 2k+1) turned by late-cross rotator k (engine rotator 16 + k).
inline void rotatePairs(Engine& e, int pairs, int n)
{
    for (int k = 0; k < pairs; ++k)
        e.rotators[16 + k].rotate(e.lineBuffer[2 * k], e.lineBuffer[2 * k + 1], n);
}

// Bass split of a decay stage: below the bass crossover the signal takes bassGain, above it midGain.
inline void bassSplit(Engine& e, int filter, float* x, int n, float midGain, float bassGain)
{
    float lo[64];
    e.bassCrossover[filter].run(x, lo, n, e.bassCoefficient);
    for (int j = 0; j < n; ++j)
        x[j] = (x[j] - lo[j]) * midGain + lo[j] * bassGain;
}

// High split: above the high crossover the signal is scaled by ratio.
inline void highSplit(Engine& e, int filter, float* x, int n, float ratio)
{
    float lo[64];
    e.highCrossover[filter].run(x, lo, n, e.highCoefficient);
    for (int j = 0; j < n; ++j)
        x[j] = (x[j] - lo[j]) * ratio + lo[j];
}

inline void stepModulator(Modulator& m, bool halfRate)
{
    if (halfRate)
        m.advance(Modulator::Draw::Generator, Modulator::Form::Folded);
    else
        m.advance(Modulator::Draw::Rand, Modulator::Form::Bouncing);
}

// Ratio of the RT60 gains of a whole loop for two decay times, both exponentials and the quotient in double.
inline float loopRatio(float length, float time, float decay, float rate)
{
    return static_cast<float>(rt60Double(length, time, rate) / rt60Double(length, decay, rate));
}

// sqrt(total / (time * rate)): the normalisation with factor 1.
inline float plainNorm(const Engine& e, float time)
{
    return std::sqrt(e.sizeTotal / (time * e.internalRate));
}

// The geometric series 2728.5369 * 1.0586963^j, j = 0..31, that several modes scale into their lengths.
extern const float kGeometricLengths[32];

// The decay rules of the 32-line modes: every line from its own length, normalisations with factor 1.
void decayMidPerLine(Engine& e);
void decayBassPerLine(Engine& e);
void decayHighPerLine(Engine& e);

// Per-line gains of lines 0 .. lines-1 from their own lengths.
void setMidGains(Engine& e, int lines);
void setBassGains(Engine& e, int lines);
void setHighRatios(Engine& e, int lines);

// length[j] = table[j] * s - block, held at least[j] (not held when least is null), and its floor, j < count.
void setTableLengths(Engine& e, const float* table, int count, float s, const float* least);

// Least lengths of the modes whose plain delays may shrink to nothing.
extern const float kZeroLeast[32];

// What every late-size routine ends with: the mode's three decay rules, then the early lengths.
void refreshDecayAndEarly(Engine& e);

// +0.25 on entries 0-3 and 12-15, -0.25 on 4-11, into both sign copies.
void writeQuarterSigns(Engine& e);

// Late modulators 0 .. count-1, one offset each: the bouncing phase times the depth at the full rate, twice
// the folded output times the depth at half rate.
void stepModulatorsInOrder(Engine& e, int count);
// The same for the eight modulated pairs of the 32-line modes.
void stepEightModulators(Engine& e);

// The plain-line late network of the 32-line modes: write all, read (pairs 4q, 4q+1 modulated by +m_q and
// -m_q, their targets through bound).
void readModulatedPairs(Engine& e, int lines, Interpolation kind, TargetBound bound);

// The whole late network of "Large Room", "Dark Space" and "Dense Room": inject, read, three-band decay,
// sign-weighted taps (the first sign copy for both channels), scale, butterflies, pair rotations.
void runPlainLineNetwork(Engine& e, Interpolation kind, TargetBound bound);
// That network with linear reads and unbounded targets ("Large Room", "Dark Space").
void linearLineNetwork(Engine& e);

// Mode entry points, defined one file per mode (or family).
extern const ModeSpec kLargeRoom, kMediumRoom, kBrightRoom, kLargeChamber, kDarkRoom, kDarkChamber,
    kDarkSpace, kNostromo, kNarcissus, kSulaco, kLV426, kDenseRoom;

} // namespace kestrune::reference
