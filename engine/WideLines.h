#pragma once

// Delay lines side by side for the per-line recursions of the late networks, four samples at a
// time: four lines in the lanes of a Lines4, or eight in a Lines8 (lines 0 .. 3 in the low half and
// lines 4 .. 7 in the high half). In the AVX build a Lines8 is one register and each half is
// transposed on its own with in-lane shuffles.

#include "Dispatch.h"

#include <cstdint>
#include <cstring>

namespace kestrune::wide
{

typedef float Lines8 __attribute__((vector_size(32)));
typedef float Lines4 __attribute__((vector_size(16)));
typedef int32_t Mask8 __attribute__((vector_size(32)));

// Lane moves with constant indices (__builtin_shufflevector: GCC 12 and clang both have it).
KESTRUNE_INLINE Lines8 reversedHalves(Lines8 v) { return __builtin_shufflevector(v, v, 3, 2, 1, 0, 7, 6, 5, 4); }
KESTRUNE_INLINE Lines8 swappedHalves(Lines8 v) { return __builtin_shufflevector(v, v, 4, 5, 6, 7, 0, 1, 2, 3); }
KESTRUNE_INLINE Lines8 lowHalves(Lines8 a, Lines8 b) { return __builtin_shufflevector(a, b, 0, 1, 2, 3, 8, 9, 10, 11); }
KESTRUNE_INLINE Lines8 highHalves(Lines8 a, Lines8 b) { return __builtin_shufflevector(a, b, 4, 5, 6, 7, 12, 13, 14, 15); }

// All lanes in reverse order, for vectors of four or eight floats.
template <typename V>
KESTRUNE_INLINE V reversed(V v)
{
    if constexpr (sizeof(V) == 32)
        return __builtin_shufflevector(v, v, 7, 6, 5, 4, 3, 2, 1, 0);
    else
        return __builtin_shufflevector(v, v, 3, 2, 1, 0);
}

// Two halves joined in registers (a half-wide store then a full-width load would stall the load).
KESTRUNE_INLINE void join(const float* low, const float* high, Lines8& out)
{
    Lines4 a, b;
    std::memcpy(&a, low, sizeof(a));
    std::memcpy(&b, high, sizeof(b));
    out = __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7);
}

KESTRUNE_INLINE void split(const Lines8& v, float* low, float* high)
{
    const Lines4 a = __builtin_shufflevector(v, v, 0, 1, 2, 3);
    const Lines4 b = __builtin_shufflevector(v, v, 4, 5, 6, 7);
    std::memcpy(low, &a, sizeof(a));
    std::memcpy(high, &b, sizeof(b));
}

// Transposes four vectors as a 4 x 4 block; its own inverse.
KESTRUNE_INLINE void transposeHalves(const Lines4 in[4], Lines4 out[4])
{
    const Lines4 t0 = __builtin_shufflevector(in[0], in[1], 0, 4, 1, 5);
    const Lines4 t1 = __builtin_shufflevector(in[0], in[1], 2, 6, 3, 7);
    const Lines4 t2 = __builtin_shufflevector(in[2], in[3], 0, 4, 1, 5);
    const Lines4 t3 = __builtin_shufflevector(in[2], in[3], 2, 6, 3, 7);
    out[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    out[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    out[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    out[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// Transposes each half of four vectors as a 4 x 4 block; its own inverse.
KESTRUNE_INLINE void transposeHalves(const Lines8 in[4], Lines8 out[4])
{
    const Lines8 t0 = __builtin_shufflevector(in[0], in[1], 0, 8, 1, 9, 4, 12, 5, 13);
    const Lines8 t1 = __builtin_shufflevector(in[0], in[1], 2, 10, 3, 11, 6, 14, 7, 15);
    const Lines8 t2 = __builtin_shufflevector(in[2], in[3], 0, 8, 1, 9, 4, 12, 5, 13);
    const Lines8 t3 = __builtin_shufflevector(in[2], in[3], 2, 10, 3, 11, 6, 14, 7, 15);
    out[0] = __builtin_shufflevector(t0, t2, 0, 1, 8, 9, 4, 5, 12, 13);
    out[1] = __builtin_shufflevector(t0, t2, 2, 3, 10, 11, 6, 7, 14, 15);
    out[2] = __builtin_shufflevector(t1, t3, 0, 1, 8, 9, 4, 5, 12, 13);
    out[3] = __builtin_shufflevector(t1, t3, 2, 3, 10, 11, 6, 7, 14, 15);
}

// t[k] = sample j + k of the eight lines, from x[0..7] + j.
KESTRUNE_INLINE void loadTransposed(float* const* x, int j, Lines8 t[4])
{
    Lines8 rows[4];
    for (int k = 0; k < 4; ++k)
        join(x[k] + j, x[k + 4] + j, rows[k]);
    transposeHalves(rows, t);
}

// The inverse of loadTransposed.
KESTRUNE_INLINE void storeTransposed(float* const* x, int j, const Lines8 s[4])
{
    Lines8 t[4];
    transposeHalves(s, t);
    for (int k = 0; k < 4; ++k)
        split(t[k], x[k] + j, x[k + 4] + j);
}

// The same for four lines in a Lines4.
KESTRUNE_INLINE void loadTransposed(float* const* x, int j, Lines4 t[4])
{
    Lines4 rows[4];
    for (int k = 0; k < 4; ++k)
        std::memcpy(&rows[k], x[k] + j, sizeof(Lines4));
    transposeHalves(rows, t);
}

KESTRUNE_INLINE void storeTransposed(float* const* x, int j, const Lines4 s[4])
{
    Lines4 t[4];
    transposeHalves(s, t);
    for (int k = 0; k < 4; ++k)
        std::memcpy(x[k] + j, &t[k], sizeof(Lines4));
}

KESTRUNE_INLINE void load(Lines8& v, const float* p)
{
    std::memcpy(&v, p, sizeof(Lines8));
}

KESTRUNE_INLINE void store(float* p, const Lines8& v)
{
    std::memcpy(p, &v, sizeof(Lines8));
}

// Lines per vector: 4 for Lines4, 8 for Lines8.
template <typename V>
inline constexpr int kLanes = static_cast<int>(sizeof(V) / sizeof(float));

// A vector of lane(0) .. lane(lanes - 1), e.g. one filter state per line.
template <typename V, typename Lane>
KESTRUNE_INLINE V lanes(Lane lane)
{
    alignas(sizeof(V)) float a[kLanes<V>];
    for (int i = 0; i < kLanes<V>; ++i)
        a[i] = lane(i);
    V v;
    std::memcpy(&v, a, sizeof(V));
    return v;
}

// Hands each lane of v to lane(i, value), e.g. to store the states back.
template <typename V, typename Lane>
KESTRUNE_INLINE void forLanes(const V& v, Lane lane)
{
    alignas(sizeof(V)) float a[kLanes<V>];
    std::memcpy(a, &v, sizeof(V));
    for (int i = 0; i < kLanes<V>; ++i)
        lane(i, a[i]);
}

// Runs G groups of kLanes<V> lines side by side over n samples (n a multiple of 4), in place:
// lines[g * kLanes<V> + i] is line i of group g. For each sample in order, step(g, in) gets group g's
// samples in the lanes of in and replaces them; the groups' recursions interleave, so that each
// one's latency hides behind the others'. Each lane sees exactly the operations of its line alone.
template <typename V, int G = 1, typename Step>
KESTRUNE_INLINE void sideBySide(float* const* lines, int n, Step step)
{
    for (int j = 0; j < n; j += 4)
    {
        V t[G][4];
        for (int g = 0; g < G; ++g)
            loadTransposed(lines + g * kLanes<V>, j, t[g]);
        for (int k = 0; k < 4; ++k)
            for (int g = 0; g < G; ++g)
                step(g, t[g][k]);
        for (int g = 0; g < G; ++g)
            storeTransposed(lines + g * kLanes<V>, j, t[g]);
    }
}

} // namespace kestrune::wide
