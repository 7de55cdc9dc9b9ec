// Independent reference of the reverb engine, written from the product's description of the sound alone, for
// checking the real engine against it. Plain scalar loops; everything is public so that tests can read the
// derived values.
#pragma once

#include "Blocks.h"

#include <array>
#include <cstdint>
#include <vector>

namespace kestrune::reference
{

// One parameter: range, default, current mapped value and the normalised value it came from.
struct Record
{
    float minimum = 0.0f;
    float maximum = 0.0f;
    float defaultValue = 0.0f;
    float value = -10000.0f; // never set: the set-ups see the range's minimum
    float normalised = -1.0f;
    std::uint32_t curve = 0; // 0 linear, 3 scaled (the mode selector)
};

enum class Normalisation
{
    TwoBand,
    Single,
    None // the mode normalises at its own taps
};

enum class HighCut
{
    Direct,
    Smoothed,
    Shelf
};

class Engine;

// What a mode adds to the common set-up and frame.
struct ModeSpec
{
    const char* name;
    bool halfRate;
    float toneCutoff;
    // written by the set-up when not negative (or not 0 for the line count)
    float sizeConstant;
    std::uint32_t lineCount;
    float outputGain;
    float earlyDepthFactor; // the early offsets take the early depth once or twice
    Normalisation normalisation;
    HighCut highCut;
    int lateLinesUsed; // late lines 0 .. lateLinesUsed-1 are written and advanced
    void (*setLateSize)(Engine&, float lateSize);
    void (*decayMid)(Engine&);
    void (*decayBass)(Engine&);
    void (*decayHigh)(Engine&);
    void (*writeSigns)(Engine&); // may be null
    void (*stepLateModulators)(Engine&);
    void (*lateNetwork)(Engine&);
};

const ModeSpec& modeSpec(std::uint32_t mode);

class Engine
{
  public:
    static constexpr int kParameters = 20;
    static constexpr int kFirstLateLine = 52;

    Engine(); // 48000 Hz, "Large Room"

    void setParameterNormalised(int k, float x);
    float parameterValue(int k) const { return k >= 0 && k < kParameters ? records[k].value : 0.0f; }
    float parameterNormalised(int k) const
    {
        return k >= 0 && k < kParameters ? records[k].normalised : 0.0f;
    }
    static float defaultNormalised(int k);
    void setSampleRate(int hostRate); // acts only on a change
    void reset();
    // in may equal out.
    void process(const float* inL, const float* inR, float* outL, float* outR, int numSamples);

    void applyParameter(int k);
    // The record's value as the set-ups see it: inside its range (a never-set record at its minimum).
    float clampedValue(int k) const;
    void setEarlySize();
    const ModeSpec& spec() const { return modeSpec(mode); }
    DelayLine& lateLine(int j) { return lines[kFirstLateLine + j]; }
    std::int64_t ringSize(int line) const { return lines[line].size; }

    // Mode and rates
    std::uint32_t mode = 0;
    float hostRate = 0.0f;
    float internalRate = 0.0f;
    float blockLength = 64.0f;
    std::array<Record, kParameters> records{};

    // Values derived from the parameters
    float wetTarget = 0.0f, dryTarget = 0.0f, mixCoefficient = 0.0f;
    float predelay = 0.0f;
    float decay = 0.0f, bassDecay = 0.0f, highDecay = 0.0f, alternativeBassDecay = 0.0f;
    float bassMultiplier = 0.0f, highMultiplier = 0.0f;
    float highCutFrequency = 0.0f;
    float earlyGain = 0.0f, lateGain = 0.0f;
    float lateSize = 0.0f, earlySize = 0.0f;
    float lateCross = 0.0f, earlyCross = 0.0f;
    float lateModRate = 0.0f, earlyModRate = 0.0f;
    float lateDepth = 0.0f, earlyDepth = 0.0f;  // samples
    float bassTarget = 0.0f, highTarget = 0.0f; // crossover coefficients as designed
    float earlySendCos = 0.0f, earlySendSin = 0.0f;
    float diffusion = 0.0f;

    // Values written by the mode set-up
    float sizeConstant = 0.0f, sizeTotal = 0.0f;
    std::uint32_t lineCount = 0;
    float outputGain = 0.0f;
    float toneCutoff = 0.0f;
    std::array<float, 16> earlyLength{};
    std::array<std::int64_t, 16> earlyFloor{};
    std::array<float, 32> lateLength{};
    std::array<std::int64_t, 32> lateFloor{};
    std::array<float, 32> midGain{}, bassGain{}, highRatio{};
    float midNorm = 0.0f, bassNorm = 0.0f;
    std::array<std::array<float, 16>, 2> signs{};
    std::array<std::int32_t, 15> tapPositionL{}, tapPositionR{};
    std::array<float, 15> tapGainL{}, tapGainR{};
    int framePosition = 0;

    // Building blocks
    std::vector<DelayLine> lines; // 0-1 predelay, 2-17 early, 52-83 late
    std::array<CrossoverLowpass, 32> bassCrossover{}, highCrossover{};
    std::array<CrossoverLowpass, 2> auxiliary{};
    Smoother wet, dry;
    std::array<HighCutFilter, 2> highCut{};
    std::array<HighCutShelf, 2> shelf{};
    std::array<FirstOrderSection, 2> toneIn{}, toneOut{};
    std::array<Modulator, 32> lateModulators;
    std::array<Modulator, 2> earlyModulators;
    std::array<Rotator, 50> rotators{};
    std::array<HalfbandFilter, 2> decimators{}, interpolators{};
    std::array<float, 2> denormalOffset{1e-15f, 1e-15f};
    static constexpr float kAllpassG = 0.7071f;
    static constexpr float kDarkG = 0.618f;

    // Block buffers
    float frame[2][64]{};
    float copy[2][64]{};
    float branchA[2][64]{};
    float branchB[2][64]{};
    float early[2][64]{};
    float late[2][64]{};
    float lineBuffer[32][64]{};

    // Crossover coefficients the blocks read: they glide to their targets once per frame, so that a crossover
    // change moves no band's gain by a step, and snap to them at set-up, rate change and reset.
    float bassCoefficient = 0.0f, highCoefficient = 0.0f;
    float crossoverGlide = 0.0f;

    // Per-frame modulation, written by the mode's modulator step
    std::array<float, 32> lateOffset{};

  private:
    void runSetUp();
    void switchMode(float typeValue);
    void designToneSections();
    void sizeRings();
    void runFrame();
    void glideCrossovers();
    void snapCrossovers();
    void setCrossoverGlide();
    float depthScale() const;
};

} // namespace kestrune::reference
