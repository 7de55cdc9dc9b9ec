// The block kernels' contiguous and side-by-side paths against the plain per-sample definitions, on
// a small ring so that blocks straddle its end and ramps cross sample boundaries all the time.

#include "HalfbandFilter.h"
#include "ModulatedDelayLine.h"
#include "StereoFilters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

using namespace kestrune;
using Interp = ModulatedDelayLine::Interpolation;

namespace
{
struct Noise
{
    uint32_t seed = 12345u;
    float next()
    {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<int32_t>(seed)) * 4.6566e-10f;
    }
};

// The ramped read sample by sample, straight from the ring through sampleAt. The allpass read is the
// lattice y = c a + k s, s = k a - c s; where the integer delay steps back the state is first scaled
// down to the new coefficient and the sample is not taken in after it, where it steps forward the
// skipped sample b goes in first (s = k b - c s).
struct ReferenceTap
{
    float previousDelay = 100.0f;
    float state = 0.0f, lastCoefficient = 0.0f;
    int32_t lastInteger = -1;

    void read(const ModulatedDelayLine& line, float* y, int n, float target, Interp interpolation)
    {
        const float inc = (target - previousDelay) * (1.0f / static_cast<float>(n));
        const float* table = ModulatedDelayLine::allpassTable();
        for (int j = 0; j < n; ++j)
        {
            float d = previousDelay + inc * static_cast<float>(j + 1);
            d = d >= 0.0f ? std::min(d, 1.0e9f) : 0.0f;
            const int32_t i = static_cast<int32_t>(d);
            float f = d - static_cast<float>(i);
            const int64_t p = static_cast<int32_t>(line.writeIndex() - j + i);
            const float a = line.sampleAt(p), b = line.sampleAt(p + 1);
            switch (interpolation)
            {
            case Interp::QuantisedLinear:
                f = static_cast<float>(static_cast<int32_t>(f * 32.0f)) * 0.03125f;
                [[fallthrough]];
            case Interp::Linear:
                y[j] = (b - a) * f + a;
                break;
            case Interp::FirstOrderAllpass:
            {
                const float c = table[static_cast<int32_t>(f * 256.0f) & 255];
                const float k = std::sqrt(1.0f - c * c);
                float consume = 1.0f;
                if (i > lastInteger)
                {
                    const float kp = std::sqrt(1.0f - lastCoefficient * lastCoefficient);
                    state = 0.0f + std::min(1.0f, ((1.0f - c) / k) / ((1.0f - lastCoefficient) / kp)) * state;
                    consume = 0.0f;
                }
                else if (i < lastInteger)
                    state = k * b + -c * state;
                y[j] = c * a + k * state;
                state = consume > 0.0f ? k * a - c * state : state;
                lastCoefficient = c;
                lastInteger = i;
                break;
            }
            }
        }
        previousDelay = target;
    }
};
} // namespace

TEST(FastPaths, RampedReadsMatchThePerSampleDefinitionAcrossTheRingEnd)
{
    for (Interp interpolation : {Interp::Linear, Interp::QuantisedLinear, Interp::FirstOrderAllpass})
        for (int n : {64, 32, 20})
        {
            auto line = std::make_unique<ModulatedDelayLine>();
            line->setMaxDelay(200); // 256 samples: the block straddles the end every few blocks
            ReferenceTap reference;
            Noise noise;
            float target = 40.0f;
            for (int block = 0; block < 300; ++block)
            {
                float x[64], y[64], expected[64];
                for (int j = 0; j < n; ++j)
                    x[j] = noise.next();
                line->write(x, n);
                // Slow glides (one integer delay per block), fast ones, and delays past the ring.
                target += block % 3 == 0 ? 0.3f : (block % 3 == 1 ? 7.7f : -5.1f);
                if (block % 50 == 49)
                    target += 300.0f;
                if (target > 600.0f || target < 0.0f)
                    target = 3.5f;
                reference.read(*line, expected, n, target, interpolation);
                line->readRamped(y, n, 0, target, 1.0f / static_cast<float>(n), interpolation);
                for (int j = 0; j < n; ++j)
                    ASSERT_EQ(y[j], expected[j]) << "interpolation " << int(interpolation) << " n " << n
                                                 << " block " << block << " sample " << j;
                EXPECT_EQ(line->slot(0).state, interpolation == Interp::FirstOrderAllpass ? reference.state : 0.0f);
                line->advance(n);
            }
        }
}

TEST(FastPaths, GroupedAllpassReadsEqualSingleReads)
{
    for (int count : {8, 4, 3})
    {
        std::vector<std::unique_ptr<ModulatedDelayLine>> grouped, single;
        for (int i = 0; i < 4; ++i)
        {
            grouped.push_back(std::make_unique<ModulatedDelayLine>());
            single.push_back(std::make_unique<ModulatedDelayLine>());
            grouped.back()->setMaxDelay(200);
            single.back()->setMaxDelay(200);
        }
        Noise noise;
        for (int block = 0; block < 200; ++block)
        {
            constexpr int n = 32;
            for (int i = 0; i < 4; ++i)
            {
                float x[n];
                for (float& v : x)
                    v = noise.next();
                grouped[size_t(i)]->write(x, n);
                single[size_t(i)]->write(x, n);
            }
            float out[8][n], expected[8][n];
            AllpassTap taps[8];
            for (int t = 0; t < count; ++t)
            {
                // Two slots on each line; the delays glide at different speeds.
                const float target = 20.0f + float(t) * 13.0f + float(block % 17) * (0.2f + float(t));
                taps[t] = {grouped[size_t(t % 4)].get(), t / 4, target, out[t]};
                single[size_t(t % 4)]->readRamped(expected[t], n, t / 4, target, 1.0f / n, Interp::FirstOrderAllpass);
            }
            readRampedAllpassGroup(taps, count, n, 1.0f / n);
            for (int t = 0; t < count; ++t)
                for (int j = 0; j < n; ++j)
                    ASSERT_EQ(out[t][j], expected[t][j]) << "count " << count << " tap " << t << " block " << block;
            for (int i = 0; i < 4; ++i)
            {
                grouped[size_t(i)]->advance(n);
                single[size_t(i)]->advance(n);
            }
        }
    }
}

TEST(FastPaths, StereoFiltersEqualEachChannelOnItsOwn)
{
    auto pair = std::make_unique<std::array<HalfbandFilter, 4>>();
    auto mono = std::make_unique<std::array<HalfbandFilter, 4>>();
    FirstOrderSection sections[4];
    for (int i = 0; i < 4; ++i)
        sections[i].setCoefficients(0.3f + 0.1f * float(i % 2), 1.0f - 0.05f * float(i % 2), 0.2f);
    SmoothedBiquad biquads[4];
    ShelfFilter shelves[4];
    for (int i = 0; i < 4; ++i)
    {
        biquads[i].setDesign(i % 2 ? 3000.0f : 9000.0f, 0.7071f, 48000.0f);
        shelves[i].setDesign(i % 2 ? 300.0f : 5000.0f, 1.0f, 0.01f, 48000.0f);
    }
    OnePole poles[4];
    Noise noise;
    for (int block = 0; block < 50; ++block)
    {
        float in[2][64], a[2][64], b[2][64];
        for (auto& channel : in)
            for (float& v : channel)
                v = noise.next();
        decimateStereo((*pair)[0], (*pair)[1], in[0], in[1], a[0], a[1], 32);
        (*mono)[0].decimate(in[0], b[0], 32);
        (*mono)[1].decimate(in[1], b[1], 32);
        for (int ch = 0; ch < 2; ++ch)
            for (int j = 0; j < 32; ++j)
                ASSERT_EQ(a[ch][j], b[ch][j]);

        upsampleStereo((*pair)[2], (*pair)[3], a[0], a[1], 32);
        upsample((*mono)[2], b[0], b[0]);
        upsample((*mono)[3], b[1], b[1]);
        stereo::firstOrder(sections[0], sections[1], a[0], a[1], 64);
        sections[2].process(b[0], 64);
        sections[3].process(b[1], 64);
        stereo::stateVariable(biquads[0], biquads[1], a[0], a[1], 64, biquads[0].direct(), biquads[1].direct());
        biquads[2].processDirect(b[0], 64);
        biquads[3].processDirect(b[1], 64);
        stereo::shelf(shelves[0], shelves[1], a[0], a[1], 64);
        shelves[2].process(b[0], 64);
        shelves[3].process(b[1], 64);
        stereo::onePole(poles[0], poles[1], a[0], a[1], a[0], a[1], 64, 0.1f);
        poles[2].process(b[0], b[0], 64, 0.1f);
        poles[3].process(b[1], b[1], 64, 0.1f);
        for (int ch = 0; ch < 2; ++ch)
            for (int j = 0; j < 64; ++j)
                ASSERT_EQ(a[ch][j], b[ch][j]) << "block " << block << " channel " << ch << " sample " << j;
    }
}
