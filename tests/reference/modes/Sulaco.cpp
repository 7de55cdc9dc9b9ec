// "Sulaco": 16 lines at half the host rate, every line read at a fractional delay; the late output is lines 0
// and 1 as they leave the feedback matrix.
#include "ModeHelpers.h"

namespace kestrune::reference
{

namespace
{

const float kRatios[16] = {0.17065071f, 0.19199985f, 0.21601985f, 0.24304488f, 0.27345085f, 0.30766073f,
                           0.3461504f,  0.38945532f, 0.43817785f, 0.4929958f,  0.5546717f,  0.62406355f,
                           0.70213658f, 0.78997689f, 0.88880646f, 1.0f};

// k * sqrt(total / (time * rate)) with the square root and the factor in double
float normalisation(const Engine& e, float time)
{
    const float q = e.sizeTotal / (time * e.internalRate);
    return static_cast<float>(std::sqrt(static_cast<double>(q)) * static_cast<double>(1.414f));
}

void decayMid(Engine& e)
{
    setMidGains(e, 16);
    e.midNorm = normalisation(e, e.decay);
}

void decayBass(Engine& e)
{
    setBassGains(e, 16);
    e.bassNorm = normalisation(e, e.bassDecay);
}

void decayHigh(Engine& e)
{
    setHighRatios(e, 16);
}

void setLateSize(Engine& e, float size)
{
    const float s = lateScale(e.internalRate, size, 1.8, 0.1);
    float total = 0.0f;
    for (int k = 0; k < 16; ++k)
    {
        e.lateLength[k] = heldLength(kRatios[k] * s * 15989.0f - 32.0f, 0.0f);
        e.lateFloor[k] = static_cast<std::int64_t>(std::floor(e.lateLength[k]));
        total = total + e.lateLength[k];
    }
    e.sizeTotal = total;
    refreshDecayAndEarly(e);
}

// Modulator 4p drives the pair (2p, 2p + 1), p = 1..7; lines 0 and 1 stay still.
void stepLateModulators(Engine& e)
{
    e.lateOffset[0] = 0.0f;
    e.lateOffset[1] = 0.0f;
    for (int p = 1; p <= 7; ++p)
    {
        Modulator& m = e.lateModulators[4 * p];
        stepModulator(m, true);
        const float t = m.folded();
        e.lateOffset[2 * p] = (1.0f + t) * e.lateDepth;
        e.lateOffset[2 * p + 1] = (1.0f - t) * e.lateDepth;
    }
}

void lateNetwork(Engine& e)
{
    const int n = 32;
    injectFourWay(e, 16, n);
    for (int k = 0; k < 16; ++k)
        e.lateLine(k).writeBlock(e.lineBuffer[k], n);
    for (int k = 0; k < 16; ++k)
    {
        const auto kind = k % 4 < 2 ? Interpolation::Linear : Interpolation::FirstOrderAllpass;
        e.lateLine(k).readRamped(e.lineBuffer[k], n, e.lateLength[k] + e.lateOffset[k], 0, 0.03125f, kind);
    }
    for (int k = 0; k < 16; ++k)
        bassSplit(e, k, e.lineBuffer[k], n, e.midGain[k], e.bassGain[k]);
    for (int k = 0; k < 16; ++k)
        highSplit(e, k, e.lineBuffer[k], n, e.highRatio[k]);
    for (int k = 0; k < 16; ++k)
        scale(e.lineBuffer[k], e.outputGain, n);
    butterflies(e, 16, n);
    rotatePairs(e, 8, n);
    for (int j = 0; j < n; ++j)
    {
        e.late[0][j] = e.lineBuffer[0][j];
        e.late[1][j] = e.lineBuffer[1][j];
    }
}

} // namespace

// No size constant: the size total is the sum of the lengths.
const ModeSpec kSulaco = {
    "Sulaco",        true, 2128.0f,     -1.0f,    16,        0.35355339f, 1.0f,    Normalisation::TwoBand,
    HighCut::Direct, 16,   setLateSize, decayMid, decayBass, decayHigh,   nullptr, stepLateModulators,
    lateNetwork};

} // namespace kestrune::reference
