#include "ReverbEngine.h"
#include "Dispatch.h"
#include "modes/DelayNetwork.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kestrune
{

namespace
{
// Loop lengths at 48 kHz, late size 1: a geometric series, ratio 1.0586963.
constexpr float kLengths[32] = {
    2728.53687f, 2888.69189f, 3058.24731f, 3237.75513f, 3427.79956f, 3628.99878f, 3842.00757f, 4067.51929f,
    4306.26758f, 4559.0293f,  4826.62793f, 5109.93311f, 5409.86719f, 5727.40625f, 6063.58398f, 6419.49414f,
    6796.29443f, 7195.21191f, 7617.54443f, 8064.66602f, 8538.03223f, 9039.18359f, 9569.75f,    10131.459f,
    10726.1377f, 11355.7227f, 12022.2617f, 12727.9238f, 13475.0059f, 14265.9395f, 15103.2969f, 15989.8047f};

constexpr float kSigns[16] = {0.25f,  0.25f,  0.25f,  0.25f,  -0.25f, -0.25f, -0.25f, -0.25f,
                              -0.25f, -0.25f, -0.25f, -0.25f, 0.25f,  0.25f,  0.25f,  0.25f};

constexpr FrameConfig kConfig{1.0f, FrameConfig::Normalisation::TwoBand, FrameConfig::HighCut::Direct, 32,
                              &ReverbEngine::lateNetworkLargeRoom};
} // namespace

namespace
{
// Late L/R += the even/odd lines by the sign row, a vector of samples at a time; per sample the vector
// steps' products and sums in their order.
template <typename V>
KESTRUNE_INLINE void outputTaps(ReverbEngine& e)
{
    constexpr int W = sizeof(V) / sizeof(float);
    const float* S = e.signMatrix[0];
    for (int j = 0; j < ReverbEngine::kFrame; j += W)
    {
        V l, r;
        network::loadVector(l, e.late[0] + j);
        network::loadVector(r, e.late[1] + j);
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i)
        {
            V a, b;
            network::loadVector(a, e.lineBuffer[2 * i] + j);
            network::loadVector(b, e.lineBuffer[2 * i + 1] + j);
            l = a * S[i] + l;
            r = b * S[i] + r;
        }
        network::storeVector(e.late[0] + j, l);
        network::storeVector(e.late[1] + j, r);
    }
}
} // namespace

void ReverbEngine::initLargeRoom()
{
    runSetUp(ModeSetUp{241920.0f, 32, 0.25f, 25.0f, kSigns});
}

void ReverbEngine::setLateSizeLargeRoom(float size)
{
    const auto s =
        static_cast<float>(static_cast<double>(hostRate) * (static_cast<double>(size) * 0.9 + 0.1) / 48000.0);
    sizeTotal = sizeConstant * s;
    // The output re-enters the network one frame later, so each loop's delay is the table length.
    // Written before read, so a line is never shorter than 0; below about 11 kHz at size 0 the table
    // would give negative lengths and loop gains above 1.
    for (int n = 0; n < 32; ++n)
    {
        lateLengths[n] = std::max(kLengths[n] * s - 64.0f, 0.0f);
        lateFloors[n] = static_cast<int64_t>(std::floor(lateLengths[n]));
    }
    updateDecayMidLargeRoom();
    updateDecayBassLargeRoom();
    updateDecayHighLargeRoom();
    setEarlySizeLargeRoom();
}

void ReverbEngine::setEarlySizeLargeRoom()
{
    setEarlySizeShared();
}

void ReverbEngine::updateDecayMidLargeRoom()
{
    computeMidGains(1.0f);
}

void ReverbEngine::updateDecayBassLargeRoom()
{
    computeBassGains(1.0f);
}

void ReverbEngine::updateDecayHighLargeRoom()
{
    computeHighRatios();
}

KESTRUNE_DISPATCH void ReverbEngine::lateNetworkLargeRoom()
{
    constexpr int B = kFrame;
    float(*X)[kFrame] = lineBuffer;

    float m[8];
    for (int q = 0; q < 8; ++q)
        m[q] = lateModulators[q].advance(Modulator::Draw::Rand, Modulator::Shape::Bouncing) * lateModDepth;

    // Every line's buffer is read back below, so the input sum goes straight into the ring.
    float* const sources[4] = {branchB[0], branchB[1], branchA[0], branchA[1]};
    for (int n = 0; n < 32; ++n)
        lines[kFirstLateLine + n].writeSum(X[n], sources[n & 3], B);
    constexpr auto kLinear = ModulatedDelayLine::Interpolation::Linear;
    for (int q = 0; q < 8; ++q)
    {
        lines[kFirstLateLine + 4 * q].readRamped(X[4 * q], B, 0, lateLengths[4 * q] + m[q], 0.015625f,
                                                 kLinear);
        lines[kFirstLateLine + 4 * q + 1].readRamped(X[4 * q + 1], B, 0, lateLengths[4 * q + 1] - m[q],
                                                     0.015625f, kLinear);
        lines[kFirstLateLine + 4 * q + 2].readInteger(X[4 * q + 2], B, lateLengths[4 * q + 2]);
        lines[kFirstLateLine + 4 * q + 3].readInteger(X[4 * q + 3], B, lateLengths[4 * q + 3]);
    }

    threeBandDecay(0, 32, B);

    // Output taps, then four butterfly stages (they grow the norm by 4; the output gain brings it back).
    if (wideVectors())
    {
        outputTaps<network::Octet>(*this);
        network::matrix<32, B, true, network::Octet>(*this, X, outputGain);
    }
    else
    {
        outputTaps<network::Quad>(*this);
        network::matrix<32, B, true>(*this, X, outputGain);
    }
}

void ReverbEngine::processLargeRoom(const float* const* in, float* const* out, int numSamples,
                                    int numChannels)
{
    processFrame(in, out, numSamples, kConfig);
}

} // namespace kestrune
