// "Nostromo": the "Dark Room" loops at twice the length, with a steeper allpass, two-sided
// modulation and a cyclic coupling (0 -> 2 -> 4 -> 6 -> 0, 1 -> 3 -> 5 -> 7 -> 1) without scaling.

#include "ReverbEngine.h"
#include "Dispatch.h"
#include "SegmentLoops.h"
#include "Vector.h"

namespace kestrune
{

namespace
{
constexpr int kLoops = 8;
constexpr float kSizeConstant = 241920.0f;

const FrameConfig kNostromoFrame{2.0f, FrameConfig::Normalisation::Single, FrameConfig::HighCut::Direct, 32,
                                 &ReverbEngine::lateNetworkNostromo};

// Each loop's output enters loop i + 2 (mod 8) next block: five copies through one scratch block.
void shiftRing(float (*loops)[ReverbEngine::kFrame], int first, float* scratch)
{
    vec::copy(loops[first + 6], scratch, segmentloops::kBlock);
    vec::copy(loops[first + 4], loops[first + 6], segmentloops::kBlock);
    vec::copy(loops[first + 2], loops[first + 4], segmentloops::kBlock);
    vec::copy(loops[first], loops[first + 2], segmentloops::kBlock);
    vec::copy(scratch, loops[first], segmentloops::kBlock);
}
} // namespace

// No output gain: the cyclic shift and the rotations keep energy on their own.
void ReverbEngine::initNostromo()
{
    runSetUp({kSizeConstant, 32, 1.0f, 3183.0f, nullptr});
}

void ReverbEngine::setLateSizeNostromo(float size)
{
    segmentloops::setLengths(*this, segmentloops::lateScale(internalRate, size, 1.8, 0.2), kSizeConstant,
                             kLoops);
    updateDecayMidNostromo();
    updateDecayBassNostromo();
    updateDecayHighNostromo();
    setEarlySizeShared();
}

void ReverbEngine::setEarlySizeNostromo()
{
    setEarlySizeShared();
}

// The decay rules are those of "Dark Room".
void ReverbEngine::updateDecayMidNostromo()
{
    updateDecayMidDarkRoom();
}
void ReverbEngine::updateDecayBassNostromo()
{
    updateDecayBassDarkRoom();
}
void ReverbEngine::updateDecayHighNostromo()
{
    updateDecayHighDarkRoom();
}

KESTRUNE_DISPATCH void ReverbEngine::lateNetworkNostromo()
{
    float delays[kLoops];
    for (int i = 0; i < kLoops; ++i)
    {
        const float t = lateModulators[3 * i].advance(Modulator::Draw::Generator, Modulator::Shape::Folded);
        delays[i] = lateLengths[i] + 2.0f * t * lateModDepth;
    }
    segmentloops::runLoops(*this, kLoops, kConstant7071, delays);

    alignas(32) float held[segmentloops::kBlock];
    shiftRing(lineBuffer, 0, held);
    shiftRing(lineBuffer, 1, held);
    for (int k = 0; k < 4; ++k)
        rotators[16 + k].rotate(lineBuffer[2 * k], lineBuffer[2 * k + 1], segmentloops::kBlock);
}

void ReverbEngine::processNostromo(const float* const* in, float* const* out, int numSamples, int)
{
    processFrame(in, out, numSamples, kNostromoFrame);
}

} // namespace kestrune
