// "Large Chamber": the chamber network at the host rate in 64-sample blocks.

#include "ReverbEngine.h"
#include "Dispatch.h"
#include "modes/ChamberNetwork.h"

namespace kestrune
{

namespace
{
constexpr FrameConfig kLargeChamberFrame{1.0f, FrameConfig::Normalisation::TwoBand,
                                         FrameConfig::HighCut::Direct, 32,
                                         &ReverbEngine::lateNetworkLargeChamber};
} // namespace

void ReverbEngine::initLargeChamber()
{
    runSetUp(ModeSetUp{144000.0f, 32, 0.25f, 25.0f, nullptr});
}

void ReverbEngine::setLateSizeLargeChamber(float size)
{
    chamber::setLateSize(*this, size);
}

void ReverbEngine::setEarlySizeLargeChamber()
{
    setEarlySizeShared();
}

void ReverbEngine::updateDecayMidLargeChamber()
{
    chamber::updateDecayMid(*this);
}

void ReverbEngine::updateDecayBassLargeChamber()
{
    chamber::updateDecayBass(*this);
}

void ReverbEngine::updateDecayHighLargeChamber()
{
    chamber::updateDecayHigh(*this);
}

KESTRUNE_DISPATCH void ReverbEngine::lateNetworkLargeChamber()
{
    float offsets[8];
    for (int j = 0; j < 8; ++j)
        offsets[j] =
            lateModulators[j].advance(Modulator::Draw::Rand, Modulator::Shape::Bouncing) * lateModDepth;
    chamber::lateNetwork(*this, offsets);
}

void ReverbEngine::processLargeChamber(const float* const* in, float* const* out, int numSamples, int)
{
    processFrame(in, out, numSamples, kLargeChamberFrame);
}

} // namespace kestrune
