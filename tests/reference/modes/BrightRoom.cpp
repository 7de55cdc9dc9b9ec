// "Bright Room": eight loops at the host rate, each three modulated allpass sections and a plain delay.
#include "ModeHelpers.h"

namespace kestrune::reference
{

namespace
{

// entry 8 * segment + loop; segments 0-2 allpass sections, 3 the plain delay

float loopLength(const Engine& e, int i)
{
    return e.lateLength[i] + e.lateLength[i + 8] + e.lateLength[i + 16] + e.lateLength[i + 24];
}

void decayMid(Engine& e)
{
    setMidGains(e, 32);
    e.midNorm = plainNorm(e, e.decay);
}

void decayBass(Engine& e)
{
    for (int i = 0; i < 8; ++i)
        e.bassGain[i] = rt60Gain(loopLength(e, i), e.bassDecay, e.internalRate);
}

void decayHigh(Engine& e)
{
    for (int i = 0; i < 8; ++i)
        e.highRatio[i] = loopRatio(loopLength(e, i), e.highDecay, e.decay, e.internalRate);
}

// the sections are never shorter than their block, the plain delays never shorter than 0
const float kLeast[32] = {64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64,
                          64, 64, 64, 64, 64, 64, 64, 64, 0,  0,  0,  0,  0,  0,  0,  0};

void setLateSize(Engine& e, float size)
{
    const float s = lateScale(e.internalRate, size, 0.9, 0.1);
    e.sizeTotal = e.sizeConstant * s;
    setTableLengths(e, kGeometricLengths, 32, s, kLeast);
    refreshDecayAndEarly(e);
}

void writeSigns(Engine& e)
{
    const float outputSigns[4] = {1.0f, 1.0f, -1.0f, -1.0f};
    for (int c = 0; c < 2; ++c)
        for (int k = 0; k < 4; ++k)
            e.signs[c][k] = outputSigns[k];
}

void stepLateModulators(Engine& e)
{
    stepModulatorsInOrder(e, 24);
}

void lateNetwork(Engine& e)
{
    const int n = 64;
    injectFourWay(e, 8, n);
    for (int m = 0; m < 3; ++m)
        for (int i = 0; i < 8; ++i)
        {
            const int j = 8 * m + i;
            allpassSection(e.lateLine(j), e.lineBuffer[i], n,
                           sectionDelay(e.lateLength[j] + e.lateOffset[j], 64.0f), Engine::kAllpassG,
                           e.midGain[j], 1.0f / 64.0f, Interpolation::FirstOrderAllpass);
        }
    for (int k = 0; k < 4; ++k)
    {
        addScaled(e.late[0], e.lineBuffer[2 * k], e.signs[0][k], n);
        addScaled(e.late[1], e.lineBuffer[2 * k + 1], e.signs[1][k], n);
    }
    for (int i = 0; i < 8; ++i)
    {
        DelayLine& line = e.lateLine(24 + i);
        line.writeBlock(e.lineBuffer[i], n);
        line.readInteger(e.lineBuffer[i], n, plainDelay(e.lateLength[24 + i]));
    }
    for (int i = 0; i < 8; ++i)
        highSplit(e, i, e.lineBuffer[i], n, e.highRatio[i]);
    for (int i = 0; i < 8; ++i)
        bassSplit(e, i, e.lineBuffer[i], n, e.midGain[24 + i], e.bassGain[i]);
    for (int i = 0; i < 8; ++i)
        scale(e.lineBuffer[i], e.outputGain, n);
    butterflies(e, 8, n);
    rotatePairs(e, 4, n);
}

} // namespace

// The line count is not part of this mode's set-up.
const ModeSpec kBrightRoom = {
    "Bright Room",   false, 2122.0f,     241920.0f, 0,         0.5f,      1.0f,       Normalisation::Single,
    HighCut::Direct, 32,    setLateSize, decayMid,  decayBass, decayHigh, writeSigns, stepLateModulators,
    lateNetwork};

} // namespace kestrune::reference
