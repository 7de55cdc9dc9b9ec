#pragma once

#include "Vector.h"

#include <cmath>

namespace kestrune
{

// Plane rotation of a pair of blocks; amount 1 is a quarter turn, so 0.5 mixes at 45 degrees.
struct Rotator
{
    float sine = 0.0f;
    float cosine = 1.0f;
    float negatedSine = -0.0f;
    float work1[64] = {};
    float work2[64] = {};

    void setAmount(float amount)
    {
        const float theta = amount * 3.1415927f * 0.5f;
        sine = static_cast<float>(std::sin(static_cast<double>(theta)));
        cosine = static_cast<float>(std::cos(static_cast<double>(theta)));
        negatedSine = -sine;
    }

    // a' = cos*a - sin*b, b' = sin*a + cos*b over n <= 64 samples.
    void rotate(float* a, float* b, int n)
    {
        vec::scale(a, cosine, work1, n);
        vec::scaleAdd(b, negatedSine, work1, work2, n);
        vec::scale(a, sine, work1, n);
        vec::scaleAdd(b, cosine, work1, b, n);
        vec::copy(work2, a, n);
    }
};

} // namespace kestrune
