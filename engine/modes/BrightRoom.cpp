// "Bright Room": eight parallel loops, each three modulated allpass sections and a plain delay, with
// the loop's decay behind the delay, mixed by a scaled two-stage butterfly matrix and late-cross pairs.

#include "ReverbEngine.h"
#include "Dispatch.h"
#include "modes/DelayNetwork.h"
#include "modes/LateBlocks.h"

#include <algorithm>
#include <cmath>

namespace kestrune
{

namespace
{
// Samples at 48 kHz and late scale 1; entry 8 * segment + loop. Segments 0-2 are the allpass
// sections, segment 3 the plain delay (a geometric series, ratio 1.0586963).
constexpr float kLengths[32] = {
    2728.5369f, 2888.692f,  3058.2473f, 3237.7551f, 3427.7996f, 3628.9988f, 3842.0076f, 4067.5193f,
    4306.2676f, 4559.0293f, 4826.628f,  5109.933f,  5409.867f,  5727.4062f, 6063.584f,  6419.494f,
    6796.2944f, 7195.212f,  7617.5444f, 8064.666f,  8538.032f,  9039.184f,  9569.75f,   10131.459f,
    10726.138f, 11355.723f, 12022.262f, 12727.924f, 13475.006f, 14265.939f, 15103.297f, 15989.805f};

constexpr int kLoops = 8;
constexpr int kSections = 3;
constexpr int kBlock = 64;

constexpr FrameConfig kBrightRoomFrame{1.0f, FrameConfig::Normalisation::Single, FrameConfig::HighCut::Direct,
                                       32, &ReverbEngine::lateNetworkBrightRoom};
} // namespace

void ReverbEngine::initBrightRoom()
{
    runSetUp(ModeSetUp{241920.0f, 8, 0.5f, 2122.0f, nullptr});
    // Output signs of the loop pairs: late L = b0 + b2 - b4 - b6, late R = b1 + b3 - b5 - b7.
    const float signs[4] = {1.0f, 1.0f, -1.0f, -1.0f};
    for (int c = 0; c < 2; ++c)
        for (int k = 0; k < 4; ++k)
            signMatrix[c][k] = signs[k];
}

void ReverbEngine::setLateSizeBrightRoom(float size)
{
    const float s = static_cast<float>(static_cast<double>(internalRate) *
                                       (0.9 * static_cast<double>(size) + 0.1) / 48000.0);
    sizeTotal = sizeConstant * s;
    // The sections read their whole block before writing it and are held at one block (below); their
    // gains follow the held length. The plain delays are written first and need only 0.
    for (int j = 0; j < 32; ++j)
    {
        lateLengths[j] = std::max(kLengths[j] * s - 64.0f, j < kSections * kLoops ? static_cast<float>(kBlock) : 0.0f);
        lateFloors[j] = static_cast<int64_t>(std::floor(lateLengths[j]));
    }
    updateDecayMidBrightRoom();
    updateDecayBassBrightRoom();
    updateDecayHighBrightRoom();
    setEarlySizeBrightRoom();
}

void ReverbEngine::setEarlySizeBrightRoom()
{
    setEarlySizeShared();
}

namespace
{
// The four segments of loop i, summed section by section.
float loopLength(const float* lengths, int i)
{
    return lengths[i] + lengths[i + 8] + lengths[i + 16] + lengths[i + 24];
}
} // namespace

void ReverbEngine::updateDecayMidBrightRoom()
{
    computeMidGains(1.0f);
}

void ReverbEngine::updateDecayBassBrightRoom()
{
    // Applied once per loop, behind the delay, so it covers the whole loop length.
    for (int i = 0; i < kLoops; ++i)
        bassGains[i] = decayGain(loopLength(lateLengths, i), bassDecay, internalRate);
}

void ReverbEngine::updateDecayHighBrightRoom()
{
    for (int i = 0; i < kLoops; ++i)
    {
        const float length = loopLength(lateLengths, i);
        highRatios[i] =
            static_cast<float>(decayFactor(length, highDecay, internalRate) / decayFactor(length, decay, internalRate));
    }
}

KESTRUNE_DISPATCH void ReverbEngine::lateNetworkBrightRoom()
{
    float offsets[kSections * kLoops];
    for (int q = 0; q < kSections * kLoops; ++q)
        offsets[q] =
            lateModulators[q].advance(Modulator::Draw::Rand, Modulator::Shape::Bouncing) * lateModDepth;

    float* const sources[4] = {branchB[0], branchB[1], branchA[0], branchA[1]};
    for (int i = 0; i < kLoops; ++i)
        vec::add(lineBuffer[i], sources[i & 3], lineBuffer[i], kBlock);

    // The sections read before they write: below one block a read would return the ring's contents
    // from a whole ring earlier (and below 0 samples not yet written), so the delay is held at one block.
    // A section of all eight loops at a time: their interpolation recursions run side by side. The
    // ramps of all three sections are taken first, together.
    RampedTap taps[kSections * kLoops];
    for (int q = 0; q < kSections * kLoops; ++q)
        taps[q] = allpassSectionTap(lines[kFirstLateLine + q],
                                    late::atLeast(lateLengths[q] + offsets[q], blockLength));
    alignas(32) float delays[kSections * kLoops][ModulatedDelayLine::kMaxBlock];
    accumulateRampGroup(taps, kSections * kLoops, kBlock, 1.0f / 64.0f, delays);
    float* x[kLoops];
    for (int i = 0; i < kLoops; ++i)
        x[i] = lineBuffer[i];
    for (int m = 0; m < kSections; ++m)
        allpassBlockGroup(taps + 8 * m, x, x, kLoops, kBlock, delays + 8 * m, kConstant7071, midGains + 8 * m,
                          ModulatedDelayLine::Interpolation::FirstOrderAllpass);

    for (int k = 0; k < 4; ++k)
    {
        vec::scaleAdd(lineBuffer[2 * k], signMatrix[0][k], late[0], late[0], kBlock);
        vec::scaleAdd(lineBuffer[2 * k + 1], signMatrix[1][k], late[1], late[1], kBlock);
    }

    for (int i = 0; i < kLoops; ++i)
    {
        ModulatedDelayLine& line = lines[kFirstLateLine + 24 + i];
        line.write(lineBuffer[i], kBlock);
        line.readInteger(lineBuffer[i], kBlock, lateLengths[24 + i]);
    }

    late::splitGainsTwice(lineBuffer, kLoops, kBlock, {highCrossover, highCrossoverCoefficient, highRatios, nullptr},
                          {bassCrossover, bassCrossoverCoefficient, midGains + 24, bassGains});

    network::scaledFeedbackMatrix(*this, lineBuffer, kLoops, kBlock, outputGain);
}

void ReverbEngine::processBrightRoom(const float* const* in, float* const* out, int numSamples, int)
{
    processFrame(in, out, numSamples, kBrightRoomFrame);
}

} // namespace kestrune
