#pragma once

// Pieces of the butterfly feedback networks shared by several modes. The block kernels take the
// block length as a constant and non-aliasing pointers so that the compiler vectorises them; each
// does the same operations in the same order as the vector layer, so results are bit-identical.

#include "ReverbEngine.h"

#include <cmath>

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

// Both stages of the 32-sample networks.
inline void feedbackMatrix(ReverbEngine& e, float (*x)[ReverbEngine::kFrame], int lineCount)
{
    butterflyStages<kBlock>(x, lineCount);
    rotationStage<kBlock>(e, x, lineCount);
}

} // namespace kestrune::network
