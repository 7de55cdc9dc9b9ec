#include "ModeHelpers.h"

namespace kestrune::reference
{

const float kGeometricLengths[32] = {
    2728.53687f, 2888.69189f, 3058.24731f, 3237.75513f, 3427.79956f, 3628.99878f, 3842.00757f, 4067.51929f,
    4306.26758f, 4559.0293f,  4826.62793f, 5109.93311f, 5409.86719f, 5727.40625f, 6063.58398f, 6419.49414f,
    6796.29443f, 7195.21191f, 7617.54443f, 8064.66602f, 8538.03223f, 9039.18359f, 9569.75f,    10131.459f,
    10726.1377f, 11355.7227f, 12022.2617f, 12727.9238f, 13475.0059f, 14265.9395f, 15103.2969f, 15989.8047f};

void decayMidPerLine(Engine& e)
{
    setMidGains(e, 32);
    e.midNorm = plainNorm(e, e.decay);
}

void decayBassPerLine(Engine& e)
{
    setBassGains(e, 32);
    e.bassNorm = plainNorm(e, e.bassDecay);
}

void decayHighPerLine(Engine& e)
{
    setHighRatios(e, 32);
}

void setMidGains(Engine& e, int lines)
{
    for (int j = 0; j < lines; ++j)
        e.midGain[j] = rt60Gain(e.lateLength[j], e.decay, e.internalRate);
}

void setBassGains(Engine& e, int lines)
{
    for (int j = 0; j < lines; ++j)
        e.bassGain[j] = rt60Gain(e.lateLength[j], e.bassDecay, e.internalRate);
}

void setHighRatios(Engine& e, int lines)
{
    for (int j = 0; j < lines; ++j)
        e.highRatio[j] = rt60Ratio(e.lateLength[j], e.highDecay, e.internalRate, e.midGain[j]);
}

const float kZeroLeast[32] = {};

void setTableLengths(Engine& e, const float* table, int count, float s, const float* least)
{
    // the line's output re-enters one block later, so each loop delays by the table length
    for (int j = 0; j < count; ++j)
    {
        const float length = table[j] * s - e.blockLength;
        e.lateLength[j] = least ? heldLength(length, least[j]) : length;
        e.lateFloor[j] = static_cast<std::int64_t>(std::floor(e.lateLength[j]));
    }
}

void refreshDecayAndEarly(Engine& e)
{
    const ModeSpec& m = e.spec();
    m.decayMid(e);
    m.decayBass(e);
    m.decayHigh(e);
    e.setEarlySize();
}

void writeQuarterSigns(Engine& e)
{
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 16; ++i)
            e.signs[c][i] = i < 4 || i >= 12 ? 0.25f : -0.25f;
}

void stepModulatorsInOrder(Engine& e, int count)
{
    const bool halfRate = e.spec().halfRate;
    for (int q = 0; q < count; ++q)
    {
        Modulator& m = e.lateModulators[q];
        stepModulator(m, halfRate);
        e.lateOffset[q] = halfRate ? 2.0f * m.folded() * e.lateDepth : m.phase * e.lateDepth;
    }
}

void readModulatedPairs(Engine& e, int lines, Interpolation kind, TargetBound bound)
{
    const int n = blockOf(e);
    const float rampFactor = 1.0f / e.blockLength;
    for (int i = 0; i < lines; ++i)
        e.lateLine(i).writeBlock(e.lineBuffer[i], n);
    for (int q = 0; q < lines / 4; ++q)
    {
        const int i = 4 * q;
        e.lateLine(i).readRamped(e.lineBuffer[i], n, bound(e.lateLength[i] + e.lateOffset[q]), 0, rampFactor,
                                 kind);
        e.lateLine(i + 1).readRamped(e.lineBuffer[i + 1], n, bound(e.lateLength[i + 1] - e.lateOffset[q]), 0,
                                     rampFactor, kind);
        for (int k = i + 2; k < i + 4; ++k)
            e.lateLine(k).readInteger(e.lineBuffer[k], n, plainDelay(e.lateLength[k]));
    }
}

void stepEightModulators(Engine& e)
{
    stepModulatorsInOrder(e, 8);
}

void runPlainLineNetwork(Engine& e, Interpolation kind, TargetBound bound)
{
    const int n = blockOf(e);
    injectFourWay(e, 32, n);
    readModulatedPairs(e, 32, kind, bound);
    for (int i = 0; i < 32; ++i)
        bassSplit(e, i, e.lineBuffer[i], n, e.midGain[i], e.bassGain[i]);
    for (int i = 0; i < 32; ++i)
        highSplit(e, i, e.lineBuffer[i], n, e.highRatio[i]);
    for (int i = 0; i < 16; ++i)
    {
        addScaled(e.late[0], e.lineBuffer[2 * i], e.signs[0][i], n);
        addScaled(e.late[1], e.lineBuffer[2 * i + 1], e.signs[0][i], n);
    }
    for (int i = 0; i < 32; ++i)
        scale(e.lineBuffer[i], e.outputGain, n);
    butterflies(e, 32, n);
    rotatePairs(e, 16, n);
}

void linearLineNetwork(Engine& e)
{
    runPlainLineNetwork(e, Interpolation::Linear, anyTarget);
}

} // namespace kestrune::reference
