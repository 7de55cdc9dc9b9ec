#pragma once

// The frame's serial recursions for both channels at once: left and right in the two low lanes of
// one vector (the upper two lanes carry zeros), so the two recursions share instructions and
// overlap. Every lane does the single-channel routine's operations in its order: the results are
// those of running each channel on its own.

#include "Dispatch.h"
#include "Filters.h"
#include "HalfbandFilter.h"

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

#if defined(__SSE2__)
// Each filter below as a step on one (left, right, 0, 0) pair, its states in registers: the routines
// run one over a block, the frame chains several in one pass.
struct FirstOrderPair
{
    __m128 a, b, c, s;
    FirstOrderPair(const FirstOrderSection& left, const FirstOrderSection& right)
        : a(pair(left.c0, right.c0)), b(pair(left.c1, right.c1)), c(pair(left.c2, right.c2)),
          s(pair(left.state, right.state))
    {
    }
    void step(__m128& x)
    {
        const __m128 y = _mm_add_ps(_mm_mul_ps(b, x), s);
        s = _mm_sub_ps(_mm_mul_ps(c, x), _mm_mul_ps(a, y));
        x = y;
    }
    void store(FirstOrderSection& left, FirstOrderSection& right) const { unpair(s, left.state, right.state); }
};

struct StateVariablePair
{
    __m128 m11, m12, n1, m21, m22, n2, c1, c2, d, s1, s2;
    StateVariablePair(const SmoothedBiquad& left, const SmoothedBiquad& right, const SmoothedBiquad::Coefficients& cl,
                      const SmoothedBiquad::Coefficients& cr)
        : m11(pair(cl.m11, cr.m11)), m12(pair(cl.m12, cr.m12)), n1(pair(cl.n1, cr.n1)), m21(pair(cl.m21, cr.m21)),
          m22(pair(cl.m22, cr.m22)), n2(pair(cl.n2, cr.n2)), c1(pair(cl.c1, cr.c1)), c2(pair(cl.c2, cr.c2)),
          d(pair(cl.d, cr.d)), s1(pair(left.ic1, right.ic1)), s2(pair(left.ic2, right.ic2))
    {
    }
    void step(__m128& x)
    {
        const __m128 y = _mm_add_ps(_mm_add_ps(_mm_mul_ps(c1, s1), _mm_mul_ps(c2, s2)), _mm_mul_ps(d, x));
        const __m128 t1 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(m11, s1), _mm_mul_ps(m12, s2)), _mm_mul_ps(n1, x));
        s2 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(m21, s1), _mm_mul_ps(m22, s2)), _mm_mul_ps(n2, x));
        s1 = t1;
        x = y;
    }
    void store(SmoothedBiquad& left, SmoothedBiquad& right) const
    {
        unpair(s1, left.ic1, right.ic1);
        unpair(s2, left.ic2, right.ic2);
    }
};

struct ShelfPair
{
    __m128 g, hf, rest, s;
    ShelfPair(const ShelfFilter& left, const ShelfFilter& right)
        : g(pair(left.gain, right.gain)), hf(pair(left.gainHF, right.gainHF)),
          rest(pair(left.gainDC - left.gainHF, right.gainDC - right.gainHF)), s(pair(left.state, right.state))
    {
    }
    void step(__m128& x)
    {
        const __m128 v = _mm_mul_ps(_mm_sub_ps(x, s), g);
        const __m128 lp = _mm_add_ps(v, s);
        s = _mm_add_ps(lp, v);
        x = _mm_add_ps(_mm_mul_ps(hf, x), _mm_mul_ps(rest, lp));
    }
    void store(ShelfFilter& left, ShelfFilter& right) const { unpair(s, left.state, right.state); }
};

// OnePole::process: x becomes the low band.
struct OnePolePair
{
    __m128 c, keep, s;
    OnePolePair(const OnePole& left, const OnePole& right, float coefficient)
        : c(_mm_set1_ps(coefficient)), keep(_mm_set1_ps(1.0f - coefficient)), s(pair(left.state, right.state))
    {
    }
    void step(__m128& x)
    {
        s = _mm_add_ps(_mm_mul_ps(s, keep), _mm_mul_ps(c, x));
        x = s;
    }
    void store(OnePole& left, OnePole& right) const { unpair(s, left.state, right.state); }
};

// The four branches of two half-band filters as the lanes of one vector (left A, left B, right A,
// right B), four sections each: every lane runs the scalar section's operations in its order.
struct HalfbandBranches
{
    __m128 a[4], delta[4], s[4];

    // Both filters have the four sections this runs (otherwise their own routines must).
    static bool fits(const HalfbandFilter& l, const HalfbandFilter& r)
    {
        return l.sectionCount == 4 && r.sectionCount == 4;
    }

    HalfbandBranches(const HalfbandFilter& l, const HalfbandFilter& r)
    {
        for (int i = 0; i < 4; ++i)
        {
            a[i] = _mm_setr_ps(l.branchA[i].a, l.branchB[i].a, r.branchA[i].a, r.branchB[i].a);
            delta[i] = _mm_setr_ps(l.branchA[i].delta, l.branchB[i].delta, r.branchA[i].delta, r.branchB[i].delta);
            s[i] = _mm_setr_ps(l.branchA[i].s, l.branchB[i].s, r.branchA[i].s, r.branchB[i].s);
        }
    }

    __m128 run(__m128 x)
    {
        for (int i = 0; i < 4; ++i)
            x = halfbandSection(x, a[i], delta[i], s[i]);
        return x;
    }

    // One (left, right) pair to its two output pairs at twice the rate, as upsample() sums the
    // zero-stuffed branches: even = branch A + the carried sample (the last block's, then a stuffed
    // zero), odd = a stuffed zero + branch B. The additions stay: they turn -0 into +0 as those sums do.
    void interpolate(__m128 v, __m128& carry, __m128& even, __m128& odd)
    {
        const __m128 zero = _mm_setzero_ps();
        const __m128 y = run(_mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 0, 0))); // A, B of left, of right
        even = _mm_add_ps(_mm_shuffle_ps(y, zero, _MM_SHUFFLE(0, 0, 2, 0)), carry);
        odd = _mm_add_ps(zero, _mm_shuffle_ps(y, zero, _MM_SHUFFLE(0, 0, 3, 1)));
        carry = zero;
    }

    // The states back, and every section's denormal offset flipped for the next block.
    void store(HalfbandFilter& l, HalfbandFilter& r) const
    {
        for (int i = 0; i < 4; ++i)
        {
            alignas(16) float v[4];
            _mm_store_ps(v, s[i]);
            l.branchA[i].s = v[0];
            l.branchB[i].s = v[1];
            r.branchA[i].s = v[2];
            r.branchB[i].s = v[3];
            l.branchA[i].delta = -l.branchA[i].delta;
            l.branchB[i].delta = -l.branchB[i].delta;
            r.branchA[i].delta = -r.branchA[i].delta;
            r.branchB[i].delta = -r.branchB[i].delta;
        }
    }
};
#endif

// FirstOrderSection::process on each channel.
inline void firstOrder(FirstOrderSection& left, FirstOrderSection& right, float* xl, float* xr, int n)
{
#if defined(__SSE2__)
    if (n % 4 == 0)
    {
        FirstOrderPair f(left, right);
        pairwise(xl, xr, xl, xr, n, [&](__m128& x) { f.step(x); });
        f.store(left, right);
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
        StateVariablePair f(left, right, cl, cr);
        pairwise(xl, xr, xl, xr, n, [&](__m128& x) { f.step(x); });
        f.store(left, right);
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
        ShelfPair f(left, right);
        pairwise(xl, xr, xl, xr, n, [&](__m128& x) { f.step(x); });
        f.store(left, right);
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
        OnePolePair f(left, right, c);
        pairwise(inL, inR, loL, loR, n, [&](__m128& x) { f.step(x); });
        f.store(left, right);
        return;
    }
#endif
    left.process(inL, loL, n, c);
    right.process(inR, loR, n, c);
}

} // namespace kestrune::stereo
