// One thread automates every parameter (the mode switch included) while another runs blocks under the
// callback lock, as the plug-in wrappers do. Built under ThreadSanitizer by the test script.

#include "PluginTestUtils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

using namespace kestrune::plugintest;

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")

TEST(Threading, AutomationDuringProcessingIsSafe)
{
    TestProcessor p;
    constexpr int kBlock = 128;
    prepare(*p, 48000.0, kBlock);

    std::atomic<bool> running{true};
    std::atomic<int> blocks{0};
    bool finite = true;
    float peak = 0.0f;

    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, kBlock);
        juce::MidiBuffer midi;
        std::minstd_rand noise(7);
        std::uniform_real_distribution<float> sample(-0.5f, 0.5f);
        while (running.load())
        {
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < kBlock; ++i)
                    buffer.setSample(c, i, sample(noise));
            {
                const juce::ScopedLock lock(p->getCallbackLock());
                p->processBlock(buffer, midi);
            }
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < kBlock; ++i)
                {
                    const float v = buffer.getSample(c, i);
                    finite = finite && std::isfinite(v);
                    peak = std::max(peak, std::abs(v));
                }
            blocks.fetch_add(1);
        }
    });

    std::minstd_rand random(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    // Keep the decay and predelay moderate so that the output bound below means something.
    for (int round = 0; round < 40; ++round)
    {
        for (int k = 0; k < kestrune::kNumParameters; ++k)
        {
            float value = unit(random);
            if (k == kestrune::kDecay || k == kestrune::kPredelay)
                value *= 0.05f;
            p->setParameter(k, value);
        }
        p->setParameter(kestrune::kType, (float) (round % 12 + 1) / 12.0f);
        // Let a few blocks run between rounds, so that changes interleave with processing.
        const int target = blocks.load() + 2;
        while (blocks.load() < target)
            std::this_thread::yield();
    }
    running = false;
    audio.join();

    EXPECT_TRUE(finite);
    EXPECT_LT(peak, 100.0f);
    EXPECT_GE(blocks.load(), 80);
}

// Changes from several threads at once, as when the host automates a parameter on the audio thread
// (before the block, as the VST3 and LV2 wrappers do) while the editor moves the same ones: whatever
// order they land in, what the engine ends with is what getParameter shows.
TEST(Threading, ChangesFromSeveralThreadsEndWhereTheyAreShown)
{
    TestProcessor p;
    constexpr int kBlock = 64;
    prepare(*p, 48000.0, kBlock);
    const int contested[] = {kestrune::kType, kestrune::kDecay, kestrune::kMix};

    std::atomic<bool> running{true};
    std::atomic<int> blocks{0};
    std::thread audio(
        [&]
        {
            juce::AudioBuffer<float> buffer(2, kBlock);
            juce::MidiBuffer midi;
            std::minstd_rand random(5);
            std::uniform_int_distribution<int> step(0, 11);
            while (running.load())
            {
                for (int k : contested)
                    p->setParameter(k, (float)step(random) / 12.0f);
                buffer.clear();
                {
                    const juce::ScopedLock lock(p->getCallbackLock());
                    p->processBlock(buffer, midi);
                }
                blocks.fetch_add(1);
            }
        });
    std::thread reader(
        [&]
        {
            while (running.load())
                for (int k = 0; k < kestrune::kNumParameters; ++k)
                    if (p->getParameter(k) < 0.0f || p->getParameterText(k).isEmpty())
                        ADD_FAILURE() << "parameter " << k << " read as never set";
        });
    std::minstd_rand random(9);
    std::uniform_int_distribution<int> step(0, 11);
    for (int i = 0; i < 4000 || blocks.load() < 200; ++i)
        for (int k : contested)
            p->setParameter(k, ((float)step(random) + 0.5f) / 12.0f);
    running = false;
    audio.join();
    reader.join();

    render(*p, silence(2, kBlock), kBlock);
    for (int k = 0; k < kestrune::kNumParameters; ++k)
        EXPECT_EQ(p->engine.getParameterNormalised(k), p->getParameter(k)) << k;
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
