// "Dark Room", "Nostromo" and "Narcissus": half-rate loops of four segments (a modulated allpass section,
// two fixed allpass sections, a plain delay) with a high shelf and a bass shelf, coupled once per block.
#include "ModeHelpers.h"

#include <algorithm>

namespace kestrune::reference
{

namespace
{

// Loop i owns late lines i, 8 + i, 16 + i and 24 + i.
int loopsOf(const Engine& e)
{
    return e.mode == 8 ? 4 : 8;
}

bool lineInUse(const Engine& e, int j)
{
    return j % 8 < loopsOf(e);
}

float normFactor(const Engine& e)
{
    return e.mode == 8 ? 4.0f : 2.0f;
}

float loopLength(const Engine& e, int i)
{
    return e.lateLength[i] + e.lateLength[8 + i] + e.lateLength[16 + i] + e.lateLength[24 + i];
}

void decayMid(Engine& e)
{
    const float rate = e.internalRate;
    for (int j = 0; j < 32; ++j)
        if (lineInUse(e, j))
            e.midGain[j] = rt60Gain(e.lateLength[j], e.decay, rate);
    const float q = e.sizeTotal / (e.decay * rate);
    e.midNorm = static_cast<float>(static_cast<double>(normFactor(e)) * std::sqrt(static_cast<double>(q)));
}

void decayBass(Engine& e)
{
    for (int i = 0; i < loopsOf(e); ++i)
        e.bassGain[i] = std::min(50.0f, loopRatio(loopLength(e, i), e.bassDecay, e.decay, e.internalRate));
}

void decayHigh(Engine& e)
{
    for (int i = 0; i < loopsOf(e); ++i)
        e.highRatio[i] = loopRatio(loopLength(e, i), e.highDecay, e.decay, e.internalRate);
}

// Least length of line j: the modulated section no shorter than its block, the fixed sections long enough to
// read a block back, the plain delay no shorter than 0.
float leastLength(int j)
{
    if (j < 8)
        return 32.0f;
    return j < 24 ? 64.0f : 0.0f;
}

void setLengths(Engine& e, float scaleValue, float sizeConstant)
{
    e.sizeTotal = sizeConstant * scaleValue;
    for (int j = 0; j < 32; ++j)
        if (lineInUse(e, j))
        {
            e.lateLength[j] = heldLength(kGeometricLengths[j] * scaleValue - 32.0f, leastLength(j));
            e.lateFloor[j] = static_cast<std::int64_t>(std::floor(e.lateLength[j]));
        }
    refreshDecayAndEarly(e);
}

void setLateSizeDarkRoom(Engine& e, float size)
{
    setLengths(e, lateScale(e.internalRate, size, 0.9, 0.1), 241920.0f);
}

void setLateSizeNostromo(Engine& e, float size)
{
    setLengths(e, lateScale(e.internalRate, size, 1.8, 0.2), 241920.0f);
}

void setLateSizeNarcissus(Engine& e, float size)
{
    // the constant is the sum of table entries 0-15, not of the lines in use
    setLengths(e, lateScale(e.internalRate, size, 0.9, 0.1), 69301.766f);
}

// Modulator 3i drives loop i.
void stepModulators(Engine& e, bool unipolar)
{
    for (int i = 0; i < loopsOf(e); ++i)
    {
        Modulator& m = e.lateModulators[3 * i];
        stepModulator(m, true);
        const float t = m.folded();
        e.lateOffset[i] = unipolar ? 2.0f * (t + 1.0f) * e.lateDepth : 2.0f * t * e.lateDepth;
    }
}

void stepDarkRoomModulators(Engine& e)
{
    stepModulators(e, true);
}

void stepBipolarModulators(Engine& e)
{
    stepModulators(e, false);
}

void fixedAllpass(Engine& e, int line, float* x, float g)
{
    const int n = 32;
    DelayLine& l = e.lateLine(line);
    const std::int64_t delay = fixedSectionDelay(e.lateFloor[line]);
    float y[32];
    float v[32];
    for (int j = 0; j < n; ++j)
        y[j] = l.at(delay, j) * e.midGain[line];
    for (int j = 0; j < n; ++j)
        y[j] = y[j] - g * x[j];
    for (int j = 0; j < n; ++j)
        v[j] = x[j] + g * y[j];
    l.writeBlock(v, n);
    for (int j = 0; j < n; ++j)
        x[j] = y[j];
}

// Segments 1 to 4 with both shelves; leaves the loop outputs in the line buffers.
void runLoops(Engine& e, float g)
{
    const int n = 32;
    const int loops = loopsOf(e);
    injectFourWay(e, loops, n);
    // the modulated section never shorter than its block
    for (int i = 0; i < loops; ++i)
        allpassSection(e.lateLine(i), e.lineBuffer[i], n, maxOf(e.lateLength[i] + e.lateOffset[i], 32.0f), g,
                       e.midGain[i], 1.0f / 32.0f, Interpolation::Quantised);
    for (int i = 0; i < loops; ++i)
        fixedAllpass(e, 8 + i, e.lineBuffer[i], g);
    for (int i = 0; i < loops; ++i)
        fixedAllpass(e, 16 + i, e.lineBuffer[i], g);
    for (int i = 0; i < loops; ++i)
        highSplit(e, i, e.lineBuffer[i], n, e.highRatio[i]);
    for (int j = 0; j < n; ++j)
    {
        e.late[0][j] = e.lineBuffer[0][j];
        e.late[1][j] = e.lineBuffer[1][j];
    }
    for (int i = 0; i < loops; ++i)
    {
        DelayLine& line = e.lateLine(24 + i);
        line.writeBlock(e.lineBuffer[i], n);
        const std::int64_t delay = plainDelay(e.lateFloor[24 + i]);
        for (int j = 0; j < n; ++j)
            e.lineBuffer[i][j] = e.midGain[24 + i] * line.at(delay, j);
    }
    for (int i = 0; i < loops; ++i)
    {
        float lo[32];
        e.bassCrossover[i].run(e.lineBuffer[i], lo, n, e.bassCoefficient);
        for (int j = 0; j < n; ++j)
            e.lineBuffer[i][j] = e.bassGain[i] * lo[j] + (e.lineBuffer[i][j] - lo[j]);
    }
}

void darkRoomNetwork(Engine& e)
{
    runLoops(e, Engine::kDarkG);
    for (int i = 0; i < 8; ++i)
        scale(e.lineBuffer[i], e.outputGain, 32);
    butterflies(e, 8, 32);
    rotatePairs(e, 4, 32);
}

void nostromoNetwork(Engine& e)
{
    runLoops(e, Engine::kAllpassG);
    // each loop feeds loop i + 2 (mod 8): two rings of four
    for (int ring = 0; ring < 2; ++ring)
    {
        float last[32];
        std::copy(e.lineBuffer[6 + ring], e.lineBuffer[6 + ring] + 32, last);
        for (int i = 6 + ring; i >= 2; i -= 2)
            std::copy(e.lineBuffer[i - 2], e.lineBuffer[i - 2] + 32, e.lineBuffer[i]);
        std::copy(last, last + 32, e.lineBuffer[ring]);
    }
    rotatePairs(e, 4, 32);
}

void narcissusNetwork(Engine& e)
{
    runLoops(e, Engine::kAllpassG);
    for (int j = 0; j < 32; ++j)
    {
        std::swap(e.lineBuffer[0][j], e.lineBuffer[2][j]);
        std::swap(e.lineBuffer[1][j], e.lineBuffer[3][j]);
    }
    rotatePairs(e, 2, 32);
}

} // namespace

const ModeSpec kDarkRoom = {"Dark Room",
                            true,
                            3183.0f,
                            241920.0f,
                            32,
                            0.5f,
                            1.0f,
                            Normalisation::Single,
                            HighCut::Smoothed,
                            32,
                            setLateSizeDarkRoom,
                            decayMid,
                            decayBass,
                            decayHigh,
                            nullptr,
                            stepDarkRoomModulators,
                            darkRoomNetwork};

const ModeSpec kNostromo = {"Nostromo",
                            true,
                            3183.0f,
                            241920.0f,
                            32,
                            -1.0f,
                            2.0f,
                            Normalisation::Single,
                            HighCut::Direct,
                            32,
                            setLateSizeNostromo,
                            decayMid,
                            decayBass,
                            decayHigh,
                            nullptr,
                            stepBipolarModulators,
                            nostromoNetwork};

const ModeSpec kNarcissus = {"Narcissus",
                             true,
                             3183.0f,
                             69301.766f,
                             16,
                             -1.0f,
                             2.0f,
                             Normalisation::Single,
                             HighCut::Direct,
                             28,
                             setLateSizeNarcissus,
                             decayMid,
                             decayBass,
                             decayHigh,
                             nullptr,
                             stepBipolarModulators,
                             narcissusNetwork};

} // namespace kestrune::reference
