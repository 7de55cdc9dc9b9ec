#include "ReverbEngine.h"
#include "Dispatch.h"
#include "StereoFilters.h"
#include "WideLines.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <xmmintrin.h>
#define KESTRUNE_SSE 1
#endif

namespace kestrune
{

namespace
{
// Early lengths per unit of earlySize × rate / 2.997e6: E[0..7] left, E[8..15] right.
constexpr float kEarlyRatios[16] = {118.00702f, 155.41524f, 204.68187f, 269.56604f, 355.01846f, 467.5593f,
                                    615.77563f, 810.9765f,  143.81697f, 181.68245f, 229.51752f, 289.94702f,
                                    366.287f,   462.72647f, 584.55743f, 738.46515f};
} // namespace

double ReverbEngine::decayFactor(float length, float seconds, float rate)
{
    const float exponent = -6.9077554f * length / (seconds * rate);
    return std::exp(static_cast<double>(exponent));
}

float ReverbEngine::decayGain(float length, float seconds, float rate)
{
    return static_cast<float>(decayFactor(length, seconds, rate));
}

void ReverbEngine::computeMidGains(float normalisationFactor)
{
    for (int n = 0; n < 32; ++n)
        midGains[n] = decayGain(lateLengths[n], decay, internalRate);
    midNormalisation = normalisationFactor * std::sqrt(sizeTotal / (decay * internalRate));
}

void ReverbEngine::computeBassGains(float normalisationFactor)
{
    for (int n = 0; n < 32; ++n)
        bassGains[n] = decayGain(lateLengths[n], bassDecay, internalRate);
    bassNormalisation = normalisationFactor * std::sqrt(sizeTotal / (bassDecay * internalRate));
}

void ReverbEngine::computeHighRatios()
{
    for (int n = 0; n < 32; ++n)
        highRatios[n] =
            static_cast<float>(decayFactor(lateLengths[n], highDecay, internalRate) / static_cast<double>(midGains[n]));
}

void ReverbEngine::setEarlySizeShared()
{
    const float e = earlySize * internalRate / 2.997e6f;
    for (int k = 0; k < 16; ++k)
    {
        earlyLengths[k] = kEarlyRatios[k] * e;
        earlyFloors[k] = static_cast<int64_t>(std::floor(earlyLengths[k]));
    }
}

void ReverbEngine::designToneSections()
{
    float tone[3];
    designFirstOrderTone(tone, belowNyquist(toneCutoff, internalRate), internalRate);
    for (int ch = 0; ch < 2; ++ch)
    {
        // The allpass (a + z^-1) / (1 + a z^-1), split around the network.
        toneIn[ch].setCoefficients(0.0f, tone[0], 1.0f);
        toneOut[ch].setCoefficients(tone[0], 1.0f, 0.0f);
    }
}

void ReverbEngine::runSetUp(const ModeSetUp& setUp)
{
    sizeConstant = setUp.sizeConstant;
    lineCount = setUp.lineCount;
    outputGain = setUp.outputGain;
    reset();
    const bool halfRate = isHalfRateMode(modeIndex);
    internalRate = halfRate ? hostRate * 0.5f : hostRate;
    blockLength = halfRate ? 32.0f : 64.0f;

    toneCutoff = setUp.toneCutoff;
    designToneSections();

    const ModeRoutines& mode = routines();
    (this->*mode.setLateSize)(lateSize);
    (this->*mode.setEarlySize)();
    (this->*mode.updateDecayMid)();
    (this->*mode.updateDecayBass)();
    (this->*mode.updateDecayHigh)();

    for (int k : {kRTXover, kRTHighXover, kEarlyModRate, kEarlyModDepth, kLateModRate, kLateModDepth,
                  kHighCut, kPredelay, kLateCross})
        applyParameter(k);

    snapCrossovers();
    if (setUp.signTable != nullptr)
        for (int i = 0; i < 16; ++i)
        {
            signMatrix[0][i] = setUp.signTable[i];
            signMatrix[1][i] = setUp.signTable[i];
        }
}

namespace
{
// threeBandDecay on G groups of kLanes<V> lines from line l, side by side: every lane does the
// scalar path's operations in its order.
template <typename V, int G>
KESTRUNE_INLINE void threeBandLines(ReverbEngine& e, int l, int n)
{
    const float cb = e.bassCrossoverCoefficient, keepB = 1.0f - cb;
    const float ch = e.highCrossoverCoefficient, keepH = 1.0f - ch;
    constexpr int W = wide::kLanes<V>;
    V b[G], h[G], mid[G], bass[G], ratio[G];
    float* x[G * W];
    for (int g = 0; g < G; ++g)
    {
        const int first = l + W * g;
        b[g] = wide::lanes<V>([&](int i) { return e.bassCrossover[first + i].state; });
        h[g] = wide::lanes<V>([&](int i) { return e.highCrossover[first + i].state; });
        mid[g] = wide::lanes<V>([&](int i) { return e.midGains[first + i]; });
        bass[g] = wide::lanes<V>([&](int i) { return e.bassGains[first + i]; });
        ratio[g] = wide::lanes<V>([&](int i) { return e.highRatios[first + i]; });
        for (int i = 0; i < W; ++i)
            x[W * g + i] = e.lineBuffer[first + i];
    }
    wide::sideBySide<V, G>(x, n, [&](int g, V& in) {
        b[g] = b[g] * keepB + cb * in;
        const V y = (in - b[g]) * mid[g] + b[g] * bass[g];
        h[g] = h[g] * keepH + ch * y;
        in = (y - h[g]) * ratio[g] + h[g];
    });
    for (int g = 0; g < G; ++g)
    {
        const int first = l + W * g;
        wide::forLanes(b[g], [&](int i, float s) { e.bassCrossover[first + i].state = s; });
        wide::forLanes(h[g], [&](int i, float s) { e.highCrossover[first + i].state = s; });
    }
}
} // namespace

KESTRUNE_DISPATCH void ReverbEngine::threeBandDecay(int first, int count, int n)
{
    const float cb = bassCrossoverCoefficient, keepB = 1.0f - cb;
    const float ch = highCrossoverCoefficient, keepH = 1.0f - ch;
    int done = 0;
    if (wideVectors() && n % 4 == 0)
    {
        // Eight lines per vector (see WideLines.h), two vectors' recursions interleaved where there
        // are sixteen lines, so that each one's latency hides behind the other.
        for (; done + 16 <= count; done += 16)
            threeBandLines<wide::Lines8, 2>(*this, first + done, n);
        for (; done + 8 <= count; done += 8)
            threeBandLines<wide::Lines8, 1>(*this, first + done, n);
    }
#ifdef KESTRUNE_SSE
    // Four lines side by side in one vector, four samples at a time through a 4 x 4 transpose.
    if (n % 4 == 0)
    {
        constexpr int kMaxGroups = 8;
        const int groups = std::min((count - done) / 4, kMaxGroups);
        // Group by group, so that the states and gains stay in registers across the block.
        for (int g = 0; g < groups; ++g)
            threeBandLines<wide::Lines4, 1>(*this, first + done + 4 * g, n);
        done += 4 * groups;
    }
#endif
    for (int l = first + done; l < first + count; ++l)
    {
        // The same operations, in the same order, as OnePole::process over the block.
        float b = bassCrossover[l].state, h = highCrossover[l].state;
        const float mid = midGains[l], bass = bassGains[l], ratio = highRatios[l];
        float* x = lineBuffer[l];
        for (int j = 0; j < n; ++j)
        {
            const float in = x[j];
            b = b * keepB + cb * in;
            const float y = (in - b) * mid + b * bass;
            h = h * keepH + ch * y;
            x[j] = (y - h) * ratio + h;
        }
        bassCrossover[l].state = b;
        highCrossover[l].state = h;
    }
}

namespace
{
#ifdef KESTRUNE_SSE
inline __m128 reversed(__m128 x)
{
    return _mm_shuffle_ps(x, x, _MM_SHUFFLE(0, 1, 2, 3));
}

// A rotator's coefficients, each in all four lanes.
struct QuadRotator
{
    __m128 cosine, sine, negatedSine;
    void load(const Rotator& r)
    {
        cosine = _mm_set1_ps(r.cosine);
        sine = _mm_set1_ps(r.sine);
        negatedSine = _mm_set1_ps(r.negatedSine);
    }
};

// a' = cos a - sin b, b' = sin a + cos b with Rotator::rotate's products and sums.
inline void rotateQuad(const QuadRotator& r, __m128& a, __m128& b)
{
    const __m128 x = a, y = b;
    a = _mm_add_ps(_mm_mul_ps(y, r.negatedSine), _mm_mul_ps(x, r.cosine));
    b = _mm_add_ps(_mm_mul_ps(y, r.cosine), _mm_mul_ps(x, r.sine));
}
#endif

KESTRUNE_INLINE bool earlyDiffusionFused(ReverbEngine& e, int B)
{
#ifdef KESTRUNE_SSE
    // All seven stages four samples at a time: a stage's line is written before it is read, sample
    // by sample, so for any delay inside the ring this is the stage-by-stage block order.
    float* writeAt[14];
    const float* readAt[14];
    for (int s = 0; s < 7; ++s)
        for (int ch = 0; ch < 2; ++ch)
        {
            ModulatedDelayLine& line = e.lines[ReverbEngine::kFirstEarlyLine + 8 * ch + s];
            const int64_t delay = e.earlyFloors[s + 8 * ch];
            if (!line.writeThenReadStaysInside(delay, B))
                return false;
            line.prepareIntegerRead(delay, B);
            // A quad covers positions w - j - 3 .. w - j, stored in reverse.
            writeAt[2 * s + ch] = line.ring() + line.writeIndex() - 3;
            readAt[2 * s + ch] = line.ring() + line.readStart(delay) - 3;
        }
    if (wideVectors())
    {
        // Left in the low half of each vector, right in the high half: one stage for both channels.
        using wide::Lines8;
        struct Coefficients
        {
            Lines8 cosine, sine, negatedSine;
        };
        auto both = [](Lines8& v, float l, float r) { v = Lines8{l, l, l, l, r, r, r, r}; };
        Coefficients diffusion[7], cross[7];
        for (int s = 0; s < 7; ++s)
        {
            const Rotator& l = e.rotators[32 + 2 * s];
            const Rotator& r = e.rotators[33 + 2 * s];
            both(diffusion[s].cosine, l.cosine, r.cosine);
            both(diffusion[s].sine, l.sine, r.sine);
            both(diffusion[s].negatedSine, l.negatedSine, r.negatedSine);
            // Across the channels: left' = right*(-sin) + left*cos, right' = left*sin + right*cos.
            const Rotator& c = e.rotators[s];
            both(cross[s].cosine, c.cosine, c.cosine);
            both(cross[s].sine, c.negatedSine, c.sine);
        }
        // Two groups of four samples per step, so that each channel's results leave as eight-sample
        // stores: the following block steps load them whole (half-width stores would stall them).
        for (int j = 0; j < B; j += 8)
        {
            Lines8 a[2], b[2];
            for (int q = 0; q < 2; ++q)
            {
                wide::join(e.branchA[0] + j + 4 * q, e.branchA[1] + j + 4 * q, a[q]);
                wide::join(e.branchB[0] + j + 4 * q, e.branchB[1] + j + 4 * q, b[q]);
            }
            for (int s = 0; s < 7; ++s)
                for (int q = 0; q < 2; ++q)
                {
                    const int at = j + 4 * q;
                    const Lines8 written = wide::reversedHalves(a[q]);
                    wide::split(written, writeAt[2 * s] - at, writeAt[2 * s + 1] - at);
                    Lines8 read;
                    wide::join(readAt[2 * s] - at, readAt[2 * s + 1] - at, read);
                    const Lines8 x = wide::reversedHalves(read);
                    const Coefficients& d = diffusion[s];
                    const Lines8 y = b[q];
                    a[q] = y * d.negatedSine + x * d.cosine;
                    b[q] = y * d.cosine + x * d.sine;
                    const Lines8 other = wide::swappedHalves(a[q]);
                    a[q] = other * cross[s].sine + a[q] * cross[s].cosine;
                }
            wide::store(e.branchA[0] + j, wide::lowHalves(a[0], a[1]));
            wide::store(e.branchA[1] + j, wide::highHalves(a[0], a[1]));
            wide::store(e.branchB[0] + j, wide::lowHalves(b[0], b[1]));
            wide::store(e.branchB[1] + j, wide::highHalves(b[0], b[1]));
        }
        return true;
    }
    QuadRotator diffusion[14], cross[7];
    for (int s = 0; s < 7; ++s)
    {
        diffusion[2 * s].load(e.rotators[32 + 2 * s]);
        diffusion[2 * s + 1].load(e.rotators[33 + 2 * s]);
        cross[s].load(e.rotators[s]);
    }
    for (int j = 0; j < B; j += 4)
    {
        __m128 aL = _mm_load_ps(e.branchA[0] + j), aR = _mm_load_ps(e.branchA[1] + j);
        __m128 bL = _mm_load_ps(e.branchB[0] + j), bR = _mm_load_ps(e.branchB[1] + j);
        for (int s = 0; s < 7; ++s)
        {
            _mm_storeu_ps(writeAt[2 * s] - j, reversed(aL));
            aL = reversed(_mm_loadu_ps(readAt[2 * s] - j));
            rotateQuad(diffusion[2 * s], aL, bL);
            _mm_storeu_ps(writeAt[2 * s + 1] - j, reversed(aR));
            aR = reversed(_mm_loadu_ps(readAt[2 * s + 1] - j));
            rotateQuad(diffusion[2 * s + 1], aR, bR);
            rotateQuad(cross[s], aL, aR);
        }
        _mm_store_ps(e.branchA[0] + j, aL);
        _mm_store_ps(e.branchA[1] + j, aR);
        _mm_store_ps(e.branchB[0] + j, bL);
        _mm_store_ps(e.branchB[1] + j, bR);
    }
    return true;
#else
    return false;
#endif
}
} // namespace

namespace
{
#ifdef KESTRUNE_SSE
// Late-output normalisation, the early/late mix and the output tone section on one (left, right) pair
// of samples at a time, every state in a register.
class LateMixPair
{
  public:
    LateMixPair(const ReverbEngine& e, FrameConfig::Normalisation normalisation)
        : normalisation(normalisation), tone(e.toneOut[0], e.toneOut[1]),
          low(e.auxiliary[0], e.auxiliary[1], e.bassCrossoverCoefficient), mid(_mm_set1_ps(e.midNormalisation)),
          bass(_mm_set1_ps(e.bassNormalisation)), gain(_mm_set1_ps(e.lateGain))
    {
    }
    __m128 step(__m128 v, __m128 early)
    {
        if (normalisation == FrameConfig::Normalisation::TwoBand)
        {
            __m128 lo = v;
            low.step(lo);
            v = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(v, lo), mid), _mm_mul_ps(lo, bass));
        }
        else if (normalisation == FrameConfig::Normalisation::Single)
            v = _mm_mul_ps(v, mid);
        v = _mm_add_ps(_mm_mul_ps(v, gain), early);
        tone.step(v);
        return v;
    }

    void store(ReverbEngine& e) const
    {
        tone.store(e.toneOut[0], e.toneOut[1]);
        if (normalisation == FrameConfig::Normalisation::TwoBand)
            low.store(e.auxiliary[0], e.auxiliary[1]);
    }

  private:
    const FrameConfig::Normalisation normalisation;
    stereo::FirstOrderPair tone;
    stereo::OnePolePair low;
    const __m128 mid, bass, gain;
};

// At the host rate: the late mix, then the high cut.
template <typename Cut>
KESTRUNE_INLINE void outputPass(ReverbEngine& e, FrameConfig::Normalisation normalisation, Cut& cut)
{
    using namespace stereo;
    LateMixPair mix(e, normalisation);
    for (int j = 0; j < ReverbEngine::kFrame; j += 4)
    {
        __m128 x[4], early[4];
        loadPairs(e.late[0] + j, e.late[1] + j, x);
        loadPairs(e.early[0] + j, e.early[1] + j, early);
        for (int q = 0; q < 4; ++q)
        {
            x[q] = mix.step(x[q], early[q]);
            cut.step(x[q]);
        }
        storePairs(e.frame[0] + j, e.frame[1] + j, x);
    }
    mix.store(e);
}

// At half the host rate: the late mix, the 2x interpolation (upsampleStereo's branches and sums) and
// the high cut on both of each sample's outputs.
template <typename Cut>
KESTRUNE_INLINE void outputPassHalfRate(ReverbEngine& e, FrameConfig::Normalisation normalisation, Cut& cut)
{
    using namespace stereo;
    LateMixPair mix(e, normalisation);
    HalfbandBranches up(e.interpolators[0], e.interpolators[1]);
    __m128 carry = pair(e.interpolators[0].delayState, e.interpolators[1].delayState);
    for (int j = 0; j < ReverbEngine::kFrame / 2; j += 4)
    {
        __m128 x[4], early[4], out[8];
        loadPairs(e.late[0] + j, e.late[1] + j, x);
        loadPairs(e.early[0] + j, e.early[1] + j, early);
        for (int q = 0; q < 4; ++q)
        {
            __m128 even, odd;
            up.interpolate(mix.step(x[q], early[q]), carry, even, odd);
            cut.step(even);
            cut.step(odd);
            out[2 * q] = even;
            out[2 * q + 1] = odd;
        }
        storePairs(e.frame[0] + 2 * j, e.frame[1] + 2 * j, out);
        storePairs(e.frame[0] + 2 * j + 4, e.frame[1] + 2 * j + 4, out + 4);
    }
    mix.store(e);
    up.store(e.interpolators[0], e.interpolators[1]);
    e.interpolators[0].delayState = 0.0f;
    e.interpolators[1].delayState = 0.0f;
}

template <typename Cut>
KESTRUNE_INLINE void outputPassAtRate(ReverbEngine& e, FrameConfig::Normalisation normalisation, Cut& cut,
                                      bool halfRate)
{
    if (halfRate)
        outputPassHalfRate(e, normalisation, cut);
    else
        outputPass(e, normalisation, cut);
}
#endif

// At half the host rate, the frame's steps 2 to 4 in one pass from the frame to the first half of the
// copy: the denormal offset, decimateStereo's branches and sums, and the input tone section. The
// decimators' inputs come from whole-vector loads, and the recursions overlap. False (nothing done)
// where that pass does not apply.
KESTRUNE_INLINE bool inputPassHalfRate(ReverbEngine& e)
{
#ifdef KESTRUNE_SSE
    if (!stereo::HalfbandBranches::fits(e.decimators[0], e.decimators[1]))
        return false;
    using namespace stereo;
    HalfbandBranches branches(e.decimators[0], e.decimators[1]);
    FirstOrderPair tone(e.toneIn[0], e.toneIn[1]);
    const __m128 zero = _mm_setzero_ps(), half = _mm_set1_ps(0.5f);
    __m128 delta[2], previous[2]; // previous: the last odd sample so far, in lane 0
    for (int ch = 0; ch < 2; ++ch)
    {
        delta[ch] = _mm_set1_ps(e.denormal[ch].value);
        previous[ch] = _mm_set_ss(e.decimators[ch].delayState);
    }
    for (int k = 0; k < ReverbEngine::kFrame / 2; k += 4)
    {
        // Rows: the even samples 2k .. 2k + 6 and the odd ones before them, of each channel.
        __m128 rows[4];
        for (int ch = 0; ch < 2; ++ch)
        {
            const __m128 a = _mm_add_ps(_mm_loadu_ps(e.frame[ch] + 2 * k), delta[ch]);
            const __m128 b = _mm_add_ps(_mm_loadu_ps(e.frame[ch] + 2 * k + 4), delta[ch]);
            const __m128 odd = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
            const __m128 rotated = _mm_shuffle_ps(odd, odd, _MM_SHUFFLE(2, 1, 0, 3));
            rows[2 * ch] = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
            rows[2 * ch + 1] = _mm_move_ss(rotated, previous[ch]);
            previous[ch] = rotated;
        }
        // Transposed, row q holds sample k + q's inputs (left A, left B, right A, right B); each then
        // becomes that sample's (left, right) output pair.
        _MM_TRANSPOSE4_PS(rows[0], rows[1], rows[2], rows[3]);
        for (__m128& v : rows)
        {
            const __m128 y = branches.run(v);
            // Lanes 0 and 2: branch A + branch B of each channel, then the half; then the tone section.
            const __m128 sum = _mm_mul_ps(_mm_add_ps(y, _mm_shuffle_ps(y, y, _MM_SHUFFLE(2, 3, 0, 1))), half);
            v = _mm_shuffle_ps(sum, zero, _MM_SHUFFLE(0, 0, 2, 0));
            tone.step(v);
        }
        storePairs(e.copy[0] + k, e.copy[1] + k, rows);
    }
    for (int ch = 0; ch < 2; ++ch)
    {
        e.decimators[ch].delayState = _mm_cvtss_f32(previous[ch]);
        e.denormal[ch].value = -e.denormal[ch].value;
    }
    branches.store(e.decimators[0], e.decimators[1]);
    tone.store(e.toneIn[0], e.toneIn[1]);
    return true;
#else
    (void)e;
    return false;
#endif
}

// Normalisation, mix, tone section, (interpolation) and high cut sample by sample in one pass, each
// step as its own routine does it, so that their recursions overlap. False (nothing done) where that
// pass does not apply.
KESTRUNE_INLINE bool outputPassFused(ReverbEngine& e, const FrameConfig& config, bool halfRate,
                                     const SmoothedBiquad::Coefficients& cutLeft,
                                     const SmoothedBiquad::Coefficients& cutRight)
{
#ifdef KESTRUNE_SSE
    if (halfRate && !stereo::HalfbandBranches::fits(e.interpolators[0], e.interpolators[1]))
        return false;
    if (config.highCut == FrameConfig::HighCut::Shelf)
    {
        stereo::ShelfPair cut(e.highCutShelf[0], e.highCutShelf[1]);
        outputPassAtRate(e, config.normalisation, cut, halfRate);
        cut.store(e.highCutShelf[0], e.highCutShelf[1]);
        return true;
    }
    if (cutLeft.pass || cutRight.pass)
        return false;
    stereo::StateVariablePair cut(e.highCut[0], e.highCut[1], cutLeft, cutRight);
    outputPassAtRate(e, config.normalisation, cut, halfRate);
    cut.store(e.highCut[0], e.highCut[1]);
    return true;
#else
    (void)e, (void)config, (void)halfRate, (void)cutLeft, (void)cutRight;
    return false;
#endif
}
} // namespace

KESTRUNE_DISPATCH void ReverbEngine::processFrame(const float* const* in, float* const* out, int numSamples,
                                const FrameConfig& config)
{
    if (numSamples < 1)
        return;
    const float c = mixSmoothingCoefficient;
    const float* inL = in[0];
    const float* inR = in[1];
    float* outL = out[0];
    float* outR = out[1];
    int p = framePosition;
    int i = 0;
    while (i < numSamples)
    {
        // Up to the end of the frame: the smoothers' recursion first, then the mix four samples at a
        // time with the per-sample products and sums.
        const int count = std::min(numSamples - i, kFrame - p);
        float wet[kFrame], dry[kFrame];
        const float wetBefore = wetSmoother.state, dryBefore = drySmoother.state;
        wet[0] = wetSmoother.smooth(wetTarget, c);
        dry[0] = drySmoother.smooth(dryTarget, c);
        if (std::memcmp(&wet[0], &wetBefore, sizeof(float)) == 0 && std::memcmp(&dry[0], &dryBefore, sizeof(float)) == 0)
        {
            // Settled: a step that leaves both states unchanged leaves them unchanged for good.
            for (int k = 1; k < count; ++k)
            {
                wet[k] = wet[0];
                dry[k] = dry[0];
            }
        }
        else
            for (int k = 1; k < count; ++k)
            {
                wet[k] = wetSmoother.smooth(wetTarget, c);
                dry[k] = drySmoother.smooth(dryTarget, c);
            }
        float* frameL = frame[0] + p;
        float* frameR = frame[1] + p;
        int k = 0;
#ifdef KESTRUNE_SSE
        for (; k + 4 <= count; k += 4)
        {
            // Both inputs are read before the outputs are written: in and out may be the same arrays.
            // x - x is 0 exactly for finite x and NaN for infinities and NaN: those become silence.
            const __m128 zero = _mm_setzero_ps();
            __m128 l = _mm_loadu_ps(inL + i + k), r = _mm_loadu_ps(inR + i + k);
            l = _mm_and_ps(_mm_cmpeq_ps(_mm_sub_ps(l, l), zero), l);
            r = _mm_and_ps(_mm_cmpeq_ps(_mm_sub_ps(r, r), zero), r);
            const __m128 w = _mm_loadu_ps(wet + k), d = _mm_loadu_ps(dry + k);
            _mm_storeu_ps(outL + i + k, _mm_add_ps(_mm_mul_ps(l, d), _mm_mul_ps(_mm_loadu_ps(frameL + k), w)));
            _mm_storeu_ps(outR + i + k, _mm_add_ps(_mm_mul_ps(r, d), _mm_mul_ps(_mm_loadu_ps(frameR + k), w)));
            _mm_storeu_ps(frameL + k, l);
            _mm_storeu_ps(frameR + k, r);
        }
#endif
        for (; k < count; ++k)
        {
            // A NaN or infinity from the host is silence on both paths: in the network it would stay
            // for good, and even at mix 100 the dry gain is not 0 (cos(pi/2) in single precision).
            const float l = std::isfinite(inL[i + k]) ? inL[i + k] : 0.0f;
            const float r = std::isfinite(inR[i + k]) ? inR[i + k] : 0.0f;
            outL[i + k] = l * dry[k] + frameL[k] * wet[k];
            outR[i + k] = r * dry[k] + frameR[k] * wet[k];
            frameL[k] = l;
            frameR[k] = r;
        }
        i += count;
        p += count;
        if (p == kFrame)
        {
            p = 0;
            framePosition = 0;
            runFrame(config);
        }
    }
    framePosition = p;
}

KESTRUNE_DISPATCH void ReverbEngine::runFrame(const FrameConfig& config)
{
    const int B = static_cast<int>(blockLength);
    const bool halfRate = B != kFrame;
    const float rampFactor = 1.0f / blockLength;

    glideCrossovers();

    // 1. Early modulators: folded triangle, own generator.
    const float De = config.earlyDepthFactor * earlyModDepth;
    float u[2], v[2];
    for (int e = 0; e < 2; ++e)
    {
        const float t = earlyModulators[e].advance(Modulator::Draw::Generator, Modulator::Shape::Folded);
        u[e] = (t + 1.0f) * De;
        v[e] = (1.0f - t) * De;
    }

    // The predelay taps' ramps (steps 6-9) first: their chain of additions then runs alongside the
    // input filters' recursions instead of after them.
    const float P = predelayLength;
    const RampedTap taps[4] = {{&lines[0], 0, P + u[0], branchA[0]},
                               {&lines[0], 1, P + earlyLengths[7] + v[0], branchB[0]},
                               {&lines[1], 0, P + u[1], branchA[1]},
                               {&lines[1], 1, P + earlyLengths[15] + v[1], branchB[1]}};
    alignas(32) float predelayRamps[4][ModulatedDelayLine::kMaxBlock];
    accumulateRampGroup(taps, 4, B, rampFactor, predelayRamps);

    // 2-4. Frame copy with the denormal offset, decimation, tone input section.
    if (!halfRate || !inputPassHalfRate(*this))
    {
        for (int ch = 0; ch < 2; ++ch)
        {
            if (!halfRate)
            {
                for (int j = 0; j < kFrame; j += 2)
                {
                    copy[ch][j] = frame[ch][j] + 1e-20f;
                    copy[ch][j + 1] = frame[ch][j + 1];
                }
            }
            else
            {
                const float delta = denormal[ch].value;
                for (int j = 0; j < kFrame; ++j)
                    copy[ch][j] = frame[ch][j] + delta;
                denormal[ch].value = -delta;
            }
        }
        if (halfRate)
        {
            decimateStereo(decimators[0], decimators[1], copy[0], copy[1], scratch[0], scratch[1], B);
            vec::copy(scratch[0], copy[0], B);
            vec::copy(scratch[1], copy[1], B);
        }
        stereo::firstOrder(toneIn[0], toneIn[1], copy[0], copy[1], B);
    }

    // 5. Clear the outputs of the early and late sections.
    for (int ch = 0; ch < 2; ++ch)
    {
        vec::clear(early[ch], kFrame);
        vec::clear(late[ch], kFrame);
    }

    // 6-9. Predelay: write, four ramped taps, 45-degree mix of the taps, late input.
    lines[0].write(copy[0], B);
    lines[1].write(copy[1], B);
    readRampedGroup(taps, 4, B, predelayRamps, ModulatedDelayLine::Interpolation::FirstOrderAllpass);
    rotators[46].rotate(branchA[0], branchB[0], B);
    rotators[47].rotate(branchA[1], branchB[1], B);
    for (int ch = 0; ch < 2; ++ch)
    {
        lines[ch].readInteger(copy[ch], B, P);
        vec::scale(copy[ch], earlySendCosine, copy[ch], B);
    }

    // 10. Seven early diffusion stages, then the cross between channels.
    if (!earlyDiffusionFused(*this, B))
        for (int s = 0; s < 7; ++s)
        {
            for (int ch = 0; ch < 2; ++ch)
            {
                ModulatedDelayLine& line = lines[kFirstEarlyLine + 8 * ch + s];
                line.write(branchA[ch], B);
                line.readInteger(branchA[ch], B, earlyFloors[s + 8 * ch]);
                rotators[32 + ch + 2 * s].rotate(branchA[ch], branchB[ch], B);
            }
            rotators[s].rotate(branchA[0], branchA[1], B);
        }

    // 11-12. Early output and the early-send blend into the late inputs.
    for (int ch = 0; ch < 2; ++ch)
    {
        vec::scale(branchB[ch], earlyGain, early[ch], B);
        vec::scaleAdd(branchA[ch], earlySendSine, copy[ch], branchA[ch], B);
        vec::scaleAdd(branchB[ch], earlySendSine, copy[ch], branchB[ch], B);
    }

    // 13. The mode's late network.
    if (config.lateNetwork != nullptr)
        (this->*config.lateNetwork)();

    // 14-16. Late-output normalisation, the early/late mix and the output filters; the high cut's
    // coefficients are taken once, whichever way the frame runs.
    SmoothedBiquad::Coefficients cutLeft{}, cutRight{};
    if (config.highCut == FrameConfig::HighCut::Direct)
    {
        cutLeft = highCut[0].direct();
        cutRight = highCut[1].direct();
    }
    else if (config.highCut == FrameConfig::HighCut::Smoothed)
    {
        cutLeft = highCut[0].nextSmoothed();
        cutRight = highCut[1].nextSmoothed();
    }
    if (!outputPassFused(*this, config, halfRate, cutLeft, cutRight))
    {
        float lo[2][kFrame];
        if (config.normalisation == FrameConfig::Normalisation::TwoBand)
            stereo::onePole(auxiliary[0], auxiliary[1], late[0], late[1], lo[0], lo[1], B,
                            bassCrossoverCoefficient);
        for (int ch = 0; ch < 2; ++ch)
        {
            switch (config.normalisation)
            {
            case FrameConfig::Normalisation::TwoBand:
                for (int j = 0; j < B; ++j)
                    late[ch][j] = (late[ch][j] - lo[ch][j]) * midNormalisation + lo[ch][j] * bassNormalisation;
                break;
            case FrameConfig::Normalisation::Single:
                vec::scale(late[ch], midNormalisation, late[ch], B);
                break;
            case FrameConfig::Normalisation::None:
                break;
            }
            vec::scaleAdd(late[ch], lateGain, early[ch], frame[ch], B);
        }

        // The half-rate modes return to the host rate before the high cut.
        stereo::firstOrder(toneOut[0], toneOut[1], frame[0], frame[1], B);
        if (halfRate)
            upsampleStereo(interpolators[0], interpolators[1], frame[0], frame[1], B);
        if (config.highCut == FrameConfig::HighCut::Shelf)
            stereo::shelf(highCutShelf[0], highCutShelf[1], frame[0], frame[1], kFrame);
        else
            stereo::stateVariable(highCut[0], highCut[1], frame[0], frame[1], kFrame, cutLeft, cutRight);
    }

    // 17. Ring advance of every line the frame and the network wrote.
    for (int i = 0; i < 2 + 16; ++i)
        lines[i].advance(B);
    for (int n = 0; n < config.lateLineCount; ++n)
        lines[kFirstLateLine + n].advance(B);

    // Nothing in the network makes a NaN or an infinity, but should one ever get in it would stay and
    // silence the session until the host resets: as soon as it shows in the wet frame, start from
    // silence instead, this frame included.
    if (!frameIsFinite())
        reset();
}

bool ReverbEngine::frameIsFinite() const
{
    // The wet frame: every part of the network reaches it within a frame or two. x * 0 is 0 for finite
    // x and NaN otherwise; eight partial sums, which the compiler keeps in one vector.
    float probe[8] = {};
    for (int j = 0; j < kFrame; j += 8)
        for (int i = 0; i < 8; ++i)
            probe[i] += (frame[0][j + i] + frame[1][j + i]) * 0.0f;
    float sum = 0.0f;
    for (float p : probe)
        sum += p;
    return sum == 0.0f;
}

} // namespace kestrune
