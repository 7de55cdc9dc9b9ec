// "Dark Space": a 32-line feedback delay network at half rate, half of its lines modulated, with a
// three-band decay per line and an orthogonal feedback matrix (0.25 x four butterfly stages, then
// sixteen pair rotations). Its lines are 1.9 times as long in time as the plain late scale.

#include "ReverbEngine.h"
#include "Dispatch.h"
#include "DelayNetwork.h"
#include "SegmentLoops.h"

namespace kestrune
{

namespace
{
constexpr int kLines = 32;
constexpr int kBlock = segmentloops::kBlock;
constexpr float kSizeConstant = 241920.0f;
constexpr float kRampFactor = 1.0f / kBlock;

constexpr float kDarkSpaceSigns[16] = {0.25f,  0.25f,  0.25f,  0.25f,  -0.25f, -0.25f, -0.25f, -0.25f,
                                       -0.25f, -0.25f, -0.25f, -0.25f, 0.25f,  0.25f,  0.25f,  0.25f};

const FrameConfig kDarkSpaceFrame{2.0f, FrameConfig::Normalisation::TwoBand, FrameConfig::HighCut::Direct, 32,
                                  &ReverbEngine::lateNetworkDarkSpace};
} // namespace

void ReverbEngine::initDarkSpace()
{
    runSetUp({kSizeConstant, 32, 0.25f, 3183.0f, kDarkSpaceSigns});
}

void ReverbEngine::setLateSizeDarkSpace(float size)
{
    // 1.9 enters as the widened single-precision value.
    const double stretch = static_cast<double>(1.9f);
    const float scale = static_cast<float>(static_cast<double>(internalRate) *
                                           (0.9 * static_cast<double>(size) + 0.1) * stretch / 48000.0);
    segmentloops::setLengths(*this, scale, kSizeConstant, 8);
    updateDecayMidDarkSpace();
    updateDecayBassDarkSpace();
    updateDecayHighDarkSpace();
    setEarlySizeShared();
}

void ReverbEngine::setEarlySizeDarkSpace()
{
    setEarlySizeShared();
}

void ReverbEngine::updateDecayMidDarkSpace()
{
    computeMidGains(1.0f);
}
void ReverbEngine::updateDecayBassDarkSpace()
{
    computeBassGains(1.0f);
}
void ReverbEngine::updateDecayHighDarkSpace()
{
    computeHighRatios();
}

KESTRUNE_DISPATCH void ReverbEngine::lateNetworkDarkSpace()
{
    float offsets[8];
    for (int k = 0; k < 8; ++k)
        offsets[k] = 2.0f * lateModulators[k].advance(Modulator::Draw::Generator, Modulator::Shape::Folded) *
                     lateModDepth;

    // Every write comes before every read, so the reads need only a delay of 0 or more. Every line's
    // buffer is read back, so the input sum goes straight into the ring.
    const float* feed[4] = {branchB[0], branchB[1], branchA[0], branchA[1]};
    for (int j = 0; j < kLines; ++j)
        lines[kFirstLateLine + j].writeSum(lineBuffer[j], feed[j & 3], kBlock);
    RampedTap taps[16];
    for (int k = 0; k < 8; ++k)
    {
        taps[2 * k] = {&lines[kFirstLateLine + 4 * k], 0, lateLengths[4 * k] + offsets[k], lineBuffer[4 * k]};
        taps[2 * k + 1] = {&lines[kFirstLateLine + 4 * k + 1], 0, lateLengths[4 * k + 1] - offsets[k],
                           lineBuffer[4 * k + 1]};
        lines[kFirstLateLine + 4 * k + 2].readInteger(lineBuffer[4 * k + 2], kBlock, lateLengths[4 * k + 2]);
        lines[kFirstLateLine + 4 * k + 3].readInteger(lineBuffer[4 * k + 3], kBlock, lateLengths[4 * k + 3]);
    }
    readRampedGroup(taps, 16, kBlock, kRampFactor, ModulatedDelayLine::Interpolation::Linear);

    threeBandDecay(0, kLines, kBlock);

    for (int k = 0; k < 16; ++k)
    {
        segmentloops::scaleAddInto(late[0], lineBuffer[2 * k], signMatrix[0][k]);
        segmentloops::scaleAddInto(late[1], lineBuffer[2 * k + 1], signMatrix[0][k]);
    }

    network::scaledFeedbackMatrix(*this, lineBuffer, kLines, segmentloops::kBlock, outputGain);
}

void ReverbEngine::processDarkSpace(const float* const* in, float* const* out, int numSamples, int)
{
    processFrame(in, out, numSamples, kDarkSpaceFrame);
}

} // namespace kestrune
