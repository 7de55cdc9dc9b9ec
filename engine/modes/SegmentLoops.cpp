#include "SegmentLoops.h"
#include "WideLines.h"
#include "Dispatch.h"

#include "Vector.h"

#include <algorithm>
#include <cmath>

namespace kestrune::segmentloops
{

const float kLengthTable[32] = {
    2728.5369f, 2888.6919f, 3058.2473f, 3237.7551f, 3427.7996f, 3628.9988f, 3842.0076f, 4067.5193f,
    4306.2676f, 4559.0293f, 4826.6279f, 5109.9331f, 5409.8672f, 5727.4062f, 6063.584f,  6419.4941f,
    6796.2944f, 7195.2119f, 7617.5444f, 8064.666f,  8538.0322f, 9039.1836f, 9569.75f,   10131.459f,
    10726.138f, 11355.723f, 12022.262f, 12727.924f, 13475.006f, 14265.939f, 15103.297f, 15989.805f,
};

namespace
{
constexpr float kLn001 = -6.9077554f;
constexpr float kBassRatioCap = 50.0f;
constexpr float kRampFactor = 1.0f / kBlock;

// Loop i owns late lines i, 8 + i, 16 + i and 24 + i.
constexpr int line(int segment, int loop)
{
    return 8 * segment + loop;
}

float loopLength(const ReverbEngine& e, int loop)
{
    return e.lateLengths[line(0, loop)] + e.lateLengths[line(1, loop)] + e.lateLengths[line(2, loop)] +
           e.lateLengths[line(3, loop)];
}

// exp(E / (other x rate)) / exp(E / (decay x rate)) for the loop's whole length.
float loopRatio(const ReverbEngine& e, int loop, float otherDecay)
{
    const float exponent = kLn001 * loopLength(e, loop);
    const double other = std::exp(static_cast<double>(exponent / (otherDecay * e.internalRate)));
    const double mid = std::exp(static_cast<double>(exponent / (e.decay * e.internalRate)));
    return static_cast<float>(other / mid);
}

// y = gain d - g x into x, and the ring's input x + g y into v.
void step(const float* __restrict d, float* __restrict x, float* __restrict v, float gain, float g)
{
    for (int j = 0; j < kBlock; ++j)
    {
        const float y = x[j] * -g + d[j] * gain;
        v[j] = y * g + x[j];
        x[j] = y;
    }
}

// The shelf of shelves below on loops first .. first + kLanes<V> - 1, side by side.
template <typename V, bool Bass>
KESTRUNE_INLINE void shelfLines(float* state, float* const* x, const float* ratios, int first, float coefficient)
{
    const float keep = 1.0f - coefficient;
    V lp = wide::lanes<V>([&](int i) { return state[first + i]; });
    const V ratio = wide::lanes<V>([&](int i) { return ratios[first + i]; });
    wide::sideBySide<V>(x + first, kBlock, [&](int, V& in) {
        lp = lp * keep + coefficient * in;
        in = Bass ? lp * ratio + (in - lp) : (in - lp) * ratio + lp;
    });
    wide::forLanes(lp, [&](int i, float s) { state[first + i] = s; });
}

// Shelves around each loop's one-pole split lp of x: x = lp + ratio (x - lp) (high) or
// x = ratio lp + (x - lp) (bass). The loops run side by side so that their recursions overlap; the
// arithmetic is OnePole::process's, in its order.
template <bool Bass>
KESTRUNE_INLINE void shelves(ReverbEngine& e, OnePole* filters, float coefficient, const float* ratios, int loopCount)
{
    constexpr int kMaxLoops = 8;
    float state[kMaxLoops];
    float* x[kMaxLoops];
    for (int i = 0; i < loopCount; ++i)
    {
        state[i] = filters[i].state;
        x[i] = e.lineBuffer[i];
    }
    const float keep = 1.0f - coefficient;
    int first = 0;
    if (wideVectors())
        for (; first + 8 <= loopCount; first += 8)
            shelfLines<wide::Lines8, Bass>(state, x, ratios, first, coefficient);
#if defined(__SSE2__)
    // Four loops in the lanes of one vector through a 4 x 4 transpose.
    for (; first + 4 <= loopCount; first += 4)
        shelfLines<wide::Lines4, Bass>(state, x, ratios, first, coefficient);
#endif
    for (int j = 0; j < kBlock; ++j)
        for (int i = first; i < loopCount; ++i)
        {
            const float in = x[i][j];
            state[i] = state[i] * keep + coefficient * in;
            const float lp = state[i];
            x[i][j] = Bass ? lp * ratios[i] + (in - lp) : (in - lp) * ratios[i] + lp;
        }
    for (int i = 0; i < loopCount; ++i)
        filters[i].state = state[i];
}

// A fixed allpass that reads before it writes: its delay must reach past the block it is about to
// write, or it returns samples from a whole ring earlier (low host rates at small sizes).
KESTRUNE_INLINE void fixedAllpass(ReverbEngine& e, int lateLine, float* x, float g)
{
    ModulatedDelayLine& delay = e.lines[ReverbEngine::kFirstLateLine + lateLine];
    const int64_t length = std::max<int64_t>(e.lateFloors[lateLine] - kBlock, kBlock);
    if (delay.integerAllpass(x, kBlock, length, g, e.midGains[lateLine]))
        return;
    alignas(32) float d[kBlock];
    alignas(32) float v[kBlock];
    delay.readInteger(d, kBlock, length);
    step(d, x, v, e.midGains[lateLine], g);
    delay.write(v, kBlock);
}
} // namespace

float lateScale(float rate, float lateSize, double factor, double offset)
{
    return static_cast<float>(static_cast<double>(rate) * (static_cast<double>(lateSize) * factor + offset) /
                              48000.0);
}

namespace
{
constexpr float kLeastLength[4] = {kBlock, 2 * kBlock, 2 * kBlock, 0.0f};
} // namespace

void setLengths(ReverbEngine& e, float scale, float sizeConstant, int loopCount)
{
    e.sizeTotal = sizeConstant * scale;
    for (int segment = 0; segment < 4; ++segment)
        for (int loop = 0; loop < loopCount; ++loop)
        {
            const int j = line(segment, loop);
            // The coupling hands a loop's output to the next feed one block later. Each segment keeps the
            // least length it can run at (the allpass reads stay a block behind their writes, the
            // fixed ones read at length - 32), so that its gain is that of the delay it really has.
            e.lateLengths[j] = std::max(kLengthTable[j] * scale - static_cast<float>(kBlock), kLeastLength[segment]);
            e.lateFloors[j] = static_cast<int64_t>(std::floor(e.lateLengths[j]));
        }
}

void decayMid(ReverbEngine& e, int loopCount, float normalisationFactor)
{
    for (int segment = 0; segment < 4; ++segment)
        for (int loop = 0; loop < loopCount; ++loop)
        {
            const int j = line(segment, loop);
            e.midGains[j] = ReverbEngine::decayGain(e.lateLengths[j], e.decay, e.internalRate);
        }
    const float quotient = e.sizeTotal / (e.decay * e.internalRate);
    e.midNormalisation = static_cast<float>(static_cast<double>(normalisationFactor) *
                                            std::sqrt(static_cast<double>(quotient)));
}

void decayBass(ReverbEngine& e, int loopCount)
{
    for (int loop = 0; loop < loopCount; ++loop)
        e.bassGains[loop] = std::min(kBassRatioCap, loopRatio(e, loop, e.bassDecay));
}

void decayHigh(ReverbEngine& e, int loopCount)
{
    for (int loop = 0; loop < loopCount; ++loop)
        e.highRatios[loop] = loopRatio(e, loop, e.highDecay);
}

KESTRUNE_DISPATCH void runLoops(ReverbEngine& e, int loopCount, float g, const float* segmentOneDelay)
{
    const float* feed[4] = {e.branchB[0], e.branchB[1], e.branchA[0], e.branchA[1]};
    for (int i = 0; i < loopCount; ++i)
        addInto(e.lineBuffer[i], feed[i & 3]);

    // The section reads before it writes, so its delay is kept at or above the block length.
    for (int i = 0; i < loopCount; ++i)
        allpassBlockQuantised(e.lines[ReverbEngine::kFirstLateLine + i], e.lineBuffer[i], e.lineBuffer[i],
                              kBlock, std::max(segmentOneDelay[i], static_cast<float>(kBlock)), g,
                              e.midGains[i], kRampFactor);

    for (int segment = 1; segment <= 2; ++segment)
        for (int i = 0; i < loopCount; ++i)
            fixedAllpass(e, line(segment, i), e.lineBuffer[i], g);

    shelves<false>(e, e.highCrossover, e.highCrossoverCoefficient, e.highRatios, loopCount);

    vec::copy(e.lineBuffer[0], e.late[0], kBlock);
    vec::copy(e.lineBuffer[1], e.late[1], kBlock);

    // Plain delay: written first, so its whole length may be anything from 0.
    for (int i = 0; i < loopCount; ++i)
    {
        const int j = line(3, i);
        ModulatedDelayLine& delay = e.lines[ReverbEngine::kFirstLateLine + j];
        delay.write(e.lineBuffer[i], kBlock);
        delay.readInteger(e.lineBuffer[i], kBlock, std::max<int64_t>(e.lateFloors[j], 0));
        scaleInPlace(e.lineBuffer[i], e.midGains[j]);
    }

    shelves<true>(e, e.bassCrossover, e.bassCrossoverCoefficient, e.bassGains, loopCount);
}

} // namespace kestrune::segmentloops
