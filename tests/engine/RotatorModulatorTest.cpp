#include "Modulator.h"
#include "Rotator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace kestrune;

TEST(Rotator, AmountsGiveTheirAngles)
{
    Rotator r;
    r.setAmount(0.0f);
    EXPECT_EQ(r.sine, 0.0f);
    EXPECT_EQ(r.cosine, 1.0f);
    EXPECT_TRUE(std::signbit(r.negatedSine));
    r.setAmount(0.5f);
    EXPECT_FLOAT_EQ(r.sine, 0.7071068f);
    EXPECT_FLOAT_EQ(r.cosine, 0.7071068f);
    r.setAmount(1.0f);
    EXPECT_EQ(r.sine, 1.0f);
    EXPECT_NEAR(r.cosine, -4.371139e-8f, 1e-12f); // not exactly 0
}

TEST(Rotator, KeepsEnergyAndTurnsTheRightWay)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (float amount : {0.0f, 0.1f, 0.5f, -0.3f, 0.999f, 1.0f})
    {
        float a[64], b[64], a0[64], b0[64];
        for (int j = 0; j < 64; ++j)
        {
            a[j] = a0[j] = u(rng);
            b[j] = b0[j] = u(rng);
        }
        Rotator r;
        r.setAmount(amount);
        r.rotate(a, b, 64);
        double before = 0.0, after = 0.0;
        for (int j = 0; j < 64; ++j)
        {
            before += double(a0[j]) * a0[j] + double(b0[j]) * b0[j];
            after += double(a[j]) * a[j] + double(b[j]) * b[j];
            const double theta = amount * M_PI / 2.0;
            EXPECT_NEAR(a[j], std::cos(theta) * a0[j] - std::sin(theta) * b0[j], 1e-6);
            EXPECT_NEAR(b[j], std::sin(theta) * a0[j] + std::cos(theta) * b0[j], 1e-6);
        }
        EXPECT_NEAR(after, before, 1e-5 * before) << amount;
    }
}

TEST(Modulator, RatesAndPeriodsAtBlockRate750)
{
    Modulator m0, m31;
    m0.setRate(0.5f, 750.0f);
    m0.setRandomPeriod(0.5f * 4.67f, 750.0f);
    EXPECT_NEAR(m0.stepSize, 0.0013333f, 1e-7f);
    EXPECT_EQ(m0.period, 321);
    m31.setRate(0.5f + 0.0311f * 31.0f, 750.0f);
    EXPECT_NEAR(m31.stepSize, 0.0039043f, 1e-7f);
    // A new period does not move the countdown to the first draw.
    EXPECT_EQ(m0.countdown, 20869);
    // The direction survives a rate change.
    m0.step = -m0.step;
    m0.setRate(1.0f, 750.0f);
    EXPECT_LT(m0.step, 0.0f);
}

TEST(Modulator, BouncesAtOneAndFirstDrawComesAfter20869Steps)
{
    Modulator m;
    float peak = 0.0f;
    int turnedAt = -1;
    for (int i = 0; i < 1200; ++i)
    {
        m.advance(Modulator::Draw::Generator, Modulator::Shape::Bouncing);
        peak = std::max(peak, m.phase);
        if (turnedAt < 0 && m.step < 0.0f)
            turnedAt = i + 1;
    }
    EXPECT_NEAR(turnedAt, 1000, 1);
    EXPECT_LT(peak, 1.0f + 0.001f + 1e-4f);

    // No draw before the countdown runs out; afterwards one every period steps.
    Modulator g;
    g.setRandomPeriod(75.0f, 750.0f); // every 10 blocks
    const uint32_t seeded = g.generator;
    for (int i = 0; i < 20869; ++i)
        g.advance(Modulator::Draw::Generator, Modulator::Shape::Folded);
    EXPECT_EQ(g.generator, seeded);
    EXPECT_EQ(g.countdown, 0);
    g.advance(Modulator::Draw::Generator, Modulator::Shape::Folded);
    EXPECT_EQ(g.generator, seeded * 214013u + 2531011u);
    EXPECT_EQ(g.countdown, 9);
}

TEST(Modulator, GeneratorDrawsRepeatAndReverseAboutOneInFour)
{
    Modulator a, b;
    EXPECT_EQ(a.generator, 1235u * 214013u + 2531011u);
    a.countdown = b.countdown = 0;
    a.period = b.period = 1;
    int reversals = 0;
    for (int i = 0; i < 4000; ++i)
    {
        const float before = a.step;
        EXPECT_EQ(a.advance(Modulator::Draw::Generator, Modulator::Shape::Folded),
                  b.advance(Modulator::Draw::Generator, Modulator::Shape::Folded));
        reversals += (before > 0.0f) != (a.step > 0.0f);
    }
    EXPECT_NEAR(reversals / 4000.0, 0.25, 0.04);
}

TEST(Modulator, FoldedOutputIsATriangleAndWrapsAtFour)
{
    Modulator m;
    for (int i = 0; i < 5000; ++i)
    {
        const float out = m.advance(Modulator::Draw::Generator, Modulator::Shape::Folded);
        ASSERT_GE(out, -1.0f);
        ASSERT_LE(out, 1.0f);
        ASSERT_GT(m.phase, 0.0f);
        ASSERT_LE(m.phase, 4.0f);
    }
    // Landing exactly on 4 moves to 0 and, because 0 <= 0, back to 4: output 1.
    Modulator edge;
    edge.phase = 3.5f;
    edge.step = 0.5f;
    EXPECT_EQ(edge.advance(Modulator::Draw::Generator, Modulator::Shape::Folded), 1.0f);
    EXPECT_EQ(edge.phase, 4.0f);
}
