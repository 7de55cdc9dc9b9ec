// "Dark Room", "Dark Space", "Nostromo" and "Narcissus": derived values, decay times, wet lag,
// block-size independence, silence, parameter corners, mode switches and high host rates.

#include "EngineTestUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

using namespace kestrune;
using namespace kestrune::test;

namespace
{
constexpr int kDarkRoom = 4;
constexpr int kDarkSpace = 6;
constexpr int kNostromo = 7;
constexpr int kNarcissus = 8;
constexpr int kModes[] = {kDarkRoom, kDarkSpace, kNostromo, kNarcissus};

bool isLoopMode(int mode)
{
    return mode != kDarkSpace;
}
int loopCount(int mode)
{
    return mode == kNarcissus ? 4 : 8;
}

float lengthTable(int j)
{
    return 2728.5369f * static_cast<float>(std::pow(1.0586963, j));
}
} // namespace

// --- derived values at the worked examples ----------------------------------------------------------

struct LengthCase
{
    int mode;
    int hostRate;
    float lateSize;
    float scale; // expected late scale
    float sizeConstant;
};

using DarkModeLengths = ::testing::TestWithParam<LengthCase>;

TEST_P(DarkModeLengths, FollowTheScaleOfEachMode)
{
    const LengthCase c = GetParam();
    auto engine = makeMode(c.mode, c.hostRate);
    setValue(*engine, kLateSize, c.lateSize);
    const ReverbEngine& e = *engine;
    EXPECT_FLOAT_EQ(e.getInternalRate(), c.hostRate * 0.5f);
    EXPECT_FLOAT_EQ(e.sizeTotal, c.sizeConstant * c.scale);
    const int lines = c.mode == kNarcissus ? 28 : 32;
    for (int j = 0; j < lines; ++j)
    {
        if (c.mode == kNarcissus && (j & 7) >= 4)
            continue; // lines the four loops do not use
        EXPECT_NEAR(e.lateLengths[j], lengthTable(j) * c.scale - 32.0f,
                    2e-6f * lengthTable(j) * c.scale + 1e-3f)
            << j;
        EXPECT_EQ(e.lateFloors[j], static_cast<int64_t>(std::floor(e.lateLengths[j]))) << j;
    }
    // Normalisation k x sqrt(size total / (decay x rate)): k = 2, 1, 2, 4.
    const float k = c.mode == kNarcissus ? 4.0f : c.mode == kDarkSpace ? 1.0f : 2.0f;
    EXPECT_NEAR(e.midNormalisation, k * std::sqrt(e.sizeTotal / (2.0f * e.getInternalRate())), 1e-5f);
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, DarkModeLengths,
                         ::testing::Values(LengthCase{kDarkRoom, 44100, 0.0f, 0.0459375f, 241920.0f},
                                           LengthCase{kDarkRoom, 48000, 1.0f, 0.5f, 241920.0f},
                                           LengthCase{kNostromo, 48000, 1.0f, 1.0f, 241920.0f},
                                           LengthCase{kNostromo, 44100, 0.0f, 0.091875f, 241920.0f},
                                           LengthCase{kDarkSpace, 48000, 0.5f, 0.5225f, 241920.0f},
                                           LengthCase{kDarkSpace, 48000, 1.0f, 0.95f, 241920.0f},
                                           LengthCase{kDarkSpace, 44100, 0.0f, 0.08728125f, 241920.0f},
                                           LengthCase{kDarkSpace, 96000, 1.0f, 1.9f, 241920.0f},
                                           LengthCase{kNarcissus, 48000, 1.0f, 0.5f, 69301.766f},
                                           LengthCase{kNarcissus, 192000, 1.0f, 2.0f, 69301.766f}),
                         [](const auto& info)
                         {
                             return modeName(info.param.mode) + "_" +
                                    std::to_string(info.param.hostRate) + "_size" +
                                    std::to_string(static_cast<int>(info.param.lateSize * 10));
                         });

TEST(DarkModeLengthValues, WorkedExamples)
{
    auto darkRoom = makeMode(kDarkRoom, 44100);
    setValue(*darkRoom, kLateSize, 0.0f);
    EXPECT_NEAR(darkRoom->lateLengths[0], 93.34f, 0.01f);
    EXPECT_NEAR(darkRoom->lateLengths[8], 165.82f, 0.01f);
    EXPECT_EQ(darkRoom->lateFloors[8], 165);

    auto darkSpace = makeMode(kDarkSpace, 44100);
    setValue(*darkSpace, kLateSize, 0.0f);
    EXPECT_NEAR(darkSpace->lateLengths[0], 206.1501f, 1e-3f);
}

// The loop modes scale a loop's bass and high band over its whole length; bass is held at 50.
TEST(DarkModeDecayRatios, FlatAtUnitMultipliersAndCappedBass)
{
    for (int mode : kModes)
    {
        SCOPED_TRACE(modeName(mode));
        auto engine = makeMode(mode, 48000);
        setValue(*engine, kRTBassMultiply, 1.0f);
        setValue(*engine, kRTHighMultiply, 1.0f);
        const int entries = isLoopMode(mode) ? loopCount(mode) : 32;
        for (int i = 0; i < entries; ++i)
        {
            EXPECT_FLOAT_EQ(engine->highRatios[i], 1.0f);
            const float expectedBass = isLoopMode(mode) ? 1.0f : engine->midGains[i];
            EXPECT_FLOAT_EQ(engine->bassGains[i], expectedBass);
        }

        setValue(*engine, kDecay, 0.1f);
        setValue(*engine, kRTBassMultiply, 2.0f);
        setValue(*engine, kRTHighMultiply, 0.1f);
        for (int i = 0; i < entries; ++i)
        {
            EXPECT_LE(engine->highRatios[i], 1.0f);
            if (isLoopMode(mode))
            {
                EXPECT_FLOAT_EQ(engine->bassGains[i], 50.0f);
            }
        }
    }
}

// --- decay time -----------------------------------------------------------------------------------

struct DecayCase
{
    int mode;
    int hostRate;
    float decay;
    float lateSize;
};

using DarkModeDecay = ::testing::TestWithParam<DecayCase>;

TEST_P(DarkModeDecay, ImpulseResponseFollowsDecay)
{
    const DecayCase c = GetParam();
    auto engine = makeMode(c.mode, c.hostRate);
    setValue(*engine, kDecay, c.decay);
    setValue(*engine, kLateSize, c.lateSize);
    setValue(*engine, kRTBassMultiply, 1.0f);
    setValue(*engine, kRTHighMultiply, 1.0f);
    setValue(*engine, kEarlyLateMix, 100.0f); // the late tail alone
    const auto samples = static_cast<size_t>((0.6f * c.decay + 0.3f) * static_cast<float>(c.hostRate));
    const Stereo ir = renderImpulse(*engine, samples);
    ASSERT_TRUE(allFinite(ir));
    const double measured = rt60(ir, c.hostRate, -5.0, -25.0);
    EXPECT_NEAR(measured, c.decay, 0.15 * c.decay) << modeName(c.mode);
}

INSTANTIATE_TEST_SUITE_P(DecayTimes, DarkModeDecay,
                         ::testing::ValuesIn(
                             []
                             {
                                 // At "lateSize" 0 the loop modes' fixed allpasses (gain for len, delay len -
                                 // 32) shorten the tail by up to about 15 %, so the smallest size is left to
                                 // the other tests.
                                 std::vector<DecayCase> cases;
                                 for (int mode : kModes)
                                 {
                                     cases.push_back({mode, 48000, 1.0f, 0.5f});
                                     cases.push_back({mode, 48000, 5.0f, 0.5f});
                                     cases.push_back({mode, 44100, 2.0f, 0.25f});
                                     cases.push_back({mode, 96000, 2.0f, 1.0f});
                                 }
                                 return cases;
                             }()),
                         [](const auto& info)
                         {
                             return modeName(info.param.mode) + "_" +
                                    std::to_string(info.param.hostRate) + "_" +
                                    std::to_string(static_cast<int>(info.param.decay)) + "s";
                         });

// --- timing and block handling --------------------------------------------------------------------

TEST(DarkModeTiming, WetLagsByFrameAndPredelay)
{
    for (int mode : kModes)
        expectWetArrivalAtEachPredelay(mode, 48000, {0.0f, 10.0f, 100.0f}, 64, 8);
}

TEST(DarkModeTiming, OutputDoesNotDependOnHostBlockSize)
{
    for (int mode : kModes)
        expectOutputIndependentOfBlockSize(mode, 44100, noise(4096), deepModulation);
}

// The couplings keep the even (left-tapped) and the odd (right-tapped) lines apart except through the
// late-cross rotations: a left-only input stays left at "lateCross" 0 and spreads at 1.
TEST(DarkModeCoupling, LateCrossAloneJoinsTheChannels)
{
    // From 0.5 s on: "Nostromo"'s rings reach loop 1 only after a pass round them.
    auto energy = [](const std::vector<float>& x)
    {
        double sum = 0.0;
        for (size_t i = x.size() / 2; i < x.size(); ++i)
            sum += static_cast<double>(x[i]) * x[i];
        return sum;
    };
    for (int mode : kModes)
    {
        SCOPED_TRACE(modeName(mode));
        for (float cross : {0.0f, 1.0f})
        {
            auto engine = makeMode(mode, 48000);
            setValue(*engine, kLateCross, cross);
            setValue(*engine, kEarlyCross, 0.0f);
            setValue(*engine, kEarlyLateMix, 100.0f);
            const Stereo ir = render(*engine, impulse(48000, true, false));
            const double ratio = energy(ir.right) / energy(ir.left);
            if (cross == 0.0f)
                EXPECT_LT(ratio, 1e-3);
            else
                EXPECT_GT(ratio, 0.2);
        }
    }
}

// --- robustness -----------------------------------------------------------------------------------

TEST(DarkModeRobustness, SilenceStaysTinyAndFinite)
{
    for (int mode : kModes)
        expectSilenceStaysTinyAndFinite(mode, 48000, 48000, [](ReverbEngine& e) { setValue(e, kDecay, 100.0f); });
}

TEST(DarkModeRobustness, FiniteAtEveryParameterCorner)
{
    const Stereo input = noise(2048, 1.0f);
    for (int mode : kModes)
        expectBoundedAtEveryParameterCorner(mode, 48000, input);
}

// A segment that reads before it writes must stay at least a block behind its write position, also
// with the deepest two-sided modulation at the smallest size and at low host rates.
TEST(DarkModeRobustness, ModulatedSegmentStaysBehindTheBlock)
{
    for (int mode : {kDarkRoom, kNostromo, kNarcissus})
        for (int rate : {22050, 44100, 48000})
        {
            SCOPED_TRACE(modeName(mode) + " " + std::to_string(rate));
            auto engine = makeMode(mode, rate);
            setValue(*engine, kLateSize, 0.0f);
            setValue(*engine, kLateModDepth, 1.0f);
            setValue(*engine, kLateModRate, 5.0f); // a full sweep in 0.4 s
            float shortest = 1e9f;
            const Stereo input = noise(ReverbEngine::kFrame);
            for (int frame = 0; frame < rate / 64; ++frame)
            {
                render(*engine, input, ReverbEngine::kFrame);
                for (int i = 0; i < loopCount(mode); ++i)
                    shortest = std::min(
                        shortest, engine->lines[ReverbEngine::kFirstLateLine + i].slot(0).previousDelay);
            }
            EXPECT_GE(shortest, 32.0f);
        }
}

TEST(DarkModeSwitch, ClearsTheTailAndKeepsSettings)
{
    // "Narcissus" leaves lines 4 to 7 of each group of eight unused.
    for (int mode : kModes)
        expectSwitchClearsTheTailAndKeepsSettings(mode, 5.0f, 8192, mode == kNarcissus ? 4 : 32);
}

// Above 48 kHz and at the largest size every delay the network reads fits its ring, and at 192 kHz
// the tail still decays at the set time.
TEST(DarkModeHighRate, LongestLinesFitTheirRings)
{
    for (int mode : kModes)
        for (int rate : {88200, 96000, 176400, 192000})
        {
            SCOPED_TRACE(modeName(mode) + " " + std::to_string(rate));
            auto engine = makeMode(mode, rate);
            setValue(*engine, kLateSize, 1.0f);
            setValue(*engine, kLateModDepth, 1.0f);
            const float swing = (mode == kDarkRoom ? 4.0f : 2.0f) * engine->lateModDepth;
            for (int j = 0; j < 32; ++j)
            {
                if (mode == kNarcissus && (j & 7) >= 4)
                    continue;
                const bool modulated = isLoopMode(mode) ? j < 8 : (j & 3) < 2;
                const float longest = engine->lateLengths[j] + (modulated ? swing + 1.0f : 0.0f);
                EXPECT_LT(longest, static_cast<float>(engine->lines[ReverbEngine::kFirstLateLine + j].size()))
                    << j;
            }
            if (rate != 192000)
                continue;
            setValue(*engine, kDecay, 1.0f);
            setValue(*engine, kRTBassMultiply, 1.0f);
            setValue(*engine, kRTHighMultiply, 1.0f);
            setValue(*engine, kEarlyLateMix, 100.0f);
            const Stereo ir = renderImpulse(*engine, static_cast<size_t>(0.9 * rate));
            ASSERT_TRUE(allFinite(ir));
            EXPECT_NEAR(rt60(ir, rate), 1.0, 0.15);
        }
}
