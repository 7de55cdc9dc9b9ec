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

// t[k] = sample j + k of the eight lines, from x[0..7] + j.
inline void loadTransposed(float* const* x, int j, Lines8 t[4])
{
    for (int k = 0; k < 4; ++k)
        join(x[k] + j, x[k + 4] + j, t[k]);
    const Lines8 t0 = __builtin_shuffle(t[0], t[1], Mask8{0, 8, 1, 9, 4, 12, 5, 13});
    const Lines8 t1 = __builtin_shuffle(t[0], t[1], Mask8{2, 10, 3, 11, 6, 14, 7, 15});
    const Lines8 t2 = __builtin_shuffle(t[2], t[3], Mask8{0, 8, 1, 9, 4, 12, 5, 13});
    const Lines8 t3 = __builtin_shuffle(t[2], t[3], Mask8{2, 10, 3, 11, 6, 14, 7, 15});
    t[0] = __builtin_shuffle(t0, t2, Mask8{0, 1, 8, 9, 4, 5, 12, 13});
    t[1] = __builtin_shuffle(t0, t2, Mask8{2, 3, 10, 11, 6, 7, 14, 15});
    t[2] = __builtin_shuffle(t1, t3, Mask8{0, 1, 8, 9, 4, 5, 12, 13});
    t[3] = __builtin_shuffle(t1, t3, Mask8{2, 3, 10, 11, 6, 7, 14, 15});
}

// The inverse of loadTransposed.
inline void storeTransposed(float* const* x, int j, const Lines8 s[4])
{
    Lines8 t[4];
    const Lines8 t0 = __builtin_shuffle(s[0], s[1], Mask8{0, 8, 1, 9, 4, 12, 5, 13});
    const Lines8 t1 = __builtin_shuffle(s[0], s[1], Mask8{2, 10, 3, 11, 6, 14, 7, 15});
    const Lines8 t2 = __builtin_shuffle(s[2], s[3], Mask8{0, 8, 1, 9, 4, 12, 5, 13});
    const Lines8 t3 = __builtin_shuffle(s[2], s[3], Mask8{2, 10, 3, 11, 6, 14, 7, 15});
    t[0] = __builtin_shuffle(t0, t2, Mask8{0, 1, 8, 9, 4, 5, 12, 13});
    t[1] = __builtin_shuffle(t0, t2, Mask8{2, 3, 10, 11, 6, 7, 14, 15});
    t[2] = __builtin_shuffle(t1, t3, Mask8{0, 1, 8, 9, 4, 5, 12, 13});
    t[3] = __builtin_shuffle(t1, t3, Mask8{2, 3, 10, 11, 6, 7, 14, 15});
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
