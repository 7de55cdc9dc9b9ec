#include "ModulatedDelayLine.h"
#include "Dispatch.h"

#include "Vector.h"
#include "WideLines.h"

#include <algorithm>
#include <atomic>
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

// Above this span (samples) a ramp's stale positions are zeroed sample by sample, not as one run.
constexpr int64_t kWideRamp = 16384;

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
    stale_ = 0;
}

ModulatedDelayLine::~ModulatedDelayLine() { delete[] storage_; }

void ModulatedDelayLine::allocate(int64_t samples)
{
    // Blocks are written backwards from a write index that steps by whole blocks, so a block's run
    // starts one past a multiple of the block length: ring_ + 1 on a cache line keeps those vector
    // stores inside lines. Large blocks from new[] all start at the same offset in a page, so every
    // ring would also hit the same cache sets at the same moment; each allocation is moved on by a
    // different number of cache lines.
    constexpr int64_t kLine = 16;    // floats per cache line
    constexpr int64_t kSpread = 64;  // lines, one 4 KB page
    static std::atomic<uint32_t> next{0};
    const int64_t stagger = static_cast<int64_t>((next.fetch_add(1, std::memory_order_relaxed) * 23u) % kSpread);
    delete[] storage_;
    storage_ = new float[static_cast<size_t>(samples + (kSpread + 1) * kLine)]();
    const auto base = reinterpret_cast<uintptr_t>(storage_ + 1);
    const auto toLine = static_cast<int64_t>(((0 - base) & 63) / sizeof(float));
    ring_ = storage_ + toLine + stagger * kLine;
    capacity_ = static_cast<int32_t>(samples);
}

void ModulatedDelayLine::setMaxDelay(int64_t requestedLength)
{
    const int64_t newSize = sizeForRequest(requestedLength);
    if (newSize == size_)
        return;
    const bool fresh = newSize > capacity_;
    if (fresh)
        allocate(newSize); // zeroed
    size_ = newSize;
    mask_ = newSize - 1;
    writeIndex_ = 0;
    if (fresh)
        stale_ = 0;
    else
        clearLazily();
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
    stale_ = 0;
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
    // The working buffer output_ is left as it is: every read writes it before anything reads it.
    clearLazily();
    clearSlotStates();
}

void ModulatedDelayLine::clearLazily()
{
    if (size_ <= 2 * kWindow)
    {
        std::memset(ring_, 0, static_cast<size_t>(size_) * sizeof(float));
        stale_ = 0;
        return;
    }
    zeroOffsets(size_ - kWindow + 1, size_ - 1);
    zeroOffsets(0, 0);
    stale_ = static_cast<int32_t>(size_ - kWindow);
}

void ModulatedDelayLine::zeroOffsets(int64_t first, int64_t last)
{
    const int64_t start = (writeIndex_ + first) & mask_;
    const int64_t count = last - first + 1;
    const int64_t head = std::min(count, size_ - start);
    std::memset(ring_ + start, 0, static_cast<size_t>(head) * sizeof(float));
    if (count > head)
        std::memset(ring_, 0, static_cast<size_t>(count - head) * sizeof(float));
}

void ModulatedDelayLine::zeroStale(int64_t first, int64_t last)
{
    const int64_t staleLast = size_ - kWindow, staleFirst = staleLast - stale_ + 1;
    const int64_t span = last - first + 1;
    if (span <= 0)
        return;
    if (span >= size_)
    {
        zeroOffsets(staleFirst, staleLast);
        return;
    }
    const auto piece = [&](int64_t a, int64_t b)
    {
        a = std::max(a, staleFirst);
        b = std::min(b, staleLast);
        if (a <= b)
            zeroOffsets(a, b);
    };
    const int64_t begin = first & mask_, end = begin + span - 1;
    if (end < size_)
        piece(begin, end);
    else
    {
        piece(begin, size_ - 1);
        piece(0, end - size_);
    }
}

// The next block's writes reach kWindow positions below the write index: the positions that enter that
// window are zeroed if stale, and the clean run grows by the block.
void ModulatedDelayLine::cleanAhead(int blockLength)
{
    const int32_t entering = std::min(stale_, blockLength);
    const int64_t staleLast = size_ - kWindow;
    zeroOffsets(staleLast - entering + 1, staleLast);
    stale_ -= entering;
}

namespace
{
using Interpolation = ModulatedDelayLine::Interpolation;

// The ramp adds inc once before each sample, d[j] = d[j - 1] + inc from d[-1] = start, so the last sample
// reads at the target up to the rounding the additions leave. The sums run in one chain; the work on
// them that follows does not.
KESTRUNE_INLINE void accumulate(float start, float inc, int n, float* d)
{
    float v = start;
    for (int j = 0; j < n; ++j)
        d[j] = v += inc;
}

// A delay below zero would index before the table and read unwritten samples.
inline float bound(float d)
{
    return d >= 0.0f ? std::min(d, kMaxDelay) : 0.0f;
}

} // namespace

void ModulatedDelayLine::zeroStaleForRamp(const float* delays, int n)
{
    // The integer parts as the reads take them; a ramp is monotonic, so its ends bound them all.
    const int64_t a = static_cast<int32_t>(bound(delays[0])), b = static_cast<int32_t>(bound(delays[n - 1]));
    const int64_t low = std::min(a, b), high = std::max(a, b);
    if (high - low <= kWideRamp)
    {
        zeroStale(low - (n - 1), high + 1);
        return;
    }
    // A ramp across most of a ring (the first after a switch starts from the old mode's delay) reads
    // two positions per sample, far fewer than its span.
    for (int j = 0; j < n; ++j)
    {
        const int64_t i = static_cast<int32_t>(bound(delays[j]));
        zeroStale(i - j, i - j + 1);
    }
}

namespace
{
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

// Ramp samples j .. j + 7 bounded as bound() bounds them (NaN and negatives give 0).
KESTRUNE_INLINE void boundDelays(const float* delays, int j, Floats8& out)
{
    Floats8 d;
    std::memcpy(&d, delays + j, sizeof(d));
    const Floats8 zero = {};
    const Floats8 bounded = kMaxDelay < d ? Floats8{} + kMaxDelay : d;
    out = d >= 0.0f ? bounded : zero;
}

template <Interpolation I>
KESTRUNE_INLINE void ramp(const float* delays, int n, int32_t* integer, float* fraction)
{
    // Eight samples at a time with the scalar path's roundings: the same IEEE operations per sample.
    int j = 0;
    const int wide = wideVectors() ? n - n % 8 : 0;
    for (; j < wide; j += 8)
    {
        Floats8 bounded;
        boundDelays(delays, j, bounded);
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
    const __m128 vMax = _mm_set1_ps(kMaxDelay), zero = _mm_setzero_ps();
    for (; j + 4 <= n; j += 4)
    {
        const __m128 d = _mm_loadu_ps(delays + j);
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
        rampSample<I>(bound(delays[j]), j, integer, fraction);
}

// The first-order allpass interpolation, (c + z^-1) / (1 + c z^-1) on the taps a, runs in lattice form:
// y = c a + k s, then s = k a - c s takes a in, with k = sqrt(1 - c^2). For a steady delay that is the
// same filter as the direct form y = c (a - y') + b, but a rotation keeps its state's energy while c
// moves, where the direct form pumps energy in (a modulated line in a loop with a long decay grew
// without bound). Where the integer delay steps, each sample of the ring still goes in once: a step
// back in time (the same sample again) rescales the state to the new coefficient as a steady
// low-frequency signal would have it, by sqrt((1 - c) / (1 + c)) and only ever down, and takes nothing
// in after it; a step forward takes the skipped sample b in first. So the read stays continuous and
// never adds energy.
//
// At a step j the state becomes s = alpha[j] + beta[j] s, and consume[j] (1 or 0) says whether the
// sample is taken in after it; everywhere else alpha 0, beta 1, consume 1. Fills those three only where
// the block has steps, and returns a bit per step (bit j for sample j), 0 for none.
KESTRUNE_INLINE float latticeGain(float c)
{
    return std::sqrt(1.0f - c * c);
}

KESTRUNE_INLINE uint64_t allpassSteps(const float* c, const float* b, const int32_t* integer, int n,
                                      const ModulatedDelayLine::TapSlot& slot, float* alpha, float* beta,
                                      float* consume)
{
    // The state scale of a steady low-frequency signal, (1 - c) / k.
    auto scale = [](float coefficient) { return (1.0f - coefficient) / latticeGain(coefficient); };
    uint64_t steps = 0;
    auto mark = [&](int j, int32_t before, float coefficientBefore) {
        if (steps == 0)
            for (int i = 0; i < n; ++i)
            {
                alpha[i] = 0.0f;
                beta[i] = 1.0f;
                consume[i] = 1.0f;
            }
        steps |= uint64_t{1} << j;
        if (integer[j] > before)
        {
            beta[j] = std::min(1.0f, scale(c[j]) / scale(coefficientBefore));
            consume[j] = 0.0f;
        }
        else
        {
            alpha[j] = latticeGain(c[j]) * b[j];
            beta[j] = -c[j];
        }
    };
    if (integer[0] != slot.lastInteger)
        mark(0, slot.lastInteger, slot.lastCoefficient);
    // The integer parts are monotonic, so each run of equal ones ends where a binary search finds it;
    // a block has a step or two at ordinary modulation, usually none.
    for (int j = 0; integer[n - 1] != integer[j];)
    {
        int step = j + 1, high = n - 1;
        while (step < high)
        {
            const int mid = (step + high) / 2;
            if (integer[mid] == integer[j])
                step = mid + 1;
            else
                high = mid;
        }
        mark(step, integer[step - 1], c[step - 1]);
        j = step;
    }
    return steps;
}

// k = sqrt(1 - c^2) for every coefficient.
KESTRUNE_INLINE void latticeGains(const float* c, float* k, int n)
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
        k[j] = latticeGain(c[j]);
}

#if KESTRUNE_HAS_DISPATCH
// Eight square roots in one instruction. Not always_inline: the baseline clones cannot take it; the
// AVX kernel that calls it (below) gets it inlined.
__attribute__((target("avx"))) static inline wide::Lines8 squareRoots(wide::Lines8 v)
{
    return __builtin_ia32_sqrtps256(v);
}
#endif

// latticeGain in every lane of a vector of four or eight coefficients; Avx only from AVX code.
template <typename V, bool Avx = false>
KESTRUNE_INLINE V latticeGains(V c)
{
#if KESTRUNE_HAS_DISPATCH
    if constexpr (Avx)
        return squareRoots(1.0f - c * c);
#endif
#ifdef KESTRUNE_SSE
    const V square = 1.0f - c * c;
    if constexpr (sizeof(V) == 16)
        return reinterpret_cast<V>(_mm_sqrt_ps(reinterpret_cast<__m128>(square)));
    else
    {
        const wide::Lines4 low = __builtin_shufflevector(square, square, 0, 1, 2, 3);
        const wide::Lines4 high = __builtin_shufflevector(square, square, 4, 5, 6, 7);
        const auto a = reinterpret_cast<wide::Lines4>(_mm_sqrt_ps(reinterpret_cast<__m128>(low)));
        const auto b = reinterpret_cast<wide::Lines4>(_mm_sqrt_ps(reinterpret_cast<__m128>(high)));
        return __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7);
    }
#else
    V k;
    for (int i = 0; i < static_cast<int>(sizeof(V) / sizeof(float)); ++i)
        k[i] = latticeGain(c[i]);
    return k;
#endif
}

// One sample of the read. s holds the state the sample starts from and leaves the next one's.
KESTRUNE_INLINE float allpassSample(float c, float k, float a, float& s)
{
    const float y = c * a + k * s;
    s = k * a - c * s;
    return y;
}
KESTRUNE_INLINE float allpassStep(float c, float k, float a, float alpha, float beta, float consume, float& s)
{
    const float state = alpha + beta * s;
    const float y = c * a + k * state;
    s = consume * (k * a - c * state) + (1.0f - consume) * state;
    return y;
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

// The linear interpolations of n samples (a multiple of 8) whose first taps are the reversed run of
// the ring that ends at src + 7, at the integer delay integer.
template <Interpolation I>
KESTRUNE_INLINE void interpolateRun(const float* src, float integer, const float* delays, float* __restrict y, int n)
{
    for (int j = 0; j < n; j += 8)
    {
        Floats8 bounded;
        boundDelays(delays, j, bounded);
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
}

// The same for samples j .. j + 7 of a block whose integer delay steps: the eight as a run where it
// holds over them and neither tap crosses the ring's end, otherwise sample by sample with ramp() and
// gather()'s values.
template <Interpolation I>
KESTRUNE_INLINE void interpolateEight(const float* __restrict ring, int64_t w, int64_t mask, const float* delays,
                                      float* __restrict y, int j)
{
    const int32_t i = static_cast<int32_t>(bound(delays[j]));
    const int64_t base = ((w + i) & mask) - j; // sample j's first tap
    if (i == static_cast<int32_t>(bound(delays[j + 7])) && base - 7 >= 0 && base + 1 <= mask)
    {
        interpolateRun<I>(ring + base - 7, static_cast<float>(i), delays + j, y + j, 8);
        return;
    }
    for (int k = j; k < j + 8; ++k)
    {
        int32_t integer;
        float fraction;
        rampSample<I>(bound(delays[k]), 0, &integer, &fraction);
        const int64_t p = static_cast<int64_t>(static_cast<int32_t>(w - k + integer)) & mask;
        const float first = ring[p], second = ring[(p + 1) & mask];
        y[k] = (second - first) * fraction + first;
    }
}

// N is the block length when it is a compile-time constant (64 or 32), 0 for any other n.
template <int N, Interpolation I>
KESTRUNE_INLINE void rampedRead(const float* __restrict ring, int64_t w, int64_t mask, const float* delays,
                                float* __restrict y, int n, ModulatedDelayLine::TapSlot& slot)
{
    constexpr int kMax = ModulatedDelayLine::kMaxBlock;
    if constexpr (N != 0)
        n = N;
    if constexpr (N != 0 && N % 8 == 0 && I != Interpolation::FirstOrderAllpass)
    {
        // The usual case: one integer delay over the whole block, so both taps are reversed runs of the
        // ring and the fraction and the interpolation go in one pass.
        const int32_t i0 = static_cast<int32_t>(bound(delays[0]));
        const int64_t base = (w + i0) & mask;
        const bool steady =
            i0 == static_cast<int32_t>(bound(delays[N - 1])) && base - (N - 1) >= 0 && base + 1 <= mask;
        if (wideVectors())
        {
            if (steady)
                interpolateRun<I>(ring + base - 7, static_cast<float>(i0), delays, y, N);
            else
                for (int j = 0; j < N; j += 8)
                    interpolateEight<I>(ring, w, mask, delays, y, j);
            return;
        }
#ifdef KESTRUNE_SSE
        if (steady)
        {
            const float* src4 = ring + base - 3;
            const __m128 vMax = _mm_set1_ps(kMaxDelay), zero = _mm_setzero_ps();
            const __m128 vInteger = _mm_set1_ps(static_cast<float>(i0));
            for (int j = 0; j < N; j += 4)
            {
                const __m128 d = _mm_loadu_ps(delays + j);
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
    }
    alignas(16) int32_t integer[kMax];
    alignas(16) float fraction[kMax];
    ramp<I>(delays, n, integer, fraction);

    alignas(16) float first[kMax];
    alignas(16) float second[kMax];
    gather(ring, w, mask, integer, n, first, second);
    if constexpr (I == Interpolation::FirstOrderAllpass)
    {
        alignas(16) float k[kMax], alpha[kMax], beta[kMax], consume[kMax];
        latticeGains(fraction, k, n);
        const uint64_t steps = allpassSteps(fraction, second, integer, n, slot, alpha, beta, consume);
        float s = slot.state;
        for (int j = 0; j < n; ++j)
            y[j] = (steps >> j) & 1 ? allpassStep(fraction[j], k[j], first[j], alpha[j], beta[j], consume[j], s)
                                   : allpassSample(fraction[j], k[j], first[j], s);
        slot.state = s;
        slot.lastCoefficient = fraction[n - 1];
        slot.lastInteger = integer[n - 1];
    }
    else
        for (int j = 0; j < n; ++j)
            y[j] = (second[j] - first[j]) * fraction[j] + first[j];
}

template <ModulatedDelayLine::Interpolation I>
KESTRUNE_INLINE void rampedReadAnyLength(ModulatedDelayLine& line, const float* delays, float* y, int n,
                                         ModulatedDelayLine::TapSlot& slot)
{
    const float* ring = line.ring();
    if (n == 64)
        rampedRead<64, I>(ring, line.writeIndex(), line.mask(), delays, y, n, slot);
    else if (n == 32)
        rampedRead<32, I>(ring, line.writeIndex(), line.mask(), delays, y, n, slot);
    else
        rampedRead<0, I>(ring, line.writeIndex(), line.mask(), delays, y, n, slot);
}

// One read from a ramp already accumulated.
KESTRUNE_INLINE void rampedReadFrom(const RampedTap& tap, const float* delays, int n,
                                    ModulatedDelayLine::Interpolation interpolation)
{
    ModulatedDelayLine::TapSlot& slot = tap.line->slot(tap.slot);
    switch (interpolation)
    {
    case Interpolation::Linear:
        rampedReadAnyLength<Interpolation::Linear>(*tap.line, delays, tap.out, n, slot);
        break;
    case Interpolation::QuantisedLinear:
        rampedReadAnyLength<Interpolation::QuantisedLinear>(*tap.line, delays, tap.out, n, slot);
        break;
    case Interpolation::FirstOrderAllpass:
        rampedReadAnyLength<Interpolation::FirstOrderAllpass>(*tap.line, delays, tap.out, n, slot);
        break;
    }
    slot.previousDelay = tap.target;
}

// The ramps of kLanes<V> x groups taps side by side, from their start and increment: tap t in lane
// t % kLanes<V> of group t / kLanes<V>; lanes past the last tap go to spare.
template <typename V>
KESTRUNE_INLINE void accumulateLanes(const float* start, const float* inc, int count, int n,
                                     float (*delays)[ModulatedDelayLine::kMaxBlock], float* spare)
{
    constexpr int kMaxGroups = kMaxRampedTaps / 4;
    constexpr int W = wide::kLanes<V>;
    const int groups = (count + W - 1) / W;
    V v[kMaxGroups], step[kMaxGroups];
    float* out[kMaxGroups][W];
    for (int g = 0; g < groups; ++g)
    {
        v[g] = wide::lanes<V>([&](int i) { return start[W * g + i]; });
        step[g] = wide::lanes<V>([&](int i) { return inc[W * g + i]; });
        for (int i = 0; i < W; ++i)
            out[g][i] = W * g + i < count ? delays[W * g + i] : spare;
    }
    for (int j = 0; j < n; j += 4)
        for (int g = 0; g < groups; ++g)
        {
            V d[4];
            for (int q = 0; q < 4; ++q)
                d[q] = v[g] += step[g];
            wide::storeTransposed(out[g], j, d);
        }
}

// The ramps of several taps at once: delays[t][j] as accumulate() gives them, the taps' chains of
// additions side by side in the lanes of a vector (one chain alone would wait on every addition).
// At most kMaxRampedTaps taps.
KESTRUNE_INLINE void accumulateRamps(const RampedTap* taps, int count, int n, float rampFactor,
                                     float (*delays)[ModulatedDelayLine::kMaxBlock])
{
    float start[kMaxRampedTaps] = {}, inc[kMaxRampedTaps] = {};
    for (int t = 0; t < count; ++t)
    {
        start[t] = taps[t].line->slot(taps[t].slot).previousDelay;
        inc[t] = (taps[t].target - start[t]) * rampFactor;
    }
    if (n % 4 != 0)
        for (int t = 0; t < count; ++t)
            accumulate(start[t], inc[t], n, delays[t]);
    else
    {
        alignas(32) float spare[ModulatedDelayLine::kMaxBlock];
        // Eight taps to a vector where there are more than four.
        if (wideVectors() && count > 4)
            accumulateLanes<wide::Lines8>(start, inc, count, n, delays, spare);
        else
            accumulateLanes<wide::Lines4>(start, inc, count, n, delays, spare);
    }
}
} // namespace

KESTRUNE_DISPATCH void ModulatedDelayLine::readRamped(float* y, int n, int slotIndex, float target, float rampFactor,
                                    Interpolation interpolation)
{
    TapSlot& s = slots_[slotIndex];
    alignas(16) float delays[kMaxBlock];
    accumulate(s.previousDelay, (target - s.previousDelay) * rampFactor, n, delays);
    prepareRampedRead(delays, n);
    rampedReadFrom(RampedTap{this, slotIndex, target, y}, delays, n, interpolation);
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
// Ones, zeros and ones: the step terms of a tap without steps.
struct NoSteps
{
    float alpha[ModulatedDelayLine::kMaxBlock] = {};
    float ones[ModulatedDelayLine::kMaxBlock];
    NoSteps() { std::fill(ones, ones + ModulatedDelayLine::kMaxBlock, 1.0f); }
};

// Rows read backwards: t[q] gets sample j + q of each lane from rev[lane] - j - q, the layout in which
// a reversed run of the ring holds a block (rev[lane] at its first sample).
template <typename V>
KESTRUNE_INLINE void loadReversedTransposed(const float* const* rev, int j, V t[4])
{
    V rows[4];
    for (int k = 0; k < 4; ++k)
    {
        if constexpr (sizeof(V) == 32)
        {
            wide::join(rev[k] - j - 3, rev[k + 4] - j - 3, rows[k]);
            rows[k] = wide::reversedHalves(rows[k]);
        }
        else
        {
            std::memcpy(&rows[k], rev[k] - j - 3, sizeof(V));
            rows[k] = wide::reversed(rows[k]);
        }
    }
    wide::transposeHalves(rows, t);
}

// Taps 0 .. kLanes<V> - 1 side by side (n a multiple of 4, at most kMaxBlock): lane t runs tap t's
// recursion, four samples per transposed step (see WideLines.h for the layout); groups of four samples
// without a step in any lane skip the step terms. A tap whose integer delay holds over the block
// reads the ring in place; only taps with steps are gathered.
template <typename V, bool Avx = false>
KESTRUNE_INLINE void allpassTapLanes(const RampedTap* taps, float (*delays)[ModulatedDelayLine::kMaxBlock], int n)
{
    constexpr int kMax = ModulatedDelayLine::kMaxBlock;
    constexpr int W = wide::kLanes<V>;
    static const NoSteps none;
    alignas(32) float coefficient[W][kMax], reversedFirst[W][kMax];
    alignas(32) float alphas[W][kMax], betas[W][kMax], consumes[W][kMax];
    uint64_t anySteps = 0;
    float* c[W];
    const float* a[W];
    float* al[W];
    float* be[W];
    float* co[W];
    float* y[W];
    float start[W];
    for (int t = 0; t < W; ++t)
    {
        ModulatedDelayLine& line = *taps[t].line;
        ModulatedDelayLine::TapSlot& slot = line.slot(taps[t].slot);
        y[t] = taps[t].out;
        start[t] = slot.state;
        al[t] = const_cast<float*>(none.alpha);
        be[t] = const_cast<float*>(none.ones);
        co[t] = const_cast<float*>(none.ones);
        // Without a step (allpassSteps finds none exactly then) the taps are one reversed run.
        const int32_t i0 = static_cast<int32_t>(bound(delays[t][0]));
        const int32_t i1 = static_cast<int32_t>(bound(delays[t][n - 1]));
        const int64_t base = (line.writeIndex() + i0) & line.mask();
        alignas(32) int32_t integer[kMax];
        ramp<Interpolation::FirstOrderAllpass>(delays[t], n, integer, coefficient[t]);
        c[t] = coefficient[t];
        if (i0 == i1 && i0 == slot.lastInteger && base - (n - 1) >= 0)
        {
            a[t] = line.ring() + base;
            slot.lastCoefficient = coefficient[t][n - 1];
            continue;
        }
        alignas(32) float first[kMax], second[kMax];
        gather(line.ring(), line.writeIndex(), line.mask(), integer, n, first, second);
        const uint64_t steps = allpassSteps(coefficient[t], second, integer, n, slot, alphas[t], betas[t], consumes[t]);
        anySteps |= steps;
        slot.lastCoefficient = coefficient[t][n - 1];
        if (steps)
        {
            al[t] = alphas[t];
            be[t] = betas[t];
            co[t] = consumes[t];
        }
        for (int j = 0; j < n; ++j)
            reversedFirst[t][n - 1 - j] = first[j];
        a[t] = reversedFirst[t] + n - 1;
        slot.lastInteger = integer[n - 1];
    }
    V s = wide::lanes<V>([&](int t) { return start[t]; });
    for (int j = 0; j < n; j += 4)
    {
        V vc[4], vk[4], va[4];
        wide::loadTransposed(c, j, vc);
        loadReversedTransposed(a, j, va);
        for (int q = 0; q < 4; ++q)
            vk[q] = latticeGains<V, Avx>(vc[q]);
        if (((anySteps >> j) & 15) == 0)
            for (int q = 0; q < 4; ++q)
            {
                // allpassSample in every lane
                const V out = vc[q] * va[q] + vk[q] * s;
                s = vk[q] * va[q] - vc[q] * s;
                va[q] = out;
            }
        else
        {
            V valpha[4], vbeta[4], vconsume[4];
            wide::loadTransposed(al, j, valpha);
            wide::loadTransposed(be, j, vbeta);
            wide::loadTransposed(co, j, vconsume);
            for (int q = 0; q < 4; ++q)
            {
                // allpassStep in every lane
                const V state = valpha[q] + vbeta[q] * s;
                const V out = vc[q] * va[q] + vk[q] * state;
                s = vconsume[q] * (vk[q] * va[q] - vc[q] * state) + (1.0f - vconsume[q]) * state;
                va[q] = out;
            }
        }
        wide::storeTransposed(y, j, va);
    }
    wide::forLanes(s, [&](int t, float v) {
        ModulatedDelayLine::TapSlot& slot = taps[t].line->slot(taps[t].slot);
        slot.state = v;
        slot.previousDelay = taps[t].target;
    });
}

#if KESTRUNE_HAS_DISPATCH
// Eight taps side by side on an AVX processor, compiled for AVX on its own so that the square roots
// can be one instruction.
__attribute__((target("avx"), noinline)) void allpassTapLanesAvx(const RampedTap* taps,
                                                                 float (*delays)[ModulatedDelayLine::kMaxBlock], int n)
{
    allpassTapLanes<wide::Lines8, true>(taps, delays, n);
}
#endif
} // namespace

namespace
{
// The reads of up to kMaxRampedTaps taps from their accumulated ramps.
KESTRUNE_INLINE void readAccumulated(const RampedTap* taps, int count, int n,
                                     float (*delays)[ModulatedDelayLine::kMaxBlock],
                                     ModulatedDelayLine::Interpolation interpolation)
{
    for (int t = 0; t < count; ++t)
        taps[t].line->prepareRampedRead(delays[t], n);
    int t = 0;
    if (interpolation == Interpolation::FirstOrderAllpass && n % 4 == 0 && n > 0 &&
        n <= ModulatedDelayLine::kMaxBlock)
    {
#if KESTRUNE_HAS_DISPATCH
        if (wideVectors())
            for (; t + 8 <= count; t += 8)
                allpassTapLanesAvx(taps + t, delays + t, n);
#endif
#ifdef KESTRUNE_SSE
        for (; t + 4 <= count; t += 4)
            allpassTapLanes<wide::Lines4>(taps + t, delays + t, n);
#endif
    }
    for (; t < count; ++t)
        rampedReadFrom(taps[t], delays[t], n, interpolation);
}

KESTRUNE_INLINE void allpassSections(const RampedTap* taps, const float* const* in, float* const* out, int count,
                                     int n, float g, const float* loopGain)
{
    for (int t = 0; t < count; ++t)
        sectionTail(*taps[t].line, taps[t].out, in[t], out[t], n, g, loopGain[t]);
}
} // namespace

KESTRUNE_DISPATCH void readRampedGroup(const RampedTap* taps, int count, int n, float rampFactor,
                                       ModulatedDelayLine::Interpolation interpolation)
{
    constexpr int kMax = ModulatedDelayLine::kMaxBlock;
    alignas(32) float delays[kMaxRampedTaps][kMax];
    for (int done = 0; done < count; done += kMaxRampedTaps)
    {
        const int part = std::min(count - done, kMaxRampedTaps);
        accumulateRamps(taps + done, part, n, rampFactor, delays);
        readAccumulated(taps + done, part, n, delays, interpolation);
    }
}

KESTRUNE_DISPATCH void accumulateRampGroup(const RampedTap* taps, int count, int n, float rampFactor,
                                           float (*delays)[ModulatedDelayLine::kMaxBlock])
{
    accumulateRamps(taps, std::min(count, kMaxRampedTaps), n, rampFactor, delays);
}

KESTRUNE_DISPATCH void readRampedGroup(const RampedTap* taps, int count, int n,
                                       float (*delays)[ModulatedDelayLine::kMaxBlock],
                                       ModulatedDelayLine::Interpolation interpolation)
{
    count = std::min(count, kMaxRampedTaps);
    readAccumulated(taps, count, n, delays, interpolation);
}

KESTRUNE_DISPATCH void allpassBlockGroup(ModulatedDelayLine* const* lines, const float* const* in, float* const* out,
                                         int count, int n, const float* newDelay, float g, const float* loopGain,
                                         float rampFactor, ModulatedDelayLine::Interpolation interpolation)
{
    RampedTap taps[kMaxRampedTaps];
    for (int done = 0; done < count; done += kMaxRampedTaps)
    {
        const int part = std::min(count - done, kMaxRampedTaps);
        for (int t = 0; t < part; ++t)
            taps[t] = allpassSectionTap(*lines[done + t], newDelay[done + t]);
        readRampedGroup(taps, part, n, rampFactor, interpolation);
        allpassSections(taps, in + done, out + done, part, n, g, loopGain + done);
    }
}

KESTRUNE_DISPATCH void allpassBlockGroup(const RampedTap* taps, const float* const* in, float* const* out, int count,
                                         int n, float (*delays)[ModulatedDelayLine::kMaxBlock], float g,
                                         const float* loopGain, ModulatedDelayLine::Interpolation interpolation)
{
    count = std::min(count, kMaxRampedTaps);
    readAccumulated(taps, count, n, delays, interpolation);
    allpassSections(taps, in, out, count, n, g, loopGain);
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
