#pragma once

#include <cstdint>

// The engine's vector layer: plain loops over float blocks (32, 64 or 128 samples) that the compiler
// vectorises. Arguments may alias (most block steps run in place), so there is no __restrict here.
namespace kestrune::vec
{

inline void clear(float* out, int n)
{
    for (int j = 0; j < n; ++j)
        out[j] = 0.0f;
}

inline void copy(const float* in, float* out, int n)
{
    for (int j = 0; j < n; ++j)
        out[j] = in[j];
}

// out = a + b
inline void add(const float* a, const float* b, float* out, int n)
{
    for (int j = 0; j < n; ++j)
        out[j] = a[j] + b[j];
}

// out = minuend - subtrahend. The subtrahend comes first: the butterflies' signs rest on this order.
inline void subtract(const float* subtrahend, const float* minuend, float* out, int n)
{
    for (int j = 0; j < n; ++j)
        out[j] = minuend[j] - subtrahend[j];
}

// out = a * scalar
inline void scale(const float* a, float scalar, float* out, int n)
{
    for (int j = 0; j < n; ++j)
        out[j] = a[j] * scalar;
}

// out = a * scalar + b
inline void scaleAdd(const float* a, float scalar, const float* b, float* out, int n)
{
    for (int j = 0; j < n; ++j)
        out[j] = a[j] * scalar + b[j];
}

// out = a * b + c
inline void multiplyAdd(const float* a, const float* b, const float* c, float* out, int n)
{
    for (int j = 0; j < n; ++j)
        out[j] = a[j] * b[j] + c[j];
}

// out = a * b
inline void multiply(const float* a, const float* b, float* out, int n)
{
    for (int j = 0; j < n; ++j)
        out[j] = a[j] * b[j];
}

// out = x - trunc(x): negative inputs give negative fractions.
inline void fraction(const float* in, float* out, int n)
{
    for (int j = 0; j < n; ++j)
        out[j] = in[j] - static_cast<float>(static_cast<int32_t>(in[j]));
}

// Toward zero. Inputs must lie within the 32-bit range.
inline void truncateToInt(const float* in, int32_t* out, int n)
{
    for (int j = 0; j < n; ++j)
        out[j] = static_cast<int32_t>(in[j]);
}

inline void intToFloat(const int32_t* in, float* out, int n)
{
    for (int j = 0; j < n; ++j)
        out[j] = static_cast<float>(in[j]);
}

} // namespace kestrune::vec
