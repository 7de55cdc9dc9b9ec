#include "HalfbandFilter.h"

#include "Vector.h"

namespace kestrune
{

HalfbandFilter::HalfbandFilter()
{
    static constexpr float kA[4] = {0.0358327888f, 0.272040129f, 0.572057188f, 0.827124774f};
    static constexpr float kB[4] = {0.13409014f, 0.42432487f, 0.706292152f, 0.941503108f};
    for (int i = 0; i < 4; ++i)
    {
        branchA[i].a = kA[i];
        branchB[i].a = kB[i];
    }
}

void HalfbandFilter::reset()
{
    for (int i = 0; i < sectionCount; ++i)
    {
        branchA[i].s = 0.0f;
        branchB[i].s = 0.0f;
    }
    delayState = 0.0f;
    vec::clear(bufferA, kMaxBlock);
    vec::clear(bufferB, kMaxBlock);
    vec::clear(stuffedA, kMaxBlock);
    vec::clear(stuffedB, kMaxBlock);
}

void HalfbandFilter::runBranch(Section* sections, int count, float* x, int n)
{
    for (int i = 0; i < count; ++i)
    {
        Section& sec = sections[i];
        const float a = sec.a;
        const float delta = sec.delta;
        float s = sec.s;
        for (int j = 0; j < n; ++j)
        {
            const float u = x[j] + delta - a * s;
            x[j] = a * u + s;
            s = u;
        }
        sec.s = s;
        sec.delta = -delta;
    }
}

void HalfbandFilter::decimate(const float* in, float* out, int outputLength)
{
    const int n = outputLength;
    bufferB[0] = delayState; // the previous frame's last sample
    for (int k = 0; k < n; ++k)
    {
        bufferA[k] = in[2 * k];
        if (k > 0)
            bufferB[k] = in[2 * k - 1];
    }
    delayState = in[2 * n - 1];
    runBranch(branchA, sectionCount, bufferA, n);
    runBranch(branchB, sectionCount, bufferB, n);
    vec::add(bufferA, bufferB, out, n);
    vec::scale(out, 0.5f, out, n);
}

void upsample(HalfbandFilter& f, const float* in, float* out, uint32_t outputLength, uint32_t inputLength)
{
    const int n = static_cast<int>(inputLength);
    const int m = static_cast<int>(outputLength);
    vec::copy(in, f.bufferA, n);
    vec::copy(in, f.bufferB, n);
    HalfbandFilter::runBranch(f.branchA, f.sectionCount, f.bufferA, n);
    HalfbandFilter::runBranch(f.branchB, f.sectionCount, f.bufferB, n);
    for (int k = 0; k < n; ++k)
    {
        f.stuffedA[2 * k] = f.bufferA[k];
        f.stuffedA[2 * k + 1] = 0.0f;
        f.stuffedB[2 * k] = f.bufferB[k];
        f.stuffedB[2 * k + 1] = 0.0f;
    }
    // Every input sample has been consumed above, so out may be the input array.
    out[0] = f.stuffedA[0] + f.delayState;
    for (int j = 1; j < m; ++j)
        out[j] = f.stuffedA[j] + f.stuffedB[j - 1];
    f.delayState = f.stuffedB[m - 1];
}

} // namespace kestrune
