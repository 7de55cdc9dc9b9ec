// "Dark Space": the 32-line network at half the host rate, its lines 1.9 times as long as the plain scale.
#include "ModeHelpers.h"

namespace kestrune::reference
{

namespace
{

const float kLengths[32] = {
    2728.5369f, 2888.6919f, 3058.2473f, 3237.7551f, 3427.7996f, 3628.9988f, 3842.0076f, 4067.5193f,
    4306.2676f, 4559.0293f, 4826.6279f, 5109.9331f, 5409.8672f, 5727.4062f, 6063.584f,  6419.4941f,
    6796.2944f, 7195.2119f, 7617.5444f, 8064.666f,  8538.0322f, 9039.1836f, 9569.75f,   10131.459f,
    10726.138f, 11355.723f, 12022.262f, 12727.924f, 13475.006f, 14265.939f, 15103.297f, 15989.805f};

const float kSigns[16] = {0.25f,  0.25f,  0.25f,  0.25f,  -0.25f, -0.25f, -0.25f, -0.25f,
                          -0.25f, -0.25f, -0.25f, -0.25f, 0.25f,  0.25f,  0.25f,  0.25f};

void decayMid(Engine& e)
{
    const float rate = e.internalRate;
    for (int j = 0; j < 32; ++j)
        e.midGain[j] = rt60Gain(e.lateLength[j], e.decay, rate);
    e.midNorm = std::sqrt(e.sizeTotal / (e.decay * rate));
}

void decayBass(Engine& e)
{
    const float rate = e.internalRate;
    for (int j = 0; j < 32; ++j)
        e.bassGain[j] = rt60Gain(e.lateLength[j], e.bassDecay, rate);
    e.bassNorm = std::sqrt(e.sizeTotal / (e.bassDecay * rate));
}

void decayHigh(Engine& e)
{
    for (int j = 0; j < 32; ++j)
        e.highRatio[j] = rt60Ratio(e.lateLength[j], e.highDecay, e.internalRate, e.midGain[j]);
}

void setLateSize(Engine& e, float size)
{
    // 1.9 is the single-precision constant widened, the whole product in double
    const auto s =
        static_cast<float>(static_cast<double>(e.internalRate) * (0.9 * static_cast<double>(size) + 0.1) *
                           static_cast<double>(1.9f) / 48000.0);
    e.sizeTotal = e.sizeConstant * s;
    for (int j = 0; j < 32; ++j)
    {
        e.lateLength[j] = kLengths[j] * s - 32.0f;
        e.lateFloor[j] = static_cast<std::int64_t>(std::floor(e.lateLength[j]));
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
    for (int k = 0; k < 8; ++k)
    {
        stepModulator(e.lateModulators[k], true);
        e.lateOffset[k] = 2.0f * e.lateModulators[k].folded() * e.lateDepth;
    }
}

void lateNetwork(Engine& e)
{
    const int n = 32;
    injectFourWay(e, 32, n);
    readModulatedPairs(e, 32, Interpolation::Linear);
    for (int j = 0; j < 32; ++j)
        bassSplit(e, j, e.lineBuffer[j], n, e.midGain[j], e.bassGain[j]);
    for (int j = 0; j < 32; ++j)
        highSplit(e, j, e.lineBuffer[j], n, e.highRatio[j]);
    // the left copy serves both channels
    for (int k = 0; k < 16; ++k)
    {
        addScaled(e.late[0], e.lineBuffer[2 * k], e.signs[0][k], n);
        addScaled(e.late[1], e.lineBuffer[2 * k + 1], e.signs[0][k], n);
    }
    for (int j = 0; j < 32; ++j)
        scale(e.lineBuffer[j], e.outputGain, n);
    butterflies(e, 32, n);
    rotatePairs(e, 16, n);
}

} // namespace

const ModeSpec kDarkSpace = {
    "Dark Space",    true, 3183.0f,     241920.0f, 32,        0.25f,     2.0f,       Normalisation::TwoBand,
    HighCut::Direct, 32,   setLateSize, decayMid,  decayBass, decayHigh, writeSigns, stepLateModulators,
    lateNetwork};

} // namespace kestrune::reference
