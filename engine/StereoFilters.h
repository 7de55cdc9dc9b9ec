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

// SmoothedBiquad::run on each channel with the given coefficients (a1, a2, b0, b1, b2 each).
inline void biquad(SmoothedBiquad& left, SmoothedBiquad& right, float* xl, float* xr, int n, const float* cl,
                   const float* cr)
{
#if defined(__SSE2__)
    if (n % 4 == 0)
    {
        const __m128 a1 = pair(cl[0], cr[0]), a2 = pair(cl[1], cr[1]), b0 = pair(cl[2], cr[2]);
        const __m128 b1 = pair(cl[3], cr[3]), b2 = pair(cl[4], cr[4]);
        __m128 x1 = pair(left.x1, right.x1), x2 = pair(left.x2, right.x2);
        __m128 y1 = pair(left.y1, right.y1), y2 = pair(left.y2, right.y2);
        pairwise(xl, xr, xl, xr, n, [&](__m128& x) {
            __m128 out = _mm_add_ps(_mm_mul_ps(b0, x), _mm_mul_ps(b1, x1));
            out = _mm_add_ps(out, _mm_mul_ps(b2, x2));
            out = _mm_sub_ps(out, _mm_mul_ps(a1, y1));
            out = _mm_sub_ps(out, _mm_mul_ps(a2, y2));
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = out;
            x = out;
        });
        unpair(x1, left.x1, right.x1);
        unpair(x2, left.x2, right.x2);
        unpair(y1, left.y1, right.y1);
        unpair(y2, left.y2, right.y2);
        return;
    }
#endif
    left.run(xl, n, cl);
    right.run(xr, n, cr);
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
