#include "modes/ChamberNetwork.h"
#include "Dispatch.h"

#include "ReverbEngine.h"
#include "modes/DelayNetwork.h"
#include "modes/LateBlocks.h"
#include "WideLines.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace kestrune::chamber
{

namespace
{
// Samples of the internal rate at late scale 1 (a geometric series, ratio 1.0586963).
constexpr float kBaseLengths[32] = {
    1624.12903f, 1719.45947f, 1820.38538f, 1927.23523f, 2040.35681f, 2160.11816f, 2286.90918f, 2421.14233f,
    2563.25439f, 2713.70801f, 2872.99268f, 3041.62671f, 3220.15894f, 3409.17041f, 3609.27612f, 3821.12744f,
    4045.41333f, 4282.86426f, 4534.25244f, 4800.39648f, 5082.16211f, 5380.46631f, 5696.27979f, 6030.63037f,
    6384.60596f, 6759.35889f, 7156.10791f, 7576.14502f, 8020.83691f, 8491.63086f, 8990.05762f, 9517.74121f};

constexpr int kTaps = 15;
// Left tap i reads line 2i, right tap i line 2i + 1; positions are scaled by 1.4 x the late scale.
constexpr float kTapPositions[2][kTaps] = {
    {154, 456, 744, 1068, 1466, 1761, 2160, 2495, 2840, 3194, 3477, 3827, 4186, 4493, 4855},
    {336, 601, 915, 1222, 1683, 1971, 2339, 2633, 2995, 3372, 3655, 4014, 4327, 4678, 5002}};
constexpr float kTapSigns[2][kTaps] = {{-0.25f, 0.25f, 0.25f, -0.25f, 0.25f, -0.25f, 0.25f, 0.25f, -0.25f,
                                        0.25f, -0.25f, 0.25f, 0.25f, -0.25f, 0.25f},
                                       {0.25f, -0.25f, 0.25f, -0.25f, 0.25f, 0.25f, -0.25f, 0.25f, 0.25f,
                                        0.25f, 0.25f, -0.25f, 0.25f, -0.25f, 0.25f}};

float lateScale(float lateSize, float rate)
{
    return (lateSize * 1.4f + 0.1f) * rate / 48000.0f;
}
} // namespace

void setLateSize(ReverbEngine& e, float lateSize)
{
    // The host rate in both modes: at half rate every loop and tap is twice as long in time.
    const float s = lateScale(lateSize, e.hostRate);
    e.sizeTotal = e.sizeConstant * s;
    // Lines are read after the whole block is written, so each loop is its length plus one block, and
    // no length goes below 0 (at size 0 the table would below about 19 kHz, with loop gains above 1).
    for (int i = 0; i < 32; ++i)
    {
        e.lateLengths[i] = std::max(kBaseLengths[i] * s - e.blockLength, 0.0f);
        e.lateFloors[i] = static_cast<int64_t>(std::floor(e.lateLengths[i]));
    }
    const float t = s * 1.4f;
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kTaps; ++i)
            e.tapPositions[kTaps * c + i] = static_cast<int32_t>(std::floor(kTapPositions[c][i] * t));
    updateDecayMid(e);
    updateDecayBass(e);
    updateDecayHigh(e);
    e.setEarlySizeShared();
}

void updateDecayMid(ReverbEngine& e)
{
    e.computeMidGains(1.0f);
    // Tap i carries g^(2^i), g the 60 dB-per-decay gain of 340 x late scale samples: squared from
    // tap to tap, so at ordinary settings the last taps are exactly zero.
    const float rate = e.internalRate;
    const float exponent = lateScale(e.lateSize, rate) * 340.0f * -6.9077554f / (e.decay * rate);
    float g = static_cast<float>(std::exp(static_cast<double>(exponent)));
    for (int i = 0; i < kTaps; ++i)
    {
        e.tapGains[i] = kTapSigns[0][i] * g * 1.414f;
        e.tapGains[kTaps + i] = kTapSigns[1][i] * g * 1.414f;
        g = g * g;
    }
}

void updateDecayBass(ReverbEngine& e)
{
    e.computeBassGains(1.0f);
}

void updateDecayHigh(ReverbEngine& e)
{
    e.computeHighRatios();
}

namespace
{

// Channel c's fifteen taps added into late[c] in one pass, tap after tap for each sample as the
// tap-by-tap passes add them; false (nothing done) when a tap's run crosses its ring's end.
template <typename V, int N>
KESTRUNE_INLINE bool sumTaps(ReverbEngine& e, int c)
{
    constexpr int W = sizeof(V) / sizeof(float);
    const float* src[kTaps];
    for (int i = 0; i < kTaps; ++i)
    {
        ModulatedDelayLine& line = e.lines[ReverbEngine::kFirstLateLine + 2 * i + c];
        const int64_t start = (line.writeIndex() + e.tapPositions[kTaps * c + i]) & line.mask();
        if (start < N - 1)
            return false;
        line.prepareIntegerRead(e.tapPositions[kTaps * c + i], N);
        src[i] = line.ring() + start - (W - 1);
    }
    const float* gains = e.tapGains + kTaps * c;
    float* late = e.late[c];
    for (int j = 0; j < N; j += W)
    {
        V acc;
        network::loadVector(acc, late + j);
#pragma GCC unroll 15
        for (int i = 0; i < kTaps; ++i)
        {
            V x;
            network::loadVector(x, src[i] - j);
            acc = wide::reversed(x) * gains[i] + acc;
        }
        network::storeVector(late + j, acc);
    }
    return true;
}

// N is the mode's block length: constant trip counts for the block loops.
template <int N>
KESTRUNE_INLINE void runNetwork(ReverbEngine& e, const float offsets[8])
{
    constexpr int n = N;
    const float rampFactor = 1.0f / e.blockLength;
    auto& v = e.lineBuffer;
    ModulatedDelayLine* lines = e.lines + ReverbEngine::kFirstLateLine;

    float* const sources[4] = {e.branchB[0], e.branchB[1], e.branchA[0], e.branchA[1]};
    for (int i = 0; i < 32; ++i)
        lines[i].writeSum(v[i], sources[i & 3], n); // every v[i] is read back below

    // Read after the write, so a delay of 0 is this block's own sample; below 0 the last samples of
    // the block would come from a whole ring earlier, hence the floor.
    RampedTap taps[16];
    for (int j = 0; j < 8; ++j)
    {
        const int a = 4 * j;
        taps[2 * j] = {&lines[a], 0, late::atLeast(e.lateLengths[a] + offsets[j], 0.0f), v[a]};
        taps[2 * j + 1] = {&lines[a + 1], 0, late::atLeast(e.lateLengths[a + 1] - offsets[j], 0.0f), v[a + 1]};
        lines[a + 2].readInteger(v[a + 2], n, e.lateLengths[a + 2]);
        lines[a + 3].readInteger(v[a + 3], n, e.lateLengths[a + 3]);
    }
    readRampedGroup(taps, 16, n, rampFactor, ModulatedDelayLine::Interpolation::Linear);

    // The late output: whole-sample taps on the rings as written this block, before any decay.
    for (int c = 0; c < 2; ++c)
        if (!(wideVectors() ? sumTaps<network::Octet, N>(e, c) : sumTaps<network::Quad, N>(e, c)))
            for (int i = 0; i < kTaps; ++i)
                lines[2 * i + c].accumulateInteger(e.late[c], n,
                                                   static_cast<int64_t>(e.tapPositions[kTaps * c + i]),
                                                   e.tapGains[kTaps * c + i]);

    e.threeBandDecay(0, 32, n);

    // 0.25 undoes the four butterfly stages; with the rotations the matrix is orthogonal.
    network::scaledFeedbackMatrix(e, v, 32, n, e.outputGain);
}

} // namespace

KESTRUNE_DISPATCH void lateNetwork(ReverbEngine& e, const float offsets[8])
{
    if (e.blockLength == 64.0f)
        runNetwork<64>(e, offsets);
    else
        runNetwork<32>(e, offsets);
}

} // namespace kestrune::chamber
