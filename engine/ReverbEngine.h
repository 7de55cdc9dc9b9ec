#pragma once

#include "Filters.h"
#include "HalfbandFilter.h"
#include "ModulatedDelayLine.h"
#include "Modulator.h"
#include "Parameters.h"
#include "Rotator.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace kestrune
{

class ReverbEngine;

// How a mode's block routine departs from the shared frame.
struct FrameConfig
{
    enum class Normalisation
    {
        TwoBand, // auxiliary one-pole split: low part x bass normalisation, rest x mid normalisation
        Single,  // late x mid normalisation
        None     // the mode normalises inside its own network
    };
    enum class HighCut
    {
        Direct,   // SmoothedBiquad on its targets
        Smoothed, // SmoothedBiquad on per-frame smoothed coefficients
        Shelf     // the first-order shelf sections
    };

    float earlyDepthFactor = 1.0f; // De = factor x early modulation depth in samples
    Normalisation normalisation = Normalisation::TwoBand;
    HighCut highCut = HighCut::Direct;
    int lateLineCount = 32; // late lines 52 .. 52 + count - 1 move with the frame's ring advance
    // Steps the mode's late modulators and runs its late network: reads branch A/B, writes late L/R.
    void (ReverbEngine::*lateNetwork)() = nullptr;
};

// Values that every init<Mode> hands to the shared set-up sequence.
struct ModeSetUp
{
    float sizeConstant;
    uint32_t lineCount;
    float outputGain;
    float toneCutoff;         // Hz
    const float* signTable;   // 16 values copied into both sign-matrix copies, or nullptr
};

// The seven routines of one mode, dispatched through kModeTable by the mode index.
struct ModeRoutines
{
    void (ReverbEngine::*init)();
    void (ReverbEngine::*setLateSize)(float);
    void (ReverbEngine::*setEarlySize)();
    void (ReverbEngine::*updateDecayMid)();
    void (ReverbEngine::*updateDecayBass)();
    void (ReverbEngine::*updateDecayHigh)();
    void (ReverbEngine::*process)(const float* const* in, float* const* out, int numSamples, int numChannels);
};

#define KESTRUNE_DECLARE_MODE(Name)                                                                          \
    void init##Name();                                                                                       \
    void setLateSize##Name(float lateSize);                                                                  \
    void setEarlySize##Name();                                                                               \
    void updateDecayMid##Name();                                                                             \
    void updateDecayBass##Name();                                                                            \
    void updateDecayHigh##Name();                                                                            \
    void lateNetwork##Name();                                                                                \
    void process##Name(const float* const* in, float* const* out, int numSamples, int numChannels);

// The whole reverb: parameter records, every delay line, filter, modulator and block buffer any
// mode uses, and the values derived from the parameters. Plain class, no framework, no virtuals.
// Members are public so that the mode routines' helpers and the tests can read the derived values.
class ReverbEngine
{
public:
    static constexpr int kFrame = 64;       // host samples per frame; the wet path lags by this much
    static constexpr int kLineCount = 84;
    static constexpr int kFirstLateLine = 52;
    static constexpr int kFirstEarlyLine = 2;

    ReverbEngine();
    ~ReverbEngine() = default;
    ReverbEngine(const ReverbEngine&) = delete;
    ReverbEngine& operator=(const ReverbEngine&) = delete;

    // --- interface used by the processor ---------------------------------------------------------
    void reset();
    void setSampleRate(int hostRate);
    // Makes room in the rings for a host rate so that a later setSampleRate to it does not allocate.
    void prepareForRate(int hostRate);

    void setParameterNormalised(int k, float x); // indices outside 0..19 are ignored
    float getParameterValue(int k) const;        // 0 outside 0..19
    float getParameterNormalised(int k) const;   // 0 outside 0..19
    float getDefaultNormalised(int k) const;     // 0 outside 0..19
    void applyParameter(int k);

    // Runs the current mode's block routine; in and out may be the same arrays.
    void process(const float* const* in, float* const* out, int numSamples, int numChannels = 2);

    uint32_t getModeIndex() const { return modeIndex; }
    float getHostRate() const { return hostRate; }
    float getInternalRate() const { return internalRate; }

    // --- shared frame and set-up (written once, used by every mode) -------------------------------
    void processFrame(const float* const* in, float* const* out, int numSamples, const FrameConfig& config);
    void runFrame(const FrameConfig& config); // one 64-sample frame: frame L/R in, wet frame L/R out
    bool frameIsFinite() const;               // the wet frame and every line buffer
    void runSetUp(const ModeSetUp& setUp);    // the set-up sequence of every init<Mode>
    void setEarlySizeShared();                // the one early-size algorithm
    void designToneSections();                // the tone allpass at the internal rate, split in two
    // The depths count samples, so at low host rates the same setting swings the delays several
    // times further in time and faster than the interpolating reads can follow (the tails grew
    // without bound at 8 to 32 kHz). Below 44.1 kHz they keep their 44.1 kHz swing in time instead.
    float lowRateDepthScale() const { return std::min(1.0f, hostRate / 44100.0f); }
    // A designed cut-off kept below Nyquist with a margin: at low host rates the published ranges
    // reach past it, where a filter's design stops meaning anything (the high cut becomes unstable).
    static float belowNyquist(float frequencyHz, float rate) { return std::min(frequencyHz, 0.45f * rate); }
    // exp(-6.9077554 * length / (seconds * rate)): a 60 dB fall after seconds * rate / length passes.
    static float decayGain(float length, float seconds, float rate);
    static double decayFactor(float length, float seconds, float rate); // the same, not yet rounded to float
    void computeMidGains(float normalisationFactor);  // mid gains[32] and mid normalisation
    void computeBassGains(float normalisationFactor); // bass gains[32] and bass normalisation
    void computeHighRatios();                         // high ratios[32]
    const ModeRoutines& routines() const;
    // The three-band decay of late lines first .. first + count - 1 on their block buffers: bass and
    // high crossover one-poles, mid gains, bass gains and high ratios (n samples each).
    void threeBandDecay(int first, int count, int n);
    // Ring size requested for line i at a host rate, for the host-rate or the half-rate modes: every
    // delay any of those modes reads must fit. The one place to raise when a mode needs longer lines.
    static int64_t ringRequest(int line, float hostRate, bool halfRate);

    KESTRUNE_DECLARE_MODE(LargeRoom)
    KESTRUNE_DECLARE_MODE(MediumRoom)
    KESTRUNE_DECLARE_MODE(BrightRoom)
    KESTRUNE_DECLARE_MODE(LargeChamber)
    KESTRUNE_DECLARE_MODE(DarkRoom)
    KESTRUNE_DECLARE_MODE(DarkChamber)
    KESTRUNE_DECLARE_MODE(DarkSpace)
    KESTRUNE_DECLARE_MODE(Nostromo)
    KESTRUNE_DECLARE_MODE(Narcissus)
    KESTRUNE_DECLARE_MODE(Sulaco)
    KESTRUNE_DECLARE_MODE(LV426)
    KESTRUNE_DECLARE_MODE(DenseRoom)

    // --- mode and rates -----------------------------------------------------------------------------
    uint32_t modeIndex = 0;
    float hostRate = 48000.0f;
    float internalRate = 48000.0f;
    float blockLength = 64.0f; // samples per network block at the internal rate (64 or 32)
    std::array<EngineParameter, kNumParameters> parameters;

    // --- values derived from the parameters -------------------------------------------------------
    float wetTarget = 0.0f, dryTarget = 1.0f;
    OnePole wetSmoother, drySmoother;
    float mixSmoothingCoefficient = 0.0f;
    float predelayLength = 2.0f; // samples at the internal rate
    float decay = 2.0f, bassDecay = 2.0f, highDecay = 1.0f, alternativeBassDecay = 2.0f;
    float bassMultiplier = 1.0f, highMultiplier = 0.5f;
    float highCutFrequency = 8000.0f;
    float earlyGain = 0.0f, lateGain = 0.0f;
    float lateSize = 0.5f, earlySize = 30.0f;
    float lateCrossAmount = 1.0f, earlyCrossAmount = 0.1f;
    float lateModRate = 0.5f, earlyModRate = 0.5f;
    float lateModDepth = 0.0f, earlyModDepth = 0.0f; // in samples at the internal rate
    // The crossover coefficients the network runs on glide to their targets once per frame (50 ms): a
    // cut-off that falls in one step leaves the one-poles' states holding the whole band, which the
    // network and the tone output would turn into a low thump.
    float bassCrossoverCoefficient = 0.0f, highCrossoverCoefficient = 0.0f;
    float bassCrossoverTarget = 0.0f, highCrossoverTarget = 0.0f;
    float crossoverGlide = 0.0f;
    void glideCrossovers();
    void snapCrossovers(); // nothing rings after a reset or a new set-up: start on the targets
    float earlySendCosine = 1.0f, earlySendSine = 0.0f;
    float diffusion = 1.0f;

    // --- per-mode values (written by the mode routines) -------------------------------------------
    float sizeConstant = 0.0f, sizeTotal = 0.0f;
    uint32_t lineCount = 32;
    float outputGain = 0.25f;
    float toneCutoff = 25.0f;
    float earlyLengths[16] = {};
    int64_t earlyFloors[16] = {};
    float lateLengths[32] = {};
    int64_t lateFloors[32] = {};
    float midGains[32] = {}, bassGains[32] = {}, highRatios[32] = {};
    float midNormalisation = 0.0f, bassNormalisation = 0.0f;
    float signMatrix[2][16] = {};
    int32_t tapPositions[30] = {}; // "Large Chamber" and "Dark Chamber": 15 left then 15 right
    float tapGains[30] = {};
    int32_t framePosition = 0; // write position in the current 64-sample frame

    // --- building blocks ---------------------------------------------------------------------------
    ModulatedDelayLine lines[kLineCount]; // 0, 1 predelay; 2..17 early; 52..83 late
    OnePole bassCrossover[32], highCrossover[32], auxiliary[2];
    SmoothedBiquad highCut[2];
    ShelfFilter highCutShelf[2];
    FirstOrderSection toneIn[2], toneOut[2];
    Modulator lateModulators[32], earlyModulators[2];
    Rotator rotators[50]; // 0-7 early cross, 16-31 late cross, 32-39 diffusion, 40-49 fixed 45 degrees
    HalfbandFilter decimators[4], interpolators[4];
    DenormalOffset denormal[2];
    static constexpr float kConstant7071 = 0.7071f; // read by "Medium Room" and "Bright Room"
    static constexpr float kConstant618 = 0.618f;   // read by "Dark Room"

    // --- block buffers (64 floats each) ------------------------------------------------------------
    alignas(32) float frame[2][kFrame] = {};   // input samples on the way in, wet samples on the way out
    alignas(32) float copy[2][kFrame] = {};    // the frame copy, later the late input
    alignas(32) float branchA[2][kFrame] = {};
    alignas(32) float branchB[2][kFrame] = {};
    alignas(32) float early[2][kFrame] = {};
    alignas(32) float late[2][kFrame] = {};
    alignas(32) float scratch[16][kFrame] = {};
    alignas(32) float lineBuffer[32][kFrame] = {};  // one per late line, kept from frame to frame
    alignas(32) float lineBufferB[32][kFrame] = {}; // a second per-line buffer for the modes that need it

    // --- mode-specific state (each mode adds what its network needs below) ------------------------
};

// Indexed by the mode index; an index above 11 uses entry 0.
extern const ModeRoutines kModeTable[kNumModes];

} // namespace kestrune
