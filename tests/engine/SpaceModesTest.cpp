// "Sulaco", "LV-426" and "Dense Room": derived values at worked examples, decay, lag, block
// independence, silence, parameter corners, mode switches, 192 kHz and the shortest lines.

#include "EngineTestUtils.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrune::test
{
namespace
{

constexpr int kSulaco = 9;
constexpr int kLV426 = 10;
constexpr int kDenseRoom = 11;
constexpr int kModes[] = {kSulaco, kLV426, kDenseRoom};

// Late lines each mode reads (from line 52 up) and the largest modulation above a line's length,
// in units of the late depth in samples.
int usedLines(int mode) { return mode == kSulaco ? 16 : mode == kLV426 ? 28 : 32; }
float modulationSpan(int mode) { return mode == kLV426 ? 1.0f : 2.0f; }

// Flat decay: every band follows "decay".
void flatten(ReverbEngine& engine)
{
    setValue(engine, kRTBassMultiply, 1.0f);
    setValue(engine, kRTHighMultiply, 1.0f);
}

struct LengthCase
{
    int mode, rate;
    float lateSize;
    int line;
    float expected; // samples at the internal rate
};

TEST(SpaceModes, LateLengthsAtWorkedExamples)
{
    const LengthCase cases[] = {
        {kSulaco, 44100, 0.0f, 0, 93.342041f},
        {kSulaco, 44100, 0.0f, 15, 702.49469f},
        {kSulaco, 48000, 0.5f, 15, 15989.0f * 0.5f - 32.0f},
        {kSulaco, 48000, 1.0f, 15, 15989.0f * 0.95f - 32.0f},
        {kSulaco, 96000, 1.0f, 15, 15989.0f * 1.9f - 32.0f},
        {kLV426, 48000, 0.0f, 0, 35.06022f},
        {kLV426, 48000, 0.0f, 27, 767.35004f},
        {kLV426, 48000, 1.0f, 27, 15987.0f * 0.95f - 32.0f},
        // 29.61 samples unbounded: a section may not be shorter than its 32-sample block.
        {kLV426, 44100, 0.0f, 0, 32.0f},
        {kDenseRoom, 44100, 0.5f, 0, 558.27f},
        {kDenseRoom, 44100, 0.5f, 31, 15989.8047f * 0.52369f - 32.0f},
    };
    for (const LengthCase& c : cases)
    {
        auto engine = makeMode(c.mode, c.rate);
        setValue(*engine, kLateSize, c.lateSize);
        EXPECT_NEAR(engine->lateLengths[c.line], c.expected, 0.02f + 2e-5f * c.expected)
            << "mode " << c.mode << " rate " << c.rate << " size " << c.lateSize << " line " << c.line;
    }
}

TEST(SpaceModes, SizeTotalAndNormalisation)
{
    // Sulaco and LV-426 sum their own lengths; Dense Room scales its size constant.
    for (int mode : kModes)
    {
        auto engine = makeMode(mode, 48000);
        setValue(*engine, kDecay, 2.0f);
        const int count = usedLines(mode);
        double sum = 0.0;
        for (int i = 0; i < count; ++i)
            sum += engine->lateLengths[i];
        const double total = mode == kDenseRoom ? 182380.0 * 0.6 * 24000.0 * 1.9 / 48000.0 : sum;
        EXPECT_NEAR(engine->sizeTotal, total, 1e-4 * total) << mode;
        const double factor = mode == kSulaco ? 1.414 : mode == kLV426 ? 4.0 : 1.0;
        EXPECT_NEAR(engine->midNormalisation, factor * std::sqrt(total / (2.0 * 24000.0)), 1e-4) << mode;
    }
}

TEST(SpaceModes, DecayRatiosAndLateCross)
{
    for (int mode : kModes)
    {
        auto engine = makeMode(mode, 48000);
        flatten(*engine);
        // LV-426 keeps one bass and one high ratio per loop; the others a gain per line.
        const int count = mode == kLV426 ? 4 : usedLines(mode);
        for (int i = 0; i < count; ++i)
        {
            EXPECT_NEAR(engine->highRatios[i], 1.0f, 1e-6f) << mode;
            EXPECT_NEAR(engine->bassGains[i], mode == kLV426 ? 1.0f : engine->midGains[i], 1e-6f) << mode;
        }
        setValue(*engine, kLateCross, 1.0f);
        // Dense Room turns its pairs by the full amount: a quarter turn at "lateCross" 1.
        EXPECT_NEAR(engine->rotators[16].sine, mode == kDenseRoom ? 1.0f : 0.7071068f, 1e-5f) << mode;
        setValue(*engine, kLateCross, 0.5f);
        EXPECT_NEAR(engine->rotators[31].sine, mode == kDenseRoom ? 0.7071068f : 0.3826834f, 2e-3f) << mode;
    }

    auto engine = makeMode(kLV426, 48000);
    setValue(*engine, kLateSize, 1.0f);
    setValue(*engine, kDecay, 10.0f);
    setValue(*engine, kRTBassMultiply, 2.0f);
    for (int j = 0; j < 4; ++j)
    {
        EXPECT_GT(engine->bassGains[j], 1.0f);
        EXPECT_LE(engine->bassGains[j], 2.0f);
    }
}

struct ModeRate
{
    int mode, rate;
};

std::string caseName(const testing::TestParamInfo<ModeRate>& info)
{
    return modeName(info.param.mode) + "_" + std::to_string(info.param.rate);
}

std::vector<ModeRate> modesAtRates()
{
    std::vector<ModeRate> cases;
    for (int mode : kModes)
        for (int rate : {44100, 48000, 96000})
            cases.push_back({mode, rate});
    return cases;
}

using SpaceModeAtRate = testing::TestWithParam<ModeRate>;

TEST_P(SpaceModeAtRate, DecayTimeFollowsDecay)
{
    const auto [mode, rate] = GetParam();
    const std::vector<float> decays = rate == 48000 ? std::vector<float>{1.0f, 2.0f, 5.0f} : std::vector<float>{1.0f};
    for (float decay : decays)
    {
        auto engine = makeMode(mode, rate);
        flatten(*engine);
        setValue(*engine, kDecay, decay);
        // Down by about 50 dB at the end: the fit between -5 and -25 dB misses nothing that counts.
        const Stereo out = renderImpulse(*engine, static_cast<size_t>((0.8f * decay + 0.1f) * static_cast<float>(rate)));
        ASSERT_TRUE(allFinite(out));
        EXPECT_NEAR(rt60(out, rate), decay, 0.12 * decay) << "decay " << decay;
    }
}

TEST_P(SpaceModeAtRate, WetLagsByFrameAndPredelay)
{
    const auto [mode, rate] = GetParam();
    expectWetArrivalAtEachPredelay(mode, rate, {20.0f}, 9);
}

TEST_P(SpaceModeAtRate, OutputDoesNotDependOnHostBlockSize)
{
    const auto [mode, rate] = GetParam();
    expectOutputIndependentOfBlockSize(mode, rate, noise(3000), deepModulation);
}

INSTANTIATE_TEST_SUITE_P(Modes, SpaceModeAtRate, testing::ValuesIn(modesAtRates()), caseName);

TEST(SpaceModes, SilenceStaysTinyAndFinite)
{
    for (int mode : kModes)
        expectSilenceStaysTinyAndFinite(mode, 48000, 48000);
}

TEST(SpaceModes, ParameterCornersStayFinite)
{
    const Stereo input = noise(6000, 1.0f);
    for (int mode : kModes)
        for (int corner = 0; corner < 6; ++corner)
        {
            auto engine = makeMode(mode, 44100);
            // All at minimum, all at maximum, then four patterns of the two (bit corner - 2 of k).
            for (int k = 0; k < kType; ++k)
            {
                const bool high = corner < 2 ? corner == 1 : ((k >> (corner - 2)) & 1) == 1;
                engine->setParameterNormalised(k, high ? 1.0f : 0.0f);
            }
            expectBoundedOutput(*engine, input, modeName(mode) + " corner " + std::to_string(corner));
        }
}

TEST(SpaceModes, ModeSwitchClearsTailAndKeepsSettings)
{
    for (int mode : kModes)
        expectSwitchClearsTheTailAndKeepsSettings(mode, 7.0f, 4096, usedLines(mode));
}

TEST(SpaceModes, LongestDelaysFitAtHighRates)
{
    for (int mode : kModes)
        for (int rate : {96000, 192000})
        {
            auto engine = makeMode(mode, rate);
            setValue(*engine, kLateSize, 1.0f);
            setValue(*engine, kLateModDepth, 1.0f);
            setValue(*engine, kDecay, 0.5f);
            flatten(*engine);
            for (int i = 0; i < usedLines(mode); ++i)
            {
                const float longest = engine->lateLengths[i] + modulationSpan(mode) * engine->lateModDepth + 1.0f;
                EXPECT_LT(longest, static_cast<float>(engine->lines[ReverbEngine::kFirstLateLine + i].size()))
                    << "mode " << mode << " rate " << rate << " line " << i;
            }
            if (rate == 192000)
            {
                const Stereo out = renderImpulse(*engine, static_cast<size_t>(0.7 * rate));
                ASSERT_TRUE(allFinite(out));
                // LV-426's sections are up to 0.44 s long here, close to the decay itself.
                EXPECT_NEAR(rt60(out, rate), 0.5, 0.125) << mode;
            }
        }
}

// The shortest settings: delays near or below one block. A read of ring positions not written yet
// would return the signal of a whole ring earlier (0.74 s at 44.1 kHz), far above the decay.
TEST(SpaceModes, ShortestLinesLeaveNoRingGhost)
{
    const ModeRate cases[] = {{kLV426, 44100}, {kLV426, 32000}, {kDenseRoom, 32000}, {kSulaco, 32000}};
    for (const ModeRate& c : cases)
        for (float depth : {0.0f, 1.0f})
        {
            auto engine = makeMode(c.mode, c.rate);
            setValue(*engine, kLateSize, 0.0f);
            setValue(*engine, kLateModDepth, depth);
            setValue(*engine, kDecay, 0.3f);
            flatten(*engine);
            const Stereo out = renderImpulse(*engine, static_cast<size_t>(1.2 * c.rate));
            ASSERT_TRUE(allFinite(out));
            const float peak = maxAbs(out);
            // The ghost would come at full level; the decay is down by far more than 80 dB after 0.7 s.
            EXPECT_LT(maxAbs(out, static_cast<size_t>(0.7 * c.rate)), peak * 1e-4f)
                << "mode " << c.mode << " rate " << c.rate << " depth " << depth;
            // The gains follow the line lengths, but every loop also waits one block: at these short
            // lengths that makes the decay run a little long.
            const double measured = rt60(out, c.rate);
            EXPECT_GT(measured, 0.25) << "mode " << c.mode << " rate " << c.rate;
            EXPECT_LT(measured, 0.5) << "mode " << c.mode << " rate " << c.rate;
        }
}

} // namespace
} // namespace kestrune::test
