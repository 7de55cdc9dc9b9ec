// "Dense Room": 32 lines at half the host rate with allpass-interpolated modulated pairs, a full-amount
// last rotation stage and a first-order shelf as its high-cut.
#include "ModeHelpers.h"

namespace kestrune::reference
{

namespace
{

const float kLengths[32] = {
    1127.12781f, 1227.80737f, 1337.4801f,  1456.94934f, 1587.08997f, 1728.85522f, 1883.28357f, 2051.5061f,
    2234.75513f, 2434.37231f, 2651.82056f, 2888.69189f, 3146.72144f, 3427.79956f, 3733.98438f, 4067.51904f,
    4430.84668f, 4826.62793f, 5257.76172f, 5727.40625f, 6239.00146f, 6796.29443f, 7403.36719f, 8064.66602f,
    8785.03516f, 9569.75f,    10424.5586f, 11355.7227f, 12370.0615f, 13475.0059f, 14678.6484f, 15989.8047f};

const float kSigns[16] = {0.25f,  0.25f,  0.25f,  0.25f,  -0.25f, -0.25f, -0.25f, -0.25f,
                          -0.25f, -0.25f, -0.25f, -0.25f, 0.25f,  0.25f,  0.25f,  0.25f};

void decayMid(Engine& e)
{
    const float rate = e.internalRate;
    for (int i = 0; i < 32; ++i)
        e.midGain[i] = rt60Gain(e.lateLength[i], e.decay, rate);
    e.midNorm = std::sqrt(e.sizeTotal / (e.decay * rate));
}

void decayBass(Engine& e)
{
    for (int i = 0; i < 32; ++i)
        e.bassGain[i] = rt60Gain(e.lateLength[i], e.bassDecay, e.internalRate);
}

void decayHigh(Engine& e)
{
    for (int i = 0; i < 32; ++i)
        e.highRatio[i] = rt60Ratio(e.lateLength[i], e.highDecay, e.internalRate, e.midGain[i]);
}

void setLateSize(Engine& e, float size)
{
    const float s = (size * 0.8f + 0.2f) * e.internalRate * 1.9f / 48000.0f;
    e.sizeTotal = e.sizeConstant * s;
    for (int i = 0; i < 32; ++i)
    {
        e.lateLength[i] = kLengths[i] * s - 32.0f;
        e.lateFloor[i] = static_cast<std::int64_t>(std::floor(e.lateLength[i]));
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
        stepModulator(e.lateModulators[q], true);
        e.lateOffset[q] = 2.0f * e.lateModulators[q].folded() * e.lateDepth;
    }
}

void lateNetwork(Engine& e)
{
    const int n = 32;
    injectFourWay(e, 32, n);
    readModulatedPairs(e, 32, Interpolation::FirstOrderAllpass);
    for (int i = 0; i < 32; ++i)
        bassSplit(e, i, e.lineBuffer[i], n, e.midGain[i], e.bassGain[i]);
    for (int i = 0; i < 32; ++i)
        highSplit(e, i, e.lineBuffer[i], n, e.highRatio[i]);
    for (int j = 0; j < 16; ++j)
    {
        addScaled(e.late[0], e.lineBuffer[2 * j], e.signs[0][j], n);
        addScaled(e.late[1], e.lineBuffer[2 * j + 1], e.signs[0][j], n);
    }
    for (int i = 0; i < 32; ++i)
        scale(e.lineBuffer[i], e.outputGain, n);
    butterflies(e, 32, n);
    rotatePairs(e, 16, n);
}

} // namespace

const ModeSpec kDenseRoom = {
    "Dense Room",   true, 3183.0f,     182380.0f, 32,        0.25f,     2.0f,       Normalisation::Single,
    HighCut::Shelf, 32,   setLateSize, decayMid,  decayBass, decayHigh, writeSigns, stepLateModulators,
    lateNetwork};

} // namespace kestrune::reference
