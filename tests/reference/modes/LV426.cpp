// "LV-426": four loops at half the host rate, each six modulated allpass sections and a plain delay; the
// feedback swaps loops 0 and 2, and 1 and 3, before the late-cross rotations.
#include "ModeHelpers.h"

#include <algorithm>

namespace kestrune::reference
{

namespace
{

constexpr float kG = 0.666667f;

// Segment m of loop j has length 4m + j.
float loopLength(const Engine& e, int j)
{
    float s = e.lateLength[j];
    for (int m = 1; m < 7; ++m)
        s = s + e.lateLength[4 * m + j];
    return s;
}

void decayMid(Engine& e)
{
    setMidGains(e, 28);
    const float q = e.sizeTotal / (e.decay * e.internalRate);
    e.midNorm = static_cast<float>(4.0 * std::sqrt(static_cast<double>(q)));
}

// The bass ratio uses the alternative bass decay (the square root of the multiplier above 1).
void decayBass(Engine& e)
{
    for (int j = 0; j < 4; ++j)
        e.bassGain[j] =
            std::min(2.0f, loopRatio(loopLength(e, j), e.alternativeBassDecay, e.decay, e.internalRate));
}

void decayHigh(Engine& e)
{
    for (int j = 0; j < 4; ++j)
        e.highRatio[j] = loopRatio(loopLength(e, j), e.highDecay, e.decay, e.internalRate);
}

void setLateSize(Engine& e, float size)
{
    const float s = lateScale(e.internalRate, size, 1.8, 0.1);
    // one geometric series over the 28 segments, normalised by its last power
    float power[28];
    power[0] = 1.0f;
    for (int k = 1; k < 28; ++k)
        power[k] = power[k - 1] * 1.0961297f;
    float total = 0.0f;
    for (int k = 0; k < 28; ++k)
    {
        const float ratio = power[k] / power[27];
        // the 24 sections no shorter than their block, the plain delays no shorter than 0
        e.lateLength[k] = heldLength(ratio * s * 15987.0f - 32.0f, k < 24 ? 32.0f : 0.0f);
        e.lateFloor[k] = static_cast<std::int64_t>(std::floor(e.lateLength[k]));
        total = total + e.lateLength[k];
    }
    e.sizeTotal = total;
    refreshDecayAndEarly(e);
}

// Unipolar: a section never gets shorter than its length.
void stepLateModulators(Engine& e)
{
    for (int i = 0; i < 24; ++i)
    {
        stepModulator(e.lateModulators[i], true);
        e.lateOffset[i] = (e.lateModulators[i].folded() + 1.0f) * 0.5f * e.lateDepth;
    }
}

void lateNetwork(Engine& e)
{
    const int n = 32;
    injectFourWay(e, 4, n);
    for (int m = 0; m < 6; ++m)
        for (int j = 0; j < 4; ++j)
        {
            const int k = 4 * m + j;
            // held lengths and unipolar offsets: the target is never below the block
            allpassSection(e.lateLine(k), e.lineBuffer[j], n, e.lateLength[k] + e.lateOffset[k], kG,
                           e.midGain[k], 1.0f / 32.0f,
                           m == 0 ? Interpolation::Linear : Interpolation::FirstOrderAllpass);
        }
    for (int j = 0; j < 4; ++j)
        highSplit(e, j, e.lineBuffer[j], n, e.highRatio[j]);
    for (int j = 0; j < 4; ++j)
    {
        float lo[32];
        e.bassCrossover[j].run(e.lineBuffer[j], lo, n, e.bassCoefficient);
        for (int i = 0; i < n; ++i)
            e.lineBuffer[j][i] = (e.lineBuffer[j][i] - lo[i]) + lo[i] * e.bassGain[j];
    }
    // the late output is normalised here, at the taps
    addScaled(e.late[0], e.lineBuffer[0], e.midNorm, n);
    addScaled(e.late[1], e.lineBuffer[1], e.midNorm, n);
    for (int j = 0; j < 4; ++j)
    {
        DelayLine& line = e.lateLine(24 + j);
        line.writeBlock(e.lineBuffer[j], n);
        const std::int64_t delay = plainDelay(e.lateFloor[24 + j]);
        for (int i = 0; i < n; ++i)
            e.lineBuffer[j][i] = line.at(delay, i) * e.midGain[24 + j];
    }
    for (int i = 0; i < n; ++i)
    {
        std::swap(e.lineBuffer[0][i], e.lineBuffer[2][i]);
        std::swap(e.lineBuffer[1][i], e.lineBuffer[3][i]);
    }
    rotatePairs(e, 2, n);
}

} // namespace

// Neither size constant, line count nor output gain is part of this mode's set-up.
const ModeSpec kLV426 = {
    "LV-426",        true, 200.0f,      -1.0f,    0,         -1.0f,     2.0f,    Normalisation::None,
    HighCut::Direct, 28,   setLateSize, decayMid, decayBass, decayHigh, nullptr, stepLateModulators,
    lateNetwork};

} // namespace kestrune::reference
