#include "ModulatedDelayLine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

using namespace kestrune;
using Interp = ModulatedDelayLine::Interpolation;

namespace
{
// Writes blocks of the ramp x[t] = t, so a read at delay D in block position j returns t_j - D exactly
// (for any interpolation that is exact on straight lines).
struct RampFixture
{
    std::unique_ptr<ModulatedDelayLine> line = std::make_unique<ModulatedDelayLine>();
    int n = 64;
    float t = 0.0f;

    void writeBlock()
    {
        float x[64];
        for (int j = 0; j < n; ++j)
            x[j] = t + float(j);
        line->write(x, n);
        line->advance(n);
        t += float(n);
    }
    void writeBlocks(int count)
    {
        for (int b = 0; b < count; ++b)
            writeBlock();
    }
    // The time the current (not yet written) block's sample j will have.
    float now(int j) const { return t + float(j); }
};
} // namespace

TEST(DelayLine, SizesArePowersOfTwoAndKeepContentsWhenUnchanged)
{
    auto line = std::make_unique<ModulatedDelayLine>();
    EXPECT_EQ(line->size(), 32768);
    struct Case { int64_t request, size; };
    for (const Case c : {Case{65000, 65536}, Case{32000, 32768}, Case{16000, 16384}})
    {
        line->setMaxDelay(c.request);
        EXPECT_EQ(line->size(), c.size);
        EXPECT_EQ(line->mask(), c.size - 1);
    }
    const float x[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    line->write(x, 4);
    line->advance(4);
    line->setMaxDelay(16000); // same size: nothing changes
    float y[4];
    line->readInteger(y, 4, int64_t(4));
    EXPECT_EQ(std::vector<float>(y, y + 4), std::vector<float>(x, x + 4));

    // Reserved storage lets the size change without losing the guarantee of a zeroed ring.
    line->reserve(131072);
    EXPECT_GE(line->capacity(), 131072);
    line->setMaxDelay(100000);
    EXPECT_EQ(line->size(), 131072);
    line->readInteger(y, 4, int64_t(4));
    EXPECT_EQ(std::vector<float>(y, y + 4), std::vector<float>(4, 0.0f));
}

TEST(DelayLine, AllpassInterpolationTable)
{
    const float* table = ModulatedDelayLine::allpassTable();
    EXPECT_EQ(table[0], 0.99f);
    EXPECT_EQ(table[1], 0.99f);
    EXPECT_FLOAT_EQ(table[2], 0.9844961f);
    EXPECT_FLOAT_EQ(table[128], 1.0f / 3.0f);
    EXPECT_NEAR(table[255], 0.0019569f, 1e-7f);
}

TEST(DelayLine, RampedReadGlidesFromPreviousDelayToTarget)
{
    RampFixture f;
    f.writeBlocks(8);
    float y[64];
    // A fresh slot starts its ramp at 100 samples.
    // Delays stay above the block length: shorter ones read samples this block has not written yet.
    f.line->readRamped(y, 64, 0, 300.5f, 1.0f / 64.0f, Interp::Linear);
    const float inc = (300.5f - 100.0f) / 64.0f;
    EXPECT_NEAR(f.now(0) - y[0], 100.0f + inc, 1e-3f);
    EXPECT_NEAR(f.now(63) - y[63], 300.5f, 1e-3f);
    EXPECT_EQ(f.line->slot(0).previousDelay, 300.5f);
}

TEST(DelayLine, SteadyFractionalDelaysPerInterpolation)
{
    struct Case { Interp interpolation; float target; float expectedDelay; };
    for (const Case c : {Case{Interp::Linear, 80.5f, 80.5f}, Case{Interp::QuantisedLinear, 80.51f, 80.5f},
                         Case{Interp::FirstOrderAllpass, 80.5f, 80.5f}})
    {
        RampFixture f;
        float y[64];
        for (int b = 0; b < 40; ++b) // let the allpass interpolator settle on the ramp
        {
            f.line->readRamped(y, 64, 0, c.target, 1.0f / 64.0f, c.interpolation);
            f.writeBlock();
        }
        f.t -= 64.0f; // y was read for the block just written
        for (int j = 0; j < 64; ++j)
            EXPECT_NEAR(f.now(j) - y[j], c.expectedDelay, 2e-3f) << int(c.interpolation) << " j=" << j;
    }
}

TEST(DelayLine, NegativeOrNonFiniteDelaysStayInsideTheRing)
{
    // A negative delay gives a negative fraction: the table index must never leave 0..255.
    for (Interp interpolation : {Interp::Linear, Interp::QuantisedLinear, Interp::FirstOrderAllpass})
        for (float target : {-50.0f, -0.25f, std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()})
        {
            RampFixture f;
            f.writeBlocks(4);
            float y[64];
            f.line->slot(0).previousDelay = 10.0f;
            f.line->readRamped(y, 64, 0, target, 1.0f / 64.0f, interpolation);
            f.line->readRamped(y, 64, 0, target, 1.0f / 64.0f, interpolation);
            for (float v : y)
                EXPECT_TRUE(std::isfinite(v));
        }
}

TEST(DelayLine, AllpassSectionsKeepEnergy)
{
    // loopGain 1 and a fixed delay: a Schroeder allpass, whose impulse response has unit energy.
    for (auto* section : {&allpassBlockLinear, &allpassBlockFirstOrder, &allpassBlockQuantised})
    {
        auto line = std::make_unique<ModulatedDelayLine>();
        line->slot(0).previousDelay = 100.0f;
        double energy = 0.0;
        for (int b = 0; b < 400; ++b)
        {
            float x[64] = {};
            if (b == 0)
                x[0] = 1.0f;
            (*section)(*line, x, x, 64, 100.0f, 0.5f, 1.0f, 1.0f / 64.0f);
            line->advance(64);
            for (float v : x)
                energy += double(v) * v;
        }
        EXPECT_NEAR(energy, 1.0, 1e-4);
    }
}

TEST(DelayLine, ClearZeroesTheRingButKeepsPositionAndDelays)
{
    RampFixture f;
    f.writeBlocks(4);
    float y[64];
    f.line->readRamped(y, 64, 3, 20.0f, 1.0f / 64.0f, Interp::FirstOrderAllpass);
    const int64_t w = f.line->writeIndex();
    f.line->clear();
    EXPECT_EQ(f.line->writeIndex(), w);
    EXPECT_EQ(f.line->slot(3).previousDelay, 20.0f);
    EXPECT_EQ(f.line->slot(3).state, 0.0f);
    f.line->readInteger(y, 64, int64_t(70));
    for (float v : y)
        EXPECT_EQ(v, 0.0f);
}

// A read whose delay keeps moving gives back no more energy than it reads, at every speed the
// modulators reach and beyond, on white noise and on the tone-filtered (high-heavy) signal the
// networks carry. A direct-form allpass interpolator returns more (by 0.002 to 0.03 dB a pass, enough
// to grow a tail whose loop gain is close to 1).
TEST(DelayLine, ModulatedAllpassReadGivesBackNoMoreEnergyThanItReads)
{
    struct Case
    {
        float depth, sweepsPerSecond;
    };
    for (const Case c : {Case{128.0f, 0.5f}, Case{128.0f, 5.0f}, Case{128.0f, 13.0f}, Case{16.0f, 5.0f}, Case{0.45f, 50.0f}})
        for (bool differentiated : {false, true})
        {
            auto line = std::make_unique<ModulatedDelayLine>();
            uint32_t seed = 7;
            float previous = 0.0f;
            double in = 0.0, out = 0.0, phase = 0.0, step = 4.0 * c.sweepsPerSecond / 750.0;
            for (int b = 0; b < 30000; ++b)
            {
                float x[64], y[64];
                for (float& v : x)
                {
                    seed = seed * 1664525u + 1013904223u;
                    const float r = float(int32_t(seed)) * 4.656613e-10f;
                    v = differentiated ? r - previous : r;
                    previous = r;
                }
                line->write(x, 64);
                phase += step;
                if (phase > 1.0 || phase < -1.0)
                    step = -step;
                line->readRamped(y, 64, 0, 300.25f + c.depth * float(phase), 1.0f / 64.0f, Interp::FirstOrderAllpass);
                line->advance(64);
                if (b < 100)
                    continue;
                for (int j = 0; j < 64; ++j)
                {
                    in += double(x[j]) * x[j];
                    out += double(y[j]) * y[j];
                }
            }
            EXPECT_LE(out, in) << c.depth << " samples, " << c.sweepsPerSecond << " Hz, differentiated "
                               << differentiated << ": " << 10.0 * std::log10(out / in) << " dB";
        }
}
