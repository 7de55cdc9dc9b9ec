#include "ModulatedDelayLine.h"
#include "Dispatch.h"

#include "Vector.h"
#include "WideLines.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define KESTRUNE_SSE 1
#endif

namespace kestrune
{

namespace
{
constexpr float kTableCap = 0.99f;

struct AllpassTable
{
    float values[256];
    AllpassTable()
    {
        for (int i = 0; i < 256; ++i)
        {
            const float x = static_cast<float>(i) * 0.00390625f;
            values[i] = std::min((1.0f - x) / (1.0f + x), kTableCap);
        }
    }
};

// Far beyond any ring, and inside the 32-bit range the truncation needs.
constexpr float kMaxDelay = 1.0e9f;

int64_t sizeForRequest(int64_t request)
{
    return static_cast<int64_t>(
        std::exp2f(std::ceil(std::log(static_cast<float>(request)) / std::log(2.0f))));
}
} // namespace

const float* ModulatedDelayLine::allpassTable()
{
    static const AllpassTable table;
    return table.values;
}

int64_t ModulatedDelayLine::safeIntegerDelay(float delay)
{
    // NaN and negatives read the newest sample; the truncation stays inside the integer range.
    if (!(delay >= 0.0f))
        return 0;
    return static_cast<int64_t>(std::min(delay, kMaxDelay));
}

ModulatedDelayLine::ModulatedDelayLine()
{
    allpassTable();
    allocate(32768);
    size_ = 32768;
    mask_ = size_ - 1;
}

ModulatedDelayLine::~ModulatedDelayLine() { delete[] ring_; }

void ModulatedDelayLine::allocate(int64_t samples)
{
    delete[] ring_;
    ring_ = new float[static_cast<size_t>(samples)]();
    capacity_ = samples;
}

void ModulatedDelayLine::setMaxDelay(int64_t requestedLength)
{
    const int64_t newSize = sizeForRequest(requestedLength);
    if (newSize == size_)
        return;
    if (newSize > capacity_)
        allocate(newSize);
    else
        std::memset(ring_, 0, static_cast<size_t>(newSize) * sizeof(float));
    size_ = newSize;
    mask_ = newSize - 1;
    writeIndex_ = 0;
    clearSlotStates();
}

void ModulatedDelayLine::reserve(int64_t samples)
{
    int64_t wanted = 1;
    while (wanted < samples)
        wanted <<= 1;
    if (wanted <= capacity_)
        return;
    allocate(wanted);
    writeIndex_ = 0;
    clearSlotStates();
}

void ModulatedDelayLine::clearSlotStates()
{
    for (auto& s : slots_)
    {
        s.state = 0.0f;
        s.lastCoefficient = 0.0f;
        s.lastInteger = -1;
    }
}

void ModulatedDelayLine::clear()
{
    std::memset(ring_, 0, static_cast<size_t>(size_) * sizeof(float));
    clearSlotStates();
    vec::clear(output_, kMaxBlock);
}

namespace
{
using Interpolation = ModulatedDelayLine::Interpolation;

// The ramp is start + inc * (j + 1): the last sample reads at target. Written per sample rather than
// accumulated so the loop carries no dependency from one sample to the next.
inline float rampDelay(float start, float inc, int j)
{
    const float d = start + inc * static_cast<float>(j + 1);
    // A delay below zero would index before the table and read unwritten samples.
    return d >= 0.0f ? std::min(d, kMaxDelay) : 0.0f;
}

// Integer part of every ramp sample, and its fraction (linear reads) or allpass coefficient.
template <Interpolation I>
inline void rampSample(float bounded, int j, int32_t* integer, float* fraction)
{
    const int32_t i = static_cast<int32_t>(bounded);
    float f = bounded - static_cast<float>(i);
    integer[j] = i;
    if constexpr (I == Interpolation::FirstOrderAllpass)
        fraction[j] = ModulatedDelayLine::allpassTable()[static_cast<int32_t>(f * 256.0f) & 255];
    else
    {
        if constexpr (I == Interpolation::QuantisedLinear)
            f = static_cast<float>(static_cast<int32_t>(f * 32.0f)) * 0.03125f;
        fraction[j] = f;
    }
}

// Eight samples in one vector: an AVX register in the AVX build, two SSE registers otherwise.
typedef float Floats8 __attribute__((vector_size(32)));
typedef int32_t Ints8 __attribute__((vector_size(32)));

// Ramp samples j .. j + 7 bounded as rampDelay bounds them (NaN and negatives give 0).
KESTRUNE_INLINE void rampDelays(float start, float inc, int j, Floats8& out)
{
    const Ints8 count = Ints8{1, 2, 3, 4, 5, 6, 7, 8} + j;
    const Floats8 d = start + inc * __builtin_convertvector(count, Floats8);
    const Floats8 zero = {};
    const Floats8 bounded = kMaxDelay < d ? Floats8{} + kMaxDelay : d;
    out = d >= 0.0f ? bounded : zero;
}

template <Interpolation I>
KESTRUNE_INLINE void ramp(float start, float inc, int n, int32_t* integer, float* fraction)
{
    // Eight samples at a time with the scalar path's roundings: the same IEEE operations per sample.
    int j = 0;
    const int wide = wideVectors() ? n - n % 8 : 0;
    for (; j < wide; j += 8)
    {
        Floats8 bounded;
        rampDelays(start, inc, j, bounded);
        const Ints8 i = __builtin_convertvector(bounded, Ints8);
        const Floats8 f = bounded - __builtin_convertvector(i, Floats8);
        std::memcpy(integer + j, &i, sizeof(i));
        Floats8 out;
        if constexpr (I == Interpolation::FirstOrderAllpass)
        {
            // The table entry computed in place, by the table's own formula: no per-sample lookup.
            const Ints8 k = __builtin_convertvector(f * 256.0f, Ints8) & 255;
            const Floats8 x = __builtin_convertvector(k, Floats8) * 0.00390625f;
            const Floats8 c = (1.0f - x) / (1.0f + x);
            out = kTableCap < c ? Floats8{} + kTableCap : c;
        }
        else if constexpr (I == Interpolation::QuantisedLinear)
            out = __builtin_convertvector(__builtin_convertvector(f * 32.0f, Ints8), Floats8) * 0.03125f;
        else
            out = f;
        std::memcpy(fraction + j, &out, sizeof(out));
    }
#ifdef KESTRUNE_SSE
    // Four at a time: cmpge/and reproduce the bound.
    const __m128 vStart = _mm_set1_ps(start), vInc = _mm_set1_ps(inc);
    const __m128 vMax = _mm_set1_ps(kMaxDelay), zero = _mm_setzero_ps();
    __m128i count = _mm_setr_epi32(j + 1, j + 2, j + 3, j + 4);
    const __m128i four = _mm_set1_epi32(4);
    for (; j + 4 <= n; j += 4)
    {
        const __m128 d = _mm_add_ps(vStart, _mm_mul_ps(vInc, _mm_cvtepi32_ps(count)));
        count = _mm_add_epi32(count, four);
        const __m128 bounded = _mm_and_ps(_mm_cmpge_ps(d, zero), _mm_min_ps(d, vMax));
        const __m128i i = _mm_cvttps_epi32(bounded);
        const __m128 f = _mm_sub_ps(bounded, _mm_cvtepi32_ps(i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(integer + j), i);
        if constexpr (I == Interpolation::FirstOrderAllpass)
        {
            const __m128i k = _mm_and_si128(_mm_cvttps_epi32(_mm_mul_ps(f, _mm_set1_ps(256.0f))),
                                            _mm_set1_epi32(255));
            const __m128 x = _mm_mul_ps(_mm_cvtepi32_ps(k), _mm_set1_ps(0.00390625f));
            const __m128 one = _mm_set1_ps(1.0f);
            const __m128 c = _mm_div_ps(_mm_sub_ps(one, x), _mm_add_ps(one, x));
            _mm_storeu_ps(fraction + j, _mm_min_ps(c, _mm_set1_ps(kTableCap)));
        }
        else if constexpr (I == Interpolation::QuantisedLinear)
            _mm_storeu_ps(fraction + j,
                          _mm_mul_ps(_mm_cvtepi32_ps(_mm_cvttps_epi32(_mm_mul_ps(f, _mm_set1_ps(32.0f)))),
                                     _mm_set1_ps(0.03125f)));
        else
            _mm_storeu_ps(fraction + j, f);
    }
#endif
    for (; j < n; ++j)
        rampSample<I>(rampDelay(start, inc, j), j, integer, fraction);
}

// The first-order allpass interpolation, (c + z^-1) / (1 + c z^-1) on the taps a, runs in lattice form:
// y = c a + k s, then s = k a - c s takes a in, with k = sqrt(1 - c^2). For a steady delay that is the
// same filter as the direct form y = c (a - y') + b, but a rotation keeps its state's energy while c
// moves, where the direct form pumps energy in (a modulated line in a loop with a long decay grew
// without bound). Where the integer delay steps, each sample of the ring still goes in once: a step
// back in time (the same sample again) takes nothing in and rescales the state to the new coefficient
// for a steady low-frequency signal, sqrt((1 - c) / (1 + c)), only ever down; a step forward takes the
// skipped sample b in first. So the read stays continuous and never adds energy.
//
// Inputs of the recursion over a block, without the chain: s_j = offset[j] + factor[j] s_(j-1) from
// j = 1, and s0 the state of sample 0. Returns whether the last sample stepped back in time.
KESTRUNE_INLINE bool allpassRecursion(const float* c, const float* a, const float* b, const int32_t* integer, int n,
                                      const ModulatedDelayLine::TapSlot& slot, float* k, float* offset,
                                      float* factor, float& s0)
{
    int j = 0;
#ifdef KESTRUNE_SSE
    const __m128 one = _mm_set1_ps(1.0f);
    for (; j + 4 <= n; j += 4)
    {
        const __m128 v = _mm_loadu_ps(c + j);
        _mm_storeu_ps(k + j, _mm_sqrt_ps(_mm_sub_ps(one, _mm_mul_ps(v, v))));
    }
#endif
    for (; j < n; ++j)
        k[j] = std::sqrt(1.0f - c[j] * c[j]);
    for (j = 1; j < n; ++j)
    {
        offset[j] = k[j - 1] * a[j - 1];
        factor[j] = -c[j - 1];
    }
    // State scale of a steady low-frequency signal: (1 - c) / k.
    auto rescale = [&](float from, float fromK, int at) {
        return std::min(1.0f, ((1.0f - c[at]) / k[at]) / ((1.0f - from) / fromK));
    };
    bool back = false;
    s0 = slot.state;
    if (integer[0] > slot.lastInteger)
    {
        s0 *= rescale(slot.lastCoefficient, std::sqrt(1.0f - slot.lastCoefficient * slot.lastCoefficient), 0);
        back = true;
    }
    else if (integer[0] < slot.lastInteger)
        s0 = k[0] * b[0] - c[0] * s0;
    if (back || integer[0] != integer[n - 1]) // the integer parts are monotonic: any step shows at the ends
        for (j = 1; j < n; ++j)
        {
            if (back) // the previous sample was taken in already
            {
                offset[j] = 0.0f;
                factor[j] = 1.0f;
            }
            back = integer[j] > integer[j - 1];
            if (back)
            {
                const float r = rescale(c[j - 1], k[j - 1], j);
                offset[j] *= r;
                factor[j] *= r;
            }
            else if (integer[j] < integer[j - 1])
            {
                offset[j] = k[j] * b[j] - c[j] * offset[j];
                factor[j] = -c[j] * factor[j];
            }
        }
    return back;
}

// What the slot keeps after the block's last sample: the state that the next sample starts from, its
// coefficient and integer delay.
KESTRUNE_INLINE void keepAllpassState(ModulatedDelayLine::TapSlot& slot, float c, float k, float a, float s, bool back,
                                      int32_t integer)
{
    slot.state = back ? s : k * a - c * s;
    slot.lastCoefficient = c;
    slot.lastInteger = integer;
}

// The two taps of every ramp sample: first[j] at the integer delay, second[j] one sample further back.
KESTRUNE_INLINE void gather(const float* __restrict ring, int64_t w, int64_t mask, const int32_t* integer,
                            int n, float* __restrict first, float* __restrict second)
{
    // The integer parts rise or fall monotonically, so the first and last bound the positions read:
    // relative to base, sample j reads base - j + (integer[j] - i0), and when none of these runs past
    // either end of the ring the mask is not needed.
    const int32_t i0 = integer[0], i1 = integer[n - 1];
    const int64_t base = (w + i0) & mask;
    const int32_t spread = i1 - i0;
    if (spread == 0 && base - (n - 1) >= 0 && base + 1 <= mask)
    {
        const float* src = ring + base;
        for (int j = 0; j < n; ++j)
        {
            first[j] = src[-j];
            second[j] = src[1 - j];
        }
    }
    else if (base - (n - 1) + std::min(spread, 0) >= 0 && base + std::max(spread, 0) + 1 <= mask)
        // The integer part steps a few times at most: a reversed run of the ring for each value.
        for (int j = 0; j < n;)
        {
            const int32_t i = integer[j];
            int end = j + 1;
            while (end < n && integer[end] == i)
                ++end;
            const float* src = ring + base + (i - i0);
            for (int k = j; k < end; ++k)
            {
                first[k] = src[-k];
                second[k] = src[1 - k];
            }
            j = end;
        }
    else
        for (int j = 0; j < n; ++j)
        {
            const int64_t p = static_cast<int64_t>(static_cast<int32_t>(w - j + integer[j])) & mask;
            first[j] = ring[p];
            second[j] = ring[(p + 1) & mask];
        }
}

// N is the block length when it is a compile-time constant (64 or 32), 0 for any other n.
template <int N, Interpolation I>
KESTRUNE_INLINE void rampedRead(const float* __restrict ring, int64_t w, int64_t mask, float start, float inc,
                                float* __restrict y, int n, ModulatedDelayLine::TapSlot& slot)
{
    constexpr int kMax = ModulatedDelayLine::kMaxBlock;
    if constexpr (N != 0)
        n = N;
    if constexpr (N != 0 && N % 8 == 0 && I != Interpolation::FirstOrderAllpass)
    {
        // The usual case: one integer delay over the whole block, so both taps are reversed runs of the
        // ring and the ramp, the fraction and the interpolation go in one pass.
        const int32_t i0 = static_cast<int32_t>(rampDelay(start, inc, 0));
        const int64_t base = (w + i0) & mask;
        if (i0 == static_cast<int32_t>(rampDelay(start, inc, N - 1)) && base - (N - 1) >= 0 && base + 1 <= mask)
        {
#ifdef KESTRUNE_SSE
            if (!wideVectors())
            {
                const float* src4 = ring + base - 3;
                const __m128 vStart = _mm_set1_ps(start), vInc = _mm_set1_ps(inc);
                const __m128 vMax = _mm_set1_ps(kMaxDelay), zero = _mm_setzero_ps();
                const __m128 vInteger = _mm_set1_ps(static_cast<float>(i0));
                __m128i count = _mm_setr_epi32(1, 2, 3, 4);
                for (int j = 0; j < N; j += 4)
                {
                    const __m128 d = _mm_add_ps(vStart, _mm_mul_ps(vInc, _mm_cvtepi32_ps(count)));
                    count = _mm_add_epi32(count, _mm_set1_epi32(4));
                    const __m128 bounded = _mm_and_ps(_mm_cmpge_ps(d, zero), _mm_min_ps(d, vMax));
                    __m128 f = _mm_sub_ps(bounded, vInteger);
                    if constexpr (I == Interpolation::QuantisedLinear)
                        f = _mm_mul_ps(_mm_cvtepi32_ps(_mm_cvttps_epi32(_mm_mul_ps(f, _mm_set1_ps(32.0f)))),
                                       _mm_set1_ps(0.03125f));
                    const __m128 a = _mm_loadu_ps(src4 - j), b = _mm_loadu_ps(src4 + 1 - j);
                    const __m128 first = _mm_shuffle_ps(a, a, _MM_SHUFFLE(0, 1, 2, 3));
                    const __m128 second = _mm_shuffle_ps(b, b, _MM_SHUFFLE(0, 1, 2, 3));
                    _mm_storeu_ps(y + j, _mm_add_ps(_mm_mul_ps(_mm_sub_ps(second, first), f), first));
                }
                return;
            }
#endif
            const float* src = ring + base - 7;
            const float integer = static_cast<float>(i0);
            for (int j = 0; j < N; j += 8)
            {
                Floats8 bounded;
                rampDelays(start, inc, j, bounded);
                Floats8 f = bounded - integer;
                if constexpr (I == Interpolation::QuantisedLinear)
                    f = __builtin_convertvector(__builtin_convertvector(f * 32.0f, Ints8), Floats8) * 0.03125f;
                Floats8 a, b;
                std::memcpy(&a, src - j, sizeof(a));
                std::memcpy(&b, src + 1 - j, sizeof(b));
                const Floats8 first = wide::reversed(a);
                const Floats8 second = wide::reversed(b);
                const Floats8 out = (second - first) * f + first;
                std::memcpy(y + j, &out, sizeof(out));
            }
            return;
        }
    }
    alignas(16) int32_t integer[kMax];
    alignas(16) float fraction[kMax];
    ramp<I>(start, inc, n, integer, fraction);

    alignas(16) float first[kMax];
    alignas(16) float second[kMax];
    gather(ring, w, mask, integer, n, first, second);
    if constexpr (I == Interpolation::FirstOrderAllpass)
    {
        alignas(16) float k[kMax], offset[kMax], factor[kMax];
        float s;
        const bool back = allpassRecursion(fraction, first, second, integer, n, slot, k, offset, factor, s);
        y[0] = fraction[0] * first[0] + k[0] * s;
        for (int j = 1; j < n; ++j)
        {
            s = offset[j] + factor[j] * s;
            y[j] = fraction[j] * first[j] + k[j] * s;
        }
        keepAllpassState(slot, fraction[n - 1], k[n - 1], first[n - 1], s, back, integer[n - 1]);
    }
    else
        for (int j = 0; j < n; ++j)
            y[j] = (second[j] - first[j]) * fraction[j] + first[j];
}

template <ModulatedDelayLine::Interpolation I>
KESTRUNE_INLINE void rampedReadAnyLength(const float* ring, int64_t w, int64_t mask, float start, float inc,
                                         float* y, int n, ModulatedDelayLine::TapSlot& slot)
{
    if (n == 64)
        rampedRead<64, I>(ring, w, mask, start, inc, y, n, slot);
    else if (n == 32)
        rampedRead<32, I>(ring, w, mask, start, inc, y, n, slot);
    else
        rampedRead<0, I>(ring, w, mask, start, inc, y, n, slot);
}
} // namespace

KESTRUNE_DISPATCH void ModulatedDelayLine::readRamped(float* y, int n, int slotIndex, float target, float rampFactor,
                                    Interpolation interpolation)
{
    TapSlot& s = slots_[slotIndex];
    const float start = s.previousDelay;
    const float inc = (target - start) * rampFactor;
    switch (interpolation)
    {
    case Interpolation::Linear:
        rampedReadAnyLength<Interpolation::Linear>(ring_, writeIndex_, mask_, start, inc, y, n, s);
        break;
    case Interpolation::QuantisedLinear:
        rampedReadAnyLength<Interpolation::QuantisedLinear>(ring_, writeIndex_, mask_, start, inc, y, n, s);
        break;
    case Interpolation::FirstOrderAllpass:
        rampedReadAnyLength<Interpolation::FirstOrderAllpass>(ring_, writeIndex_, mask_, start, inc, y, n, s);
        break;
    }
    s.previousDelay = target;
}

namespace
{
// The section's arithmetic after its read d: y = loopGain*d - g*x, the line takes x + g*y, out = y.
// One pass; in and out may be the same array.
KESTRUNE_INLINE void sectionTail(ModulatedDelayLine& line, const float* d, const float* in, float* out, int n, float g,
                 float loopGain)
{
    const float ng = -g;
    const int64_t w = line.writeIndex();
    float* ring = line.ring();
    int j = 0;
#ifdef KESTRUNE_SSE
    if (w >= n - 1)
    {
        const __m128 vng = _mm_set1_ps(ng), vg = _mm_set1_ps(g), vLoop = _mm_set1_ps(loopGain);
        float* dst = ring + w - 3;
        for (; j + 4 <= n; j += 4)
        {
            const __m128 x = _mm_loadu_ps(in + j);
            const __m128 y = _mm_add_ps(_mm_mul_ps(x, vng), _mm_mul_ps(_mm_loadu_ps(d + j), vLoop));
            const __m128 v = _mm_add_ps(_mm_mul_ps(y, vg), x);
            _mm_storeu_ps(dst - j, _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)));
            _mm_storeu_ps(out + j, y);
        }
    }
#endif
    const int64_t mask = line.mask();
    for (; j < n; ++j)
    {
        const float x = in[j];
        const float y = x * ng + d[j] * loopGain;
        ring[(w - j) & mask] = y * g + x;
        out[j] = y;
    }
}

KESTRUNE_INLINE void allpassBlock(ModulatedDelayLine& line, const float* in, float* out, int n, float newDelay, float g,
                  float loopGain, float rampFactor, ModulatedDelayLine::Interpolation interpolation)
{
    float* d = line.output();
    line.readRamped(d, n, 0, newDelay, rampFactor, interpolation);
    sectionTail(line, d, in, out, n, g, loopGain);
}
} // namespace

namespace
{
// A tap's ramp and the inputs of its recursion (allpassRecursion).
KESTRUNE_INLINE void prepareTap(const AllpassTap& tap, int n, float rampFactor, float* c, float* a, float* k,
                                float* offset, float* factor, float& s0, int32_t& lastInteger, bool& back)
{
    constexpr int kMax = ModulatedDelayLine::kMaxBlock;
    ModulatedDelayLine& line = *tap.line;
    const ModulatedDelayLine::TapSlot& slot = line.slot(tap.slot);
    const float start = slot.previousDelay;
    const float inc = (tap.target - start) * rampFactor;
    alignas(32) int32_t integer[kMax];
    alignas(32) float b[kMax];
    ramp<Interpolation::FirstOrderAllpass>(start, inc, n, integer, c);
    gather(line.ring(), line.writeIndex(), line.mask(), integer, n, a, b);
    back = allpassRecursion(c, a, b, integer, n, slot, k, offset, factor, s0);
    lastInteger = integer[n - 1];
}

// Taps 0 .. kLanes<V> - 1 side by side (n a multiple of 4, at most kMaxBlock): lane t runs tap t's
// recursion, four samples per transposed step (see WideLines.h for the layout).
template <typename V>
KESTRUNE_INLINE void allpassTapLanes(const AllpassTap* taps, int n, float rampFactor)
{
    constexpr int kMax = ModulatedDelayLine::kMaxBlock;
    constexpr int W = wide::kLanes<V>;
    alignas(32) float coefficient[W][kMax], lattice[W][kMax], first[W][kMax], offsets[W][kMax], factors[W][kMax];
    float start[W];
    int32_t lastInteger[W];
    bool back[W];
    float* c[W];
    float* k[W];
    float* a[W];
    float* o[W];
    float* f[W];
    float* y[W];
    for (int t = 0; t < W; ++t)
    {
        prepareTap(taps[t], n, rampFactor, coefficient[t], first[t], lattice[t], offsets[t], factors[t], start[t],
                   lastInteger[t], back[t]);
        // Sample 0 takes its state as it is: a unit offset and no factor.
        offsets[t][0] = start[t];
        factors[t][0] = 0.0f;
        c[t] = coefficient[t];
        k[t] = lattice[t];
        a[t] = first[t];
        o[t] = offsets[t];
        f[t] = factors[t];
        y[t] = taps[t].out;
    }
    V s = {};
    for (int j = 0; j < n; j += 4)
    {
        V vc[4], vk[4], va[4], vo[4], vf[4];
        wide::loadTransposed(c, j, vc);
        wide::loadTransposed(k, j, vk);
        wide::loadTransposed(a, j, va);
        wide::loadTransposed(o, j, vo);
        wide::loadTransposed(f, j, vf);
        for (int q = 0; q < 4; ++q)
        {
            s = vo[q] + vf[q] * s;
            va[q] = vc[q] * va[q] + vk[q] * s;
        }
        wide::storeTransposed(y, j, va);
    }
    wide::forLanes(s, [&](int t, float v) {
        ModulatedDelayLine::TapSlot& slot = taps[t].line->slot(taps[t].slot);
        const int last = n - 1;
        keepAllpassState(slot, c[t][last], k[t][last], first[t][last], v, back[t], lastInteger[t]);
        slot.previousDelay = taps[t].target;
    });
}
} // namespace

KESTRUNE_DISPATCH void readRampedAllpassGroup(const AllpassTap* taps, int count, int n, float rampFactor)
{
    constexpr int kMax = ModulatedDelayLine::kMaxBlock;
    if (wideVectors() && count == 8 && n % 4 == 0 && n > 0 && n <= kMax)
    {
        allpassTapLanes<wide::Lines8>(taps, n, rampFactor);
        return;
    }
#ifdef KESTRUNE_SSE
    if (count == 4 && n % 4 == 0 && n > 0 && n <= kMax)
    {
        allpassTapLanes<wide::Lines4>(taps, n, rampFactor);
        return;
    }
    if (count > 4)
    {
        readRampedAllpassGroup(taps, 4, n, rampFactor);
        readRampedAllpassGroup(taps + 4, count - 4, n, rampFactor);
        return;
    }
#endif
    for (int t = 0; t < count; ++t)
        taps[t].line->readRamped(taps[t].out, n, taps[t].slot, taps[t].target, rampFactor,
                                 Interpolation::FirstOrderAllpass);
}

KESTRUNE_DISPATCH void allpassBlockFirstOrderGroup(ModulatedDelayLine* const* lines, const float* const* in, float* const* out,
                                 int count, int n, const float* newDelay, float g, const float* loopGain,
                                 float rampFactor)
{
    AllpassTap taps[8] = {};
    for (int t = 0; t < count; ++t)
        taps[t] = AllpassTap{lines[t], 0, newDelay[t], lines[t]->output()};
    readRampedAllpassGroup(taps, count, n, rampFactor);
    for (int t = 0; t < count; ++t)
        sectionTail(*lines[t], lines[t]->output(), in[t], out[t], n, g, loopGain[t]);
}

KESTRUNE_DISPATCH void allpassBlockLinear(ModulatedDelayLine& line, const float* in, float* out, int n, float newDelay, float g,
                        float loopGain, float rampFactor)
{
    allpassBlock(line, in, out, n, newDelay, g, loopGain, rampFactor, ModulatedDelayLine::Interpolation::Linear);
}

KESTRUNE_DISPATCH void allpassBlockFirstOrder(ModulatedDelayLine& line, const float* in, float* out, int n, float newDelay, float g,
                            float loopGain, float rampFactor)
{
    allpassBlock(line, in, out, n, newDelay, g, loopGain, rampFactor,
                 ModulatedDelayLine::Interpolation::FirstOrderAllpass);
}

KESTRUNE_DISPATCH void allpassBlockQuantised(ModulatedDelayLine& line, const float* in, float* out, int n, float newDelay, float g,
                           float loopGain, float rampFactor)
{
    allpassBlock(line, in, out, n, newDelay, g, loopGain, rampFactor,
                 ModulatedDelayLine::Interpolation::QuantisedLinear);
}

} // namespace kestrune
