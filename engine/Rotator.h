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
        // One pass with the products and sums of the five-step vector form, in the same order.
        const float c = cosine, s = sine, ns = negatedSine;
        for (int j = 0; j < n; ++j)
        {
            const float x = a[j];
            const float y = b[j];
            const float rotatedA = y * ns + x * c;
            b[j] = y * c + x * s;
            a[j] = rotatedA;
        }
    }
};

} // namespace kestrune
