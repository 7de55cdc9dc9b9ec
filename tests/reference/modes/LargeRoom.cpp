// "Large Room": 32 lines at the host rate, pairs of lines modulated in opposite directions.
#include "ModeHelpers.h"

namespace kestrune::reference
{

void readModulatedPairs(Engine& e, int lines, Interpolation kind)
{
    const int n = blockOf(e);
    const float rampFactor = 1.0f / e.blockLength;
    for (int i = 0; i < lines; ++i)
        e.lateLine(i).writeBlock(e.lineBuffer[i], n);
    for (int q = 0; q < lines / 4; ++q)
    {
        const int i = 4 * q;
        e.lateLine(i).readRamped(e.lineBuffer[i], n, modulatedLineDelay(e.lateLength[i] + e.lateOffset[q]), 0,
                                 rampFactor, kind);
        e.lateLine(i + 1).readRamped(e.lineBuffer[i + 1], n,
                                     modulatedLineDelay(e.lateLength[i + 1] - e.lateOffset[q]), 0, rampFactor,
                                     kind);
        for (int k = i + 2; k < i + 4; ++k)
            e.lateLine(k).readInteger(e.lineBuffer[k], n,
                                      plainDelay(static_cast<std::int64_t>(std::trunc(e.lateLength[k]))));
    }
}

namespace
{

const float kLengths[32] = {
    2728.53687f, 2888.69189f, 3058.24731f, 3237.75513f, 3427.79956f, 3628.99878f, 3842.00757f, 4067.51929f,
    4306.26758f, 4559.0293f,  4826.62793f, 5109.93311f, 5409.86719f, 5727.40625f, 6063.58398f, 6419.49414f,
    6796.29443f, 7195.21191f, 7617.54443f, 8064.66602f, 8538.03223f, 9039.18359f, 9569.75f,    10131.459f,
    10726.1377f, 11355.7227f, 12022.2617f, 12727.9238f, 13475.0059f, 14265.9395f, 15103.2969f, 15989.8047f};

const float kSigns[16] = {0.25f,  0.25f,  0.25f,  0.25f,  -0.25f, -0.25f, -0.25f, -0.25f,
                          -0.25f, -0.25f, -0.25f, -0.25f, 0.25f,  0.25f,  0.25f,  0.25f};

void decayMid(Engine& e)
{
    const float rate = e.internalRate;
    for (int n = 0; n < 32; ++n)
        e.midGain[n] = rt60Gain(e.lateLength[n], e.decay, rate);
    e.midNorm = std::sqrt(e.sizeTotal / (e.decay * rate));
}

void decayBass(Engine& e)
{
    const float rate = e.internalRate;
    for (int n = 0; n < 32; ++n)
        e.bassGain[n] = rt60Gain(e.lateLength[n], e.bassDecay, rate);
    e.bassNorm = std::sqrt(e.sizeTotal / (e.bassDecay * rate));
}

void decayHigh(Engine& e)
{
    for (int n = 0; n < 32; ++n)
        e.highRatio[n] = rt60Ratio(e.lateLength[n], e.highDecay, e.internalRate, e.midGain[n]);
}

void setLateSize(Engine& e, float size)
{
    const float s = lateScale(e.hostRate, size, 0.9, 0.1);
    e.sizeTotal = e.sizeConstant * s;
    // the line's output re-enters one frame later, so each loop delays by the table length
    for (int n = 0; n < 32; ++n)
    {
        e.lateLength[n] = kLengths[n] * s - 64.0f;
        e.lateFloor[n] = static_cast<std::int64_t>(std::floor(e.lateLength[n]));
    }
    decayMid(e);
    decayBass(e);
    decayHigh(e);
    e.setEarlySize();
}

void writeSigns(Engine& e)
{
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 16; ++i)
            e.signs[c][i] = kSigns[i];
}

void stepLateModulators(Engine& e)
{
    for (int q = 0; q < 8; ++q)
    {
        stepModulator(e.lateModulators[q], false);
        e.lateOffset[q] = e.lateModulators[q].phase * e.lateDepth;
    }
}

void lateNetwork(Engine& e)
{
    const int n = 64;
    injectFourWay(e, 32, n);
    readModulatedPairs(e, 32, Interpolation::Linear);
    for (int i = 0; i < 32; ++i)
    {
        bassSplit(e, i, e.lineBuffer[i], n, e.midGain[i], e.bassGain[i]);
        highSplit(e, i, e.lineBuffer[i], n, e.highRatio[i]);
    }
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

} // namespace

const ModeSpec kLargeRoom = {
    "Large Room",    false, 25.0f,       241920.0f, 32,        0.25f,     1.0f,       Normalisation::TwoBand,
    HighCut::Direct, 32,    setLateSize, decayMid,  decayBass, decayHigh, writeSigns, stepLateModulators,
    lateNetwork};

} // namespace kestrune::reference
