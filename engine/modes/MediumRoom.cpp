// "Medium Room": 16 lines, each a modulated allpass section followed by a plain delay segment, both
// tapped for the late output, mixed by a scaled three-stage butterfly matrix and the late-cross pairs.

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
// Samples at 48 kHz and late scale 1. Entries 0-15: the allpass section of line i; 16-31: the whole
// loop of line i (a geometric series, ratio 1.0586963).
constexpr float kLengths[32] = {
    4547.5615f, 4814.4863f, 5097.0791f, 5396.2588f, 5712.999f,  6048.3311f, 6403.3457f, 6779.1987f,
    7177.1123f, 7598.3823f, 8044.3794f, 8516.5547f, 9016.4453f, 9545.6777f, 10105.974f, 10699.156f,
    11327.157f, 11992.02f,  12695.907f, 13441.11f,  14230.054f, 15065.306f, 15949.583f, 16885.764f,
    17876.896f, 18926.205f, 20037.104f, 21213.207f, 22458.344f, 23776.564f, 25172.162f, 26649.676f};

// Output tap signs: entries 0-7 weight the lines behind the allpass sections, 8-15 behind the delay
// segments. The left sums the even lines, the right the odd ones.
constexpr float kTapSigns[2][16] = {{1, 1, 1, 1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 1, 1, 1},
                                    {1, -1, 1, -1, -1, 1, -1, 1, -1, 1, -1, 1, 1, -1, 1, -1}};

constexpr int kLines = 16;
constexpr int kBlock = 64;

constexpr FrameConfig kMediumRoomFrame{1.0f, FrameConfig::Normalisation::TwoBand,
                                       FrameConfig::HighCut::Direct, 32,
                                       &ReverbEngine::lateNetworkMediumRoom};
} // namespace

void ReverbEngine::initMediumRoom()
{
    // The output gain is the feedback matrix's scale: 1/sqrt(8) undoes the three butterfly stages.
    runSetUp(ModeSetUp{287697.0f, 16, 0.35355339f, 25.0f, nullptr});
}

void ReverbEngine::setLateSizeMediumRoom(float size)
{
    const float s = static_cast<float>(static_cast<double>(internalRate) *
                                       (0.9 * static_cast<double>(size) + 0.1) / 48000.0);
    sizeTotal = sizeConstant * s;
    // lateLengths[i] = first segment F_i, lateLengths[16 + i] = delay segment S_i: the loop is F_i + S_i
    // plus one block, because the line's output re-enters it one block later.
    for (int i = 0; i < kLines; ++i)
    {
        // The section reads before it writes (held at one block below); the delay segment is written
        // first. Neither bound is reached from 8 kHz up; the gains follow the bounded lengths.
        const float first = std::max(kLengths[i] * s, static_cast<float>(kBlock));
        const float second = std::max(kLengths[kLines + i] * s - 64.0f - first, 0.0f);
        lateLengths[i] = first;
        lateLengths[kLines + i] = second;
    }
    for (int j = 0; j < 32; ++j)
        lateFloors[j] = static_cast<int64_t>(std::floor(lateLengths[j]));
    updateDecayMidMediumRoom();
    updateDecayBassMediumRoom();
    updateDecayHighMediumRoom();
    setEarlySizeMediumRoom();
}

void ReverbEngine::setEarlySizeMediumRoom()
{
    setEarlySizeShared();
}

void ReverbEngine::updateDecayMidMediumRoom()
{
    // One mid gain per segment: each segment decays by its own length.
    computeMidGains(1.0f);
    const float tapGain = 1.414f * 0.25f;
    for (int c = 0; c < 2; ++c)
        for (int k = 0; k < 16; ++k)
            signMatrix[c][k] = kTapSigns[c][k] * tapGain;
}

void ReverbEngine::updateDecayBassMediumRoom()
{
    // The band below RTXover takes the whole loop's gain behind the delay segment, after it has
    // already passed the allpass section's loop gain: at multiplier 1 the bass decays faster.
    for (int i = 0; i < kLines; ++i)
        bassGains[i] = decayGain(lateLengths[i] + lateLengths[kLines + i], bassDecay, internalRate);
    bassNormalisation = std::sqrt(sizeTotal / (bassDecay * internalRate));
}

void ReverbEngine::updateDecayHighMediumRoom()
{
    // Divided by the first segment's gain alone, so even multiplier 1 leaves the highs decaying faster.
    for (int i = 0; i < kLines; ++i)
    {
        const double high = decayFactor(lateLengths[i] + lateLengths[kLines + i], highDecay, internalRate);
        highRatios[i] = static_cast<float>(high / static_cast<double>(midGains[i]));
    }
}

KESTRUNE_DISPATCH void ReverbEngine::lateNetworkMediumRoom()
{
    float offsets[kLines];
    for (int i = 0; i < kLines; ++i)
        offsets[i] =
            lateModulators[i].advance(Modulator::Draw::Rand, Modulator::Shape::Bouncing) * lateModDepth;

    float* const sources[4] = {branchB[0], branchB[1], branchA[0], branchA[1]};
    for (int i = 0; i < kLines; ++i)
        vec::add(lineBuffer[i], sources[i & 3], lineBuffer[i], kBlock);

    // The section reads before it writes, so its delay stays at least one block long.
    ModulatedDelayLine* group[kLines];
    float* io[kLines];
    float delays[kLines];
    for (int i = 0; i < kLines; ++i)
    {
        group[i] = &lines[kFirstLateLine + i];
        io[i] = lineBuffer[i];
        delays[i] = late::atLeast(lateLengths[i] + offsets[i], blockLength);
    }
    allpassBlockGroup(group, io, io, kLines, kBlock, delays, kConstant7071, midGains, 1.0f / 64.0f,
                      ModulatedDelayLine::Interpolation::Linear);

    for (int k = 0; k < 8; ++k)
    {
        vec::scaleAdd(lineBuffer[2 * k], signMatrix[0][k], late[0], late[0], kBlock);
        vec::scaleAdd(lineBuffer[2 * k + 1], signMatrix[1][k], late[1], late[1], kBlock);
    }

    // The segment is read after this block's write: any delay from 0 up is a true delay.
    for (int i = 0; i < kLines; ++i)
    {
        ModulatedDelayLine& line = lines[kFirstLateLine + kLines + i];
        line.write(lineBuffer[i], kBlock);
        line.readInteger(lineBuffer[i], kBlock, late::atLeast(lateLengths[kLines + i], 0.0f));
    }

    late::splitGainsTwice(lineBuffer, kLines, kBlock,
                          {bassCrossover, bassCrossoverCoefficient, midGains + kLines, bassGains},
                          {highCrossover, highCrossoverCoefficient, highRatios, nullptr});

    for (int k = 0; k < 8; ++k)
    {
        vec::scaleAdd(lineBuffer[2 * k], signMatrix[0][8 + k], late[0], late[0], kBlock);
        vec::scaleAdd(lineBuffer[2 * k + 1], signMatrix[1][8 + k], late[1], late[1], kBlock);
    }

    network::scaledFeedbackMatrix(*this, lineBuffer, kLines, kBlock, outputGain);
}

void ReverbEngine::processMediumRoom(const float* const* in, float* const* out, int numSamples, int)
{
    processFrame(in, out, numSamples, kMediumRoomFrame);
}

} // namespace kestrune
