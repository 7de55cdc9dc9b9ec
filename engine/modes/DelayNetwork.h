#pragma once

// Pieces of the butterfly feedback networks shared by several modes. The block kernels take the
// block length as a constant and non-aliasing pointers so that the compiler vectorises them; each
// does the same operations in the same order as the vector layer, so results are bit-identical.

#include "ReverbEngine.h"
#include "Dispatch.h"

#include <cmath>
#include <cstring>

namespace kestrune::network
{

constexpr int kBlock = 32; // samples per network block at half the host rate

// k x sqrt(total / (seconds x rate)): the quotient in single precision, root and product in double.
inline float normalisation(float sizeTotal, float seconds, float rate, float factor)
{
    const float quotient = sizeTotal / (seconds * rate);
    return static_cast<float>(std::sqrt(static_cast<double>(quotient)) * static_cast<double>(factor));
}

// acc += x
template <int N = kBlock>
inline void accumulate(float* __restrict acc, const float* __restrict x)
{
    for (int j = 0; j < N; ++j)
        acc[j] = acc[j] + x[j];
}

// acc = x * gain + acc
template <int N = kBlock>
inline void scaleAccumulate(float* __restrict acc, const float* __restrict x, float gain)
{
    for (int j = 0; j < N; ++j)
        acc[j] = x[j] * gain + acc[j];
}

template <int N = kBlock>
inline void scaleInPlace(float* __restrict x, float gain)
{
    for (int j = 0; j < N; ++j)
        x[j] = x[j] * gain;
}

// (a, b) -> (a + b, b - a)
template <int N = kBlock>
inline void butterfly(float* __restrict a, float* __restrict b)
{
    for (int j = 0; j < N; ++j)
    {
        const float sum = a[j] + b[j];
        b[j] = b[j] - a[j];
        a[j] = sum;
    }
}

// a' = cos a - sin b, b' = sin a + cos b, rounded as Rotator::rotate rounds.
template <int N = kBlock>
inline void rotate(const Rotator& r, float* __restrict a, float* __restrict b)
{
    const float c = r.cosine, s = r.sine, ns = r.negatedSine;
    for (int j = 0; j < N; ++j)
    {
        const float x = a[j];
        const float y = b[j];
        a[j] = y * ns + x * c;
        b[j] = y * c + x * s;
    }
}

template <int N>
inline void butterflyStages(float (*x)[ReverbEngine::kFrame], int lineCount)
{
    for (int stride = lineCount / 2; stride >= 2; stride /= 2)
        for (int base = 0; base < lineCount; base += 2 * stride)
            for (int k = base; k < base + stride; ++k)
                butterfly<N>(x[k], x[k + stride]);
}

template <int N>
inline void rotationStage(ReverbEngine& e, float (*x)[ReverbEngine::kFrame], int lineCount)
{
    for (int k = 0; k < lineCount / 2; ++k)
        rotate<N>(e.rotators[16 + k], x[2 * k], x[2 * k + 1]);
}

// Sum/difference butterflies (a, b) -> (a + b, b - a) at strides lineCount/2 down to 2 over n
// (32 or 64) samples. Each stage scales the vector's norm by sqrt 2; the caller's output gain
// undoes it.
inline void butterflies(float (*x)[ReverbEngine::kFrame], int lineCount, int n)
{
    if (n == 64)
        return butterflyStages<64>(x, lineCount);
    if (n == 32)
        return butterflyStages<32>(x, lineCount);
    for (int stride = lineCount / 2; stride >= 2; stride /= 2)
        for (int base = 0; base < lineCount; base += 2 * stride)
            for (int k = base; k < base + stride; ++k)
                for (int j = 0; j < n; ++j)
                {
                    const float sum = x[k][j] + x[k + stride][j];
                    x[k + stride][j] = x[k + stride][j] - x[k][j];
                    x[k][j] = sum;
                }
}

// The closing stride-1 stage: pair (2k, 2k + 1) turned by late-cross rotator k (engine rotator 16 + k).
inline void pairRotations(ReverbEngine& e, float (*x)[ReverbEngine::kFrame], int lineCount, int n)
{
    if (n == 64)
        return rotationStage<64>(e, x, lineCount);
    if (n == 32)
        return rotationStage<32>(e, x, lineCount);
    for (int k = 0; k < lineCount / 2; ++k)
        e.rotators[16 + k].rotate(x[2 * k], x[2 * k + 1], n);
}

typedef float Quad __attribute__((vector_size(16)));  // four consecutive samples of one line
typedef float Octet __attribute__((vector_size(32))); // eight: for the AVX build only (see wideVectors)

inline Quad loadQuad(const float* p)
{
    Quad q;
    std::memcpy(&q, p, sizeof(Quad));
    return q;
}

inline void storeQuad(float* p, Quad q)
{
    std::memcpy(p, &q, sizeof(Quad));
}

template <typename V>
inline void loadVector(V& v, const float* p)
{
    std::memcpy(&v, p, sizeof(V));
}

template <typename V>
inline void storeVector(float* p, const V& v)
{
    std::memcpy(p, &v, sizeof(V));
}

// (a, b) -> (a + b, b - a)
template <typename V>
inline void butterfly(V& a, V& b)
{
    const V sum = a + b;
    b = b - a;
    a = sum;
}

// Optional gain, the butterflies at strides Lines/2 down to 2 and the pair rotations, four samples at
// a time: the strides of 16 and 8 mix lines k, k + 8, k + 16, k + 24; the strides of 4 and 2 and the
// rotations stay within eight neighbours, so two passes of at most eight vectors fit the registers.
// Per sample these are the stage-by-stage products and sums.
template <int Lines, int N, bool Scaled, typename V = Quad>
KESTRUNE_INLINE void matrix(ReverbEngine& e, float (*x)[ReverbEngine::kFrame], float gain)
{
    static_assert(Lines == 8 || Lines == 16 || Lines == 32);
    float rc[Lines / 2], rs[Lines / 2], rn[Lines / 2];
    for (int i = 0; i < Lines / 2; ++i)
    {
        rc[i] = e.rotators[16 + i].cosine;
        rs[i] = e.rotators[16 + i].sine;
        rn[i] = e.rotators[16 + i].negatedSine;
    }
    constexpr int W = sizeof(V) / sizeof(float);
    static_assert(N % W == 0);
    auto in = [&](V& v, int line, int j)
    {
        loadVector(v, x[line] + j);
        if constexpr (Scaled)
            v = v * gain;
    };
    for (int j = 0; j < N; j += W)
    {
        V t[Lines];
#pragma GCC unroll 8
        for (int k = 0; k < 8; ++k)
        {
            if constexpr (Lines == 32)
            {
                V a, b, c, d;
                in(a, k, j);
                in(b, k + 8, j);
                in(c, k + 16, j);
                in(d, k + 24, j);
                butterfly(a, c);
                butterfly(b, d);
                butterfly(a, b);
                butterfly(c, d);
                t[k] = a;
                t[k + 8] = b;
                t[k + 16] = c;
                t[k + 24] = d;
            }
            else if constexpr (Lines == 16)
            {
                V a, b;
                in(a, k, j);
                in(b, k + 8, j);
                butterfly(a, b);
                t[k] = a;
                t[k + 8] = b;
            }
            else
                in(t[k], k, j);
        }
#pragma GCC unroll 4
        for (int base = 0; base < Lines; base += 8)
        {
            V* y = t + base;
#pragma GCC unroll 4
            for (int k = 0; k < 4; ++k)
                butterfly(y[k], y[k + 4]);
            for (int k : {0, 1, 4, 5})
                butterfly(y[k], y[k + 2]);
#pragma GCC unroll 4
            for (int i = 0; i < 4; ++i)
            {
                const int q = base / 2 + i;
                const V a = y[2 * i];
                const V b = y[2 * i + 1];
                const V ra = b * rn[q] + a * rc[q];
                const V rb = b * rc[q] + a * rs[q];
                storeVector(x[base + 2 * i] + j, ra);
                storeVector(x[base + 2 * i + 1] + j, rb);
            }
        }
    }
}

// Both stages of the 32-sample networks.
KESTRUNE_INLINE void feedbackMatrix(ReverbEngine& e, float (*x)[ReverbEngine::kFrame], int lineCount)
{
    switch (lineCount)
    {
    case 8:
        return matrix<8, kBlock, false>(e, x, 1.0f);
    case 16:
        return matrix<16, kBlock, false>(e, x, 1.0f);
    case 32:
        return matrix<32, kBlock, false>(e, x, 1.0f);
    default:
        butterflyStages<kBlock>(x, lineCount);
        rotationStage<kBlock>(e, x, lineCount);
    }
}

// Each line times gain, then both stages, over n samples.
KESTRUNE_INLINE void scaledFeedbackMatrix(ReverbEngine& e, float (*x)[ReverbEngine::kFrame], int lineCount, int n,
                                 float gain)
{
    if (n == 64 || n == 32)
    {
        const bool full = n == 64;
        switch (lineCount)
        {
        case 8:
            return full ? matrix<8, 64, true>(e, x, gain) : matrix<8, 32, true>(e, x, gain);
        case 16:
            return full ? matrix<16, 64, true>(e, x, gain) : matrix<16, 32, true>(e, x, gain);
        case 32:
            return full ? matrix<32, 64, true>(e, x, gain) : matrix<32, 32, true>(e, x, gain);
        default:
            break;
        }
    }
    for (int i = 0; i < lineCount; ++i)
        vec::scale(x[i], gain, x[i], n);
    butterflies(x, lineCount, n);
    pairRotations(e, x, lineCount, n);
}

} // namespace kestrune::network
