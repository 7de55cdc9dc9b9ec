#include "ModulatedDelayLine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
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

// A clear or a size change zeroes a ring lazily, but every read after it must return what a line whose
// ring holds only zeros returns, through the dirty phase and after it. Two lines take the same writes
// and reads from the emptying on: one held noise before it, the other never held anything.
TEST(DelayLine, EveryReadAfterEmptyingSeesAZeroedRing)
{
    using Op = std::vector<float> (*)(ModulatedDelayLine&, const float* x, int n, int block);
    struct Case
    {
        const char* name;
        Op op;
    };
    const Case ops[] = {
        {"integer reads",
         [](ModulatedDelayLine& line, const float* x, int n, int)
         {
             line.write(x, n);
             std::vector<float> out;
             const int64_t size = line.size();
             for (int64_t delay :
                  {int64_t(0), int64_t(1), int64_t(n - 1), int64_t(n), int64_t(37), int64_t(300), size - n,
                   size - 1, size, size + 5, int64_t(-3), int64_t(1) << 40})
             {
                 float y[128];
                 line.readInteger(y, n, delay);
                 out.insert(out.end(), y, y + n);
             }
             float acc[128] = {};
             line.accumulateInteger(acc, n, 150, 0.5f);
             line.accumulateInteger(acc, n, size - 2, -0.25f);
             out.insert(out.end(), acc, acc + n);
             return out;
         }},
        {"integer allpass",
         [](ModulatedDelayLine& line, const float* x, int n, int block)
         {
             std::vector<float> v(x, x + n);
             if (!line.integerAllpass(v.data(), n, 200 + block * 7 % 300, 0.6f, 0.9f))
                 line.write(x, n);
             return v;
         }},
        {"ramped reads",
         [](ModulatedDelayLine& line, const float* x, int n, int block)
         {
             line.write(x, n);
             std::vector<float> out;
             // Slow glides, a jump across most of the ring and a delay below the block length.
             const float targets[] = {3.0f + float(block % 50) * 17.5f, block % 9 == 0 ? 900.25f : 5.5f,
                                      float(block % 13) * 0.75f, 400.0f - float(block % 31) * 11.3f};
             const Interp kinds[] = {Interp::Linear, Interp::QuantisedLinear, Interp::FirstOrderAllpass,
                                     Interp::FirstOrderAllpass};
             for (int s = 0; s < 4; ++s)
             {
                 float y[128];
                 line.readRamped(y, n, s, targets[s], 1.0f / float(n), kinds[s]);
                 out.insert(out.end(), y, y + n);
             }
             return out;
         }},
        {"grouped ramped reads",
         [](ModulatedDelayLine& line, const float* x, int n, int block)
         {
             line.write(x, n);
             std::vector<float> out(static_cast<size_t>(8 * n));
             RampedTap taps[8];
             for (int t = 0; t < 8; ++t)
                 taps[t] = {&line, t, float((block * (t + 3)) % 700) + 0.3f * float(t), out.data() + t * n};
             readRampedGroup(taps, 4, n, 1.0f / float(n), Interp::FirstOrderAllpass);
             readRampedGroup(taps + 4, 4, n, 1.0f / float(n), Interp::Linear);
             return out;
         }},
        {"allpass sections",
         [](ModulatedDelayLine& line, const float* x, int n, int block)
         {
             auto* section = block % 3 == 0   ? &allpassBlockLinear
                             : block % 3 == 1 ? &allpassBlockFirstOrder
                                              : &allpassBlockQuantised;
             std::vector<float> y(static_cast<size_t>(n));
             (*section)(line, x, y.data(), n, block % 7 == 0 ? 10.0f : 250.0f + float(block % 40) * 9.7f,
                        0.5f, 0.95f, 1.0f / float(n));
             return y;
         }},
    };
    using Emptying = void (*)(ModulatedDelayLine&);
    const Emptying emptyings[] = {[](ModulatedDelayLine& line) { line.clear(); },
                                  [](ModulatedDelayLine& line) { line.setMaxDelay(1000); }};
    for (const Case& c : ops)
        for (int n : {32, 64})
            for (int e = 0; e < 2; ++e)
            {
                SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(n) + " samples, " +
                             (e == 0 ? "clear" : "size change"));
                auto filled = std::make_unique<ModulatedDelayLine>();
                auto zeroed = std::make_unique<ModulatedDelayLine>();
                for (auto* line : {filled.get(), zeroed.get()})
                    line->setMaxDelay(e == 0 ? 1000 : 2000);
                uint32_t seed = 3;
                std::vector<float> x(static_cast<size_t>(n));
                auto noise = [&]
                {
                    for (float& v : x)
                    {
                        seed = seed * 1664525u + 1013904223u;
                        v = float(int32_t(seed)) * 4.656613e-10f;
                    }
                };
                // Only one line holds signal before the emptying; both move alike and run the same reads.
                for (int b = 0; b < 50; ++b)
                {
                    noise();
                    c.op(*filled, x.data(), n, b);
                    const std::vector<float> silence(static_cast<size_t>(n), 0.0f);
                    c.op(*zeroed, silence.data(), n, b);
                    for (auto* line : {filled.get(), zeroed.get()})
                        line->advance(n);
                }
                for (auto* line : {filled.get(), zeroed.get()})
                    emptyings[e](*line);
                for (int b = 0; b < 3 * 1024 / n; ++b)
                {
                    // A second clear while the first is still being caught up with.
                    if (b == 700 / n)
                        for (auto* line : {filled.get(), zeroed.get()})
                            line->clear();
                    noise();
                    ASSERT_EQ(c.op(*filled, x.data(), n, b), c.op(*zeroed, x.data(), n, b)) << "block " << b;
                    for (auto* line : {filled.get(), zeroed.get()})
                        line->advance(n);
                    for (int64_t p = 0; p < filled->size(); ++p)
                        ASSERT_EQ(filled->sampleAt(p), zeroed->sampleAt(p))
                            << "block " << b << ", position " << p;
                }
                EXPECT_FALSE(filled->hasStale());
            }
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
