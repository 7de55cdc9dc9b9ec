#include "HalfbandFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

using namespace kestrune;

namespace
{
// Gain of the decimator for a sine at `fraction` of the high rate, measured at the low rate: run a sine
// and a cosine, fit each output to the aliased frequency, and combine (this also works at a quarter of
// the high rate, where the output sits at the low rate's Nyquist frequency).
double decimatorGain(double fraction)
{
    double power = 0.0;
    for (int phase = 0; phase < 2; ++phase)
    {
        auto f = std::make_unique<HalfbandFilter>();
        const int frames = 200, settle = 100;
        float in[64], out[32];
        double aliased = std::fmod(2.0 * fraction, 1.0); // cycles per low-rate sample
        if (aliased > 0.5)
            aliased = 1.0 - aliased;
        double sc = 0.0, ss = 0.0, cc = 0.0, cs = 0.0, sn = 0.0;
        std::vector<double> y, t;
        for (int b = 0; b < frames; ++b)
        {
            for (int j = 0; j < 64; ++j)
            {
                const double arg = 2.0 * M_PI * fraction * double(b * 64 + j);
                in[j] = float(phase == 0 ? std::sin(arg) : std::cos(arg));
            }
            f->decimate(in, out, 32);
            if (b >= settle)
                for (int k = 0; k < 32; ++k)
                {
                    const double n = double(b * 32 + k);
                    const double c = std::cos(2.0 * M_PI * aliased * n), s = std::sin(2.0 * M_PI * aliased * n);
                    sc += out[k] * c;
                    ss += out[k] * s;
                    cc += c * c;
                    cs += s * s;
                    sn += 1.0;
                }
        }
        const double a = cc > 1e-9 ? sc / cc : 0.0;
        const double b = cs > 1e-9 ? ss / cs : 0.0;
        power += a * a + b * b;
    }
    // Away from the low rate's Nyquist frequency each run already sees the full amplitude.
    double aliased = std::fmod(2.0 * fraction, 1.0);
    if (aliased > 0.5)
        aliased = 1.0 - aliased;
    return std::sqrt(std::fabs(aliased - 0.5) < 1e-9 ? power : power / 2.0);
}
} // namespace

TEST(Halfband, ConstantSettlesAtOneBothWays)
{
    auto f = std::make_unique<HalfbandFilter>();
    float in[64], out[64];
    for (int b = 0; b < 50; ++b)
    {
        std::fill(in, in + 64, 1.0f);
        f->decimate(in, out, 32);
    }
    for (int k = 0; k < 32; ++k)
        EXPECT_NEAR(out[k], 1.0f, 1e-5f);

    auto g = std::make_unique<HalfbandFilter>();
    for (int b = 0; b < 50; ++b)
    {
        std::fill(in, in + 32, 1.0f);
        upsample(*g, in, out);
    }
    for (int j = 0; j < 64; ++j)
        EXPECT_NEAR(out[j], 1.0f, 1e-5f);
}

TEST(Halfband, DecimatorPassBandAndStopBand)
{
    for (double f : {0.01, 0.1, 0.2, 0.23})
        EXPECT_NEAR(decimatorGain(f), 1.0, 1e-6) << f;
    EXPECT_NEAR(decimatorGain(0.25), 0.70710678, 1e-3);
    for (double f : {0.27, 0.3, 0.4})
        EXPECT_LT(20.0 * std::log10(decimatorGain(f)), -66.0) << f;
    for (double f : {0.275, 0.35, 0.45, 0.49})
        EXPECT_LT(20.0 * std::log10(decimatorGain(f)), -100.0) << f;
}

TEST(Halfband, DenormalOffsetsFlipEveryBlockAndSurviveReset)
{
    auto f = std::make_unique<HalfbandFilter>();
    float in[64] = {}, out[32];
    f->decimate(in, out, 32);
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ(f->branchA[i].delta, -1e-15f);
        EXPECT_EQ(f->branchB[i].delta, -1e-15f);
    }
    f->reset();
    EXPECT_EQ(f->branchA[0].delta, -1e-15f);
    f->decimate(in, out, 32);
    EXPECT_EQ(f->branchA[3].delta, 1e-15f);
}

TEST(Halfband, UpsampleInPlaceEqualsOutOfPlace)
{
    auto a = std::make_unique<HalfbandFilter>();
    auto b = std::make_unique<HalfbandFilter>();
    for (int block = 0; block < 5; ++block)
    {
        float in[64], separate[64], inPlace[64];
        for (int k = 0; k < 32; ++k)
            in[k] = inPlace[k] = std::sin(0.3f * float(block * 32 + k)) + (k == 3 ? 1.0f : 0.0f);
        upsample(*a, in, separate);
        upsample(*b, inPlace, inPlace);
        EXPECT_EQ(std::vector<float>(separate, separate + 64), std::vector<float>(inPlace, inPlace + 64));
    }
}
