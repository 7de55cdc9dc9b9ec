#pragma once

#include "Dispatch.h"
#include "Filters.h"
#include "WideLines.h"

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

// One two-band gain around a one-pole split (see splitGains): its filters, coefficient and gains
// (lower null for 1).
struct Split
{
    OnePole* filters;
    float coefficient;
    const float* upperGains;
    const float* lowerGains;
};

// The K splits in turn on lines g .. g + kLanes<V> - 1 of x, the lines side by side: per sample and
// lane the scalar operations of splitGains in their order (a missing lower gain multiplies by 1 too).
template <typename V, int K>
KESTRUNE_INLINE void splitLines(float (*x)[64], int g, int n, const Split* splits)
{
    constexpr int W = wide::kLanes<V>;
    V state[K], upper[K], lower[K];
    float keep[K], coefficient[K];
    for (int k = 0; k < K; ++k)
    {
        const Split& sp = splits[k];
        state[k] = wide::lanes<V>([&](int i) { return sp.filters[g + i].state; });
        upper[k] = wide::lanes<V>([&](int i) { return sp.upperGains[g + i]; });
        lower[k] = wide::lanes<V>([&](int i) { return sp.lowerGains != nullptr ? sp.lowerGains[g + i] : 1.0f; });
        coefficient[k] = sp.coefficient;
        keep[k] = 1.0f - sp.coefficient;
    }
    float* lines[W];
    for (int i = 0; i < W; ++i)
        lines[i] = x[g + i];
    wide::sideBySide<V>(lines, n, [&](int, V& in) {
        for (int k = 0; k < K; ++k)
        {
            state[k] = state[k] * keep[k] + coefficient[k] * in;
            in = (in - state[k]) * upper[k] + state[k] * lower[k];
        }
    });
    for (int k = 0; k < K; ++k)
        wide::forLanes(state[k], [&](int i, float s) { splits[k].filters[g + i].state = s; });
}

// Two-band gain around a one-pole split on count block buffers: the low-passed part of x[i] takes
// lowerGains[i] (1 when null), the rest upperGains[i]. The filter states carry over to the next block.
// Eight lines run side by side so that their recursions overlap instead of queueing.
KESTRUNE_INLINE void splitGains(OnePole* filters, float (*x)[64], int count, int n, float coefficient,
                       const float* upperGains, const float* lowerGains)
{
    constexpr int kGroup = 8;
    const float keep = 1.0f - coefficient;
    const Split split{filters, coefficient, upperGains, lowerGains};
    int g = 0;
    if (wideVectors() && n % 4 == 0)
        for (; g + 8 <= count; g += 8)
            splitLines<wide::Lines8, 1>(x, g, n, &split);
#if defined(__SSE2__)
    // Four lines in the lanes of one vector, four samples at a time through a transpose.
    if (n % 4 == 0)
        for (; g + 4 <= count; g += 4)
            splitLines<wide::Lines4, 1>(x, g, n, &split);
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

// splitGains with first, then splitGains with second on the same buffers, in one pass where the
// eight-line vectors are available: per sample the same operations in the same order.
KESTRUNE_INLINE void splitGainsTwice(float (*x)[64], int count, int n, const Split& first, const Split& second)
{
    int g = 0;
    if (wideVectors() && n % 4 == 0)
    {
        const Split splits[2] = {first, second};
        for (; g + 8 <= count; g += 8)
            splitLines<wide::Lines8, 2>(x, g, n, splits);
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
