#include "ReverbEngine.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#define KESTRUNE_HAS_MXCSR 1
#endif

namespace kestrune
{

namespace
{
constexpr float kHalfPi = 3.1415927f * 0.5f;

// Longest early length per sample of rate (the largest early ratio at "earlySize" 1000 ms).
constexpr double kLongestEarlyPerSample = 810.9765 * 1000.0 / 2.997e6;

int64_t ringSizeFor(int64_t request)
{
    int64_t size = 1;
    while (size < request)
        size <<= 1;
    return size;
}

#ifdef KESTRUNE_HAS_MXCSR
// Flush-to-zero and denormals-are-zero for the duration of a block, whatever the host set.
struct ScopedFlushDenormals
{
    unsigned int saved;
    ScopedFlushDenormals() : saved(_mm_getcsr()) { _mm_setcsr(saved | 0x8040u); }
    ~ScopedFlushDenormals() { _mm_setcsr(saved); }
};
#else
struct ScopedFlushDenormals
{
};
#endif
} // namespace

int64_t ReverbEngine::ringRequest(int line, float hostRate, bool halfRate)
{
    // The rings are as short as the reads allow: what a ring holds beyond its longest read only spreads
    // the writes over more cache. The predelay and early lines count samples at the rate the mode runs.
    const double host = static_cast<double>(hostRate);
    const double r = halfRate ? 0.5 * host : host;
    if (line == 0 || line == 1)
        // Longest tap: 500 ms + 2 + the longest early length + twice the largest early depth (256),
        // plus a block so the newest block never overwrites what it reads.
        return static_cast<int64_t>(std::ceil(r * (0.5 + kLongestEarlyPerSample))) + 2 + 256 + 128;
    if (line >= kFirstEarlyLine && line < kFirstEarlyLine + 16)
        return static_cast<int64_t>(std::ceil(r * kLongestEarlyPerSample)) + 128;
    if (line >= kFirstLateLine && line < kLineCount)
    {
        // Every mode's late lengths scale with the host rate: the longest loop with its modulation fits
        // 16384 samples up to 48 kHz and 32768 up to 96 kHz, and the ring doubles with every further 96 kHz.
        if (hostRate <= 48000.0f)
            return 16000;
        return 32000 * static_cast<int64_t>(std::ceil(host / 96000.0));
    }
    return 32768; // lines no mode reads keep their constructed ring
}

ReverbEngine::ReverbEngine()
{
    hostRate = 48000.0f;
    internalRate = 48000.0f;
    for (int i = 0; i < kLineCount; ++i)
        if (i < 18 || i >= kFirstLateLine)
            lines[i].setMaxDelay(ringRequest(i, hostRate, false));
    // The block buffers are members, zeroed with the object.
    for (int k = 0; k < kNumParameters; ++k)
    {
        const ParameterInfo& info = kParameterTable[static_cast<size_t>(k)];
        EngineParameter& p = parameters[static_cast<size_t>(k)];
        p.minimum = info.minimum;
        p.maximum = info.maximum;
        p.defaultValue = info.defaultValue;
        p.value = -10000.0f;
        p.normalised = -1.0f;
        p.curve = info.curve;
        p.label = info.label;
        p.unit = info.unit;
    }
    framePosition = 0;
    toneCutoff = 25.0f;
    designToneSections();
    for (int i = 40; i < 50; ++i)
        rotators[i].setAmount(0.5f);
    for (auto& b : highCut)
        b.setSmoothing(kFrame, 50.0f, hostRate);
    mixSmoothingCoefficient = OnePole::coefficientFromTime(50.0f, hostRate);
    crossoverGlide = OnePole::coefficientFromTime(50.0f, hostRate / static_cast<float>(kFrame));
    initLargeRoom();
}

void ReverbEngine::reset()
{
    for (int n = 0; n < 32; ++n)
    {
        lines[kFirstLateLine + n].clear();
        bassCrossover[n].reset();
        highCrossover[n].reset();
    }
    for (int i = 0; i < 16; ++i)
        lines[kFirstEarlyLine + i].clear();
    // A ring changes size (and is cleared by that) only when the host rate crosses a size step or a
    // switch crosses between the host-rate and the half-rate modes.
    for (int i = 0; i < kLineCount; ++i)
        if (i < 18 || i >= kFirstLateLine)
            lines[i].setMaxDelay(ringRequest(i, hostRate, isHalfRateMode(modeIndex)));
    for (int ch = 0; ch < 2; ++ch)
    {
        lines[ch].clear();
        auxiliary[ch].reset();
        highCut[ch].reset();
        highCutShelf[ch].reset();
        toneIn[ch].reset();
        toneOut[ch].reset();
    }
    for (auto& f : decimators)
        f.reset();
    for (auto& f : interpolators)
        f.reset();
    for (auto* buffers : {&frame, &copy, &branchA, &branchB, &early, &late})
        for (auto& b : *buffers)
            vec::clear(b, kFrame);
    for (auto& b : scratch)
        vec::clear(b, kFrame);
    for (auto& b : lineBuffer)
        vec::clear(b, kFrame);
    for (auto& b : lineBufferB)
        vec::clear(b, kFrame);
    snapCrossovers();
}

void ReverbEngine::prepareForRate(int rate)
{
    const float r = static_cast<float>(rate);
    for (int i = 0; i < kLineCount; ++i)
        if (i < 18 || i >= kFirstLateLine)
            lines[i].reserve(ringSizeFor(ringRequest(i, r, false))); // the host-rate modes' are the longest
}

void ReverbEngine::setSampleRate(int rate)
{
    const float r = static_cast<float>(rate);
    if (r == hostRate)
        return;
    hostRate = r;
    reset();
    internalRate = isHalfRateMode(modeIndex) ? hostRate * 0.5f : hostRate;
    designToneSections();
    applyParameter(kLateSize);
    applyParameter(kEarlySize);
    applyParameter(kRTXover);
    applyParameter(kRTHighXover);
    applyParameter(kEarlyModRate);
    applyParameter(kEarlyModDepth);
    applyParameter(kLateModRate);
    applyParameter(kLateModDepth);
    applyParameter(kHighCut);
    applyParameter(kPredelay);
    for (auto& b : highCut)
        b.setSmoothing(kFrame, 50.0f, hostRate);
    mixSmoothingCoefficient = OnePole::coefficientFromTime(50.0f, hostRate);
    crossoverGlide = OnePole::coefficientFromTime(50.0f, hostRate / static_cast<float>(kFrame));
    snapCrossovers();
}

namespace
{
float glide(float value, float target, float c)
{
    const float next = (target - value) * c + value;
    // Lands exactly on the target, so that a settled filter is the designed one: within a millionth of
    // it, or once the step rounds to nothing (which at most rates comes a little before that).
    return next == value || std::fabs(target - next) <= 1e-6f * std::fabs(target) ? target : next;
}
} // namespace

void ReverbEngine::glideCrossovers()
{
    bassCrossoverCoefficient = glide(bassCrossoverCoefficient, bassCrossoverTarget, crossoverGlide);
    highCrossoverCoefficient = glide(highCrossoverCoefficient, highCrossoverTarget, crossoverGlide);
}

void ReverbEngine::snapCrossovers()
{
    bassCrossoverCoefficient = bassCrossoverTarget;
    highCrossoverCoefficient = highCrossoverTarget;
}

void ReverbEngine::setParameterNormalised(int k, float x)
{
    if (k < 0 || k >= kNumParameters)
        return;
    EngineParameter& p = parameters[static_cast<size_t>(k)];
    if (p.normalised == x)
        return;
    p.normalised = x;
    p.valueFromNormalised();
    applyParameter(k);
}

float ReverbEngine::getParameterValue(int k) const
{
    return k >= 0 && k < kNumParameters ? parameters[static_cast<size_t>(k)].value : 0.0f;
}

float ReverbEngine::getParameterNormalised(int k) const
{
    return k >= 0 && k < kNumParameters ? parameters[static_cast<size_t>(k)].normalised : 0.0f;
}

float ReverbEngine::getDefaultNormalised(int k) const
{
    return k >= 0 && k < kNumParameters ? parameters[static_cast<size_t>(k)].defaultNormalised() : 0.0f;
}

const ModeRoutines& ReverbEngine::routines() const
{
    return kModeTable[modeIndex < static_cast<uint32_t>(kNumModes) ? modeIndex : 0];
}

namespace
{
// A record nothing has set yet: it holds -10000, a rate that turns a modulator's direction round
// (setRate keeps the sign of the step, and the step size comes out negative). The clamp below keeps
// -10000 out of everything else; the direction is the one trace it leaves.
bool neverSet(const EngineParameter& record)
{
    return record.value == -10000.0f;
}
} // namespace

void ReverbEngine::applyParameter(int k)
{
    if (k < 0 || k >= kNumParameters)
        return;
    const EngineParameter& record = parameters[static_cast<size_t>(k)];
    // The record keeps what was set, but the network only ever sees the published range: a decay of
    // zero or below, a cut-off above Nyquist or a negative size would make it unstable, and a longer
    // predelay than 500 ms would not fit its ring. NaN falls back to the default. The type value is
    // mapped unclamped: out of range it selects mode 0.
    float x = record.value;
    if (k != kType)
        x = std::isnan(x) ? record.defaultValue : std::clamp(x, record.minimum, record.maximum);
    const ModeRoutines& mode = routines();
    const float blockRate = internalRate / blockLength;
    switch (k)
    {
    case kMix:
    {
        const float theta = x * 0.01f * kHalfPi;
        wetTarget = static_cast<float>(std::sin(static_cast<double>(theta)));
        dryTarget = static_cast<float>(std::cos(static_cast<double>(theta)));
        break;
    }
    case kPredelay:
        predelayLength = x * internalRate / 1000.0f + 2.0f;
        break;
    case kDecay:
        decay = x;
        bassDecay = x * bassMultiplier;
        alternativeBassDecay = bassMultiplier > 1.0f
                                   ? static_cast<float>(std::sqrt(static_cast<double>(bassMultiplier))) * x
                                   : x * bassMultiplier;
        highDecay = x * highMultiplier;
        (this->*mode.updateDecayMid)();
        (this->*mode.updateDecayBass)();
        (this->*mode.updateDecayHigh)();
        break;
    case kHighCut:
    {
        highCutFrequency = x;
        const float cutoff = belowNyquist(x, hostRate);
        for (int ch = 0; ch < 2; ++ch)
        {
            highCut[ch].setDesign(cutoff, 0.7071f, hostRate);
            highCutShelf[ch].setDesign(cutoff, 1.0f, 0.01f, hostRate);
        }
        break;
    }
    case kEarlyLateMix:
    {
        const float theta = (x * 0.998f + 0.001f) * 0.01f * kHalfPi;
        earlyGain = static_cast<float>(std::cos(static_cast<double>(theta)));
        lateGain = static_cast<float>(std::sin(static_cast<double>(theta)));
        break;
    }
    case kLateSize:
        lateSize = x;
        (this->*mode.setLateSize)(x);
        break;
    case kLateCross:
    {
        const float a = static_cast<float>(static_cast<double>(x) * 0.999 + 0.001);
        lateCrossAmount = a;
        const bool dense = modeIndex == static_cast<uint32_t>(ReverbMode::DenseRoom);
        for (int i = 16; i < 32; ++i)
            rotators[i].setAmount(dense ? a : a * 0.5f);
        break;
    }
    case kLateModRate:
        lateModRate = x;
        for (int i = 0; i < 32; ++i)
        {
            const float fi = static_cast<float>(i);
            lateModulators[i].setRate(x + 0.0311f * fi, blockRate);
            lateModulators[i].setRandomPeriod(x * 4.67f + 0.0538f * fi, blockRate);
            if (neverSet(record))
                lateModulators[i].step = -lateModulators[i].step;
        }
        break;
    case kLateModDepth:
        lateModDepth = 128.0f * x * internalRate / hostRate * lowRateDepthScale();
        break;
    case kRTBassMultiply:
        bassMultiplier = x;
        bassDecay = x * decay;
        alternativeBassDecay =
            x > 1.0f ? static_cast<float>(std::sqrt(static_cast<double>(x))) * decay : decay * x;
        (this->*mode.updateDecayBass)();
        break;
    case kRTXover:
        bassCrossoverTarget = OnePole::coefficientFromFrequency(x, internalRate);
        break;
    case kRTHighMultiply:
        highMultiplier = x;
        highDecay = x * decay;
        (this->*mode.updateDecayHigh)();
        break;
    case kRTHighXover:
        highCrossoverTarget = OnePole::coefficientFromFrequency(x, internalRate);
        break;
    case kEarlySize:
        earlySize = x;
        (this->*mode.setEarlySize)();
        break;
    case kEarlyCross:
    {
        const float a = x * 0.999f + 0.001f;
        earlyCrossAmount = a;
        for (int i = 0; i < 8; ++i)
            rotators[i].setAmount(i % 2 == 0 ? a * 0.5f : -a * 0.5f);
        break;
    }
    case kEarlyModRate:
        earlyModRate = x;
        earlyModulators[0].setRate(x, blockRate);
        earlyModulators[0].setRandomPeriod(x * 4.67f, blockRate);
        earlyModulators[1].setRate(x + 0.0311f, blockRate);
        earlyModulators[1].setRandomPeriod(x * 4.67f + 0.0538f, blockRate);
        if (neverSet(record))
            for (Modulator& m : earlyModulators)
                m.step = -m.step;
        break;
    case kEarlyModDepth:
        earlyModDepth = 128.0f * x * internalRate / hostRate * lowRateDepthScale();
        break;
    case kEarlySend:
    {
        const float theta = x * kHalfPi;
        earlySendCosine = static_cast<float>(std::cos(static_cast<double>(theta)));
        earlySendSine = static_cast<float>(std::sin(static_cast<double>(theta)));
        break;
    }
    case kDiffusion:
        diffusion = x;
        for (int i = 32; i < 40; ++i)
            rotators[i].setAmount((x * 0.999f + 0.001f) * 0.5f);
        break;
    case kType:
    {
        // Runs on every change of the type value, even when the mode stays: a re-select clears the tail.
        // Every init<Mode> starts with the reset the switch needs (nothing between would differ).
        modeIndex = modeFromTypeValue(x);
        (this->*routines().init)();
        break;
    }
    default:
        break;
    }
}

void ReverbEngine::process(const float* const* in, float* const* out, int numSamples, int numChannels)
{
    if (numSamples < 1)
        return;
    ScopedFlushDenormals flush;
    (this->*routines().process)(in, out, numSamples, numChannels);
}

} // namespace kestrune
