#pragma once

#include <cstdint>

namespace kestrune
{

// One sample through a first-order allpass section with state s (a float, or a vector of sections).
template <typename T>
inline T halfbandSection(T x, T a, T delta, T& s)
{
    const T u = x + delta - a * s;
    const T y = a * u + s;
    s = u;
    return y;
}

// Polyphase half-band filter: two branches of four first-order allpass sections at the low rate.
// Decimates a 64-sample frame to 32 samples, or (upsample) interpolates 32 back to 64.
struct HalfbandFilter
{
    struct Section
    {
        float a = 0.0f;
        float s = 0.0f;
        float delta = 1e-15f; // keeps the recursion out of denormals; flips sign every block
    };

    static constexpr int kMaxSections = 6;
    static constexpr int kMaxBlock = 128;

    Section branchA[kMaxSections];
    Section branchB[kMaxSections];
    int32_t sectionCount = 4;
    float delayState = 0.0f;
    float bufferA[kMaxBlock] = {};
    float bufferB[kMaxBlock] = {};
    float stuffedA[kMaxBlock] = {};
    float stuffedB[kMaxBlock] = {};

    HalfbandFilter();
    void reset();

    // 2n input samples to n output samples (n <= 64), in and out may not overlap.
    void decimate(const float* in, float* out, int outputLength);

    static void runBranch(Section* sections, int count, float* x, int n);
};

// Two channels' filters at once (left and right of a frame); the same results as decimate and upsample
// on each. upsampleStereo works in place: n samples in, 2n out.
void decimateStereo(HalfbandFilter& left, HalfbandFilter& right, const float* inL, const float* inR, float* outL,
                    float* outR, int n);
void upsampleStereo(HalfbandFilter& left, HalfbandFilter& right, float* xL, float* xR, int n);

// 2x interpolation of inputLength samples into outputLength = 2 * inputLength; in may equal out.
void upsample(HalfbandFilter& filter, const float* in, float* out, uint32_t outputLength = 64,
              uint32_t inputLength = 32);

} // namespace kestrune
