// "Large Chamber" and its half-rate twin "Dark Chamber": 32 lines, the late output taken from fifteen fixed
// ring taps per channel whose gains fall off as g^(2^i).
#include "ModeHelpers.h"

namespace kestrune::reference
{

namespace
{

const float kBase[32] = {
    1624.12903f, 1719.45947f, 1820.38538f, 1927.23523f, 2040.35681f, 2160.11816f, 2286.90918f, 2421.14233f,
    2563.25439f, 2713.70801f, 2872.99268f, 3041.62671f, 3220.15894f, 3409.17041f, 3609.27612f, 3821.12744f,
    4045.41333f, 4282.86426f, 4534.25244f, 4800.39648f, 5082.16211f, 5380.46631f, 5696.27979f, 6030.63037f,
    6384.60596f, 6759.35889f, 7156.10791f, 7576.14502f, 8020.83691f, 8491.63086f, 8990.05762f, 9517.74121f};

const float kTapPositionL[15] = {154,  456,  744,  1068, 1466, 1761, 2160, 2495,
                                 2840, 3194, 3477, 3827, 4186, 4493, 4855};
const float kTapSignL[15] = {-0.25f, 0.25f, 0.25f,  -0.25f, 0.25f, -0.25f, 0.25f, 0.25f,
                             -0.25f, 0.25f, -0.25f, 0.25f,  0.25f, -0.25f, 0.25f};
const float kTapPositionR[15] = {336,  601,  915,  1222, 1683, 1971, 2339, 2633,
                                 2995, 3372, 3655, 4014, 4327, 4678, 5002};
const float kTapSignR[15] = {0.25f, -0.25f, 0.25f, -0.25f, 0.25f, 0.25f,  -0.25f, 0.25f,
                             0.25f, 0.25f,  0.25f, -0.25f, 0.25f, -0.25f, 0.25f};

void decayMid(Engine& e)
{
    const float rate = e.internalRate;
    setMidGains(e, 32);
    e.midNorm = plainNorm(e, e.decay);
    // RT60 gain of 340 * s samples; the scale is formed with the internal rate, so g does not depend on it
    const float exponent = (e.lateSize * 1.4f + 0.1f) * rate / 48000.0f * 340.0f * kLn0001;
    float g = static_cast<float>(std::exp(static_cast<double>(exponent / (e.decay * rate))));
    for (int i = 0; i < 15; ++i)
    {
        e.tapGainL[i] = kTapSignL[i] * g * 1.414f;
        e.tapGainR[i] = kTapSignR[i] * g * 1.414f;
        g = g * g;
    }
}

// The scale uses the host rate in both modes, so the half-rate lines last twice as long.
void setLateSize(Engine& e, float size)
{
    const float s = ((size * 1.4f) + 0.1f) * e.hostRate / 48000.0f;
    e.sizeTotal = 144000.0f * s;
    setTableLengths(e, kBase, 32, s, kZeroLeast);
    const float t = s * 1.4f;
    for (int i = 0; i < 15; ++i)
    {
        e.tapPositionL[i] = static_cast<std::int32_t>(std::floor(kTapPositionL[i] * t));
        e.tapPositionR[i] = static_cast<std::int32_t>(std::floor(kTapPositionR[i] * t));
    }
    refreshDecayAndEarly(e);
}

void lateNetwork(Engine& e)
{
    const int n = blockOf(e);
    injectFourWay(e, 32, n);
    readModulatedPairs(e, 32, Interpolation::Linear, targetAtLeastZero);
    // taps read the rings as just written, before any decay filtering
    for (int i = 0; i < 15; ++i)
    {
        const DelayLine& line = e.lateLine(2 * i);
        const std::int32_t position = tapPosition(e.tapPositionL[i]);
        for (int j = 0; j < n; ++j)
            e.late[0][j] = e.tapGainL[i] * line.at(position, j) + e.late[0][j];
    }
    for (int i = 0; i < 15; ++i)
    {
        const DelayLine& line = e.lateLine(2 * i + 1);
        const std::int32_t position = tapPosition(e.tapPositionR[i]);
        for (int j = 0; j < n; ++j)
            e.late[1][j] = e.tapGainR[i] * line.at(position, j) + e.late[1][j];
    }
    for (int i = 0; i < 32; ++i)
    {
        bassSplit(e, i, e.lineBuffer[i], n, e.midGain[i], e.bassGain[i]);
        highSplit(e, i, e.lineBuffer[i], n, e.highRatio[i]);
    }
    for (int i = 0; i < 32; ++i)
        scale(e.lineBuffer[i], e.outputGain, n);
    butterflies(e, 32, n);
    rotatePairs(e, 16, n);
}

} // namespace

const ModeSpec kLargeChamber = {"Large Chamber",
                                false,
                                25.0f,
                                144000.0f,
                                32,
                                0.25f,
                                1.0f,
                                Normalisation::TwoBand,
                                HighCut::Direct,
                                32,
                                setLateSize,
                                decayMid,
                                decayBassPerLine,
                                decayHighPerLine,
                                nullptr,
                                stepEightModulators,
                                lateNetwork};

const ModeSpec kDarkChamber = {"Dark Chamber",
                               true,
                               3183.0f,
                               144000.0f,
                               32,
                               0.25f,
                               1.0f,
                               Normalisation::TwoBand,
                               HighCut::Direct,
                               32,
                               setLateSize,
                               decayMid,
                               decayBassPerLine,
                               decayHighPerLine,
                               nullptr,
                               stepEightModulators,
                               lateNetwork};

} // namespace kestrune::reference
