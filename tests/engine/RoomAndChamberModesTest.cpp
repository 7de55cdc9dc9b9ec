// "Medium Room", "Bright Room", "Large Chamber" and "Dark Chamber": derived values, decay times,
// wet lag, block-size independence, silence, parameter corners, delay floors, mode switches and
// high host rates.

#include "EngineTestUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

using namespace kestrune;
using namespace kestrune::test;

namespace
{
constexpr int kMediumRoom = 1;
constexpr int kBrightRoom = 2;
constexpr int kLargeChamber = 3;
constexpr int kDarkChamber = 5;
constexpr int kModes[] = {kMediumRoom, kBrightRoom, kLargeChamber, kDarkChamber};
constexpr int kLate = ReverbEngine::kFirstLateLine;

bool isChamber(int mode)
{
    return mode == kLargeChamber || mode == kDarkChamber;
}

// Relative tolerance for a single-precision product chain.
void expectClose(float actual, float expected, const std::string& what)
{
    EXPECT_NEAR(actual, expected, 4e-7f * std::fabs(expected) + 1e-5f) << what;
}

constexpr float kChamberBase[2] = {1624.12903f, 9517.74121f}; // lines 0 and 31
constexpr int kLeftTaps[15] = {172,  510,  833,  1196, 1641, 1972, 2419, 2794,
                               3180, 3577, 3894, 4286, 4688, 5032, 5437};
constexpr int kRightTaps[15] = {376,  673,  1024, 1368, 1884, 2207, 2619, 2948,
                                3354, 3776, 4093, 4495, 4846, 5239, 5602};
} // namespace

// --- derived values at the worked examples ----------------------------------------------------------

TEST(MediumRoomValues, LengthsGainsAndTapVectors)
{
    auto e = makeMode(kMediumRoom, 48000);
    setValue(*e, kLateSize, 0.5f);
    EXPECT_FLOAT_EQ(e->sizeTotal, 287697.0f * 0.55f);
    expectClose(e->lateLengths[0], 4547.5615f * 0.55f, "F0");
    expectClose(e->lateLengths[16], 11327.157f * 0.55f - 64.0f - 4547.5615f * 0.55f, "S0");
    expectClose(e->lateLengths[31], 26649.676f * 0.55f - 64.0f - 10699.156f * 0.55f, "S15");

    // Both copies of the sign matrix hold the tap vectors, every entry +-1.414 x 0.25.
    const float left[16] = {1, 1, 1, 1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 1, 1, 1};
    const float right[16] = {1, -1, 1, -1, -1, 1, -1, 1, -1, 1, -1, 1, 1, -1, 1, -1};
    for (int k = 0; k < 16; ++k)
    {
        EXPECT_EQ(e->signMatrix[0][k], left[k] * (1.414f * 0.25f)) << k;
        EXPECT_EQ(e->signMatrix[1][k], right[k] * (1.414f * 0.25f)) << k;
    }

    // At multipliers 1 the bass and high bands still lose more per loop than the middle band.
    setValue(*e, kRTBassMultiply, 1.0f);
    setValue(*e, kRTHighMultiply, 1.0f);
    for (int i = 0; i < 16; ++i)
    {
        const float loop = e->lateLengths[i] + e->lateLengths[16 + i];
        EXPECT_NEAR(e->bassGains[i], ReverbEngine::decayGain(loop, 2.0f, 48000.0f), 1e-6f) << i;
        EXPECT_NEAR(e->highRatios[i], e->midGains[16 + i], 1e-6f) << i;
        EXPECT_LT(e->highRatios[i], 1.0f) << i;
    }
    EXPECT_NEAR(e->midNormalisation, std::sqrt(287697.0f * 0.55f / 96000.0f), 1e-6f);

    // 44.1 kHz and the smallest size: both segments stay well above a block.
    auto small = makeMode(kMediumRoom, 44100);
    setValue(*small, kLateSize, 0.0f);
    expectClose(small->lateLengths[0], 4547.5615f * 0.091875f, "F0 small");
    expectClose(small->lateLengths[16], 11327.157f * 0.091875f - 64.0f - 4547.5615f * 0.091875f, "S0 small");
    EXPECT_GT(small->lateLengths[16], 64.0f);
}

TEST(BrightRoomValues, LengthsGainsAndOutputSigns)
{
    auto e = makeMode(kBrightRoom, 48000);
    setValue(*e, kLateSize, 0.0f);
    EXPECT_NEAR(e->lateLengths[0], 208.8537f, 1e-3f);
    setValue(*e, kLateSize, 1.0f);
    EXPECT_FLOAT_EQ(e->lateLengths[31], 15989.805f - 64.0f);
    EXPECT_FLOAT_EQ(e->sizeTotal, 241920.0f);

    for (int c = 0; c < 2; ++c)
    {
        EXPECT_EQ(e->signMatrix[c][0], 1.0f);
        EXPECT_EQ(e->signMatrix[c][1], 1.0f);
        EXPECT_EQ(e->signMatrix[c][2], -1.0f);
        EXPECT_EQ(e->signMatrix[c][3], -1.0f);
    }

    setValue(*e, kRTBassMultiply, 1.0f);
    setValue(*e, kRTHighMultiply, 1.0f);
    for (int i = 0; i < 8; ++i)
    {
        EXPECT_EQ(e->highRatios[i], 1.0f) << i;
        const float loop =
            e->lateLengths[i] + e->lateLengths[i + 8] + e->lateLengths[i + 16] + e->lateLengths[i + 24];
        EXPECT_EQ(e->bassGains[i], ReverbEngine::decayGain(loop, 2.0f, 48000.0f)) << i;
    }
}

struct ChamberCase
{
    int mode;
    int hostRate;
    float lateSize;
    float lengthOffset; // one block of the mode
    float normalisationAtDecay2;
};

using ChamberValues = ::testing::TestWithParam<ChamberCase>;

TEST_P(ChamberValues, LengthsTapsAndNormalisation)
{
    const ChamberCase c = GetParam();
    auto e = makeMode(c.mode, c.hostRate);
    setValue(*e, kLateSize, c.lateSize);
    const float s = (c.lateSize * 1.4f + 0.1f) * static_cast<float>(c.hostRate) / 48000.0f;
    EXPECT_FLOAT_EQ(e->sizeTotal, 144000.0f * s);
    expectClose(e->lateLengths[0], kChamberBase[0] * s - c.lengthOffset, "line 0");
    expectClose(e->lateLengths[31], kChamberBase[1] * s - c.lengthOffset, "line 31");
    if (c.normalisationAtDecay2 > 0.0f)
    {
        EXPECT_NEAR(e->midNormalisation, c.normalisationAtDecay2, 1e-6f);
    }
    if (c.hostRate == 48000 && c.lateSize == 0.5f)
        for (int i = 0; i < 15; ++i)
        {
            EXPECT_EQ(e->tapPositions[i], kLeftTaps[i]) << i;
            EXPECT_EQ(e->tapPositions[15 + i], kRightTaps[i]) << i;
        }
    if (c.hostRate == 48000 && c.lateSize == 1.0f)
    {
        EXPECT_EQ(e->tapPositions[29], 10504);
    }
    if (c.hostRate == 48000 && c.lateSize == 0.0f)
    {
        EXPECT_EQ(e->tapPositions[0], 21);
    }
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, ChamberValues,
                         ::testing::Values(ChamberCase{kLargeChamber, 48000, 0.5f, 64.0f, 1.0954452f},
                                           ChamberCase{kLargeChamber, 48000, 0.0f, 64.0f, 0.0f},
                                           ChamberCase{kLargeChamber, 48000, 1.0f, 64.0f, 0.0f},
                                           ChamberCase{kDarkChamber, 48000, 0.5f, 32.0f, 1.5491934f},
                                           ChamberCase{kDarkChamber, 48000, 1.0f, 32.0f, 0.0f},
                                           ChamberCase{kDarkChamber, 96000, 1.0f, 32.0f, 0.0f}),
                         [](const auto& info)
                         {
                             return modeName(info.param.mode) + "_" + std::to_string(info.param.hostRate) +
                                    "_size" + std::to_string(static_cast<int>(info.param.lateSize * 10));
                         });

// Tap i weighs g^(2^i); the gains follow "decay" and "lateSize" only, the same in both chambers and at
// every host rate.
TEST(ChamberValues, TapGainsFollowDecayAndSizeOnly)
{
    auto e = makeMode(kLargeChamber, 48000);
    const float expectedLeft[8] = {-0.3466f, 0.3399f, 0.3269f, -0.3023f, 0.2585f, -0.1890f, 0.1010f, 0.0289f};
    for (int i = 0; i < 8; ++i)
        EXPECT_NEAR(e->tapGains[i], expectedLeft[i], 1e-4f) << i;
    EXPECT_EQ(e->tapGains[13], 0.0f);
    EXPECT_EQ(e->tapGains[14], 0.0f);

    const std::vector<float> reference(e->tapGains, e->tapGains + 30);
    setValue(*e, kRTBassMultiply, 2.0f);
    setValue(*e, kRTHighMultiply, 0.1f);
    EXPECT_EQ(std::vector<float>(e->tapGains, e->tapGains + 30), reference);
    for (int mode : {kLargeChamber, kDarkChamber})
        for (int rate : {44100, 48000, 96000})
        {
            auto other = makeMode(mode, rate);
            for (int i = 0; i < 30; ++i)
                EXPECT_NEAR(other->tapGains[i], reference[static_cast<size_t>(i)], 1e-6f)
                    << modeName(mode) << " " << rate << " " << i;
        }
    setValue(*e, kDecay, 5.0f);
    EXPECT_GT(std::fabs(e->tapGains[7]), std::fabs(reference[7]));
    setValue(*e, kDecay, 2.0f);
    setValue(*e, kLateSize, 1.0f);
    EXPECT_LT(std::fabs(e->tapGains[7]), std::fabs(reference[7]));
}

// --- decay time -----------------------------------------------------------------------------------

using RoomAndChamberModes = ::testing::TestWithParam<std::tuple<int, int>>;

// Crossovers at the ends of their ranges put nearly the whole spectrum in the middle band, which
// every one of these modes decays at "decay" per loop.
TEST_P(RoomAndChamberModes, MiddleBandFollowsDecay)
{
    const auto [mode, rate] = GetParam();
    // The full set at one rate; the other rates check the rate scaling at one setting.
    const std::vector<float> decays =
        rate == 48000 ? std::vector<float>{1.0f, 2.0f, 5.0f} : std::vector<float>{2.0f};
    for (float decay : decays)
    {
        auto engine = makeMode(mode, rate);
        setValue(*engine, kDecay, decay);
        setValue(*engine, kRTXover, 100.0f);
        setValue(*engine, kRTHighXover, 15000.0f);
        setValue(*engine, kHighCut, 15000.0f);
        setValue(*engine, kEarlyLateMix, 100.0f); // the late tail alone
        const auto samples = static_cast<size_t>(0.7f * decay * static_cast<float>(rate));
        const Stereo ir = renderImpulse(*engine, samples);
        ASSERT_TRUE(allFinite(ir));
        EXPECT_NEAR(rt60(ir, rate), decay, 0.15 * decay) << decay;
    }
}

INSTANTIATE_TEST_SUITE_P(
    ModesAndRates, RoomAndChamberModes,
    ::testing::Combine(::testing::ValuesIn(kModes), ::testing::Values(44100, 48000, 96000)),
    [](const auto& info)
    { return modeName(std::get<0>(info.param)) + "_" + std::to_string(std::get<1>(info.param)); });

// At multipliers 1 the chambers decay alike in every band; the two rooms give the low band the whole
// loop's gain on top of their sections' own, so moving the bass crossover up shortens their tail.
TEST(RoomAndChamberDecay, BandsAtUnitMultipliers)
{
    auto measure = [](int mode, float bassCrossover, float highCrossover)
    {
        auto engine = makeMode(mode, 48000);
        setValue(*engine, kDecay, 1.0f);
        setValue(*engine, kRTBassMultiply, 1.0f);
        setValue(*engine, kRTHighMultiply, 1.0f);
        setValue(*engine, kRTXover, bassCrossover);
        setValue(*engine, kRTHighXover, highCrossover);
        setValue(*engine, kHighCut, 15000.0f);
        setValue(*engine, kEarlyLateMix, 100.0f);
        return rt60(renderImpulse(*engine, static_cast<size_t>(0.7 * 48000)), 48000);
    };
    for (int mode : kModes)
    {
        const double middle = measure(mode, 100.0f, 15000.0f);
        const double bass = measure(mode, 10000.0f, 15000.0f);
        const double high = measure(mode, 100.0f, 100.0f);
        if (isChamber(mode))
        {
            EXPECT_NEAR(bass, middle, 0.02 * middle) << modeName(mode);
            EXPECT_NEAR(high, middle, 0.02 * middle) << modeName(mode);
        }
        else
        {
            EXPECT_LT(bass, 0.9 * middle) << modeName(mode);
            if (mode == kMediumRoom)
            {
                EXPECT_LT(high, 0.9 * middle);
            }
            else
            {
                EXPECT_NEAR(high, middle, 0.02 * middle);
            }
        }
    }
}

// The left output taps only the lines the left input feeds, the right only the others; only the
// late-cross rotators couple the two groups.
TEST(RoomAndChamberChannels, OnlyLateCrossCouplesTheChannels)
{
    auto energy = [](const std::vector<float>& x)
    {
        double sum = 0.0;
        for (float v : x)
            sum += static_cast<double>(v) * v;
        return sum;
    };
    for (int mode : kModes)
        for (float cross : {0.0f, 1.0f})
        {
            auto engine = makeMode(mode, 48000);
            setValue(*engine, kEarlyCross, 0.0f);
            setValue(*engine, kLateCross, cross);
            const Stereo out = render(*engine, impulse(24000, true, false));
            const double ratio = energy(out.right) / energy(out.left);
            if (cross == 0.0f)
            {
                EXPECT_LT(ratio, 1e-4) << modeName(mode);
            }
            else
            {
                EXPECT_GT(ratio, 0.02) << modeName(mode);
            }
        }
}

// --- timing and block handling --------------------------------------------------------------------

TEST(RoomAndChamberTiming, WetLagsByFrameAndPredelay)
{
    for (int mode : kModes)
        expectWetArrivalAtEachPredelay(mode, 48000, {0.0f, 10.0f, 100.0f}, 64);
}

TEST(RoomAndChamberTiming, OutputDoesNotDependOnHostBlockSize)
{
    auto deepestAtSmallestSize = [](ReverbEngine& e)
    {
        deepModulation(e);
        setValue(e, kLateSize, 0.0f);
    };
    for (int mode : kModes)
        expectOutputIndependentOfBlockSize(mode, 44100, noise(6000), deepestAtSmallestSize);
}

// --- robustness -----------------------------------------------------------------------------------

// Loud noise at 44.1 kHz, the rate at which the smallest size with the deepest modulation runs into
// the delay floors.
TEST(RoomAndChamberRobustness, FiniteAtEveryParameterCorner)
{
    const Stereo input = noise(4096, 1.0f);
    for (int mode : kModes)
        expectBoundedAtEveryParameterCorner(mode, 44100, input);
}

// The deepest modulation at the smallest size would push these reads below their floor: the rooms'
// allpass sections read before they write (floor one block), the chambers' lines after (floor 0).
struct FloorCase
{
    int mode;
    int hostRate;
    int firstLine; // late line numbers, from 0
    int lineCount;
    float floor;
};

using RoomAndChamberFloors = ::testing::TestWithParam<FloorCase>;

TEST_P(RoomAndChamberFloors, ModulatedDelaysStayAboveTheirFloor)
{
    const FloorCase c = GetParam();
    auto engine = makeMode(c.mode, c.hostRate);
    setValue(*engine, kLateSize, 0.0f);
    setValue(*engine, kLateModDepth, 1.0f);
    setValue(*engine, kLateModRate, 5.0f); // a full sweep in well under a second
    const float swing = (c.mode == kDarkChamber ? 2.0f : 1.0f) * engine->lateModDepth;
    // Without the floor this setting would reach below it.
    EXPECT_LT(engine->lateLengths[c.firstLine] - swing, c.floor);

    float shortest = 1e9f;
    const Stereo input = noise(ReverbEngine::kFrame);
    for (int frame = 0; frame < c.hostRate / 64; ++frame)
    {
        const Stereo out = render(*engine, input, ReverbEngine::kFrame);
        ASSERT_TRUE(allFinite(out));
        for (int i = c.firstLine; i < c.firstLine + c.lineCount; ++i)
            if (!isChamber(c.mode) || (i & 3) < 2)
                shortest = std::min(shortest, engine->lines[kLate + i].slot(0).previousDelay);
    }
    EXPECT_GE(shortest, c.floor);
}

INSTANTIATE_TEST_SUITE_P(SmallSizeDeepModulation, RoomAndChamberFloors,
                         ::testing::Values(FloorCase{kMediumRoom, 8000, 0, 16, 64.0f},
                                           FloorCase{kBrightRoom, 32000, 0, 24, 64.0f},
                                           FloorCase{kBrightRoom, 44100, 0, 24, 64.0f},
                                           FloorCase{kLargeChamber, 48000, 0, 32, 0.0f},
                                           FloorCase{kDarkChamber, 44100, 0, 32, 0.0f}),
                         [](const auto& info)
                         { return modeName(info.param.mode) + "_" + std::to_string(info.param.hostRate); });

TEST(RoomAndChamberSwitch, ClearsTheTailAndKeepsSettings)
{
    for (int mode : kModes)
        expectSwitchClearsTheTailAndKeepsSettings(mode, 5.0f, 8192);
}

// Late line n reads lateLengths[n] in all four modes (plus the modulation where it is modulated, up to
// twice the depth in "Dark Chamber"); at 192 kHz and the largest size every read fits its ring.
TEST(RoomAndChamberHighRate, LongestLinesFitAt192kHz)
{
    for (int mode : kModes)
    {
        SCOPED_TRACE(modeName(mode));
        auto engine = makeMode(mode, 192000);
        setValue(*engine, kLateSize, 1.0f);
        setValue(*engine, kLateModDepth, 1.0f);
        setValue(*engine, kDecay, 1.0f);
        setValue(*engine, kRTXover, 100.0f);
        setValue(*engine, kRTHighXover, 15000.0f);
        setValue(*engine, kEarlyLateMix, 100.0f);
        for (int n = 0; n < 32; ++n)
        {
            const float longest = engine->lateLengths[n] + 2.0f * engine->lateModDepth + 2.0f;
            EXPECT_LT(longest, static_cast<float>(engine->lines[kLate + n].size())) << n;
        }
        if (isChamber(mode))
            for (int i = 0; i < 15; ++i)
            {
                EXPECT_LT(engine->tapPositions[i], engine->lines[kLate + 2 * i].size());
                EXPECT_LT(engine->tapPositions[15 + i], engine->lines[kLate + 2 * i + 1].size());
            }
        const Stereo ir = renderImpulse(*engine, static_cast<size_t>(0.7 * 192000));
        ASSERT_TRUE(allFinite(ir));
        EXPECT_NEAR(rt60(ir, 192000.0), 1.0, 0.15);
    }
}
