// "Dark Chamber": the chamber network at half the host rate in 32-sample blocks. Its late scale still
// follows the host rate, so every loop and tap lasts twice as long as in "Large Chamber".

#include "ReverbEngine.h"
#include "Dispatch.h"
#include "modes/ChamberNetwork.h"

namespace kestrune
{

namespace
{
constexpr FrameConfig kDarkChamberFrame{1.0f, FrameConfig::Normalisation::TwoBand,
                                        FrameConfig::HighCut::Direct, 32,
                                        &ReverbEngine::lateNetworkDarkChamber};
} // namespace

void ReverbEngine::initDarkChamber()
{
    runSetUp(ModeSetUp{144000.0f, 32, 0.25f, 3183.0f, nullptr});
}

void ReverbEngine::setLateSizeDarkChamber(float size)
{
    chamber::setLateSize(*this, size);
}

void ReverbEngine::setEarlySizeDarkChamber()
{
    setEarlySizeShared();
}

void ReverbEngine::updateDecayMidDarkChamber()
{
    chamber::updateDecayMid(*this);
}

void ReverbEngine::updateDecayBassDarkChamber()
{
    chamber::updateDecayBass(*this);
}

void ReverbEngine::updateDecayHighDarkChamber()
{
    chamber::updateDecayHigh(*this);
}

KESTRUNE_DISPATCH void ReverbEngine::lateNetworkDarkChamber()
{
    // Folded triangles with the modulators' own draws; twice the half-rate depth (64 x "lateModDepth")
    // swings each pair by up to 128 internal samples.
    float offsets[8];
    for (int j = 0; j < 8; ++j)
        offsets[j] = 2.0f * lateModulators[j].advance(Modulator::Draw::Generator, Modulator::Shape::Folded) *
                     lateModDepth;
    chamber::lateNetwork(*this, offsets);
}

void ReverbEngine::processDarkChamber(const float* const* in, float* const* out, int numSamples, int)
{
    processFrame(in, out, numSamples, kDarkChamberFrame);
}

} // namespace kestrune
