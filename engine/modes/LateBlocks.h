#pragma once

#include "Dispatch.h"
#include "Filters.h"
#include "WideLines.h"

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace kestrune::late
{

// Sum/difference butterfly in place: a := a + b, b := b - a (the old a).
inline void butterfly(float* a, float* b, int n)
{
    for (int j = 0; j < n; ++j)
    {
        const float x = a[j];
        const float y = b[j];
        a[j] = x + y;
        b[j] = y - x;
    }
}

// Two-band gain around a one-pole split on count block buffers: the low-passed part of x[i] takes
// lowerGains[i] (1 when null), the rest upperGains[i]. The filter states carry over to the next block.
// Eight lines run side by side so that their recursions overlap instead of queueing.
KESTRUNE_INLINE void splitGains(OnePole* filters, float (*x)[64], int count, int n, float coefficient,
                       const float* upperGains, const float* lowerGains)
{
    constexpr int kGroup = 8;
    const float keep = 1.0f - coefficient;
    int g = 0;
    if (wideVectors() && n % 4 == 0)
        for (; g + 8 <= count; g += 8)
        {
            alignas(32) float s8[8], lower8[8];
            for (int i = 0; i < 8; ++i)
            {
                s8[i] = filters[g + i].state;
                lower8[i] = lowerGains != nullptr ? lowerGains[g + i] : 1.0f;
            }
            wide::Lines8 state, upper, lower;
            wide::load(state, s8);
            wide::load(upper, upperGains + g);
            wide::load(lower, lower8);
            float* lines[8];
            for (int i = 0; i < 8; ++i)
                lines[i] = x[g + i];
            for (int j = 0; j < n; j += 4)
            {
                wide::Lines8 t[4];
                wide::loadTransposed(lines, j, t);
                for (wide::Lines8& in : t)
                {
                    state = state * keep + coefficient * in;
                    in = (in - state) * upper + state * lower;
                }
                wide::storeTransposed(lines, j, t);
            }
            wide::store(s8, state);
            for (int i = 0; i < 8; ++i)
                filters[g + i].state = s8[i];
        }
#if defined(__SSE2__)
    // Four lines in the lanes of one vector, four samples at a time through a transpose; each lane
    // does the scalar operations below in their order (a missing lower gain multiplies by 1 as well).
    if (n % 4 == 0)
    {
        const __m128 vKeep = _mm_set1_ps(keep), vCoefficient = _mm_set1_ps(coefficient);
        for (; g + 4 <= count; g += 4)
        {
            __m128 state = _mm_setr_ps(filters[g].state, filters[g + 1].state, filters[g + 2].state,
                                       filters[g + 3].state);
            const __m128 upper = _mm_loadu_ps(upperGains + g);
            const __m128 lower = lowerGains != nullptr ? _mm_loadu_ps(lowerGains + g) : _mm_set1_ps(1.0f);
            float* x0 = x[g];
            float* x1 = x[g + 1];
            float* x2 = x[g + 2];
            float* x3 = x[g + 3];
            for (int j = 0; j < n; j += 4)
            {
                __m128 t0 = _mm_loadu_ps(x0 + j), t1 = _mm_loadu_ps(x1 + j);
                __m128 t2 = _mm_loadu_ps(x2 + j), t3 = _mm_loadu_ps(x3 + j);
                _MM_TRANSPOSE4_PS(t0, t1, t2, t3);
                for (__m128* t : {&t0, &t1, &t2, &t3})
                {
                    const __m128 in = *t;
                    state = _mm_add_ps(_mm_mul_ps(state, vKeep), _mm_mul_ps(vCoefficient, in));
                    *t = _mm_add_ps(_mm_mul_ps(_mm_sub_ps(in, state), upper), _mm_mul_ps(state, lower));
                }
                _MM_TRANSPOSE4_PS(t0, t1, t2, t3);
                _mm_storeu_ps(x0 + j, t0);
                _mm_storeu_ps(x1 + j, t1);
                _mm_storeu_ps(x2 + j, t2);
                _mm_storeu_ps(x3 + j, t3);
            }
            alignas(16) float s[4];
            _mm_store_ps(s, state);
            for (int i = 0; i < 4; ++i)
                filters[g + i].state = s[i];
        }
    }
#endif
    for (; g < count; g += kGroup)
    {
        const int m = count - g < kGroup ? count - g : kGroup;
        float s[kGroup], upper[kGroup], lower[kGroup];
        for (int i = 0; i < m; ++i)
        {
            s[i] = filters[g + i].state;
            upper[i] = upperGains[g + i];
            lower[i] = lowerGains != nullptr ? lowerGains[g + i] : 1.0f;
        }
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < m; ++i)
            {
                // The operations of OnePole::process, in its order.
                const float in = x[g + i][j];
                s[i] = s[i] * keep + coefficient * in;
                x[g + i][j] = (in - s[i]) * upper[i] + s[i] * lower[i];
            }
        for (int i = 0; i < m; ++i)
            filters[g + i].state = s[i];
    }
}

// One split of splitGains: its filters, coefficient and gains (lower null for 1).
struct Split
{
    OnePole* filters;
    float coefficient;
    const float* upperGains;
    const float* lowerGains;
};

// splitGains with first, then splitGains with second on the same buffers, in one pass where the
// eight-line vectors are available: per sample the same operations in the same order.
KESTRUNE_INLINE void splitGainsTwice(float (*x)[64], int count, int n, const Split& first, const Split& second)
{
    int g = 0;
    if (wideVectors() && n % 4 == 0)
    {
        const Split* splits[2] = {&first, &second};
        for (; g + 8 <= count; g += 8)
        {
            wide::Lines8 state[2], upper[2], lower[2];
            float keep[2], coefficient[2];
            for (int k = 0; k < 2; ++k)
            {
                const Split& sp = *splits[k];
                alignas(32) float s8[8], lower8[8];
                for (int i = 0; i < 8; ++i)
                {
                    s8[i] = sp.filters[g + i].state;
                    lower8[i] = sp.lowerGains != nullptr ? sp.lowerGains[g + i] : 1.0f;
                }
                wide::load(state[k], s8);
                wide::load(upper[k], sp.upperGains + g);
                wide::load(lower[k], lower8);
                coefficient[k] = sp.coefficient;
                keep[k] = 1.0f - sp.coefficient;
            }
            float* lines[8];
            for (int i = 0; i < 8; ++i)
                lines[i] = x[g + i];
            for (int j = 0; j < n; j += 4)
            {
                wide::Lines8 t[4];
                wide::loadTransposed(lines, j, t);
                for (wide::Lines8& in : t)
                    for (int k = 0; k < 2; ++k)
                    {
                        state[k] = state[k] * keep[k] + coefficient[k] * in;
                        in = (in - state[k]) * upper[k] + state[k] * lower[k];
                    }
                wide::storeTransposed(lines, j, t);
            }
            for (int k = 0; k < 2; ++k)
            {
                alignas(32) float s8[8];
                wide::store(s8, state[k]);
                for (int i = 0; i < 8; ++i)
                    splits[k]->filters[g + i].state = s8[i];
            }
        }
    }
    if (g < count)
    {
        auto offset = [g](const float* p) { return p != nullptr ? p + g : nullptr; };
        splitGains(first.filters + g, x + g, count - g, n, first.coefficient, first.upperGains + g,
                   offset(first.lowerGains));
        splitGains(second.filters + g, x + g, count - g, n, second.coefficient, second.upperGains + g,
                   offset(second.lowerGains));
    }
}

// A ramped read that writes after it reads must stay a whole block behind the write position;
// a read that follows this block's write needs only a non-negative delay.
inline float atLeast(float delay, float floor)
{
    return delay >= floor ? delay : floor;
}

} // namespace kestrune::late
