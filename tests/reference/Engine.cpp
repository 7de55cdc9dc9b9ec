#include "Engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace kestrune::reference
{

namespace
{

struct Row
{
    float minimum, maximum, defaultValue;
    std::uint32_t curve;
};

constexpr Row kParameterTable[Engine::kParameters] = {
    {0.0f, 100.0f, 100.0f, 0},      {0.0f, 500.0f, 10.0f, 0},       {0.1f, 100.0f, 2.0f, 0},
    {100.0f, 15000.0f, 8000.0f, 0}, {0.0f, 100.0f, 50.0f, 0},       {0.0f, 1.0f, 0.5f, 0},
    {0.0f, 1.0f, 1.0f, 0},          {0.05f, 5.0f, 0.5f, 0},         {0.0f, 1.0f, 0.5f, 0},
    {0.5f, 2.0f, 1.0f, 0},          {100.0f, 10000.0f, 1000.0f, 0}, {0.1f, 1.0f, 0.5f, 0},
    {100.0f, 15000.0f, 8000.0f, 0}, {1.0f, 1000.0f, 30.0f, 0},      {0.0f, 1.0f, 0.1f, 0},
    {0.05f, 5.0f, 0.5f, 0},         {0.0f, 1.0f, 0.0f, 0},          {0.0f, 1.0f, 0.0f, 0},
    {0.0f, 1.0f, 1.0f, 0},          {0.0f, 12.0f, 1.0f, 3},
};

constexpr float kPi = 3.1415927f;

// Flush-to-zero and denormals-are-zero for one process call, as the engine runs its blocks.
class DenormalGuard
{
  public:
    DenormalGuard()
    {
#if defined(__x86_64__) || defined(__i386__)
        saved = _mm_getcsr();
        _mm_setcsr(saved | 0x8040u);
#elif defined(__aarch64__)
        __asm__ __volatile__("mrs %0, fpcr" : "=r"(saved));
        const std::uint64_t flushing = saved | (1ull << 24);
        __asm__ __volatile__("msr fpcr, %0" : : "r"(flushing));
#endif
    }
    ~DenormalGuard()
    {
#if defined(__x86_64__) || defined(__i386__)
        _mm_setcsr(saved);
#elif defined(__aarch64__)
        __asm__ __volatile__("msr fpcr, %0" : : "r"(saved));
#endif
    }
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

  private:
#if defined(__aarch64__)
    std::uint64_t saved = 0;
#else
    unsigned saved = 0;
#endif
};

// Ring requests above 48 kHz: large enough that nothing any mode reads at that rate wraps. Up to 48 kHz the
// product's sizes hold every read.
std::int64_t aboveRate(float hostRate, double perHz, std::int64_t extra, std::int64_t atMost48k)
{
    const auto needed = static_cast<std::int64_t>(std::ceil(static_cast<double>(hostRate) * perHz)) + extra;
    return std::max(needed, atMost48k);
}

const float kEarlyRatios[16] = {118.00702f, 155.41524f, 204.68187f, 269.56604f, 355.01846f, 467.5593f,
                                615.77563f, 810.9765f,  143.81697f, 181.68245f, 229.51752f, 289.94702f,
                                366.287f,   462.72647f, 584.55743f, 738.46515f};

} // namespace

float Engine::defaultNormalised(int k)
{
    if (k < 0 || k >= kParameters)
        return 0.0f;
    const Row& r = kParameterTable[k];
    return (r.defaultValue - r.minimum) / (r.maximum - r.minimum);
}

Engine::Engine() : lines(84)
{
    hostRate = 48000.0f;
    internalRate = 48000.0f;
    sizeRings();
    for (int k = 0; k < kParameters; ++k)
    {
        const Row& r = kParameterTable[k];
        records[k] = Record{r.minimum, r.maximum, r.defaultValue, -10000.0f, -1.0f, r.curve};
    }
    framePosition = 0;
    toneCutoff = 25.0f;
    designToneSections();
    for (int i = 40; i <= 49; ++i)
        rotators[i].setAmount(0.5f);
    for (auto& b : highCut)
        b.setSmoothing(64, 50.0f, hostRate);
    mixCoefficient = coefficientFromTime(50.0f, hostRate);
    setCrossoverGlide();
    // The first set-up runs while every record still holds its never-set value: it sees each range's minimum,
    // and the modulators start stepping downwards (see applyParameter).
    mode = 0;
    runSetUp();
}

float Engine::clampedValue(int k) const
{
    const Record& r = records[k];
    return k == 19 ? r.value : std::clamp(r.value, r.minimum, r.maximum);
}

void Engine::setCrossoverGlide()
{
    // 50 ms counted in 64-sample frames at the host rate
    crossoverGlide = coefficientFromTime(50.0f, hostRate / 64.0f);
}

void Engine::snapCrossovers()
{
    bassCoefficient = bassTarget;
    highCoefficient = highTarget;
}

void Engine::glideCrossovers()
{
    // within 1e-6 of the target, or once the float step rounds to nothing, it snaps onto it
    auto glide = [this](float& c, float target)
    {
        const float next = (target - c) * crossoverGlide + c;
        c = next == c || std::fabs(target - next) <= 1e-6f * std::fabs(target) ? target : next;
    };
    glide(bassCoefficient, bassTarget);
    glide(highCoefficient, highTarget);
}

void Engine::setParameterNormalised(int k, float x)
{
    if (k < 0 || k >= kParameters)
        return;
    Record& r = records[k];
    if (r.normalised == x)
        return;
    r.normalised = x;
    float v = r.curve == 3 ? (r.maximum - r.minimum) * x : r.minimum + (r.maximum - r.minimum) * x;
    // Kept inside the published range (a NaN takes the default); the mode selector keeps its own fallback.
    if (std::isnan(v))
        v = r.defaultValue;
    else if (k != 19)
        v = std::clamp(v, r.minimum, r.maximum);
    r.value = v;
    applyParameter(k);
}

void Engine::designToneSections()
{
    // kept below Nyquist at low rates; the stored cut-off stays
    float d[3];
    designFirstOrderTone(d, std::min(toneCutoff, 0.45f * internalRate), internalRate);
    const float a = d[0];
    for (int c = 0; c < 2; ++c)
    {
        toneIn[c].setCoefficients(0.0f, a, 1.0f);
        toneOut[c].setCoefficients(a, 1.0f, 0.0f);
    }
}

void Engine::sizeRings()
{
    if (hostRate > 48000.0f)
    {
        // predelay: 500 ms + 2 + the longest early length + twice the widest early depth
        const std::int64_t predelayRequest = aboveRate(hostRate, 0.771, 264, 65000);
        const std::int64_t earlyRequest = aboveRate(hostRate, 0.271, 4, 16000);
        // late: the longest loop of any mode is about a third of a second, plus 128 samples of modulation
        const std::int64_t lateRequest = aboveRate(hostRate, 1.0 / 3.0, 256, 32000);
        lines[0].setMaxDelay(predelayRequest);
        lines[1].setMaxDelay(predelayRequest);
        for (int n = 2; n <= 17; ++n)
            lines[n].setMaxDelay(earlyRequest);
        for (int n = 52; n <= 83; ++n)
            lines[n].setMaxDelay(lateRequest);
    }
    else
    {
        lines[0].setMaxDelay(65000);
        lines[1].setMaxDelay(65000);
        for (int n = 2; n <= 17; ++n)
            lines[n].setMaxDelay(16000);
        for (int n = 52; n <= 67; ++n)
            lines[n].setMaxDelay(16000);
        for (int n = 68; n <= 83; ++n)
            lines[n].setMaxDelay(32000);
    }
}

void Engine::reset()
{
    for (int n = 52; n <= 83; ++n)
    {
        lines[n].clear();
        bassCrossover[n - 52].reset();
        highCrossover[n - 52].reset();
    }
    for (int n = 2; n <= 17; ++n)
        lines[n].clear();
    sizeRings();
    for (int c = 0; c < 2; ++c)
    {
        lines[c].clear();
        auxiliary[c].reset();
        highCut[c].reset();
        shelf[c].reset();
        toneIn[c].reset();
        toneOut[c].reset();
    }
    for (auto& h : decimators)
        h.reset();
    for (auto& h : interpolators)
        h.reset();
    std::memset(frame, 0, sizeof frame);
    std::memset(copy, 0, sizeof copy);
    std::memset(branchA, 0, sizeof branchA);
    std::memset(branchB, 0, sizeof branchB);
    std::memset(early, 0, sizeof early);
    std::memset(late, 0, sizeof late);
    std::memset(lineBuffer, 0, sizeof lineBuffer);
    snapCrossovers();
}

void Engine::setSampleRate(int rate)
{
    if (static_cast<float>(rate) == hostRate)
        return;
    hostRate = static_cast<float>(rate);
    reset();
    internalRate = spec().halfRate ? hostRate * 0.5f : hostRate;
    designToneSections();
    for (int k : {5, 13, 10, 12, 15, 16, 7, 8, 3, 1})
        applyParameter(k);
    for (auto& b : highCut)
        b.setSmoothing(64, 50.0f, hostRate);
    mixCoefficient = coefficientFromTime(50.0f, hostRate);
    setCrossoverGlide();
    snapCrossovers();
}

void Engine::runSetUp()
{
    const ModeSpec& m = spec();
    if (m.sizeConstant >= 0.0f)
        sizeConstant = m.sizeConstant;
    if (m.lineCount != 0)
        lineCount = m.lineCount;
    if (m.outputGain >= 0.0f)
        outputGain = m.outputGain;
    reset();
    internalRate = m.halfRate ? hostRate * 0.5f : hostRate;
    blockLength = m.halfRate ? 32.0f : 64.0f;
    toneCutoff = m.toneCutoff;
    designToneSections();
    m.setLateSize(*this, lateSize);
    setEarlySize();
    m.decayMid(*this);
    m.decayBass(*this);
    m.decayHigh(*this);
    for (int k : {10, 12, 15, 16, 7, 8, 3, 1, 6})
        applyParameter(k);
    if (m.writeSigns)
        m.writeSigns(*this);
    snapCrossovers();
}

void Engine::switchMode(float typeValue)
{
    const float whole = std::floor(typeValue);
    int m = 0;
    if (whole >= -1.0e9f && whole <= 1.0e9f) // an out-of-range value selects mode 0 below
        m = std::max(static_cast<int>(whole) - 1, 0);
    if (m >= 2 && m <= 11)
        mode = static_cast<std::uint32_t>(m);
    else if (m == 1)
        mode = 1;
    else
        mode = 0;
    reset();
    runSetUp();
}

void Engine::setEarlySize()
{
    const float e = earlySize * internalRate / 2.997e6f;
    for (int k = 0; k < 16; ++k)
    {
        earlyLength[k] = kEarlyRatios[k] * e;
        earlyFloor[k] = static_cast<std::int64_t>(std::floor(earlyLength[k]));
    }
}

float Engine::depthScale() const
{
    // below 44.1 kHz the same depth in samples would be a wider swing in time than the loops were tuned for
    return std::fmin(1.0f, hostRate / 44100.0f);
}

void Engine::applyParameter(int k)
{
    if (k < 0 || k >= kParameters)
        return;
    const float x = clampedValue(k);
    // A never-set rate record leaves one trace: the modulators start the other way round, as a negative rate
    // would turn them.
    const bool neverSet = records[k].value == -10000.0f;
    const float blockRate = internalRate / blockLength;
    const ModeSpec& m = spec();
    switch (k)
    {
    case 0:
    {
        const float theta = x * 0.01f * kPi * 0.5f;
        wetTarget = static_cast<float>(std::sin(static_cast<double>(theta)));
        dryTarget = static_cast<float>(std::cos(static_cast<double>(theta)));
        break;
    }
    case 1:
        predelay = x * internalRate / 1000.0f + 2.0f;
        break;
    case 2:
        decay = x;
        bassDecay = x * bassMultiplier;
        alternativeBassDecay = bassMultiplier > 1.0f ? std::sqrt(bassMultiplier) * x : x * bassMultiplier;
        highDecay = x * highMultiplier;
        m.decayMid(*this);
        m.decayBass(*this);
        m.decayHigh(*this);
        break;
    case 3:
    {
        highCutFrequency = x;
        // kept below Nyquist at low rates
        const float f = std::min(x, 0.45f * hostRate);
        for (auto& h : highCut)
            h.design(f, 0.7071f, hostRate);
        for (auto& s : shelf)
            s.design(f, hostRate);
        break;
    }
    case 4:
    {
        const float theta = (x * 0.998f + 0.001f) * 0.01f * kPi * 0.5f;
        earlyGain = static_cast<float>(std::cos(static_cast<double>(theta)));
        lateGain = static_cast<float>(std::sin(static_cast<double>(theta)));
        break;
    }
    case 5:
        lateSize = x;
        m.setLateSize(*this, x);
        break;
    case 6:
    {
        const auto a = static_cast<float>(static_cast<double>(x) * 0.999 + 0.001);
        lateCross = a;
        // "Dense Room" turns its pairs by the full amount
        for (int i = 16; i <= 31; ++i)
            rotators[i].setAmount(mode == 11 ? a : a * 0.5f);
        break;
    }
    case 7:
        lateModRate = x;
        for (int i = 0; i < 32; ++i)
        {
            const auto fi = static_cast<float>(i);
            lateModulators[i].setRate(x + 0.0311f * fi, blockRate);
            lateModulators[i].setRandomPeriod(x * 4.67f + 0.0538f * fi, blockRate);
            if (neverSet)
                lateModulators[i].step = -lateModulators[i].step;
        }
        break;
    case 8:
        lateDepth = 128.0f * x * internalRate / hostRate * depthScale();
        break;
    case 9:
        bassMultiplier = x;
        bassDecay = x * decay;
        alternativeBassDecay = x > 1.0f ? std::sqrt(x) * decay : decay * x;
        m.decayBass(*this);
        break;
    case 10:
        bassTarget = coefficientFromFrequency(x, internalRate);
        break;
    case 11:
        highMultiplier = x;
        highDecay = x * decay;
        m.decayHigh(*this);
        break;
    case 12:
        highTarget = coefficientFromFrequency(x, internalRate);
        break;
    case 13:
        earlySize = x;
        setEarlySize();
        break;
    case 14:
    {
        const float a = x * 0.999f + 0.001f;
        earlyCross = a;
        for (int i = 0; i < 8; ++i)
            rotators[i].setAmount(i % 2 == 0 ? a * 0.5f : -(a * 0.5f));
        break;
    }
    case 15:
        earlyModRate = x;
        earlyModulators[0].setRate(x, blockRate);
        earlyModulators[0].setRandomPeriod(x * 4.67f, blockRate);
        earlyModulators[1].setRate(x + 0.0311f, blockRate);
        earlyModulators[1].setRandomPeriod(x * 4.67f + 0.0538f, blockRate);
        if (neverSet)
            for (auto& e : earlyModulators)
                e.step = -e.step;
        break;
    case 16:
        earlyDepth = 128.0f * x * internalRate / hostRate * depthScale();
        break;
    case 17:
    {
        const float theta = x * kPi * 0.5f;
        earlySendCos = static_cast<float>(std::cos(static_cast<double>(theta)));
        earlySendSin = static_cast<float>(std::sin(static_cast<double>(theta)));
        break;
    }
    case 18:
        diffusion = x;
        for (int i = 32; i <= 39; ++i)
            rotators[i].setAmount((x * 0.999f + 0.001f) * 0.5f);
        break;
    case 19:
        switchMode(x);
        break;
    default:
        break;
    }
}

void Engine::process(const float* inL, const float* inR, float* outL, float* outR, int numSamples)
{
    if (numSamples < 1)
        return;
    DenormalGuard guard;
    for (int i = 0; i < numSamples; ++i)
    {
        const float w = wet.step(wetTarget, mixCoefficient);
        const float d = dry.step(dryTarget, mixCoefficient);
        // a non-finite sample would stay in the loops for good, and a host may pass it on: it counts as 0
        const float l = std::isfinite(inL[i]) ? inL[i] : 0.0f;
        const float r = std::isfinite(inR[i]) ? inR[i] : 0.0f;
        const int p = framePosition;
        outL[i] = l * d + frame[0][p] * w;
        outR[i] = r * d + frame[1][p] * w;
        frame[0][p] = l;
        frame[1][p] = r;
        if (++framePosition == 64)
        {
            framePosition = 0;
            runFrame();
        }
    }
}

void Engine::runFrame()
{
    const ModeSpec& m = spec();
    const int B = m.halfRate ? 32 : 64;
    const float rampFactor = 1.0f / static_cast<float>(B);

    glideCrossovers();

    // 1. modulators
    float u[2], v[2];
    const float depth = earlyDepth * m.earlyDepthFactor;
    for (int e = 0; e < 2; ++e)
    {
        earlyModulators[e].advance(Modulator::Draw::Generator, Modulator::Form::Folded);
        const float t = earlyModulators[e].folded();
        u[e] = (t + 1.0f) * depth;
        v[e] = (1.0f - t) * depth;
    }
    m.stepLateModulators(*this);

    // 2. frame copy with the denormal offset
    for (int c = 0; c < 2; ++c)
    {
        if (m.halfRate)
        {
            for (int j = 0; j < 64; ++j)
                copy[c][j] = frame[c][j] + denormalOffset[c];
            denormalOffset[c] = -denormalOffset[c];
        }
        else
        {
            for (int j = 0; j < 64; ++j)
                copy[c][j] = j % 2 == 0 ? frame[c][j] + 1e-20f : frame[c][j];
        }
    }

    // 3. and 4. rate halving, tone input section
    for (int c = 0; c < 2; ++c)
    {
        if (m.halfRate)
        {
            float decimated[32];
            decimators[c].decimate(copy[c], decimated);
            toneIn[c].run(decimated, 32);
            std::memcpy(copy[c], decimated, sizeof decimated);
        }
        else
            toneIn[c].run(copy[c], 64);
    }

    // 5. and 6.
    std::memset(early, 0, sizeof early);
    std::memset(late, 0, sizeof late);
    lines[0].writeBlock(copy[0], B);
    lines[1].writeBlock(copy[1], B);

    // 7. and 8. predelay taps into the two early branches
    const float P = predelay;
    lines[0].readRamped(branchA[0], B, P + u[0], 0, rampFactor, Interpolation::FirstOrderAllpass);
    lines[0].readRamped(branchB[0], B, P + earlyLength[7] + v[0], 1, rampFactor,
                        Interpolation::FirstOrderAllpass);
    lines[1].readRamped(branchA[1], B, P + u[1], 0, rampFactor, Interpolation::FirstOrderAllpass);
    lines[1].readRamped(branchB[1], B, P + earlyLength[15] + v[1], 1, rampFactor,
                        Interpolation::FirstOrderAllpass);
    rotators[46].rotate(branchA[0], branchB[0], B);
    rotators[47].rotate(branchA[1], branchB[1], B);

    // 9. late input: the predelayed input at the whole-sample predelay
    const auto wholePredelay = static_cast<std::int64_t>(std::trunc(P));
    for (int c = 0; c < 2; ++c)
    {
        lines[c].readInteger(copy[c], B, wholePredelay);
        for (int j = 0; j < B; ++j)
            copy[c][j] = copy[c][j] * earlySendCos;
    }

    // 10. early diffusion
    for (int s = 0; s < 7; ++s)
    {
        for (int c = 0; c < 2; ++c)
        {
            DelayLine& line = lines[2 + 8 * c + s];
            line.writeBlock(branchA[c], B);
            line.readInteger(branchA[c], B, earlyFloor[s + 8 * c]);
            rotators[32 + c + 2 * s].rotate(branchA[c], branchB[c], B);
        }
        rotators[s].rotate(branchA[0], branchA[1], B);
    }

    // 11. and 12. early output, then the early-send blend that feeds the late network
    for (int c = 0; c < 2; ++c)
    {
        for (int j = 0; j < B; ++j)
            early[c][j] = branchB[c][j] * earlyGain;
        for (int j = 0; j < B; ++j)
        {
            branchA[c][j] = branchA[c][j] * earlySendSin + copy[c][j];
            branchB[c][j] = branchB[c][j] * earlySendSin + copy[c][j];
        }
    }

    // 13. late network
    m.lateNetwork(*this);

    // 14. late-output normalisation
    for (int c = 0; c < 2; ++c)
    {
        if (m.normalisation == Normalisation::TwoBand)
        {
            float lo[64];
            auxiliary[c].run(late[c], lo, B, bassCoefficient);
            for (int j = 0; j < B; ++j)
                late[c][j] = (late[c][j] - lo[j]) * midNorm + lo[j] * bassNorm;
        }
        else if (m.normalisation == Normalisation::Single)
        {
            for (int j = 0; j < B; ++j)
                late[c][j] = late[c][j] * midNorm;
        }
    }

    // 15. and 16. early/late mix and the output filters
    for (int c = 0; c < 2; ++c)
    {
        for (int j = 0; j < B; ++j)
            frame[c][j] = late[c][j] * lateGain + early[c][j];
        if (!m.halfRate)
        {
            toneOut[c].run(frame[c], 64);
            highCut[c].runDirect(frame[c], 64);
            continue;
        }
        toneOut[c].run(frame[c], 32);
        interpolators[c].upsample(frame[c], frame[c]);
        switch (m.highCut)
        {
        case HighCut::Direct:
            highCut[c].runDirect(frame[c], 64);
            break;
        case HighCut::Smoothed:
            highCut[c].runSmoothed(frame[c], 64);
            break;
        case HighCut::Shelf:
            shelf[c].run(frame[c], 64);
            break;
        }
    }

    // 17. ring advance
    for (int n = 0; n <= 17; ++n)
        lines[n].advance(B);
    for (int j = 0; j < m.lateLinesUsed; ++j)
        lateLine(j).advance(B);

    // 18. a state that went non-finite would never recover: start again from silence
    for (int c = 0; c < 2; ++c)
        for (int j = 0; j < 64; ++j)
            if (!std::isfinite(frame[c][j]))
            {
                reset();
                return;
            }
}

} // namespace kestrune::reference
