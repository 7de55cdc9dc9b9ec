// "LV-426": half rate, four loops of six modulated allpass sections and a plain delay. Only loops 0
// and 1 reach the output; the feedback swaps loops 0/2 and 1/3 before the late-cross rotations.

#include "DelayNetwork.h"
#include "Dispatch.h"
#include "ReverbEngine.h"
#include "Vector.h"
#include "WideLines.h"

#include <algorithm>
#include <cmath>

namespace kestrune
{

namespace
{
constexpr int kLoops = 4;
constexpr int kSegments = 7; // six allpass sections, then the plain delay
constexpr int kLengths = kLoops * kSegments;
constexpr int kSectionLengths = kLoops * (kSegments - 1);
constexpr int kFirstDelaySegment = kSectionLengths; // lengths 24..27, lines 76..79
constexpr int kBlock = network::kBlock;
constexpr float kAllpassCoefficient = 0.666667f;
constexpr float kNormalisationFactor = 4.0f;
constexpr float kLengthRatio = 1.0961297f;

constexpr FrameConfig kLV426Frame{2.0f, FrameConfig::Normalisation::None, FrameConfig::HighCut::Direct,
                                  kLengths, &ReverbEngine::lateNetworkLV426};

// The sum of loop j's seven lengths, segment 0 first.
float loopLength(const float* lengths, int j)
{
    float sum = 0.0f;
    for (int m = 0; m < kSegments; ++m)
        sum += lengths[4 * m + j];
    return sum;
}
} // namespace

void ReverbEngine::initLV426()
{
    // Line count and output gain are not read by this network.
    runSetUp(ModeSetUp{0.0f, kLengths, 1.0f, 200.0f, nullptr});
}

void ReverbEngine::setLateSizeLV426(float size)
{
    const float s = static_cast<float>(static_cast<double>(internalRate) *
                                       (1.8 * static_cast<double>(size) + 0.1) / 48000.0);
    float powers[kLengths];
    powers[0] = 1.0f;
    for (int k = 1; k < kLengths; ++k)
        powers[k] = powers[k - 1] * kLengthRatio;

    float total = 0.0f;
    for (int k = 0; k < kLengths; ++k)
    {
        const float ratio = powers[k] / powers[kLengths - 1];
        float length = ratio * s * 15987.0f - 32.0f;
        // A section reads its whole block before writing it, so a delay under one block would read
        // ring positions not yet written: a ghost from a whole ring earlier. The plain delays write
        // first and need only be non-negative.
        length = std::max(length, k < kSectionLengths ? static_cast<float>(kBlock) : 0.0f);
        lateLengths[k] = length;
        lateFloors[k] = static_cast<int64_t>(std::floor(length));
        total += length;
    }
    sizeTotal = total;

    updateDecayMidLV426();
    updateDecayBassLV426();
    updateDecayHighLV426();
    setEarlySizeLV426();
}

void ReverbEngine::setEarlySizeLV426() { setEarlySizeShared(); }

void ReverbEngine::updateDecayMidLV426()
{
    for (int k = 0; k < kLengths; ++k)
        midGains[k] = decayGain(lateLengths[k], decay, internalRate);
    midNormalisation = network::normalisation(sizeTotal, decay, internalRate, kNormalisationFactor);
}

// The bass and high corrections act once per loop, so they cover the loop's whole length:
// bassGains[j] and highRatios[j] hold the ratios of loop j.
void ReverbEngine::updateDecayBassLV426()
{
    for (int j = 0; j < kLoops; ++j)
    {
        const float sum = loopLength(lateLengths, j);
        const auto ratio = static_cast<float>(decayFactor(sum, alternativeBassDecay, internalRate) /
                                              decayFactor(sum, decay, internalRate));
        bassGains[j] = std::min(2.0f, ratio);
    }
}

void ReverbEngine::updateDecayHighLV426()
{
    for (int j = 0; j < kLoops; ++j)
    {
        const float sum = loopLength(lateLengths, j);
        highRatios[j] = static_cast<float>(decayFactor(sum, highDecay, internalRate) /
                                           decayFactor(sum, decay, internalRate));
    }
}

KESTRUNE_DISPATCH void ReverbEngine::lateNetworkLV426()
{
    // Upward-only triangles, 0 .. depth: a section never gets shorter than its length.
    float offsets[kSectionLengths];
    for (int k = 0; k < kSectionLengths; ++k)
        offsets[k] = (lateModulators[k].advance(Modulator::Draw::Generator, Modulator::Shape::Folded) + 1.0f) *
                     0.5f * lateModDepth;

    auto* x = lineBuffer;
    network::accumulate(x[0], branchB[0]);
    network::accumulate(x[1], branchB[1]);
    network::accumulate(x[2], branchA[0]);
    network::accumulate(x[3], branchA[1]);

    // The ramps of all six sections first, together; then the sections one after another.
    RampedTap taps[kSectionLengths];
    for (int k = 0; k < kSectionLengths; ++k)
        taps[k] = allpassSectionTap(lines[kFirstLateLine + k], lateLengths[k] + offsets[k]);
    alignas(32) float delays[kSectionLengths][ModulatedDelayLine::kMaxBlock];
    accumulateRampGroup(taps, kSectionLengths, kBlock, 0.03125f, delays);
    float* io[kLoops];
    for (int j = 0; j < kLoops; ++j)
        io[j] = x[j];
    allpassBlockGroup(taps, io, io, kLoops, kBlock, delays, kAllpassCoefficient, midGains,
                      ModulatedDelayLine::Interpolation::Linear);
    // The four loops' first-order sections side by side, segment by segment.
    static_assert(kLoops == 4);
    for (int m = 1; m < kSegments - 1; ++m)
        allpassBlockGroup(taps + 4 * m, io, io, kLoops, kBlock, delays + 4 * m, kAllpassCoefficient,
                          midGains + 4 * m, ModulatedDelayLine::Interpolation::FirstOrderAllpass);

    {
        // Each loop's high shelf then bass shelf (the one-pole splits' operations in their order), the
        // four loops side by side so that their recursions overlap.
        using V = wide::Lines4;
        const float ch = highCrossoverCoefficient, keepH = 1.0f - ch;
        const float cb = bassCrossoverCoefficient, keepB = 1.0f - cb;
        V h = wide::lanes<V>([&](int j) { return highCrossover[j].state; });
        V b = wide::lanes<V>([&](int j) { return bassCrossover[j].state; });
        const V ratio = wide::lanes<V>([&](int j) { return highRatios[j]; });
        const V bass = wide::lanes<V>([&](int j) { return bassGains[j]; });
        float* loops[kLoops] = {x[0], x[1], x[2], x[3]};
        wide::sideBySide<V>(loops, kBlock, [&](int, V& in) {
            h = h * keepH + ch * in;
            const V y = h + (in - h) * ratio;
            b = b * keepB + cb * y;
            in = (y - b) + b * bass;
        });
        wide::forLanes(h, [&](int j, float s) { highCrossover[j].state = s; });
        wide::forLanes(b, [&](int j, float s) { bassCrossover[j].state = s; });
    }

    network::scaleAccumulate(late[0], x[0], midNormalisation);
    network::scaleAccumulate(late[1], x[1], midNormalisation);

    for (int j = 0; j < kLoops; ++j)
    {
        const int k = kFirstDelaySegment + j;
        ModulatedDelayLine& line = lines[kFirstLateLine + k];
        line.write(x[j], kBlock);
        line.readInteger(x[j], kBlock, lateFloors[k]);
        network::scaleInPlace(x[j], midGains[k]);
    }

    // Each output loop passes through its partner loop before it returns.
    std::swap_ranges(x[0], x[0] + kBlock, x[2]);
    std::swap_ranges(x[1], x[1] + kBlock, x[3]);
    network::rotate(rotators[16], x[0], x[1]);
    network::rotate(rotators[17], x[2], x[3]);
}

void ReverbEngine::processLV426(const float* const* in, float* const* out, int numSamples, int)
{
    processFrame(in, out, numSamples, kLV426Frame);
}

} // namespace kestrune
