// Parameter records, dispatch, mode switching and sample-rate handling of the engine object.

#include "EngineTestUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace kestrune;
using namespace kestrune::test;

TEST(EngineParameters, DefaultsMapBackToTheTableAndStartNeverSet)
{
    auto fresh = std::make_unique<ReverbEngine>();
    auto engine = makeEngine();
    for (int k = 0; k < kNumParameters; ++k)
    {
        const ParameterInfo& info = kParameterTable[static_cast<size_t>(k)];
        SCOPED_TRACE(info.name);
        EXPECT_EQ(fresh->getParameterNormalised(k), -1.0f);
        EXPECT_EQ(fresh->getParameterValue(k), -10000.0f);
        const float x = engine->getDefaultNormalised(k);
        EXPECT_EQ(x, (info.defaultValue - info.minimum) / (info.maximum - info.minimum));
        EXPECT_EQ(engine->getParameterNormalised(k), x);
        EXPECT_NEAR(engine->getParameterValue(k), info.defaultValue, 1e-6f * info.maximum);
    }
    EXPECT_EQ(engine->getDefaultNormalised(kType), 1.0f / 12.0f);
    EXPECT_EQ(engine->getDefaultNormalised(kMix), 1.0f);
    EXPECT_EQ(engine->getDefaultNormalised(kEarlyModDepth), 0.0f);
    EXPECT_EQ(engine->getDefaultNormalised(kEarlySend), 0.0f);
    EXPECT_EQ(engine->getModeIndex(), 0u);

    // Out-of-range indices touch nothing.
    engine->setParameterNormalised(-1, 0.5f);
    engine->setParameterNormalised(kNumParameters, 0.5f);
    EXPECT_EQ(engine->getParameterValue(kNumParameters), 0.0f);
    EXPECT_EQ(engine->getDefaultNormalised(-3), 0.0f);
}

TEST(EngineParameters, CurvesMapLinearlyWithoutClamping)
{
    auto engine = makeEngine();
    engine->setParameterNormalised(kType, 0.5f);
    EXPECT_EQ(engine->getParameterValue(kType), 6.0f);
    engine->setParameterNormalised(kDecay, 0.5f);
    EXPECT_FLOAT_EQ(engine->getParameterValue(kDecay), 0.1f + 99.9f * 0.5f);
    engine->setParameterNormalised(kPredelay, 1.5f);
    EXPECT_FLOAT_EQ(engine->getParameterValue(kPredelay), 750.0f);
}

TEST(EngineParameters, OnlyAChangedValueRunsTheDispatch)
{
    // The first set runs it even at the default value.
    auto fresh = std::make_unique<ReverbEngine>();
    fresh->setParameterNormalised(kMix, 1.0f);
    EXPECT_EQ(fresh->wetTarget, 1.0f);

    auto engine = makeEngine();
    engine->wetTarget = 123.0f; // a marker only the dispatch would overwrite
    engine->setParameterNormalised(kMix, engine->getParameterNormalised(kMix));
    EXPECT_EQ(engine->wetTarget, 123.0f);
    engine->setParameterNormalised(kMix, 0.5f);
    EXPECT_NEAR(engine->wetTarget, std::sqrt(0.5f), 1e-6f);

    // NaN never compares equal, so it is always stored; a later real value repairs the mix.
    engine->setParameterNormalised(kMix, std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(std::isnan(engine->getParameterNormalised(kMix)));
    engine->setParameterNormalised(kMix, 1.0f);
    EXPECT_EQ(engine->wetTarget, 1.0f);
}

TEST(EngineParameters, GainPairsAtTheirExtremes)
{
    struct Case
    {
        int k;
        float value;
        float ReverbEngine::*first;
        float firstExpected;
        float ReverbEngine::*second;
        float secondExpected;
        float tolerance;
    };
    const Case cases[] = {
        {kMix, 100.0f, &ReverbEngine::wetTarget, 1.0f, &ReverbEngine::dryTarget, -4.371139e-8f, 1e-9f},
        {kMix, 0.0f, &ReverbEngine::wetTarget, 0.0f, &ReverbEngine::dryTarget, 1.0f, 1e-9f},
        {kEarlyLateMix, 0.0f, &ReverbEngine::earlyGain, 1.0f, &ReverbEngine::lateGain, 1.5708e-5f, 1e-8f},
        {kEarlyLateMix, 100.0f, &ReverbEngine::earlyGain, 0.0031259f, &ReverbEngine::lateGain, 1.0f, 1e-5f},
        {kEarlySend, 1.0f, &ReverbEngine::earlySendCosine, -4.371139e-8f, &ReverbEngine::earlySendSine, 1.0f,
         1e-9f},
    };
    auto engine = makeEngine();
    for (const Case& c : cases)
    {
        SCOPED_TRACE(kParameterTable[static_cast<size_t>(c.k)].name);
        setValue(*engine, c.k, c.value);
        EXPECT_NEAR((*engine).*c.first, c.firstExpected, c.tolerance);
        EXPECT_NEAR((*engine).*c.second, c.secondExpected, c.tolerance);
    }
}

TEST(EngineModeSwitch, TypeValueSelectsTheMode)
{
    struct Case
    {
        float typeValue;
        uint32_t mode;
    };
    const Case cases[] = {{0.0f, 0},  {1.0f, 0},  {1.9f, 0},   {2.0f, 1},
                          {3.0f, 2},  {5.0f, 4},  {12.0f, 11}, {12.9f, 11},
                          {13.0f, 0}, {40.0f, 0}, {-5.0f, 0},  {std::numeric_limits<float>::quiet_NaN(), 0}};
    auto engine = makeEngine(44100);
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.typeValue);
        engine->setParameterNormalised(kType, c.typeValue / 12.0f);
        EXPECT_EQ(engine->getModeIndex(), c.mode);
        EXPECT_EQ(modeFromTypeValue(c.typeValue), c.mode);
        const bool half = isHalfRateMode(c.mode);
        EXPECT_EQ(engine->getInternalRate(), half ? 22050.0f : 44100.0f);
        EXPECT_EQ(engine->blockLength, half ? 32.0f : 64.0f);
    }
}

TEST(EngineModeSwitch, HalfRateModesHalveTheModulationDepth)
{
    auto engine = makeEngine(44100);
    setValue(*engine, kLateModDepth, 1.0f);
    setValue(*engine, kEarlyModDepth, 1.0f);
    EXPECT_EQ(engine->lateModDepth, 128.0f);
    selectMode(*engine, static_cast<int>(ReverbMode::DarkRoom));
    EXPECT_EQ(engine->getInternalRate(), 22050.0f);
    EXPECT_EQ(engine->lateModDepth, 64.0f);
    EXPECT_EQ(engine->earlyModDepth, 64.0f);
}

TEST(EngineModeSwitch, LateCrossRotatesByHalfItsAmountExceptInDenseRoom)
{
    auto engine = makeEngine();
    for (int mode = 0; mode < kNumModes; ++mode)
    {
        SCOPED_TRACE(kModeNames[static_cast<size_t>(mode)]);
        selectMode(*engine, mode);
        const bool dense = mode == static_cast<int>(ReverbMode::DenseRoom);
        const float expected = dense ? 1.0f : static_cast<float>(std::sin(3.1415927 * 0.25));
        for (int r = 16; r < 32; ++r)
            EXPECT_NEAR(engine->rotators[r].sine, expected, 1e-6f);
    }
}

TEST(EngineModeSwitch, ReselectingTheSameModeClearsTheTail)
{
    auto engine = makeEngine();
    render(*engine, impulse(4096));
    // 1.5 still selects "Large Room", but the normalised value changed.
    setValue(*engine, kType, 1.5f);
    EXPECT_EQ(engine->getModeIndex(), 0u);
    const Stereo after = render(*engine, silence(8192));
    EXPECT_LT(maxAbs(after), 1e-12f);

    // Setting the same normalised value again is no switch: the tail of a new impulse survives.
    render(*engine, impulse(4096));
    setValue(*engine, kType, 1.5f);
    EXPECT_GT(maxAbs(render(*engine, silence(8192))), 1e-4f);
}

TEST(EngineSampleRate, TheSameRateKeepsTheTail)
{
    auto a = makeEngine(44100);
    auto b = makeEngine(44100);
    const Stereo input = impulse(20000);
    const Stereo reference = render(*a, input);
    Stereo out = silence(0);
    for (size_t start = 0; start < input.size(); start += 1000)
    {
        b->setSampleRate(44100);
        const float* in[2] = {input.left.data() + start, input.right.data() + start};
        float block[2][1000];
        float* o[2] = {block[0], block[1]};
        b->process(in, o, 1000, 2);
        out.left.insert(out.left.end(), block[0], block[0] + 1000);
        out.right.insert(out.right.end(), block[1], block[1] + 1000);
    }
    EXPECT_EQ(out.left, reference.left);
    EXPECT_EQ(out.right, reference.right);
}

TEST(EngineSampleRate, CrossingFortyEightKilohertzResizesAndClears)
{
    auto engine = makeEngine(44100);
    for (int n = 52; n < 84; ++n)
        EXPECT_EQ(engine->lines[n].size(), 16384);
    render(*engine, impulse(8192));

    engine->setSampleRate(96000);
    for (int n = 52; n < 84; ++n)
        EXPECT_EQ(engine->lines[n].size(), 32768);
    EXPECT_EQ(engine->getInternalRate(), 96000.0f);
    EXPECT_EQ(engine->predelayLength, 10.0f * 96.0f + 2.0f);
    EXPECT_LT(maxAbs(render(*engine, silence(8192))), 1e-12f);

    engine->setSampleRate(48000);
    for (int n = 52; n < 68; ++n)
        EXPECT_EQ(engine->lines[n].size(), 16384);
}

// Each ring only as long as its mode's longest read: the half-rate modes' predelay and early lines count
// samples at the internal rate, every late line fits 16384 samples up to 48 kHz.
TEST(EngineSampleRate, RingsAsLongAsTheirModesReads)
{
    struct Case
    {
        int rate;
        ReverbMode mode;
        int64_t predelay, early, late;
    };
    auto engine = makeEngine(48000);
    for (const Case c : {Case{48000, ReverbMode::LargeRoom, 65536, 16384, 16384},
                         Case{48000, ReverbMode::DarkRoom, 32768, 8192, 16384},
                         Case{96000, ReverbMode::LV426, 65536, 16384, 32768},
                         Case{96000, ReverbMode::BrightRoom, 131072, 32768, 32768},
                         Case{22050, ReverbMode::DenseRoom, 16384, 4096, 16384}})
    {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << kModeNames[static_cast<size_t>(c.mode)]);
        engine->setSampleRate(c.rate);
        setValue(*engine, kType, static_cast<float>(c.mode) + 1.0f);
        EXPECT_EQ(engine->lines[0].size(), c.predelay);
        EXPECT_EQ(engine->lines[17].size(), c.early);
        EXPECT_EQ(engine->lines[83].size(), c.late);
    }
}

TEST(EngineSampleRate, PreparedRatesDoNotAllocateLater)
{
    auto engine = makeEngine(44100);
    engine->prepareForRate(192000);
    std::vector<int64_t> capacities;
    for (const auto& line : engine->lines)
        capacities.push_back(line.capacity());
    engine->setSampleRate(192000);
    engine->setSampleRate(44100);
    engine->setSampleRate(192000);
    for (int i = 0; i < ReverbEngine::kLineCount; ++i)
    {
        EXPECT_EQ(engine->lines[i].capacity(), capacities[static_cast<size_t>(i)]) << "line " << i;
        EXPECT_GE(engine->lines[i].capacity(), engine->lines[i].size());
    }
}

// Every delay any setting asks for stays inside its ring, at every host rate.
TEST(EngineSampleRate, LongestDelaysFitTheirRings)
{
    for (int rate : {44100, 48000, 88200, 96000, 176400, 192000})
    {
        SCOPED_TRACE(rate);
        auto engine = makeEngine(rate);
        setValue(*engine, kPredelay, 500.0f);
        setValue(*engine, kEarlySize, 1000.0f);
        setValue(*engine, kEarlyModDepth, 1.0f);
        setValue(*engine, kLateModDepth, 1.0f);
        setValue(*engine, kLateSize, 1.0f);
        const float longestTap =
            engine->predelayLength + engine->earlyLengths[7] + 2.0f * engine->earlyModDepth;
        EXPECT_LT(longestTap + 65.0f, static_cast<float>(engine->lines[0].size()));
        EXPECT_LT(engine->earlyLengths[7] + 64.0f, static_cast<float>(engine->lines[2 + 6].size()));
        for (int n = 0; n < 32; ++n)
            EXPECT_LT(engine->lateLengths[n] + engine->lateModDepth + 65.0f,
                      static_cast<float>(engine->lines[52 + n].size()))
                << "late line " << n;
    }
}

// No setting at the ends of its range, alone or together, makes the output non-finite.
TEST(EngineRobustness, ParameterCornersStayFinite)
{
    struct Corner
    {
        int k; // -1: every parameter
        float x;
    };
    std::vector<Corner> corners{{-1, 0.0f}, {-1, 1.0f}};
    for (int k = 0; k < kNumParameters; ++k)
        for (float x : {0.0f, 1.0f})
            corners.push_back({k, x});
    const Stereo input = noise(2048);
    for (int rate : {44100, 48000, 96000})
        for (const Corner& c : corners)
        {
            SCOPED_TRACE(testing::Message() << rate << " Hz, parameter " << c.k << " at " << c.x);
            auto engine = makeEngine(rate);
            for (int k = 0; k < kNumParameters; ++k)
                if (c.k < 0 || c.k == k)
                    engine->setParameterNormalised(k, c.x);
            Stereo out = render(*engine, input);
            EXPECT_TRUE(allFinite(out));
            out = render(*engine, silence(2048));
            EXPECT_TRUE(allFinite(out));
            EXPECT_LT(maxAbs(out), 100.0f);
        }
}

// Normalised values outside 0..1 (a hand-edited preset, a faulty host) are stored as they are, but
// the network works within the published ranges, so it stays stable; NaN acts as the default.
TEST(EngineRobustness, OutOfRangeValuesKeepTheNetworkStable)
{
    const Stereo input = noise(4096);
    for (float x : {-1.0f, 2.0f, std::numeric_limits<float>::quiet_NaN()})
    {
        SCOPED_TRACE(x);
        auto engine = makeEngine();
        for (int k = 0; k < kNumParameters - 1; ++k)
            engine->setParameterNormalised(k, x);
        if (!std::isnan(x))
        {
            EXPECT_EQ(engine->getParameterNormalised(kDecay), x);
            EXPECT_FLOAT_EQ(engine->getParameterValue(kPredelay), 500.0f * x);
        }
        const Stereo out = render(*engine, input);
        const Stereo tail = render(*engine, silence(8192));
        EXPECT_TRUE(allFinite(out));
        EXPECT_TRUE(allFinite(tail));
        EXPECT_LT(maxAbs(tail), 10.0f);
    }
}

// A NaN or an infinity from the host is silence on both paths: the network never holds it, and the
// output stays finite at any mix, fully wet too (where the dry gain is about -4.4e-8, not 0).
TEST(EngineRobustness, NonFiniteInputIsSilence)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float mix : {0.0f, 50.0f, 100.0f})
    {
        auto engine = makeEngine();
        setValue(*engine, kMix, mix);
        Stereo input = noise(8192);
        input.left[100] = nan;
        input.right[101] = inf;
        input.left[700] = -inf;
        input.right[4000] = nan;
        const Stereo out = render(*engine, input);
        EXPECT_TRUE(allFinite(out)) << mix;
        const Stereo tail = render(*engine, silence(8192));
        EXPECT_TRUE(allFinite(tail));
        if (mix > 0.0f)
        {
            EXPECT_GT(maxAbs(tail), 1e-4f); // the reverb still rings: the good samples got through
        }
    }
}
