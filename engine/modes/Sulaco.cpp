// "Sulaco": half rate, a 16-line butterfly feedback network whose late output is lines 0 and 1
// themselves as they leave the matrix (no output taps).

#include "DelayNetwork.h"
#include "Dispatch.h"
#include "ReverbEngine.h"
#include "Vector.h"

#include <algorithm>
#include <cmath>

namespace kestrune
{

namespace
{
constexpr int kSulacoLines = 16;
constexpr int kBlock = network::kBlock;
constexpr float kNormalisationFactor = 1.414f;

// 0.17065071^((15 - k) / 15): a geometric series up to 1.
constexpr float kLengthRatios[kSulacoLines] = {
    0.17065071f, 0.19199985f, 0.21601985f, 0.24304488f, 0.27345085f, 0.30766073f, 0.3461504f,  0.38945532f,
    0.43817785f, 0.4929958f,  0.5546717f,  0.62406355f, 0.70213658f, 0.78997689f, 0.88880646f, 1.0f};

constexpr FrameConfig kSulacoFrame{1.0f, FrameConfig::Normalisation::TwoBand, FrameConfig::HighCut::Direct,
                                   kSulacoLines, &ReverbEngine::lateNetworkSulaco};
} // namespace

void ReverbEngine::initSulaco()
{
    runSetUp(ModeSetUp{0.0f, kSulacoLines, 0.35355339f, 2128.0f, nullptr});
}

void ReverbEngine::setLateSizeSulaco(float size)
{
    const float s = static_cast<float>(static_cast<double>(internalRate) *
                                       (1.8 * static_cast<double>(size) + 0.1) / 48000.0);
    float total = 0.0f;
    for (int k = 0; k < kSulacoLines; ++k)
    {
        // Every line is written before it is read, so any delay from 0 up is a real one; the bound
        // only matters at host rates far below any session's (about 11 kHz at size 0).
        const float length = std::max(kLengthRatios[k] * s * 15989.0f - 32.0f, 0.0f);
        lateLengths[k] = length;
        lateFloors[k] = static_cast<int64_t>(std::floor(length));
        total += length;
    }
    sizeTotal = total;
    updateDecayMidSulaco();
    updateDecayBassSulaco();
    updateDecayHighSulaco();
    setEarlySizeSulaco();
}

void ReverbEngine::setEarlySizeSulaco() { setEarlySizeShared(); }

void ReverbEngine::updateDecayMidSulaco()
{
    for (int k = 0; k < kSulacoLines; ++k)
        midGains[k] = decayGain(lateLengths[k], decay, internalRate);
    midNormalisation = network::normalisation(sizeTotal, decay, internalRate, kNormalisationFactor);
}

void ReverbEngine::updateDecayBassSulaco()
{
    for (int k = 0; k < kSulacoLines; ++k)
        bassGains[k] = decayGain(lateLengths[k], bassDecay, internalRate);
    bassNormalisation = network::normalisation(sizeTotal, bassDecay, internalRate, kNormalisationFactor);
}

void ReverbEngine::updateDecayHighSulaco()
{
    for (int k = 0; k < kSulacoLines; ++k)
        highRatios[k] =
            static_cast<float>(decayFactor(lateLengths[k], highDecay, internalRate) / static_cast<double>(midGains[k]));
}

KESTRUNE_DISPATCH void ReverbEngine::lateNetworkSulaco()
{
    // Modulator 4p moves the pair (2p, 2p + 1) in opposite directions, both only upward from the
    // line's length (0 .. 2 x depth); lines 0 and 1 stay put.
    float offsets[kSulacoLines] = {};
    for (int p = 1; p < 8; ++p)
    {
        const float t = lateModulators[4 * p].advance(Modulator::Draw::Generator, Modulator::Shape::Folded);
        offsets[2 * p] = (1.0f + t) * lateModDepth;
        offsets[2 * p + 1] = (1.0f - t) * lateModDepth;
    }

    auto* x = lineBuffer;
    // Every line's buffer is read back below, so the input sum goes straight into the ring.
    float* const sources[4] = {branchB[0], branchB[1], branchA[0], branchA[1]};
    for (int k = 0; k < kSulacoLines; ++k)
        lines[kFirstLateLine + k].writeSum(x[k], sources[k & 3], kBlock);
    // Lines with bit 1 set interpolate through the allpass, the others linearly.
    RampedTap taps[16]; // the linear ones, then the allpass ones
    for (int k = 0; k < kSulacoLines; ++k)
        taps[((k & 2) == 0 ? 0 : 8) + k / 4 * 2 + (k & 1)] = {&lines[kFirstLateLine + k], 0,
                                                              lateLengths[k] + offsets[k], x[k]};
    // Both groups' ramps together.
    alignas(32) float delays[16][ModulatedDelayLine::kMaxBlock];
    accumulateRampGroup(taps, 16, kBlock, 0.03125f, delays);
    readRampedGroup(taps, 8, kBlock, delays, ModulatedDelayLine::Interpolation::Linear);
    readRampedGroup(taps + 8, 8, kBlock, delays + 8, ModulatedDelayLine::Interpolation::FirstOrderAllpass);

    threeBandDecay(0, kSulacoLines, kBlock);
    network::scaledFeedbackMatrix(*this, x, kSulacoLines, kBlock, outputGain);

    vec::copy(x[0], late[0], kBlock);
    vec::copy(x[1], late[1], kBlock);
}

void ReverbEngine::processSulaco(const float* const* in, float* const* out, int numSamples, int)
{
    processFrame(in, out, numSamples, kSulacoFrame);
}

} // namespace kestrune
