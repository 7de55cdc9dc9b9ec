// The reference against the worked examples of its own description and of its deliberate departures, its
// building blocks against their closed forms, and a few properties of its renders as a check on the reference
// itself.
#include "Engine.h"
#include "ReferenceQuantities.h"
#include "WorkedExamples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace kestrune::reference
{
namespace
{

void checkRow(const examples::WorkedExample& row)
{
    auto engine = std::make_unique<Engine>();
    examples::prepare(*engine, row);
    const double actual = readQuantity(*engine, row.quantity, row.item);
    EXPECT_NEAR(actual, row.expected, row.tolerance)
        << "mode " << row.mode << ", " << row.hostRate << " Hz, quantity " << static_cast<int>(row.quantity)
        << " item " << row.item;
}

class WorkedExampleTest : public ::testing::TestWithParam<std::size_t>
{
};

TEST_P(WorkedExampleTest, MatchesExpectedValue)
{
    checkRow(examples::kWorkedExamples[GetParam()]);
}

INSTANTIATE_TEST_SUITE_P(Reference, WorkedExampleTest,
                         ::testing::Range<std::size_t>(0, std::size(examples::kWorkedExamples)));

class DepartureExampleTest : public ::testing::TestWithParam<std::size_t>
{
};

TEST_P(DepartureExampleTest, MatchesExpectedValue)
{
    checkRow(examples::kDepartureExamples[GetParam()]);
}

INSTANTIATE_TEST_SUITE_P(Reference, DepartureExampleTest,
                         ::testing::Range<std::size_t>(0, std::size(examples::kDepartureExamples)));

// Engine prepared as the processor prepares it: defaults in index order, then settings, then the rate.
std::unique_ptr<Engine> makeEngine(int mode, int rate, std::vector<std::pair<int, float>> settings = {})
{
    auto e = std::make_unique<Engine>();
    for (int k = 0; k < 20; ++k)
        e->setParameterNormalised(k, Engine::defaultNormalised(k));
    e->setParameterNormalised(19, static_cast<float>(mode + 1) / 12.0f);
    for (auto [k, real] : settings)
        e->setParameterNormalised(k, examples::normalisedFor(k, real));
    e->setSampleRate(rate);
    return e;
}

void render(Engine& e, std::vector<float>& left, std::vector<float>& right, int blockSize)
{
    const int n = static_cast<int>(left.size());
    for (int start = 0; start < n; start += blockSize)
    {
        const int count = std::min(blockSize, n - start);
        e.process(left.data() + start, right.data() + start, left.data() + start, right.data() + start,
                  count);
    }
}

std::vector<float> noise(int n, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    std::vector<float> x(static_cast<std::size_t>(n));
    for (auto& v : x)
        v = d(generator);
    return x;
}

// ---- building blocks ----

TEST(ReferenceBlocks, FirstOrderSectionsAndToneDesign)
{
    FirstOrderSection identity;
    float x[4] = {1.0f, -2.0f, 0.5f, 3.0f};
    identity.run(x, 4);
    EXPECT_EQ(x[0], 1.0f);
    EXPECT_EQ(x[3], 3.0f);

    float d[3];
    designFirstOrderTone(d, 25.0f, 48000.0f);
    EXPECT_NEAR(d[0], -0.9967329, 2e-7);
    EXPECT_EQ(d[1], 1.0f);
    EXPECT_EQ(d[2], d[0]);

    // the split sections (0, a, 1) and (a, 1, 0) in series make the allpass (a + z^-1)/(1 + a z^-1)
    FirstOrderSection in, out, whole;
    in.setCoefficients(0.0f, d[0], 1.0f);
    out.setCoefficients(d[0], 1.0f, 0.0f);
    whole.loadDesign(d);
    float a[64], b[64];
    for (int j = 0; j < 64; ++j)
        a[j] = b[j] = j == 0 ? 1.0f : 0.0f;
    in.run(a, 64);
    out.run(a, 64);
    whole.run(b, 64);
    for (int j = 0; j < 64; ++j)
        EXPECT_NEAR(a[j], b[j], 1e-6) << j;
}

// The cookbook low-pass designed and run in double: the filter both high cuts stand for.
std::vector<double> cookbookImpulse(float hz, float rate, int n)
{
    const float omega = hz * 6.28318f / rate;
    const double sn = std::sin(static_cast<double>(omega)), cs = std::cos(static_cast<double>(omega));
    const double alpha = sn / (2.0 * static_cast<double>(0.7071f)), a0 = 1.0 + alpha;
    const double a1 = -2.0 * cs / a0, a2 = (1.0 - alpha) / a0, b0 = (1.0 - cs) / 2.0 / a0,
                 b1 = (1.0 - cs) / a0;
    std::vector<double> h(static_cast<std::size_t>(n));
    double w1 = 0.0, w2 = 0.0;
    for (int i = 0; i < n; ++i)
    {
        const double w0 = (i == 0 ? 1.0 : 0.0) - a1 * w1 - a2 * w2;
        h[static_cast<std::size_t>(i)] = b0 * w0 + b1 * w1 + b0 * w2;
        w2 = w1;
        w1 = w0;
    }
    return h;
}

struct FilterCase
{
    float hz, rate;
};
constexpr FilterCase kFilterCases[] = {{100, 44100}, {1000, 48000}, {8000, 48000}, {15000, 96000},
                                       {3000, 8000}, {100, 96000},  {3600, 8000}};

TEST(ReferenceBlocks, BiquadDesignerIsTheCookbookLowpass)
{
    for (const auto& [hz, rate] : kFilterCases)
    {
        float c[5];
        designBiquadLowpass(c, hz, 0.7071f, rate);
        const double w = static_cast<double>(hz * 6.28318f / rate);
        const double alpha = std::sin(w) / (2.0 * static_cast<double>(0.7071f)), a0 = 1.0 + alpha;
        const double expected[5] = {-2.0 * std::cos(w) / a0, (1.0 - alpha) / a0,
                                    (1.0 - std::cos(w)) / 2.0 / a0, (1.0 - std::cos(w)) / a0,
                                    (1.0 - std::cos(w)) / 2.0 / a0};
        for (int i = 0; i < 5; ++i)
            EXPECT_NEAR(c[i], expected[i], 4e-7 * std::fabs(expected[i]) + 1e-12) << hz << " Hz " << i;
    }
}

// The state-variable high cut is the cookbook low-pass in another structure: same impulse response up to the
// rounding of its float states.
TEST(ReferenceBlocks, HighCutImpulseIsTheCookbookLowpass)
{
    for (const auto& [hz, rate] : kFilterCases)
    {
        HighCutFilter h;
        h.design(hz, 0.7071f, rate);
        const int n = 16384;
        std::vector<float> x(static_cast<std::size_t>(n), 0.0f);
        x[0] = 1.0f;
        for (int i = 0; i < n; i += 64)
            h.runDirect(x.data() + i, 64);
        const auto expected = cookbookImpulse(hz, rate, n);
        double worst = 0.0;
        for (std::size_t i = 0; i < x.size(); ++i)
            worst = std::max(worst, std::fabs(x[i] - expected[i]));
        EXPECT_LT(worst, 2e-7) << hz << " Hz at " << rate;
    }
}

// A cut-off jump on running noise: the output never leaves the range that either cut-off gives on its own
// (a direct-form biquad leaves it by a factor of about 60 on the upward jump).
TEST(ReferenceBlocks, HighCutJumpDoesNotOvershoot)
{
    for (const auto& [from, to] : {std::pair{15000.0f, 100.0f}, std::pair{100.0f, 15000.0f}})
    {
        const auto x = noise(48000, 11);
        auto run = [&](bool jump, float first)
        {
            HighCutFilter h;
            h.design(first, 0.7071f, 48000.0f);
            std::vector<float> y = x;
            for (std::size_t i = 0; i < y.size(); i += 64)
            {
                if (jump && i == 24000)
                    h.design(to, 0.7071f, 48000.0f);
                h.runDirect(y.data() + i, 64);
            }
            return y;
        };
        const auto jumped = run(true, from);
        const auto before = run(false, from);
        const auto after = run(false, to);
        float steady = 0.0f, worst = 0.0f;
        for (std::size_t i = 24000; i < x.size(); ++i)
        {
            steady = std::max({steady, std::fabs(before[i]), std::fabs(after[i])});
            worst = std::max(worst, std::fabs(jumped[i]));
        }
        EXPECT_LE(worst, steady) << from << " -> " << to;
    }
}

TEST(ReferenceBlocks, HighCutSmoothedStartsSilentAndResetKeepsIt)
{
    HighCutFilter h;
    h.design(8000.0f, 0.7071f, 48000.0f);
    h.setSmoothing(64, 50.0f, 48000.0f);
    std::vector<float> y(64 * 1500, 1.0f);
    for (std::size_t i = 0; i < y.size(); i += 64)
        h.runSmoothed(y.data() + i, 64);
    // g starts at 0 (silence) and moves with a 50 ms time constant counted in blocks
    EXPECT_LT(y[0], 0.01f);
    EXPECT_NEAR(y.back(), 1.0f, 1e-6);
    EXPECT_NEAR(h.smoothed.value, h.target, 1e-5f * h.target); // the float step stalls a few ulps short
    const float g = h.smoothed.value;
    h.reset();
    EXPECT_EQ(h.smoothed.value, g);
    EXPECT_EQ(h.s1, 0.0f);
    EXPECT_EQ(h.s2, 0.0f);
}

// "Dense Room"'s trapezoidal shelf is the first-order shelf of the designer in another structure.
TEST(ReferenceBlocks, HighCutShelfIsTheFirstOrderShelf)
{
    for (const auto& [hz, rate] : kFilterCases)
    {
        HighCutShelf shelf;
        shelf.design(hz, rate);
        float d[3];
        designFirstOrderShelf(d, hz, 1.0f, 0.01f, rate);
        FirstOrderSection section;
        section.loadDesign(d);
        std::vector<float> a(4096, 0.0f), b(4096, 0.0f);
        a[0] = b[0] = 1.0f;
        shelf.run(a.data(), 4096);
        section.run(b.data(), 4096);
        for (std::size_t i = 0; i < a.size(); ++i)
            ASSERT_NEAR(a[i], b[i], 1e-7) << hz << " Hz at " << rate << ", sample " << i;
    }
}

TEST(ReferenceBlocks, RotatorValuesAndEnergy)
{
    Rotator r;
    r.setAmount(0.0f);
    EXPECT_EQ(r.sine, 0.0f);
    EXPECT_EQ(r.cosine, 1.0f);
    r.setAmount(1.0f);
    EXPECT_EQ(r.sine, 1.0f);
    EXPECT_NEAR(r.cosine, -4.371139e-8, 1e-12);
    float a[2] = {1.0f, 0.3f}, b[2] = {0.0f, -0.7f};
    r.rotate(a, b, 2); // amount 1: (a, b) -> (-b, a)
    EXPECT_NEAR(a[0], 0.0f, 1e-7);
    EXPECT_EQ(b[0], 1.0f);
    EXPECT_NEAR(a[1], 0.7f, 1e-7);
    r.setAmount(0.37f);
    float c[1] = {0.6f}, d[1] = {-0.8f};
    r.rotate(c, d, 1);
    EXPECT_NEAR(c[0] * c[0] + d[0] * d[0], 1.0f, 1e-6);
}

TEST(ReferenceBlocks, ModulatorDrawTimingBounceAndFold)
{
    Modulator m;
    m.setRandomPeriod(2.335f, 750.0f);
    EXPECT_EQ(m.period, 321);
    EXPECT_EQ(m.countdown, 20869);
    // no draw before the start countdown runs out: with step 0.001 the bouncing phase turns at 1 after about
    // 1000 blocks (the float sum of the steps lands a hair below 1 at 1000)
    int blocks = 0;
    while (m.step > 0.0f && blocks < 2000)
    {
        m.advance(Modulator::Draw::Generator, Modulator::Form::Bouncing);
        ++blocks;
    }
    EXPECT_GE(blocks, 1000);
    EXPECT_LE(blocks, 1001);
    EXPECT_NEAR(m.phase, 1.0f, 1e-3);
    for (int i = blocks; i < 20869; ++i)
        m.advance(Modulator::Draw::Generator, Modulator::Form::Bouncing);
    EXPECT_EQ(m.countdown, 0);
    const std::uint32_t before = m.generator;
    m.advance(Modulator::Draw::Generator, Modulator::Form::Bouncing);
    EXPECT_EQ(m.generator, before * 214013u + 2531011u);
    EXPECT_EQ(m.countdown, 320);

    Modulator f;
    f.phase = 3.999f;
    f.step = 0.001f;
    f.advance(Modulator::Draw::Generator, Modulator::Form::Folded);
    EXPECT_EQ(f.phase, 4.0f); // 4 -> 0 -> 4
    EXPECT_EQ(f.folded(), 1.0f);

    // the first set of a negative rate turns the direction over for good
    Modulator n;
    n.setRate(-1.0f, 750.0f);
    n.setRate(0.5f, 750.0f);
    EXPECT_LT(n.step, 0.0f);
}

TEST(ReferenceBlocks, DelayLineSizesAndReads)
{
    DelayLine line;
    line.setMaxDelay(65000);
    EXPECT_EQ(line.size, 65536);
    EXPECT_EQ(line.mask, 65535);
    line.ring[5] = 1.0f;
    line.setMaxDelay(65000);
    EXPECT_EQ(line.ring[5], 1.0f);
    line.setMaxDelay(16000);
    EXPECT_EQ(line.size, 16384);

    // ring[p] = p with the write index at 100: a read at delay d of sample j returns 100 - j + d
    DelayLine ramp;
    ramp.writeIndex = 100;
    for (int p = 0; p < 400; ++p)
        ramp.ring[static_cast<std::size_t>(p)] = static_cast<float>(p);
    float y[64];
    ramp.readRamped(y, 64, 10.5f, 0, 1.0f / 64.0f, Interpolation::Linear);
    // a fresh line glides from 100, adding the step before each sample: d0 = 100 + inc, d63 = the target
    const float inc = (10.5f - 100.0f) / 64.0f;
    EXPECT_NEAR(y[0] - 100.0f, 100.0f + inc, 1e-4);
    EXPECT_NEAR(y[63] + 63.0f - 100.0f, 10.5f, 1e-3);
    ramp.readRamped(y, 4, 10.5f, 0, 0.25f, Interpolation::Linear);
    EXPECT_NEAR(y[0] - 100.0f, 10.5f, 1e-5); // the mean of the samples 10 and 11 back

    ramp.readRamped(y, 4, 10.51f, 1, 0.25f, Interpolation::Quantised);
    ramp.readRamped(y, 4, 10.51f, 1, 0.25f, Interpolation::Quantised);
    EXPECT_NEAR(y[0] - 100.0f, 10.5f, 1e-5); // fraction cut to 16/32

    EXPECT_NEAR(allpassTable()[128], 1.0f / 3.0f, 1e-7);
    // a negative delay reads at 0
    ramp.previousDelay[2] = -5.0f;
    ramp.readRamped(y, 4, -5.0f, 2, 0.25f, Interpolation::Linear);
    EXPECT_EQ(y[0], 100.0f);
    EXPECT_EQ(y[1], 99.0f);
}

// At a steady delay the lattice read is the allpass (c + z^-1) / (1 + c z^-1) of the direct form.
TEST(ReferenceBlocks, LatticeReadAtSteadyDelayIsTheDirectFormAllpass)
{
    for (float delay : {10.3f, 37.75f, 5.01f, 100.999f, 64.5f})
    {
        const auto x = noise(4096, 5);
        DelayLine line;
        line.setMaxDelay(16000);
        line.previousDelay[3] = delay;
        const auto i = static_cast<int>(delay);
        const float c = allpassTable()[static_cast<std::size_t>((delay - static_cast<float>(i)) * 256.0f)];
        float s = 0.0f;
        for (int start = 0; start < 4096; start += 32)
        {
            float y[32];
            line.writeBlock(x.data() + start, 32);
            line.readRamped(y, 32, delay, 3, 1.0f / 32.0f, Interpolation::FirstOrderAllpass);
            line.advance(32);
            for (int j = 0; j < 32; ++j)
            {
                const int n = start + j;
                const float a = n - i >= 0 ? x[static_cast<std::size_t>(n - i)] : 0.0f;
                const float b = n - i - 1 >= 0 ? x[static_cast<std::size_t>(n - i - 1)] : 0.0f;
                s = c * (a - s) + b;
                ASSERT_NEAR(y[j], s, 2e-6) << delay << ", sample " << n;
            }
        }
    }
}

// While the delay moves, the lattice gives back no more energy than it was given (the direct form pumps:
// 1.07 to 1.10 times the input energy under jumps, just above 1 under sweeps).
TEST(ReferenceBlocks, LatticeReadKeepsEnergyWhileTheDelayMoves)
{
    auto jumps = [](int, std::mt19937& g) { return std::uniform_real_distribution<float>(5.0f, 60.0f)(g); };
    auto sweep = [](int block, std::mt19937&)
    { return 30.0f + 20.0f * std::sin(0.05f * static_cast<float>(block)); };
    auto wobble = [](int block, std::mt19937&)
    { return 30.0f + 3.0f * std::sin(0.3f * static_cast<float>(block)); };
    const std::function<float(int, std::mt19937&)> paths[] = {jumps, sweep, wobble};
    for (std::size_t p = 0; p < std::size(paths); ++p)
        for (unsigned seed : {1u, 2u, 3u})
        {
            std::mt19937 g(seed);
            const auto x = noise(32000, seed);
            DelayLine line;
            line.setMaxDelay(16000);
            double in = 0.0, out = 0.0;
            for (int block = 0; block < 3000; ++block)
            {
                float v[32] = {}, y[32];
                for (int j = 0; j < 32 && block < 1000; ++j)
                    v[j] = x[static_cast<std::size_t>(32 * block + j)];
                for (float e : v)
                    in += static_cast<double>(e) * e;
                line.writeBlock(v, 32);
                line.readRamped(y, 32, paths[p](block, g), 0, 1.0f / 32.0f, Interpolation::FirstOrderAllpass);
                line.advance(32);
                for (float e : y)
                    out += static_cast<double>(e) * e;
            }
            EXPECT_LE(out, in) << "path " << p << ", seed " << seed;
            EXPECT_GT(out, 0.8 * in) << "path " << p << ", seed " << seed;
        }
}

TEST(ReferenceBlocks, AllpassSectionShorterThanTheBlockReadsOneRingBack)
{
    DelayLine line;
    line.setMaxDelay(16000);
    line.ring[static_cast<std::size_t>((0 - 40 + 10) & line.mask)] = 0.25f; // written one ring length ago
    line.previousDelay[0] = 10.0f;
    float x[64] = {};
    allpassSection(line, x, 64, 10.0f, 0.5f, 1.0f, 1.0f / 64.0f, Interpolation::Linear);
    EXPECT_EQ(x[40], 0.25f);
}

// Closed-form response of the decimator: 0.5 |A(z^2) + z^-1 B(z^2)|.
double decimatorGain(const HalfbandFilter& h, double fractionOfRate)
{
    const double w = 2.0 * 3.14159265358979323846 * fractionOfRate;
    const std::complex<double> z2 = std::polar(1.0, -2.0 * w);
    auto branch = [&](const std::array<HalfbandFilter::Section, 4>& b)
    {
        std::complex<double> g = 1.0;
        for (const auto& s : b)
            g *= (static_cast<double>(s.a) + z2) / (1.0 + static_cast<double>(s.a) * z2);
        return g;
    };
    return 0.5 * std::abs(branch(h.branchA) + std::polar(1.0, -w) * branch(h.branchB));
}

TEST(ReferenceBlocks, HalfbandResponseAndConstantLevel)
{
    HalfbandFilter h;
    for (double f = 0.0; f <= 0.23; f += 0.005)
        EXPECT_NEAR(decimatorGain(h, f), 1.0, 1e-6) << f;
    EXPECT_NEAR(decimatorGain(h, 0.25), 0.7071, 1e-3);
    for (double f = 0.27; f <= 0.5; f += 0.0025)
        EXPECT_LT(20.0 * std::log10(decimatorGain(h, f)), f >= 0.275 ? -106.0 : -66.0) << f;

    HalfbandFilter down, up, upInPlace;
    float x[64], y[32], z[64], w[64];
    std::fill(x, x + 64, 1.0f);
    for (int block = 0; block < 50; ++block)
    {
        down.decimate(x, y);
        up.upsample(y, z);
        std::copy(y, y + 32, w);
        upInPlace.upsample(w, w);
    }
    EXPECT_NEAR(y[31], 1.0f, 1e-6);
    for (int j = 0; j < 64; ++j)
    {
        EXPECT_NEAR(z[j], 1.0f, 1e-6);
        EXPECT_EQ(z[j], w[j]);
    }
    // 100 passes of one block each: every offset is back at +1e-15
    EXPECT_EQ(down.branchA[0].delta, 1e-15f);
    down.decimate(x, y);
    EXPECT_EQ(down.branchB[3].delta, -1e-15f);
    down.reset();
    EXPECT_EQ(down.branchB[3].delta, -1e-15f);
}

// ---- the engine ----

TEST(ReferenceEngine, NeverSetRecordsSeeTheirMinimumAndTurnTheModulators)
{
    Engine fresh;
    EXPECT_EQ(fresh.parameterValue(1), -10000.0f);
    EXPECT_EQ(fresh.predelay, 2.0f); // 0 ms
    EXPECT_EQ(fresh.highCutFrequency, 100.0f);
    EXPECT_EQ(fresh.lateModulators[5].stepSize, 2.0f * (0.05f + 0.0311f * 5.0f) / 750.0f);
    // the construction set-up turned every modulator round, as a negative rate does; a second set-up while
    // the rate records are still never set turns them round again
    for (const auto& m : fresh.lateModulators)
        EXPECT_LT(m.step, 0.0f);
    EXPECT_LT(fresh.earlyModulators[1].step, 0.0f);
    fresh.setParameterNormalised(19, 2.0f / 12.0f);
    EXPECT_GT(fresh.lateModulators[0].step, 0.0f);
    EXPECT_GT(fresh.earlyModulators[0].step, 0.0f);
    Modulator twice;
    twice.setRate(-10000.0f, 750.0f);
    twice.setRate(-10000.0f, 750.0f);
    EXPECT_GT(twice.step, 0.0f);
}

TEST(ReferenceEngine, ParameterDispatchAndConstruction)
{
    auto e = makeEngine(0, 48000);
    // once the rates are set the direction stays
    EXPECT_LT(e->lateModulators[0].step, 0.0f);
    EXPECT_LT(e->earlyModulators[1].step, 0.0f);
    // the same normalised value again does not dispatch
    e->lateLength[0] = -1.0f;
    e->setParameterNormalised(5, Engine::defaultNormalised(5));
    EXPECT_EQ(e->lateLength[0], -1.0f);
    // out of range: clamped; NaN: the default; the mode selector falls back to mode 0
    e->setParameterNormalised(2, 7.0f);
    EXPECT_EQ(e->parameterValue(2), 100.0f);
    e->setParameterNormalised(2, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(e->parameterValue(2), 2.0f);
    e->setParameterNormalised(19, 0.5f);
    e->setParameterNormalised(19, 3.0f);
    EXPECT_EQ(e->parameterValue(19), 36.0f);
    EXPECT_EQ(e->mode, 0u);
}

TEST(ReferenceEngine, SameRateKeepsTheTailAndDenormalModeIsRestored)
{
    auto e = makeEngine(0, 48000);
    std::vector<float> l(4096, 0.0f), r(4096, 0.0f);
    l[0] = 1.0f;
#if defined(__x86_64__) || defined(__i386__)
    const unsigned before = _mm_getcsr();
#endif
    render(*e, l, r, 512);
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_EQ(_mm_getcsr(), before);
#endif
    const auto tail = e->lineBuffer[0][5];
    e->setSampleRate(48000);
    EXPECT_EQ(e->lineBuffer[0][5], tail);
    EXPECT_NE(tail, 0.0f);
    e->setSampleRate(44100);
    EXPECT_EQ(e->lineBuffer[0][5], 0.0f);
}

TEST(ReferenceEngine, HalfRateFramesAlternateTheDenormalOffsets)
{
    auto e = makeEngine(4, 48000);
    std::vector<float> l(64, 0.0f), r(64, 0.0f);
    render(*e, l, r, 64);
    EXPECT_EQ(e->denormalOffset[0], -1e-15f);
    EXPECT_EQ(e->denormalOffset[1], -1e-15f);
    render(*e, l, r, 64);
    EXPECT_EQ(e->denormalOffset[0], 1e-15f);
}

struct RenderCase
{
    int mode;
    int rate;
};

std::vector<RenderCase> allModesAndRates()
{
    std::vector<RenderCase> cases;
    for (int mode = 0; mode < 12; ++mode)
        for (int rate : {44100, 48000, 96000})
            cases.push_back({mode, rate});
    return cases;
}

class ReferenceRender : public ::testing::TestWithParam<RenderCase>
{
};

// Without early modulation the wet signal starts exactly 64 host samples plus the whole predelay (at the
// internal rate) after an impulse; with both modulations on, noise comes out finite and bounded.
TEST_P(ReferenceRender, LaggedFiniteAndBounded)
{
    const auto [mode, rate] = GetParam();
    auto e = makeEngine(mode, rate, {{8, 1.0f}, {1, 20.0f}});
    const int n = rate; // one second
    std::vector<float> l(static_cast<std::size_t>(n), 0.0f), r(static_cast<std::size_t>(n), 0.0f);
    l[0] = 1.0f;
    r[0] = 1.0f;
    render(*e, l, r, 512);
    // the threshold sits above the denormal offsets (1e-15 and less) and the dry leak at mix 100 (-4.4e-8
    // times a gain that starts at 0), below the first wet sample of the half-rate modes (about 1e-8)
    int first = -1;
    for (int i = 1; i < n && first < 0; ++i)
        if (std::fabs(l[static_cast<std::size_t>(i)]) > 1e-10f)
            first = i;
    const int perInternal = static_cast<int>(e->hostRate / e->internalRate);
    EXPECT_EQ(first, 64 + perInternal * static_cast<int>(std::trunc(e->predelay)));

    e->setParameterNormalised(16, 1.0f);
    auto x = noise(2 * rate, 7);
    auto y = x;
    std::vector<float> outL(x.size()), outR(x.size());
    e->process(x.data(), y.data(), outL.data(), outR.data(), static_cast<int>(x.size()));
    double energy = 0.0;
    for (std::size_t i = 0; i < outL.size(); ++i)
    {
        ASSERT_TRUE(std::isfinite(outL[i]) && std::isfinite(outR[i])) << i;
        energy += static_cast<double>(outL[i]) * outL[i];
    }
    const double rms = std::sqrt(energy / static_cast<double>(outL.size()));
    EXPECT_GT(rms, 0.01);
    EXPECT_LT(rms, 2.0);
}

INSTANTIATE_TEST_SUITE_P(Reference, ReferenceRender, ::testing::ValuesIn(allModesAndRates()),
                         [](const auto& info) {
                             return "mode" + std::to_string(info.param.mode) + "_" +
                                    std::to_string(info.param.rate);
                         });

TEST(ReferenceEngine, BlockSizeAndInPlaceIndependence)
{
    for (int mode : {0, 6})
    {
        std::vector<float> reference;
        for (int blockSize : {1, 63, 64, 65, 512})
        {
            auto e = makeEngine(mode, 48000, {{8, 1.0f}, {16, 1.0f}});
            auto l = noise(9000, 3);
            auto r = noise(9000, 4);
            render(*e, l, r, blockSize);
            if (reference.empty())
            {
                reference = l;
                continue;
            }
            ASSERT_EQ(l, reference) << "mode " << mode << " block " << blockSize;
        }
    }
}

TEST(ReferenceEngine, NonFiniteInputCountsAsSilence)
{
    auto e = makeEngine(0, 48000, {{0, 50.0f}});
    auto l = noise(8192, 1), r = noise(8192, 2);
    auto zeroedL = l, zeroedR = r;
    l[100] = std::numeric_limits<float>::quiet_NaN();
    r[200] = std::numeric_limits<float>::infinity();
    zeroedL[100] = 0.0f;
    zeroedR[200] = 0.0f;
    render(*e, l, r, 256);
    auto z = makeEngine(0, 48000, {{0, 50.0f}});
    render(*z, zeroedL, zeroedR, 256);
    EXPECT_EQ(l, zeroedL);
    EXPECT_EQ(r, zeroedR);
}

class ReferenceSafetyNet : public ::testing::TestWithParam<int>
{
};

// A state that turns non-finite is caught at the end of its frame: the engine resets, the frame comes out
// silent, and the next input gets a finite tail again.
TEST_P(ReferenceSafetyNet, NonFiniteStateResets)
{
    auto e = makeEngine(GetParam(), 48000);
    std::vector<float> l(2048, 0.0f), r(2048, 0.0f);
    l[0] = 1.0f;
    render(*e, l, r, 512);
    e->lineBuffer[0][0] = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> x(4096, 0.0f), y(4096, 0.0f);
    x[1000] = 1.0f;
    render(*e, x, y, 512);
    float tail = 0.0f;
    for (std::size_t i = 0; i < x.size(); ++i)
    {
        ASSERT_TRUE(std::isfinite(x[i]) && std::isfinite(y[i])) << i;
        tail = std::max(tail, std::fabs(x[i]));
    }
    EXPECT_GT(tail, 1e-6f);
    // without the reset the NaN would stay in the rings for good
    for (int line = 0; line < 84; ++line)
        for (float v : e->lines[static_cast<std::size_t>(line)].ring)
            ASSERT_TRUE(std::isfinite(v)) << "line " << line;
}

INSTANTIATE_TEST_SUITE_P(Reference, ReferenceSafetyNet, ::testing::Range(0, 12));

class ReferenceCrossoverGlide : public ::testing::TestWithParam<int>
{
};

// The crossover coefficients glide once per frame towards their targets without passing them and come to
// rest exactly on them within about a second; a set-up puts them there at once.
TEST_P(ReferenceCrossoverGlide, GlidesToTheTargetAndSnapsAtSetUp)
{
    const int rate = GetParam();
    auto e = makeEngine(0, rate);
    e->setParameterNormalised(10, examples::normalisedFor(10, 5000.0));
    e->setParameterNormalised(12, examples::normalisedFor(12, 2000.0));
    const float bassStart = e->bassCoefficient;
    ASSERT_LT(bassStart, e->bassTarget);
    ASSERT_GT(e->highCoefficient, e->highTarget);
    std::vector<float> l(64, 0.0f), r(64, 0.0f);
    int frames = 0;
    float bass = bassStart, high = e->highCoefficient;
    for (;; ++frames)
    {
        render(*e, l, r, 64);
        if (frames == 0)
        {
            EXPECT_EQ(e->bassCoefficient, (e->bassTarget - bassStart) * e->crossoverGlide + bassStart);
        }
        ASSERT_GE(e->bassCoefficient, bass);
        ASSERT_LE(e->bassCoefficient, e->bassTarget);
        ASSERT_LE(e->highCoefficient, high);
        ASSERT_GE(e->highCoefficient, e->highTarget);
        if (e->bassCoefficient == bass && e->highCoefficient == high)
            break;
        bass = e->bassCoefficient;
        high = e->highCoefficient;
        ASSERT_LT(frames, rate / 64) << "still moving after a second";
    }
    EXPECT_GT(frames, rate / 64 / 4); // 50 ms per e-fold: not a jump
    EXPECT_EQ(e->bassCoefficient, e->bassTarget);
    EXPECT_EQ(e->highCoefficient, e->highTarget);
    e->setParameterNormalised(10, examples::normalisedFor(10, 300.0));
    e->setParameterNormalised(19, examples::normalisedFor(19, 2.0));
    EXPECT_EQ(e->bassCoefficient, e->bassTarget);
    EXPECT_EQ(e->highCoefficient, e->highTarget);
}

INSTANTIATE_TEST_SUITE_P(Reference, ReferenceCrossoverGlide, ::testing::Values(22050, 48000, 96000));

// RT60 of the impulse response by backward integration, fitted between -5 and -35 dB.
double measuredRt60(const std::vector<float>& h, float rate)
{
    std::vector<double> edc(h.size());
    double sum = 0.0;
    for (std::size_t i = h.size(); i-- > 0;)
    {
        sum += static_cast<double>(h[i]) * h[i];
        edc[i] = sum;
    }
    double t5 = -1.0, t35 = -1.0;
    for (std::size_t i = 0; i < h.size(); ++i)
    {
        const double db = 10.0 * std::log10(edc[i] / edc[0]);
        if (t5 < 0.0 && db <= -5.0)
            t5 = static_cast<double>(i) / rate;
        if (t35 < 0.0 && db <= -35.0)
            t35 = static_cast<double>(i) / rate;
    }
    return (t35 - t5) * 2.0;
}

class ReferenceDecay : public ::testing::TestWithParam<std::pair<int, float>>
{
};

TEST_P(ReferenceDecay, Rt60FollowsDecay)
{
    const auto [mode, decay] = GetParam();
    auto e = makeEngine(mode, 48000, {{2, decay}, {9, 1.0f}, {11, 1.0f}, {3, 15000.0f}, {4, 100.0f}});
    const int n = static_cast<int>(48000 * (decay * 1.5f + 0.5f));
    std::vector<float> l(static_cast<std::size_t>(n), 0.0f), r(static_cast<std::size_t>(n), 0.0f);
    l[0] = 1.0f;
    render(*e, l, r, 512);
    const double rt60 = measuredRt60(l, 48000.0f);
    EXPECT_NEAR(rt60, decay, 0.25 * decay);
}

INSTANTIATE_TEST_SUITE_P(Reference, ReferenceDecay,
                         ::testing::Values(std::pair{0, 1.0f}, std::pair{0, 2.5f}, std::pair{6, 1.0f},
                                           std::pair{6, 2.5f}));

} // namespace
} // namespace kestrune::reference
