// The engine against the independent reference in tests/reference, written from the description of the
// sound alone: every mode at 44.1, 48 and 96 kHz, on an impulse and on noise, with both modulations on,
// the other settings away from their defaults and, on the noise, an automation jump half way. The two must agree to the bit: the engine computes every
// stage in the described order (its vector paths were built to round as the plain loops do), and the
// reference follows the engine's deliberate departures in the same arithmetic.

#include "EngineTestUtils.h"

#include "Engine.h" // the reference

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

using namespace kestrune;
using namespace kestrune::test;

namespace
{
struct Setting
{
    int index;
    float value;
};

// Modulation on in every case; then one of three sets of other settings, taken in turn by mode.
const std::vector<Setting> kModulation = {
    {kLateModDepth, 0.8f}, {kLateModRate, 1.1f}, {kEarlyModDepth, 0.6f}, {kEarlyModRate, 1.3f}};
const std::vector<Setting> kVariants[] = {
    {{kDecay, 3.7f}, {kLateSize, 0.3f}, {kRTBassMultiply, 1.4f}, {kRTXover, 600.0f}, {kHighCut, 9000.0f},
     {kEarlySend, 0.4f}, {kPredelay, 23.0f}},
    {{kDecay, 1.2f}, {kLateSize, 0.8f}, {kLateCross, 0.6f}, {kRTHighMultiply, 0.7f}, {kRTHighXover, 5000.0f},
     {kEarlySize, 55.0f}, {kEarlyCross, 0.35f}, {kDiffusion, 0.8f}},
    {{kDecay, 6.0f}, {kLateSize, 0.0f}, {kRTBassMultiply, 0.7f}, {kEarlyLateMix, 40.0f}, {kMix, 80.0f},
     {kEarlySend, 1.0f}, {kHighCut, 15000.0f}},
};

const std::vector<Setting> kAutomation = {{kHighCut, 3000.0f}, {kRTXover, 2000.0f}, {kRTHighXover, 1500.0f},
                                          {kLateSize, 0.9f},   {kEarlySize, 20.0f}, {kDecay, 0.8f},
                                          {kPredelay, 5.0f}};

float normalised(int k, float value)
{
    return normalisedFromValue(k, value);
}

using Case = std::tuple<int, int>; // mode, host rate

std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    return modeName(std::get<0>(info.param)) + "_" + std::to_string(std::get<1>(info.param));
}

// The first sample where the two differ in either channel; their length where they agree throughout.
size_t firstDifference(const Stereo& got, const Stereo& expected)
{
    const size_t length = got.left.size();
    for (size_t i = 0; i < length; ++i)
        if (got.left[i] != expected.left[i] || got.right[i] != expected.right[i])
            return i;
    return length;
}

// The engine and the reference side by side: every setting goes to both, and a render runs the input
// through both in blocks of the given length, calling beforeBlock(start) ahead of each.
struct Pair
{
    std::unique_ptr<ReverbEngine> engine = std::make_unique<ReverbEngine>();
    std::unique_ptr<reference::Engine> reference = std::make_unique<reference::Engine>();

    void setNormalised(int k, float x)
    {
        engine->setParameterNormalised(k, x);
        reference->setParameterNormalised(k, x);
    }
    void set(int k, float value) { setNormalised(k, normalised(k, value)); }
    void setDefaults()
    {
        for (int k = 0; k < kNumParameters; ++k)
            set(k, kParameterTable[static_cast<size_t>(k)].defaultValue);
    }
    void setSampleRate(int rate)
    {
        engine->setSampleRate(rate);
        reference->setSampleRate(rate);
    }

    struct Renders
    {
        Stereo engine, reference;
    };
    template <typename BeforeBlock>
    Renders render(const Stereo& input, size_t block, BeforeBlock beforeBlock)
    {
        const size_t length = input.left.size();
        Renders r{{std::vector<float>(length), std::vector<float>(length)},
                  {std::vector<float>(length), std::vector<float>(length)}};
        for (size_t start = 0; start < length; start += block)
        {
            beforeBlock(start);
            const int count = static_cast<int>(std::min(block, length - start));
            const float* in[2] = {input.left.data() + start, input.right.data() + start};
            float* out[2] = {r.engine.left.data() + start, r.engine.right.data() + start};
            engine->process(in, out, count, 2);
            reference->process(in[0], in[1], r.reference.left.data() + start, r.reference.right.data() + start,
                               count);
        }
        return r;
    }
};
} // namespace

using AgainstReference = ::testing::TestWithParam<Case>;

TEST_P(AgainstReference, EqualToTheBit)
{
    const auto [mode, rate] = GetParam();
    for (bool impulseIn : {true, false})
    {
        SCOPED_TRACE(impulseIn ? "impulse" : "noise");
        Pair pair;
        // The processor's road: defaults in index order, then the settings, the host rate with the first
        // block, and the reset a host's prepare brings.
        for (int k = 0; k < kNumParameters; ++k)
            pair.setNormalised(k, pair.engine->getDefaultNormalised(k));
        std::vector<Setting> settings = kModulation;
        for (const Setting& s : kVariants[mode % 3])
            settings.push_back(s);
        settings.push_back({kType, static_cast<float>(mode + 1)});
        for (const Setting& s : settings)
            pair.set(s.index, s.value);
        pair.setSampleRate(rate);
        pair.engine->reset();
        pair.reference->reset();

        const size_t length = static_cast<size_t>(impulseIn ? rate : 2 * rate);
        const Stereo input = impulseIn ? impulse(length) : noise(length);
        const auto [expected, got] = pair.render(input, 512, [&](size_t start) {
            // Half way through the noise, automation moves the filters, the sizes and the decay at once.
            if (!impulseIn && start == 512 * (length / 1024))
                for (const Setting& s : kAutomation)
                    pair.set(s.index, s.value);
        });
        const size_t first = firstDifference(got, expected);
        ASSERT_EQ(first, length) << "first difference at sample " << first << ": engine " << expected.left[first]
                                 << ", " << expected.right[first] << "; reference " << got.left[first] << ", "
                                 << got.right[first];
    }
}

INSTANTIATE_TEST_SUITE_P(ModesAndRates, AgainstReference,
                         ::testing::Combine(::testing::Range(0, kNumModes), ::testing::Values(44100, 48000, 96000)),
                         caseName);

// A mode switch clears the lines lazily; what follows it must still be what the reference gives, whose
// switch zeroes every ring at once. From a long tail of another mode (long predelay, early size and
// decay, so that the reads after the switch reach far back into what the old mode wrote), then a
// re-select of the same mode, at the rate where the rings are smallest and where they are largest.
using SwitchAgainstReference = ::testing::TestWithParam<Case>;

TEST_P(SwitchAgainstReference, EqualToTheBitAcrossTheSwitch)
{
    const auto [mode, rate] = GetParam();
    Pair pair;
    pair.setDefaults();
    for (const Setting& s : kModulation)
        pair.set(s.index, s.value);
    for (const Setting& s : {Setting{kPredelay, 400.0f}, Setting{kEarlySize, 900.0f}, Setting{kDecay, 30.0f},
                             Setting{kLateSize, 1.0f}, Setting{kEarlySend, 0.5f}})
        pair.set(s.index, s.value);
    pair.set(kType, static_cast<float>((mode + 5) % kNumModes + 1));
    pair.setSampleRate(rate);

    // The tail, the switch into the mode, and a re-select of it at another type value.
    const size_t switchAt = static_cast<size_t>(rate) * 2 / 5,
                 reselectAt = switchAt + static_cast<size_t>(rate) * 3 / 5;
    const size_t length = reselectAt + static_cast<size_t>(rate) * 3 / 10;
    const auto [expected, got] = pair.render(noise(length), 256, [&](size_t start) {
        if (start == switchAt / 256 * 256)
            pair.set(kType, static_cast<float>(mode + 1));
        if (start == reselectAt / 256 * 256)
            pair.set(kType, static_cast<float>(mode) + 1.5f);
    });
    const size_t first = firstDifference(got, expected);
    ASSERT_EQ(first, length) << "first difference at sample " << first << " (switch at "
                             << switchAt / 256 * 256 << ", re-select at " << reselectAt / 256 * 256
                             << "): engine " << expected.left[first] << "; reference " << got.left[first];
}

INSTANTIATE_TEST_SUITE_P(ModesAndRates, SwitchAgainstReference,
                         ::testing::Combine(::testing::Range(0, kNumModes), ::testing::Values(48000, 192000)),
                         caseName);

// The rings are only as long as the longest reads: with every length and depth at its maximum (and the
// fastest modulation), each read reaches as far back as any setting can, and a ring one step too
// short would hand it newer samples than the reference's. At the rates where the rings are tightest.
using LongestReadsAgainstReference = ::testing::TestWithParam<Case>;

TEST_P(LongestReadsAgainstReference, EqualToTheBit)
{
    const auto [mode, rate] = GetParam();
    Pair pair;
    pair.setDefaults();
    for (int k : {kPredelay, kLateSize, kLateModRate, kLateModDepth, kEarlySize, kEarlyModRate, kEarlyModDepth,
                  kEarlySend, kDecay})
        pair.set(k, kParameterTable[static_cast<size_t>(k)].maximum);
    pair.set(kType, static_cast<float>(mode + 1));
    pair.setSampleRate(rate);

    const size_t length = static_cast<size_t>(rate) * 3 / 2;
    const auto [expected, got] = pair.render(noise(length), 512, [](size_t) {});
    const size_t first = firstDifference(got, expected);
    ASSERT_EQ(first, length) << "first difference at sample " << first << ": engine " << expected.left[first]
                             << "; reference " << got.left[first];
}

INSTANTIATE_TEST_SUITE_P(ModesAndRates, LongestReadsAgainstReference,
                         ::testing::Combine(::testing::Range(0, kNumModes),
                                            ::testing::Values(22050, 32000, 48000, 96000)),
                         caseName);
