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

namespace
{
// Both branches' four sections sample by sample: eight short recursions the processor can overlap,
// where section after section over the block is one long dependency chain. Same arithmetic, same order.
void runBothBranches(HalfbandFilter& f, float* xa, float* xb, int n)
{
    HalfbandFilter::Section* A = f.branchA;
    HalfbandFilter::Section* B = f.branchB;
    const float a0 = A[0].a, a1 = A[1].a, a2 = A[2].a, a3 = A[3].a;
    const float b0 = B[0].a, b1 = B[1].a, b2 = B[2].a, b3 = B[3].a;
    const float da0 = A[0].delta, da1 = A[1].delta, da2 = A[2].delta, da3 = A[3].delta;
    const float db0 = B[0].delta, db1 = B[1].delta, db2 = B[2].delta, db3 = B[3].delta;
    float sa0 = A[0].s, sa1 = A[1].s, sa2 = A[2].s, sa3 = A[3].s;
    float sb0 = B[0].s, sb1 = B[1].s, sb2 = B[2].s, sb3 = B[3].s;
    for (int j = 0; j < n; ++j)
    {
        float x = xa[j];
        float u = x + da0 - a0 * sa0; x = a0 * u + sa0; sa0 = u;
        u = x + da1 - a1 * sa1; x = a1 * u + sa1; sa1 = u;
        u = x + da2 - a2 * sa2; x = a2 * u + sa2; sa2 = u;
        u = x + da3 - a3 * sa3; x = a3 * u + sa3; sa3 = u;
        xa[j] = x;
        float y = xb[j];
        float v = y + db0 - b0 * sb0; y = b0 * v + sb0; sb0 = v;
        v = y + db1 - b1 * sb1; y = b1 * v + sb1; sb1 = v;
        v = y + db2 - b2 * sb2; y = b2 * v + sb2; sb2 = v;
        v = y + db3 - b3 * sb3; y = b3 * v + sb3; sb3 = v;
        xb[j] = y;
    }
    A[0].s = sa0; A[1].s = sa1; A[2].s = sa2; A[3].s = sa3;
    B[0].s = sb0; B[1].s = sb1; B[2].s = sb2; B[3].s = sb3;
    for (int i = 0; i < 4; ++i)
    {
        A[i].delta = -A[i].delta;
        B[i].delta = -B[i].delta;
    }
}

void runBranches(HalfbandFilter& f, int n)
{
    if (f.sectionCount == 4)
        runBothBranches(f, f.bufferA, f.bufferB, n);
    else
    {
        HalfbandFilter::runBranch(f.branchA, f.sectionCount, f.bufferA, n);
        HalfbandFilter::runBranch(f.branchB, f.sectionCount, f.bufferB, n);
    }
}
} // namespace

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
    runBranches(*this, n);
    vec::add(bufferA, bufferB, out, n);
    vec::scale(out, 0.5f, out, n);
}

void upsample(HalfbandFilter& f, const float* in, float* out, uint32_t outputLength, uint32_t inputLength)
{
    const int n = static_cast<int>(inputLength);
    const int m = static_cast<int>(outputLength);
    vec::copy(in, f.bufferA, n);
    vec::copy(in, f.bufferB, n);
    runBranches(f, n);
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
