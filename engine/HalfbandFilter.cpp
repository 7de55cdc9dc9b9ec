#include "HalfbandFilter.h"
#include "Dispatch.h"

#include "StereoFilters.h"
#include "Vector.h"

#if defined(__SSE2__)
#include <xmmintrin.h>
#define KESTRUNE_SSE 1
#endif

namespace kestrune
{

HalfbandFilter::HalfbandFilter()
{
    static constexpr float kA[4] = {0.0358327888f, 0.272040129f, 0.572057188f, 0.827124774f};
    static constexpr float kB[4] = {0.13409014f, 0.42432487f, 0.706292152f, 0.941503108f};
    for (int i = 0; i < 4; ++i)
    {
        branchA[i].a = kA[i];
        branchB[i].a = kB[i];
    }
}

void HalfbandFilter::reset()
{
    for (int i = 0; i < sectionCount; ++i)
    {
        branchA[i].s = 0.0f;
        branchB[i].s = 0.0f;
    }
    delayState = 0.0f;
    vec::clear(bufferA, kMaxBlock);
    vec::clear(bufferB, kMaxBlock);
    vec::clear(stuffedA, kMaxBlock);
    vec::clear(stuffedB, kMaxBlock);
}

void HalfbandFilter::runBranch(Section* sections, int count, float* x, int n)
{
    for (int i = 0; i < count; ++i)
    {
        Section& sec = sections[i];
        const float a = sec.a;
        const float delta = sec.delta;
        float s = sec.s;
        for (int j = 0; j < n; ++j)
            x[j] = halfbandSection(x[j], a, delta, s);
        sec.s = s;
        sec.delta = -delta;
    }
}

namespace
{
// Both branches' four sections sample by sample: eight short recursions the processor can overlap,
// where section after section over the block is one long dependency chain. Same arithmetic, same order.
void runBothBranches(HalfbandFilter& f, float* xa, float* xb, int n)
{
    HalfbandFilter::Section* A = f.branchA;
    HalfbandFilter::Section* B = f.branchB;
    float a[4], b[4], da[4], db[4], sa[4], sb[4];
    for (int i = 0; i < 4; ++i)
    {
        a[i] = A[i].a, da[i] = A[i].delta, sa[i] = A[i].s;
        b[i] = B[i].a, db[i] = B[i].delta, sb[i] = B[i].s;
    }
    for (int j = 0; j < n; ++j)
    {
        float x = xa[j], y = xb[j];
        for (int i = 0; i < 4; ++i)
        {
            x = halfbandSection(x, a[i], da[i], sa[i]);
            y = halfbandSection(y, b[i], db[i], sb[i]);
        }
        xa[j] = x;
        xb[j] = y;
    }
    for (int i = 0; i < 4; ++i)
    {
        A[i].s = sa[i];
        B[i].s = sb[i];
        A[i].delta = -A[i].delta;
        B[i].delta = -B[i].delta;
    }
}

void runBranches(HalfbandFilter& f, int n)
{
    if (f.sectionCount == 4)
        runBothBranches(f, f.bufferA, f.bufferB, n);
    else
    {
        HalfbandFilter::runBranch(f.branchA, f.sectionCount, f.bufferA, n);
        HalfbandFilter::runBranch(f.branchB, f.sectionCount, f.bufferB, n);
    }
}
} // namespace

void HalfbandFilter::decimate(const float* in, float* out, int outputLength)
{
    const int n = outputLength;
    bufferB[0] = delayState; // the previous frame's last sample
    for (int k = 0; k < n; ++k)
    {
        bufferA[k] = in[2 * k];
        if (k > 0)
            bufferB[k] = in[2 * k - 1];
    }
    delayState = in[2 * n - 1];
    runBranches(*this, n);
    vec::add(bufferA, bufferB, out, n);
    vec::scale(out, 0.5f, out, n);
}

void upsample(HalfbandFilter& f, const float* in, float* out, uint32_t outputLength, uint32_t inputLength)
{
    const int n = static_cast<int>(inputLength);
    const int m = static_cast<int>(outputLength);
    vec::copy(in, f.bufferA, n);
    vec::copy(in, f.bufferB, n);
    runBranches(f, n);
    for (int k = 0; k < n; ++k)
    {
        f.stuffedA[2 * k] = f.bufferA[k];
        f.stuffedA[2 * k + 1] = 0.0f;
        f.stuffedB[2 * k] = f.bufferB[k];
        f.stuffedB[2 * k + 1] = 0.0f;
    }
    // Every input sample has been consumed above, so out may be the input array.
    out[0] = f.stuffedA[0] + f.delayState;
    for (int j = 1; j < m; ++j)
        out[j] = f.stuffedA[j] + f.stuffedB[j - 1];
    f.delayState = f.stuffedB[m - 1];
}

#ifdef KESTRUNE_SSE
namespace
{
bool stereoPossible(const HalfbandFilter& l, const HalfbandFilter& r, int n)
{
    return stereo::HalfbandBranches::fits(l, r) && n >= 1 && n <= HalfbandFilter::kMaxBlock / 2;
}
} // namespace
#endif

KESTRUNE_DISPATCH void decimateStereo(HalfbandFilter& l, HalfbandFilter& r, const float* inL, const float* inR, float* outL,
                    float* outR, int n)
{
#ifdef KESTRUNE_SSE
    if (stereoPossible(l, r, n))
    {
        stereo::HalfbandBranches b(l, r);
        const __m128 half = _mm_set1_ps(0.5f);
        float previousL = l.delayState, previousR = r.delayState;
        for (int k = 0; k < n; ++k)
        {
            const __m128 y = b.run(_mm_setr_ps(inL[2 * k], previousL, inR[2 * k], previousR));
            previousL = inL[2 * k + 1];
            previousR = inR[2 * k + 1];
            // Lanes 0 and 2: branch A + branch B of each channel, then the half.
            const __m128 sum = _mm_mul_ps(_mm_add_ps(y, _mm_shuffle_ps(y, y, _MM_SHUFFLE(2, 3, 0, 1))), half);
            outL[k] = _mm_cvtss_f32(sum);
            outR[k] = _mm_cvtss_f32(_mm_movehl_ps(sum, sum));
        }
        l.delayState = previousL;
        r.delayState = previousR;
        b.store(l, r);
        return;
    }
#endif
    l.decimate(inL, outL, n);
    r.decimate(inR, outR, n);
}

KESTRUNE_DISPATCH void upsampleStereo(HalfbandFilter& l, HalfbandFilter& r, float* xL, float* xR, int n)
{
#ifdef KESTRUNE_SSE
    if (stereoPossible(l, r, n))
    {
        stereo::HalfbandBranches b(l, r);
        __m128 carry = stereo::pair(l.delayState, r.delayState);
        // Kept until every input has been read: the outputs overwrite them.
        alignas(16) float even[HalfbandFilter::kMaxBlock / 2][4], odd[HalfbandFilter::kMaxBlock / 2][4];
        for (int k = 0; k < n; ++k)
        {
            __m128 e, o;
            b.interpolate(stereo::pair(xL[k], xR[k]), carry, e, o);
            _mm_store_ps(even[k], e);
            _mm_store_ps(odd[k], o);
        }
        b.store(l, r);
        for (int k = 0; k < n; ++k)
        {
            xL[2 * k] = even[k][0];
            xR[2 * k] = even[k][1];
            xL[2 * k + 1] = odd[k][0];
            xR[2 * k + 1] = odd[k][1];
        }
        l.delayState = 0.0f;
        r.delayState = 0.0f;
        return;
    }
#endif
    upsample(l, xL, xL, static_cast<uint32_t>(2 * n), static_cast<uint32_t>(n));
    upsample(r, xR, xR, static_cast<uint32_t>(2 * n), static_cast<uint32_t>(n));
}

} // namespace kestrune
