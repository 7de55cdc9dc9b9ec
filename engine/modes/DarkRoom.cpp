// "Dark Room": eight four-segment loops at half rate, coupled by butterflies among the even and among
// the odd loops and then by the late-cross rotations. Its decay routines also serve "Nostromo".

#include "ReverbEngine.h"
#include "Dispatch.h"
#include "SegmentLoops.h"

namespace kestrune
{

namespace
{
constexpr int kLoops = 8;
constexpr float kSizeConstant = 241920.0f; // the sum of the 32 table lengths
constexpr float kNormalisation = 2.0f;

const FrameConfig kDarkRoomFrame{1.0f, FrameConfig::Normalisation::Single, FrameConfig::HighCut::Smoothed, 32,
                                 &ReverbEngine::lateNetworkDarkRoom};
} // namespace

void ReverbEngine::initDarkRoom()
{
    runSetUp({kSizeConstant, 32, 0.5f, 3183.0f, nullptr});
}

void ReverbEngine::setLateSizeDarkRoom(float size)
{
    segmentloops::setLengths(*this, segmentloops::lateScale(internalRate, size, 0.9, 0.1), kSizeConstant,
                             kLoops);
    updateDecayMidDarkRoom();
    updateDecayBassDarkRoom();
    updateDecayHighDarkRoom();
    setEarlySizeShared();
}

void ReverbEngine::setEarlySizeDarkRoom()
{
    setEarlySizeShared();
}

void ReverbEngine::updateDecayMidDarkRoom()
{
    segmentloops::decayMid(*this, kLoops, kNormalisation);
}
void ReverbEngine::updateDecayBassDarkRoom()
{
    segmentloops::decayBass(*this, kLoops);
}
void ReverbEngine::updateDecayHighDarkRoom()
{
    segmentloops::decayHigh(*this, kLoops);
}

KESTRUNE_DISPATCH void ReverbEngine::lateNetworkDarkRoom()
{
    // One-sided modulation: segment 1 only ever grows, by up to 4 x the late depth.
    float delays[kLoops];
    for (int i = 0; i < kLoops; ++i)
    {
        const float t = lateModulators[3 * i].advance(Modulator::Draw::Generator, Modulator::Shape::Folded);
        delays[i] = lateLengths[i] + 2.0f * (t + 1.0f) * lateModDepth;
    }
    segmentloops::runLoops(*this, kLoops, kConstant618, delays);

    // Two butterfly stages scale by 2, the output gain 0.5 brings the coupling back to unit energy.
    for (int i = 0; i < kLoops; ++i)
        segmentloops::scaleInPlace(lineBuffer[i], outputGain);
    for (int a : {0, 1, 2, 3})
        segmentloops::butterfly(lineBuffer[a], lineBuffer[a + 4]);
    for (int a : {0, 1, 4, 5})
        segmentloops::butterfly(lineBuffer[a], lineBuffer[a + 2]);
    for (int k = 0; k < 4; ++k)
        rotators[16 + k].rotate(lineBuffer[2 * k], lineBuffer[2 * k + 1], segmentloops::kBlock);
}

void ReverbEngine::processDarkRoom(const float* const* in, float* const* out, int numSamples, int)
{
    processFrame(in, out, numSamples, kDarkRoomFrame);
}

} // namespace kestrune
