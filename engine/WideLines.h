#pragma once

// Eight delay lines side by side for the per-line recursions of the late networks: lines 0 .. 3 in
// the low half of each vector and lines 4 .. 7 in the high half, four samples at a time. In the AVX
// build a vector is one register and each half is transposed on its own with in-lane shuffles.

#include <cstdint>
#include <cstring>

namespace kestrune::wide
{

typedef float Lines8 __attribute__((vector_size(32)));
typedef float Lines4 __attribute__((vector_size(16)));
typedef int32_t Mask8 __attribute__((vector_size(32)));

// Lane moves with constant indices (__builtin_shufflevector: GCC 12 and clang both have it).
inline Lines8 reversedHalves(Lines8 v) { return __builtin_shufflevector(v, v, 3, 2, 1, 0, 7, 6, 5, 4); }
inline Lines8 swappedHalves(Lines8 v) { return __builtin_shufflevector(v, v, 4, 5, 6, 7, 0, 1, 2, 3); }
inline Lines8 lowHalves(Lines8 a, Lines8 b) { return __builtin_shufflevector(a, b, 0, 1, 2, 3, 8, 9, 10, 11); }
inline Lines8 highHalves(Lines8 a, Lines8 b) { return __builtin_shufflevector(a, b, 4, 5, 6, 7, 12, 13, 14, 15); }

// All lanes in reverse order, for vectors of four or eight floats.
template <typename V>
inline V reversed(V v)
{
    if constexpr (sizeof(V) == 32)
        return __builtin_shufflevector(v, v, 7, 6, 5, 4, 3, 2, 1, 0);
    else
        return __builtin_shufflevector(v, v, 3, 2, 1, 0);
}

// Two halves joined in registers (a half-wide store then a full-width load would stall the load).
inline void join(const float* low, const float* high, Lines8& out)
{
    Lines4 a, b;
    std::memcpy(&a, low, sizeof(a));
    std::memcpy(&b, high, sizeof(b));
    out = __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7);
}

inline void split(const Lines8& v, float* low, float* high)
{
    const Lines4 a = __builtin_shufflevector(v, v, 0, 1, 2, 3);
    const Lines4 b = __builtin_shufflevector(v, v, 4, 5, 6, 7);
    std::memcpy(low, &a, sizeof(a));
    std::memcpy(high, &b, sizeof(b));
}

// Transposes each half of four vectors as a 4 x 4 block; its own inverse.
inline void transposeHalves(const Lines8 in[4], Lines8 out[4])
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
inline void loadTransposed(float* const* x, int j, Lines8 t[4])
{
    Lines8 rows[4];
    for (int k = 0; k < 4; ++k)
        join(x[k] + j, x[k + 4] + j, rows[k]);
    transposeHalves(rows, t);
}

// The inverse of loadTransposed.
inline void storeTransposed(float* const* x, int j, const Lines8 s[4])
{
    Lines8 t[4];
    transposeHalves(s, t);
    for (int k = 0; k < 4; ++k)
        split(t[k], x[k] + j, x[k + 4] + j);
}

inline void load(Lines8& v, const float* p)
{
    std::memcpy(&v, p, sizeof(Lines8));
}

inline void store(float* p, const Lines8& v)
{
    std::memcpy(p, &v, sizeof(Lines8));
}

} // namespace kestrune::wide
