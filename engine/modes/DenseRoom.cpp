// "Dense Room": half rate, a 32-line butterfly feedback network with eight pairs of modulated lines,
// single-form normalisation and the first-order shelf as its high-cut.

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
constexpr int kDenseLines = 32;
constexpr int kBlock = network::kBlock;

// A geometric series, ratio 1.089324 from line to line.
constexpr float kLengthTable[kDenseLines] = {
    1127.12781f, 1227.80737f, 1337.4801f,  1456.94934f, 1587.08997f, 1728.85522f, 1883.28357f, 2051.5061f,
    2234.75513f, 2434.37231f, 2651.82056f, 2888.69189f, 3146.72144f, 3427.79956f, 3733.98438f, 4067.51904f,
    4430.84668f, 4826.62793f, 5257.76172f, 5727.40625f, 6239.00146f, 6796.29443f, 7403.36719f, 8064.66602f,
    8785.03516f, 9569.75f,    10424.5586f, 11355.7227f, 12370.0615f, 13475.0059f, 14678.6484f, 15989.8047f};

constexpr float kSignTable[16] = {0.25f,  0.25f,  0.25f,  0.25f,  -0.25f, -0.25f, -0.25f, -0.25f,
                                  -0.25f, -0.25f, -0.25f, -0.25f, 0.25f,  0.25f,  0.25f,  0.25f};

constexpr FrameConfig kDenseRoomFrame{2.0f, FrameConfig::Normalisation::Single, FrameConfig::HighCut::Shelf,
                                      kDenseLines, &ReverbEngine::lateNetworkDenseRoom};
} // namespace

void ReverbEngine::initDenseRoom()
{
    runSetUp(ModeSetUp{182380.0f, kDenseLines, 0.25f, 3183.0f, kSignTable});
}

void ReverbEngine::setLateSizeDenseRoom(float size)
{
    const float scale = (size * 0.8f + 0.2f) * internalRate * 1.9f / 48000.0f;
    sizeTotal = sizeConstant * scale;
    for (int i = 0; i < kDenseLines; ++i)
    {
        // Written before read, so 0 is the shortest real delay (reached only below about 7.2 kHz).
        const float length = std::max(kLengthTable[i] * scale - 32.0f, 0.0f);
        lateLengths[i] = length;
        lateFloors[i] = static_cast<int64_t>(std::floor(length));
    }
    updateDecayMidDenseRoom();
    updateDecayBassDenseRoom();
    updateDecayHighDenseRoom();
    setEarlySizeDenseRoom();
}

void ReverbEngine::setEarlySizeDenseRoom() { setEarlySizeShared(); }
void ReverbEngine::updateDecayMidDenseRoom() { computeMidGains(1.0f); }
void ReverbEngine::updateDecayBassDenseRoom() { computeBassGains(1.0f); }
void ReverbEngine::updateDecayHighDenseRoom() { computeHighRatios(); }

KESTRUNE_DISPATCH void ReverbEngine::lateNetworkDenseRoom()
{
    // Bipolar offsets of up to 2 x depth (128 samples): below about 36 kHz host rate and small sizes
    // they take lines 0 and 1 under zero. The lines are written before they are read, so the delay
    // is held at 0, the sample just written.
    float offsets[8];
    for (int q = 0; q < 8; ++q)
        offsets[q] =
            2.0f * lateModulators[q].advance(Modulator::Draw::Generator, Modulator::Shape::Folded) * lateModDepth;

    auto* x = lineBuffer;
    // Every line's buffer is read back below, so the input sum goes straight into the ring.
    float* const sources[4] = {branchB[0], branchB[1], branchA[0], branchA[1]};
    for (int i = 0; i < kDenseLines; ++i)
        lines[kFirstLateLine + i].writeSum(x[i], sources[i & 3], kBlock);
    RampedTap taps[16];
    for (int q = 0; q < 8; ++q)
    {
        const int i = 4 * q;
        taps[2 * q] = {&lines[kFirstLateLine + i], 0, std::max(lateLengths[i] + offsets[q], 0.0f), x[i]};
        taps[2 * q + 1] = {&lines[kFirstLateLine + i + 1], 0, std::max(lateLengths[i + 1] - offsets[q], 0.0f),
                           x[i + 1]};
    }
    readRampedGroup(taps, 16, kBlock, 0.03125f, ModulatedDelayLine::Interpolation::FirstOrderAllpass);
    for (int q = 0; q < 8; ++q)
    {
        const int i = 4 * q;
        lines[kFirstLateLine + i + 2].readInteger(x[i + 2], kBlock, lateLengths[i + 2]);
        lines[kFirstLateLine + i + 3].readInteger(x[i + 3], kBlock, lateLengths[i + 3]);
    }

    threeBandDecay(0, kDenseLines, kBlock);
    const float* signs = signMatrix[0];
    for (int j = 0; j < 16; ++j)
    {
        network::scaleAccumulate(late[0], x[2 * j], signs[j]);
        network::scaleAccumulate(late[1], x[2 * j + 1], signs[j]);
    }
    network::scaledFeedbackMatrix(*this, x, kDenseLines, kBlock, outputGain);
}

void ReverbEngine::processDenseRoom(const float* const* in, float* const* out, int numSamples, int)
{
    processFrame(in, out, numSamples, kDenseRoomFrame);
}

} // namespace kestrune
