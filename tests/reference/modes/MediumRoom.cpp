// "Medium Room": 16 lines at the host rate, each a modulated allpass section followed by a plain delay, each
// tapped behind both segments.
#include "ModeHelpers.h"

namespace kestrune::reference
{

namespace
{

// 0-15 first segments, 16-31 whole loops, at unit scale
const float kLengths[32] = {
    4547.5615f, 4814.4863f, 5097.0791f, 5396.2588f, 5712.999f,  6048.3311f, 6403.3457f, 6779.1987f,
    7177.1123f, 7598.3823f, 8044.3794f, 8516.5547f, 9016.4453f, 9545.6777f, 10105.974f, 10699.156f,
    11327.157f, 11992.02f,  12695.907f, 13441.11f,  14230.054f, 15065.306f, 15949.583f, 16885.764f,
    17876.896f, 18926.205f, 20037.104f, 21213.207f, 22458.344f, 23776.564f, 25172.162f, 26649.676f};

// + for the entries 0-3 and 12-15 on the left; alternating on the right
const float kLeftPattern[16] = {1, 1, 1, 1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 1, 1, 1};
const float kRightPattern[16] = {1, -1, 1, -1, -1, 1, -1, 1, -1, 1, -1, 1, 1, -1, 1, -1};

void writeTapGains(Engine& e)
{
    const float gain = 1.414f * 0.25f;
    for (int i = 0; i < 16; ++i)
    {
        e.signs[0][i] = kLeftPattern[i] * gain;
        e.signs[1][i] = kRightPattern[i] * gain;
    }
}

// lateLength[i] is the first segment F_i, lateLength[16 + i] the delay segment S_i of line i
void decayMid(Engine& e)
{
    setMidGains(e, 32);
    e.midNorm = plainNorm(e, e.decay);
    writeTapGains(e);
}

void decayBass(Engine& e)
{
    const float rate = e.internalRate;
    for (int i = 0; i < 16; ++i)
        e.bassGain[i] = rt60Gain(e.lateLength[i] + e.lateLength[16 + i], e.bassDecay, rate);
    e.bassNorm = plainNorm(e, e.bassDecay);
}

void decayHigh(Engine& e)
{
    // divided by the first segment's mid gain alone
    for (int i = 0; i < 16; ++i)
        e.highRatio[i] =
            rt60Ratio(e.lateLength[i] + e.lateLength[16 + i], e.highDecay, e.internalRate, e.midGain[i]);
}

void setLateSize(Engine& e, float size)
{
    const float s = lateScale(e.internalRate, size, 0.9, 0.1);
    e.sizeTotal = e.sizeConstant * s;
    // the section is never shorter than its block, the delay segment never shorter than 0
    for (int i = 0; i < 16; ++i)
    {
        const float first = heldLength(kLengths[i] * s, 64.0f);
        e.lateLength[i] = first;
        e.lateLength[16 + i] = heldLength(kLengths[16 + i] * s - 64.0f - first, 0.0f);
    }
    for (int j = 0; j < 32; ++j)
        e.lateFloor[j] = static_cast<std::int64_t>(std::floor(e.lateLength[j]));
    refreshDecayAndEarly(e);
}

void stepLateModulators(Engine& e)
{
    stepModulatorsInOrder(e, 16);
}

void tap(Engine& e, int offset, int n)
{
    for (int k = 0; k < 8; ++k)
    {
        addScaled(e.late[0], e.lineBuffer[2 * k], e.signs[0][offset + k], n);
        addScaled(e.late[1], e.lineBuffer[2 * k + 1], e.signs[1][offset + k], n);
    }
}

void lateNetwork(Engine& e)
{
    const int n = 64;
    injectFourWay(e, 16, n);
    for (int i = 0; i < 16; ++i)
        allpassSection(e.lateLine(i), e.lineBuffer[i], n,
                       sectionDelay(e.lateLength[i] + e.lateOffset[i], 64.0f), Engine::kAllpassG,
                       e.midGain[i], 1.0f / 64.0f, Interpolation::Linear);
    tap(e, 0, n);
    for (int i = 0; i < 16; ++i)
    {
        DelayLine& line = e.lateLine(16 + i);
        line.writeBlock(e.lineBuffer[i], n);
        line.readInteger(e.lineBuffer[i], n, plainDelay(atLeast(e.lateLength[16 + i], 0.0f)));
    }
    for (int i = 0; i < 16; ++i)
        bassSplit(e, i, e.lineBuffer[i], n, e.midGain[16 + i], e.bassGain[i]);
    for (int i = 0; i < 16; ++i)
        highSplit(e, i, e.lineBuffer[i], n, e.highRatio[i]);
    tap(e, 8, n);
    for (int i = 0; i < 16; ++i)
        scale(e.lineBuffer[i], e.outputGain, n);
    butterflies(e, 16, n);
    rotatePairs(e, 8, n);
}

} // namespace

const ModeSpec kMediumRoom = {
    "Medium Room",   false, 25.0f,       287697.0f, 16,        0.35355339f, 1.0f,    Normalisation::TwoBand,
    HighCut::Direct, 32,    setLateSize, decayMid,  decayBass, decayHigh,   nullptr, stepLateModulators,
    lateNetwork};

} // namespace kestrune::reference
