#pragma once

#include "Filters.h"

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
inline void splitGains(OnePole* filters, float (*x)[64], int count, int n, float coefficient,
                       const float* upperGains, const float* lowerGains)
{
    constexpr int kGroup = 8;
    const float keep = 1.0f - coefficient;
    for (int g = 0; g < count; g += kGroup)
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

// A ramped read that writes after it reads must stay a whole block behind the write position;
// a read that follows this block's write needs only a non-negative delay.
inline float atLeast(float delay, float floor)
{
    return delay >= floor ? delay : floor;
}

} // namespace kestrune::late
