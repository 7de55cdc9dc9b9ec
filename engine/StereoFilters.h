#pragma once

// The frame's serial recursions for both channels at once: left and right in the two low lanes of
// one vector (the upper two lanes carry zeros), so the two recursions share instructions and
// overlap. Every lane does the single-channel routine's operations in its order: the results are
// those of running each channel on its own.

#include "Dispatch.h"
#include "Filters.h"

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace kestrune::stereo
{

#if defined(__SSE2__)
// Samples j .. j + 3 of two channels as four (left, right, 0, 0) pairs.
inline void loadPairs(const float* l, const float* r, __m128 p[4])
{
    const __m128 zero = _mm_setzero_ps();
    const __m128 a = _mm_loadu_ps(l), b = _mm_loadu_ps(r);
    const __m128 lo = _mm_unpacklo_ps(a, b); // l0 r0 l1 r1
    const __m128 hi = _mm_unpackhi_ps(a, b); // l2 r2 l3 r3
    p[0] = _mm_movelh_ps(lo, zero);
    p[1] = _mm_movehl_ps(zero, lo);
    p[2] = _mm_movelh_ps(hi, zero);
    p[3] = _mm_movehl_ps(zero, hi);
}

inline void storePairs(float* l, float* r, const __m128 p[4])
{
    const __m128 lo = _mm_movelh_ps(p[0], p[1]); // l0 r0 l1 r1
    const __m128 hi = _mm_movelh_ps(p[2], p[3]); // l2 r2 l3 r3
    _mm_storeu_ps(l, _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)));
    _mm_storeu_ps(r, _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)));
}

inline __m128 pair(float l, float r)
{
    return _mm_setr_ps(l, r, 0.0f, 0.0f);
}

inline void unpair(__m128 v, float& l, float& r)
{
    alignas(16) float t[4];
    _mm_store_ps(t, v);
    l = t[0];
    r = t[1];
}

// step(x) on each pair of samples in order, n a multiple of 4: in to out, which may be the same.
template <typename Step>
KESTRUNE_INLINE void pairwise(const float* inL, const float* inR, float* outL, float* outR, int n, Step step)
{
    for (int j = 0; j < n; j += 4)
    {
        __m128 p[4];
        loadPairs(inL + j, inR + j, p);
        for (__m128& x : p)
            step(x);
        storePairs(outL + j, outR + j, p);
    }
}
#endif

// FirstOrderSection::process on each channel.
inline void firstOrder(FirstOrderSection& left, FirstOrderSection& right, float* xl, float* xr, int n)
{
#if defined(__SSE2__)
    if (n % 4 == 0)
    {
        const __m128 a = pair(left.c0, right.c0), b = pair(left.c1, right.c1), c = pair(left.c2, right.c2);
        __m128 s = pair(left.state, right.state);
        pairwise(xl, xr, xl, xr, n, [&](__m128& x) {
            const __m128 y = _mm_add_ps(_mm_mul_ps(b, x), s);
            s = _mm_sub_ps(_mm_mul_ps(c, x), _mm_mul_ps(a, y));
            x = y;
        });
        unpair(s, left.state, right.state);
        return;
    }
#endif
    left.process(xl, n);
    right.process(xr, n);
}

// SmoothedBiquad::run on each channel with the given coefficients.
inline void stateVariable(SmoothedBiquad& left, SmoothedBiquad& right, float* xl, float* xr, int n,
                          const SmoothedBiquad::Coefficients& cl, const SmoothedBiquad::Coefficients& cr)
{
#if defined(__SSE2__)
    if (n % 4 == 0 && !cl.pass && !cr.pass)
    {
        const __m128 a1 = pair(cl.a1, cr.a1), a2 = pair(cl.a2, cr.a2), a3 = pair(cl.a3, cr.a3);
        __m128 s1 = pair(left.ic1, right.ic1), s2 = pair(left.ic2, right.ic2);
        pairwise(xl, xr, xl, xr, n, [&](__m128& x) {
            const __m128 v3 = _mm_sub_ps(x, s2);
            const __m128 v1 = _mm_add_ps(_mm_mul_ps(a1, s1), _mm_mul_ps(a2, v3));
            const __m128 v2 = _mm_add_ps(_mm_add_ps(s2, _mm_mul_ps(a2, s1)), _mm_mul_ps(a3, v3));
            s1 = _mm_sub_ps(_mm_add_ps(v1, v1), s1);
            s2 = _mm_sub_ps(_mm_add_ps(v2, v2), s2);
            x = v2;
        });
        unpair(s1, left.ic1, right.ic1);
        unpair(s2, left.ic2, right.ic2);
        return;
    }
#endif
    left.run(xl, n, cl);
    right.run(xr, n, cr);
}

// ShelfFilter::process on each channel.
inline void shelf(ShelfFilter& left, ShelfFilter& right, float* xl, float* xr, int n)
{
#if defined(__SSE2__)
    if (n % 4 == 0)
    {
        const __m128 g = pair(left.gain, right.gain), hf = pair(left.gainHF, right.gainHF);
        const __m128 rest = pair(left.gainDC - left.gainHF, right.gainDC - right.gainHF);
        __m128 s = pair(left.state, right.state);
        pairwise(xl, xr, xl, xr, n, [&](__m128& x) {
            const __m128 v = _mm_mul_ps(_mm_sub_ps(x, s), g);
            const __m128 lp = _mm_add_ps(v, s);
            s = _mm_add_ps(lp, v);
            x = _mm_add_ps(_mm_mul_ps(hf, x), _mm_mul_ps(rest, lp));
        });
        unpair(s, left.state, right.state);
        return;
    }
#endif
    left.process(xl, n);
    right.process(xr, n);
}

// OnePole::process (in to lo, coefficient c) on each channel.
inline void onePole(OnePole& left, OnePole& right, const float* inL, const float* inR, float* loL, float* loR,
                    int n, float c)
{
#if defined(__SSE2__)
    if (n % 4 == 0)
    {
        const __m128 vc = _mm_set1_ps(c), keep = _mm_set1_ps(1.0f - c);
        __m128 s = pair(left.state, right.state);
        pairwise(inL, inR, loL, loR, n, [&](__m128& x) {
            s = _mm_add_ps(_mm_mul_ps(s, keep), _mm_mul_ps(vc, x));
            x = s;
        });
        unpair(s, left.state, right.state);
        return;
    }
#endif
    left.process(inL, loL, n, c);
    right.process(inR, loR, n, c);
}

} // namespace kestrune::stereo
