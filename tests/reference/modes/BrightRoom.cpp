// "Bright Room": eight loops at the host rate, each three modulated allpass sections and a plain delay.
#include "ModeHelpers.h"

namespace kestrune::reference
{

namespace
{

// entry 8 * segment + loop; segments 0-2 allpass sections, 3 the plain delay
const float kLengths[32] = {
    2728.5369f, 2888.692f,  3058.2473f, 3237.7551f, 3427.7996f, 3628.9988f, 3842.0076f, 4067.5193f,
    4306.2676f, 4559.0293f, 4826.628f,  5109.933f,  5409.867f,  5727.4062f, 6063.584f,  6419.494f,
    6796.2944f, 7195.212f,  7617.5444f, 8064.666f,  8538.032f,  9039.184f,  9569.75f,   10131.459f,
    10726.138f, 11355.723f, 12022.262f, 12727.924f, 13475.006f, 14265.939f, 15103.297f, 15989.805f};

float loopLength(const Engine& e, int i)
{
    return e.lateLength[i] + e.lateLength[i + 8] + e.lateLength[i + 16] + e.lateLength[i + 24];
}

void decayMid(Engine& e)
{
    const float rate = e.internalRate;
    for (int j = 0; j < 32; ++j)
        e.midGain[j] = rt60Gain(e.lateLength[j], e.decay, rate);
    e.midNorm = std::sqrt(e.sizeTotal / (e.decay * rate));
}

void decayBass(Engine& e)
{
    for (int i = 0; i < 8; ++i)
        e.bassGain[i] = rt60Gain(loopLength(e, i), e.bassDecay, e.internalRate);
}

void decayHigh(Engine& e)
{
    const float rate = e.internalRate;
    for (int i = 0; i < 8; ++i)
    {
        const float s = loopLength(e, i);
        e.highRatio[i] = static_cast<float>(rt60Double(s, e.highDecay, rate) / rt60Double(s, e.decay, rate));
    }
}

void setLateSize(Engine& e, float size)
{
    const float s = lateScale(e.internalRate, size, 0.9, 0.1);
    e.sizeTotal = e.sizeConstant * s;
    for (int j = 0; j < 32; ++j)
    {
        e.lateLength[j] = kLengths[j] * s - 64.0f;
        e.lateFloor[j] = static_cast<std::int64_t>(std::floor(e.lateLength[j]));
    }
    decayMid(e);
    decayBass(e);
    decayHigh(e);
    e.setEarlySize();
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
    for (int i = 0; i < 24; ++i)
    {
        stepModulator(e.lateModulators[i], false);
        e.lateOffset[i] = e.lateModulators[i].phase * e.lateDepth;
    }
}

void lateNetwork(Engine& e)
{
    const int n = 64;
    injectFourWay(e, 8, n);
    for (int m = 0; m < 3; ++m)
        for (int i = 0; i < 8; ++i)
        {
            const int j = 8 * m + i;
            allpassSection(e.lateLine(j), e.lineBuffer[i], n, sectionDelay(e.lateLength[j] + e.lateOffset[j]),
                           Engine::kAllpassG, e.midGain[j], 1.0f / 64.0f, Interpolation::FirstOrderAllpass);
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
        line.readInteger(e.lineBuffer[i], n,
                         plainDelay(static_cast<std::int64_t>(std::trunc(e.lateLength[24 + i]))));
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
