// The frame every mode shares: the per-sample mix, the 64-sample wet lag, block-size independence,
// silence, and the half-rate path.

#include "EngineTestUtils.h"

#include <gtest/gtest.h>

using namespace kestrune;
using namespace kestrune::test;

using EveryMode = testing::TestWithParam<int>;

INSTANTIATE_TEST_SUITE_P(Modes, EveryMode, testing::Range(0, kNumModes),
                         [](const auto& info) { return modeName(info.param); });

// The frame runs whenever its 64th sample arrives, whatever the host's block size.
TEST_P(EveryMode, OutputDoesNotDependOnTheHostBlockSize)
{
    expectOutputIndependentOfBlockSize(GetParam(), 48000, noise(3000));
}

TEST_P(EveryMode, SilenceInGivesTinyFiniteOutput)
{
    for (int rate : {44100, 48000, 96000})
        expectSilenceStaysTinyAndFinite(GetParam(), rate, static_cast<size_t>(rate / 4));
}

TEST_P(EveryMode, WetPathLagsByAFrameAndThePredelay)
{
    for (float predelayMs : {0.0f, 10.0f, 123.4f})
    {
        SCOPED_TRACE(predelayMs);
        auto engine = makeMode(GetParam(), 44100);
        setValue(*engine, kPredelay, predelayMs);
        // Settle the predelay taps' glide before the impulse, which starts a frame.
        render(*engine, silence(1024));
        const Stereo out = renderImpulse(*engine, 16384);
        const size_t minimumLag = wetLag(*engine);
        const size_t arrival = firstAbove(out, 1e-6f);
        ASSERT_LT(arrival, out.size());
        // Sample 0 is the dry impulse times the fully-wet dry gain (about -4.4e-8).
        EXPECT_GE(arrival, minimumLag);
        if (GetParam() == static_cast<int>(ReverbMode::LargeRoom))
        {
            EXPECT_EQ(arrival, minimumLag);
        }
    }
}

TEST(Frame, DryMixPassesTheInputOnceSmoothed)
{
    auto engine = makeEngine();
    setValue(*engine, kMix, 0.0f);
    const Stereo input = noise(48000);
    const Stereo out = render(*engine, input);
    // 50 ms smoothing: after 0.8 s the gains are within e^-16 of their targets, except that the
    // single-precision smoother stops moving where a step falls below half a unit in the last place:
    // the dry gain rests about 7e-5 (0.0006 dB) below 1.
    float worst = 0.0f;
    for (size_t i = 38400; i < input.size(); ++i)
        worst = std::max(
            {worst, std::fabs(out.left[i] - input.left[i]) / std::max(std::fabs(input.left[i]), 1e-3f),
             std::fabs(out.right[i] - input.right[i]) / std::max(std::fabs(input.right[i]), 1e-3f)});
    EXPECT_LT(worst, 1e-4f);
}

TEST(Frame, FullyWetOutputIsTheDelayedWetSignal)
{
    // With mix 100 a 64-sample frame of silence after the impulse is the wet signal alone; the dry
    // gain is -4.4e-8, so the first 64 samples carry only that much of the input.
    auto engine = makeEngine();
    const Stereo out = render(*engine, noise(64 * 10));
    EXPECT_LT(maxAbs(out, 0, 64), 1e-7f);
    EXPECT_GT(maxAbs(out, 64, 640), 1e-3f);
}

TEST(Frame, WorksInPlace)
{
    auto a = makeEngine();
    auto b = makeEngine();
    const Stereo input = noise(2000);
    const Stereo expected = render(*a, input, 100);
    Stereo buffer = input;
    for (size_t start = 0; start < buffer.size(); start += 100)
    {
        float* io[2] = {buffer.left.data() + start, buffer.right.data() + start};
        b->process(io, io, 100, 2);
    }
    EXPECT_EQ(buffer.left, expected.left);
    EXPECT_EQ(buffer.right, expected.right);
}

TEST(Frame, ResetSilencesButKeepsTheFramePosition)
{
    auto engine = makeEngine();
    render(*engine, noise(1000));
    const int32_t position = engine->framePosition;
    engine->reset();
    EXPECT_EQ(engine->framePosition, position);
    EXPECT_LT(maxAbs(render(*engine, silence(8192))), 1e-12f);
}

TEST(Frame, HalfRateFramesFlipTheDenormalOffsets)
{
    auto engine = makeEngine();
    selectMode(*engine, static_cast<int>(ReverbMode::DarkRoom));
    const float before = engine->denormal[0].value;
    render(*engine, silence(64));
    EXPECT_EQ(engine->denormal[0].value, -before);
    EXPECT_EQ(engine->denormal[1].value, -before);
    render(*engine, silence(64));
    EXPECT_EQ(engine->denormal[0].value, before);
}

TEST(Frame, ZeroSamplesDoNothing)
{
    auto engine = makeEngine();
    const int32_t position = engine->framePosition;
    float x = 1.0f;
    const float* in[2] = {&x, &x};
    float* out[2] = {&x, &x};
    engine->process(in, out, 0, 2);
    engine->process(in, out, -5, 2);
    EXPECT_EQ(engine->framePosition, position);
    EXPECT_EQ(x, 1.0f);
}

// The late lines' three-band decay runs several lines side by side; each line must still get
// exactly what its own two one-pole crossovers and gains give, wherever its group starts.
TEST(Frame, ThreeBandDecayMatchesEachLinesOwnFilters)
{
    auto engine = makeEngine();
    setValue(*engine, kRTBassMultiply, 1.7f);
    setValue(*engine, kRTHighMultiply, 0.3f);
    const Stereo data = noise(32 * 64 * 2);
    for (int n = 0; n < 32; ++n)
    {
        std::copy_n(data.left.begin() + 64 * n, 64, engine->lineBuffer[n]);
        engine->bassCrossover[n].state = data.right[static_cast<size_t>(n)];
        engine->highCrossover[n].state = data.right[static_cast<size_t>(n + 32)];
    }

    float expected[32][64];
    float expectedBass[32], expectedHigh[32];
    for (int n = 0; n < 32; ++n)
    {
        OnePole bass = engine->bassCrossover[n], high = engine->highCrossover[n];
        float lo[64];
        float* x = expected[n];
        std::copy_n(engine->lineBuffer[n], 64, x);
        bass.process(x, lo, 64, engine->bassCrossoverCoefficient);
        for (int j = 0; j < 64; ++j)
            x[j] = (x[j] - lo[j]) * engine->midGains[n] + lo[j] * engine->bassGains[n];
        high.process(x, lo, 64, engine->highCrossoverCoefficient);
        for (int j = 0; j < 64; ++j)
            x[j] = (x[j] - lo[j]) * engine->highRatios[n] + lo[j];
        expectedBass[n] = bass.state;
        expectedHigh[n] = high.state;
    }

    // Groups starting at 0, at an odd line, and a remainder of fewer than four lines.
    engine->threeBandDecay(0, 3, 64);
    engine->threeBandDecay(3, 26, 64);
    engine->threeBandDecay(29, 3, 64);
    for (int n = 0; n < 32; ++n)
    {
        SCOPED_TRACE(n);
        EXPECT_TRUE(std::equal(expected[n], expected[n] + 64, engine->lineBuffer[n]));
        EXPECT_EQ(engine->bassCrossover[n].state, expectedBass[n]);
        EXPECT_EQ(engine->highCrossover[n].state, expectedHigh[n]);
    }
}
