// "Narcissus": four of the segment loops (late lines 0-3, 8-11, 16-19, 24-27) at the "Dark Room"
// scale with two-sided modulation; loops 0 <-> 2 and 1 <-> 3 swap outputs before the rotations.

#include "ReverbEngine.h"
#include "Dispatch.h"
#include "SegmentLoops.h"

namespace kestrune
{

namespace
{
constexpr int kLoops = 4;
constexpr float kSizeConstant = 69301.766f; // the sum of table lengths 0-15
constexpr float kNormalisation = 4.0f;

// Lines 0-27 cover every ring the four loops write.
const FrameConfig kNarcissusFrame{2.0f, FrameConfig::Normalisation::Single, FrameConfig::HighCut::Direct, 28,
                                  &ReverbEngine::lateNetworkNarcissus};

void swapBlocks(float* a, float* b)
{
    for (int j = 0; j < segmentloops::kBlock; ++j)
    {
        const float x = a[j];
        a[j] = b[j];
        b[j] = x;
    }
}
} // namespace

void ReverbEngine::initNarcissus()
{
    runSetUp({kSizeConstant, 16, 1.0f, 3183.0f, nullptr});
}

void ReverbEngine::setLateSizeNarcissus(float size)
{
    segmentloops::setLengths(*this, segmentloops::lateScale(internalRate, size, 0.9, 0.1), kSizeConstant,
                             kLoops);
    updateDecayMidNarcissus();
    updateDecayBassNarcissus();
    updateDecayHighNarcissus();
    setEarlySizeNarcissus();
}

void ReverbEngine::setEarlySizeNarcissus()
{
    setEarlySizeShared();
}

void ReverbEngine::updateDecayMidNarcissus()
{
    segmentloops::decayMid(*this, kLoops, kNormalisation);
}
void ReverbEngine::updateDecayBassNarcissus()
{
    segmentloops::decayBass(*this, kLoops);
}
void ReverbEngine::updateDecayHighNarcissus()
{
    segmentloops::decayHigh(*this, kLoops);
}

KESTRUNE_DISPATCH void ReverbEngine::lateNetworkNarcissus()
{
    // At small sizes and deep modulation len_0 - 2 x depth drops below the block (below zero at
    // lateSize 0, 48 kHz, depth above ~0.82); the shared segment keeps it at the block length.
    float delays[kLoops];
    for (int i = 0; i < kLoops; ++i)
    {
        const float t = lateModulators[3 * i].advance(Modulator::Draw::Generator, Modulator::Shape::Folded);
        delays[i] = lateLengths[i] + 2.0f * t * lateModDepth;
    }
    segmentloops::runLoops(*this, kLoops, kConstant7071, delays);

    swapBlocks(lineBuffer[0], lineBuffer[2]);
    swapBlocks(lineBuffer[1], lineBuffer[3]);
    for (int k = 0; k < 2; ++k)
        rotators[16 + k].rotate(lineBuffer[2 * k], lineBuffer[2 * k + 1], segmentloops::kBlock);
}

void ReverbEngine::processNarcissus(const float* const* in, float* const* out, int numSamples, int)
{
    processFrame(in, out, numSamples, kNarcissusFrame);
}

} // namespace kestrune
