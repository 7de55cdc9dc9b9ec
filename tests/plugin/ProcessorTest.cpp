#include "AllocationCounter.h"
#include "PluginTestUtils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

using namespace kestrune::plugintest;
using kestrune::kNumParameters;

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")

namespace
{
struct ChangeCounter : juce::ChangeListener
{
    int count = 0;
    void changeListenerCallback(juce::ChangeBroadcaster*) override { ++count; }
};

constexpr int kRate = 48000;
constexpr int kBlock = 256;

// Whether the reverb tail of an impulse survives `action`: a reset or mode set-up clears it.
template <typename Action>
bool tailSurvives(KestruneRoom& p, Action action)
{
    render(p, impulse(2, kRate / 4), kBlock);
    action();
    const auto after = render(p, silence(2, kRate / 8), kBlock);
    return energy(after[0]) + energy(after[1]) > 1e-6;
}
} // namespace

TEST(Processor, ConstructionAppliesEveryDefaultAndFixedProperties)
{
    TestProcessor p;
    EXPECT_EQ(p->getName(), "KestruneRoom");
    EXPECT_EQ(p->getNumParameters(), kNumParameters);
    EXPECT_EQ(p->getLatencySamples(), 0);
    EXPECT_EQ(p->getTailLengthSeconds(), 0.0);
    EXPECT_FALSE(p->acceptsMidi());
    EXPECT_EQ(p->getPresetName(), "Default");
    EXPECT_EQ(p->uiWidth, 735);
    EXPECT_EQ(p->uiHeight, 460);
    EXPECT_FALSE(p->mixLock);
    std::set<juce::String> ids;
    for (int k = 0; k < kNumParameters; ++k)
    {
        EXPECT_EQ(p->getParameter(k), p->engine.getDefaultNormalised(k)) << k;
        EXPECT_EQ(p->getParameterDefaultValue(k), p->engine.getDefaultNormalised(k)) << k;
        EXPECT_EQ(p->getParameterName(k), kestrune::kParameterTable[(size_t) k].name);
        ids.insert(p->getParameterID(k));
    }
    EXPECT_EQ(ids.size(), (size_t) kNumParameters) << "identifiers must be unique for the LV2 wrapper";
}

TEST(Processor, SettingTheCurrentValueIsANoOp)
{
    TestProcessor p;
    prepare(*p, kRate, kBlock);
    ChangeCounter changes;
    p->addChangeListener(&changes);

    // The type is at its default: setting it again must neither notify nor re-initialise the mode.
    EXPECT_TRUE(tailSurvives(*p, [&] { p->setParameter(kestrune::kType, p->getParameter(kestrune::kType)); }));
    p->dispatchPendingMessages();
    EXPECT_EQ(changes.count, 0);

    p->setParameter(kestrune::kDecay, 0.5f);
    p->dispatchPendingMessages();
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(p->getParameter(kestrune::kDecay), 0.5f);
    p->removeChangeListener(&changes);
}

TEST(Processor, EveryChangeOfTheTypeValueReinitialisesTheMode)
{
    TestProcessor p;
    prepare(*p, kRate, kBlock);
    p->setParameter(kestrune::kType, 2.0f / 12.0f);
    EXPECT_FALSE(tailSurvives(*p, [&] { p->setParameter(kestrune::kType, 1.0f / 12.0f); }));
    EXPECT_TRUE(tailSurvives(*p, [&] { p->setParameter(kestrune::kType, 1.0f / 12.0f); }));
    // Still "Large Room", but a different value: set up again.
    EXPECT_FALSE(tailSurvives(*p, [&] { p->setParameter(kestrune::kType, 1.4f / 12.0f); }));
    EXPECT_EQ(p->engine.getModeIndex(), 0u);
}

TEST(Processor, ParameterTexts)
{
    TestProcessor p;
    EXPECT_EQ(p->getParameterText(kestrune::kMix), "100.00 % ");
    EXPECT_EQ(p->getParameterText(kestrune::kHighCut), "8000.00 Hz ");
    EXPECT_EQ(p->getParameterText(kestrune::kType), "Large Room");
    p->setParameter(kestrune::kType, 0.0f);
    EXPECT_EQ(p->getParameterText(kestrune::kType), "Large Room");
    p->setParameter(kestrune::kType, 1.0f);
    EXPECT_EQ(p->getParameterText(kestrune::kType), "Dense Room");

    struct Case
    {
        int index;
        float value;
        const char* text;
    };
    const Case cases[] = {
        {kestrune::kDecay, 0.5f, "0.50 s "},
        {kestrune::kPredelay, 2.0f, "2.00 ms "},
        {kestrune::kMix, -1.234f, "-1.23 % "},
        {kestrune::kLateSize, 0.125f, "0.13"},
        {kestrune::kRTBassMultiply, 1.999f, "2.00 X "},
        {kestrune::kType, 4.9f, "Large Chamber"},
        {kestrune::kType, 13.0f, "Large Room"},
        {kestrune::kType, -3.0f, "Large Room"},
        {kestrune::kType, NAN, "Large Room"},
        // Far outside every range (a host may send any normalised value) the text saturates.
        {kestrune::kPredelay, 5e32f, "1000000000000.00 ms "},
        {kestrune::kPredelay, -5e32f, "-1000000000000.00 ms "},
        {kestrune::kHighCut, INFINITY, "1000000000000.00 Hz "},
        {kestrune::kHighCut, -INFINITY, "-1000000000000.00 Hz "},
        {kestrune::kDecay, NAN, "0.00 s "},
        {kestrune::kType, 1e30f, "Large Room"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KestruneRoom::parameterTextFor(c.index, c.value), c.text) << c.index << " " << c.value;
}

// A host may send any float: it is held to 0..1 where it enters, so that what the host reads back, the
// text and the engine agree (a decay of 2 once read "199.90 s" while the engine ran 100 s).
TEST(Processor, HostValuesOutsideZeroToOneAreClamped)
{
    TestProcessor p;
    struct Case
    {
        float sent;
        float stored;
        const char* decayText;
    };
    const Case cases[] = {
        {-1.0f, 0.0f, "0.10 s "}, {2.0f, 1.0f, "100.00 s "}, {1e30f, 1.0f, "100.00 s "},
        {-1e30f, 0.0f, "0.10 s "}, {INFINITY, 1.0f, "100.00 s "}, {-INFINITY, 0.0f, "0.10 s "},
    };
    for (const auto& c : cases)
    {
        p->setParameter(kestrune::kDecay, 0.5f);
        p->setParameter(kestrune::kDecay, c.sent);
        EXPECT_EQ(p->getParameter(kestrune::kDecay), c.stored) << c.sent;
        EXPECT_EQ(p->getParameterText(kestrune::kDecay), c.decayText) << c.sent;
    }
    p->setParameter(kestrune::kDecay, 0.5f);
    p->setParameter(kestrune::kDecay, NAN);
    EXPECT_EQ(p->getParameter(kestrune::kDecay), 0.5f) << "NaN is ignored";
}

TEST(Processor, ChannelsAreNumberedFromOneAndPairedAsStereo)
{
    TestProcessor p;
    for (int index : {0, 1})
    {
        EXPECT_EQ(p->getInputChannelName(index), juce::String(index + 1));
        EXPECT_EQ(p->getOutputChannelName(index), juce::String(index + 1));
        EXPECT_TRUE(p->isInputChannelStereoPair(index));
        EXPECT_TRUE(p->isOutputChannelStereoPair(index));
    }
    // A mono input is still reported as part of a pair.
    prepare(*p, kRate, kBlock, 1);
    EXPECT_EQ(p->getInputChannelName(0), "1");
    EXPECT_TRUE(p->isInputChannelStereoPair(0));
}

TEST(Processor, IndicesOutsideTheTableAreHarmless)
{
    TestProcessor p;
    for (int index : {-1, 20, 21, 1000})
    {
        EXPECT_EQ(p->getParameterName(index), "");
        EXPECT_EQ(p->getParameterText(index), "");
        EXPECT_EQ(p->getParameter(index), 0.0f);
        EXPECT_EQ(p->getParameterDefaultValue(index), 0.0f);
        p->setParameter(index, 0.25f);
    }
    for (int k = 0; k < kNumParameters; ++k)
        EXPECT_EQ(p->getParameter(k), p->engine.getDefaultNormalised(k)) << k;
}

TEST(Processor, HostRateReachesTheEngineTruncated)
{
    TestProcessor p;
    prepare(*p, 44100.7, kBlock);
    render(*p, silence(2, kBlock), kBlock);
    EXPECT_EQ(p->engine.getHostRate(), 44100.0f);
}

TEST(Processor, SupportsOnlyMonoOrStereoIntoStereo)
{
    TestProcessor p;
    using Set = juce::AudioChannelSet;
    struct Case
    {
        std::vector<Set> inputs, outputs;
        bool supported;
    };
    const Case cases[] = {
        {{Set::mono()}, {Set::stereo()}, true},
        {{Set::stereo()}, {Set::stereo()}, true},
        {{Set::stereo()}, {Set::mono()}, false},
        {{Set::mono()}, {Set::mono()}, false},
        {{Set::disabled()}, {Set::stereo()}, false},
        {{Set::create5point1()}, {Set::stereo()}, false},
        {{Set::stereo()}, {Set::create5point1()}, false},
        {{Set::stereo(), Set::stereo()}, {Set::stereo()}, false},
        {{}, {Set::stereo()}, false},
    };
    for (const auto& c : cases)
    {
        KestruneRoom::BusesLayout layout;
        layout.inputBuses.addArray(c.inputs.data(), (int) c.inputs.size());
        layout.outputBuses.addArray(c.outputs.data(), (int) c.outputs.size());
        EXPECT_EQ(p->isBusesLayoutSupported(layout), c.supported)
            << layout.getMainInputChannelSet().getDescription() << " -> "
            << layout.getMainOutputChannelSet().getDescription();
    }
}

TEST(Processor, MonoInputFeedsBothEngineInputs)
{
    TestProcessor mono, stereo;
    prepare(*mono, kRate, kBlock, 1);
    prepare(*stereo, kRate, kBlock, 2);
    ASSERT_EQ(mono->getTotalNumInputChannels(), 1);
    ASSERT_EQ(mono->getTotalNumOutputChannels(), 2);
    for (auto* p : {mono.processor.get(), stereo.processor.get()})
        p->setParameter(kestrune::kMix, 0.5f);

    // The second channel of the mono-in buffer holds junk a host may leave there; it must be ignored.
    auto monoInput = impulse(2, kRate / 2);
    for (size_t i = 0; i < monoInput[1].size(); ++i)
        monoInput[1][i] = (i % 7 == 0) ? 0.9f : -0.3f;
    const auto fromMono = render(*mono, monoInput, kBlock);
    const auto fromStereo = render(*stereo, impulse(2, kRate / 2), kBlock);
    for (int c = 0; c < 2; ++c)
    {
        EXPECT_GT(energy(fromMono[(size_t) c]), 0.01) << c;
        EXPECT_EQ(maxDifference(fromMono[(size_t) c], fromStereo[(size_t) c]), 0.0f) << c;
    }
}

TEST(Processor, BypassedBlockDuplicatesAMonoInput)
{
    TestProcessor p;
    prepare(*p, kRate, kBlock, 1);
    juce::AudioBuffer<float> buffer(2, 8);
    buffer.clear();
    for (int i = 0; i < 8; ++i)
        buffer.setSample(0, i, 0.1f * (float) i);
    juce::MidiBuffer midi;
    p->processBlockBypassed(buffer, midi);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(buffer.getSample(1, i), 0.1f * (float) i);
}

TEST(Processor, ProcessBlockAllocatesNothing)
{
    {
        const ScopedAllocationCounter selfCheck;
        auto probe = std::make_unique<int>(1);
        ASSERT_EQ(selfCheck.count(), 1u) << "the counting operator new is not in effect";
    }
    TestProcessor p;
    juce::AudioBuffer<float> buffer(2, 1024);
    juce::MidiBuffer midi;
    // Each mode switch is set before a block and applied inside it, on the thread that runs it.
    for (double rate : {44100.0, 192000.0, 96000.0, 48000.0})
    {
        prepare(*p, rate, 1024);
        for (int mode = 0; mode < kestrune::kNumModes; ++mode)
        {
            p->setParameter(kestrune::kType, (float) (mode + 1) / 12.0f);
            for (int n : {1, 63, 64, 500, 1024})
            {
                buffer.setSize(2, n, false, false, true);
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < n; ++i)
                        buffer.setSample(c, i, i == 0 ? 0.5f : 0.0f);
                const ScopedAllocationCounter counter;
                p->processBlock(buffer, midi);
                EXPECT_EQ(counter.count(), 0u) << "rate " << rate << " mode " << mode << " n " << n;
            }
        }
    }
}

// Automation on the audio thread: the change reaches the editor's listener later, from the message
// thread, and nothing is allocated on the thread that made it.
TEST(Processor, ChangesOffTheMessageThreadAllocateNothingAndStillNotify)
{
    TestProcessor p;
    prepare(*p, kRate, kBlock);
    ChangeCounter changes;
    p->addChangeListener(&changes);
    std::size_t allocations = 1;
    std::thread audio([&] {
        const ScopedAllocationCounter counter;
        p->setParameter(kestrune::kDecay, 0.3f);
        p->setParameter(kestrune::kMix, 0.25f);
        allocations = counter.count();
    });
    audio.join();
    EXPECT_EQ(allocations, 0u);
    p->dispatchPendingMessages();
    EXPECT_EQ(changes.count, 0); // nothing was posted from the other thread
    p->flushPendingChange();     // what the processor's timer does on the message thread
    p->dispatchPendingMessages();
    EXPECT_EQ(changes.count, 1); // the two changes arrive as one message
    EXPECT_EQ(p->getParameter(kestrune::kDecay), 0.3f);
    p->removeChangeListener(&changes);
}

// Whatever changes the engine off the audio thread (a parameter, the mode, a state restore, a preset
// load, a reset) must not make a block wait: none of them may need the callback lock that the wrappers
// hold around processBlock. Here another thread holds it (for up to five seconds) while each runs.
TEST(Processor, ChangesNeverWaitForTheCallbackLock)
{
    TestProcessor p;
    prepare(*p, kRate, kBlock);
    TestProcessor other;
    other->setParameter(kestrune::kType, 9.0f / 12.0f);
    other->setParameter(kestrune::kDecay, 0.2f);
    juce::MemoryBlock state;
    other->getStateInformation(state);
    juce::String preset;
    other->setParameter(kestrune::kType, 4.0f / 12.0f);
    other->getStateAsText(preset);

    struct Case
    {
        const char* what;
        std::function<void()> action;
    };
    const Case cases[] = {
        {"parameter", [&] { p->setParameter(kestrune::kPredelay, 0.3f); }},
        {"mode switch", [&] { p->setParameter(kestrune::kType, 6.0f / 12.0f); }},
        {"state restore", [&] { p->setStateInformation(state.getData(), (int)state.getSize()); }},
        {"preset load", [&] { p->setStateFromText(preset); }},
        {"reset", [&] { p->reset(); }},
    };
    for (const auto& c : cases)
    {
        std::atomic<bool> held{false}, done{false}, releasedFirst{false};
        std::thread holder(
            [&]
            {
                const juce::ScopedLock lock(p->getCallbackLock());
                held = true;
                for (int i = 0; i < 5000 && !done; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                releasedFirst = !done;
            });
        while (!held)
            std::this_thread::yield();
        c.action();
        done = true;
        holder.join();
        EXPECT_FALSE(releasedFirst) << c.what << " waited for the callback lock";
    }
    // All of it reaches the engine with the next block, the restored values included.
    render(*p, silence(2, kBlock), kBlock);
    EXPECT_EQ(p->engine.getModeIndex(), 3u);
    for (int k = 0; k < kNumParameters; ++k)
        EXPECT_EQ(p->engine.getParameterNormalised(k), p->getParameter(k)) << k;
}

// The changes reach the engine later than they are made, but in the same order and with the same
// values, so the sound is what applying each at once gives: an engine driven directly through the
// same calls is the reference. The sequence crosses a mode switch, a reset, a full state restore and a
// run of changes long enough to fill the hand-over without a block in between.
TEST(Processor, ChangesReachTheEngineInTheirOrderBeforeTheNextBlock)
{
    TestProcessor p;
    prepare(*p, kRate, kBlock);
    kestrune::ReverbEngine reference;
    reference.setSampleRate(kRate);
    for (int k = 0; k < kNumParameters; ++k)
        reference.setParameterNormalised(k, reference.getDefaultNormalised(k));
    reference.reset();

    Channels input = impulse(2, kRate / 2);
    for (size_t i = 1; i < input[0].size(); i += 97)
        input[i % 2][i] = 0.25f;
    Channels expected(2, std::vector<float>(input[0].size()));
    auto renderReference = [&](size_t from, size_t to)
    {
        for (size_t start = from; start < to; start += kBlock)
        {
            const int n = (int)std::min<size_t>(kBlock, to - start);
            const float* in[2] = {input[0].data() + start, input[1].data() + start};
            float* out[2] = {expected[0].data() + start, expected[1].data() + start};
            reference.process(in, out, n, 2);
        }
    };
    auto slice = [&](size_t from, size_t to)
    {
        return Channels{{input[0].begin() + (long)from, input[0].begin() + (long)to},
                        {input[1].begin() + (long)from, input[1].begin() + (long)to}};
    };
    auto both = [&](int k, float v)
    {
        p->setParameter(k, v);
        reference.setParameterNormalised(k, v);
    };

    TestProcessor other;
    other->setParameter(kestrune::kType, 10.0f / 12.0f);
    other->setParameter(kestrune::kLateSize, 0.8f);
    other->setParameter(kestrune::kEarlySend, 0.6f);
    juce::MemoryBlock state;
    other->getStateInformation(state);

    // Four parts of the input, with changes between them.
    const size_t quarter = input[0].size() / 4 / kBlock * kBlock;
    const size_t ends[] = {quarter, 2 * quarter, 3 * quarter, input[0].size()};
    Channels got(2);
    size_t from = 0;
    auto renderTo = [&](size_t to)
    {
        const auto part = render(*p, slice(from, to), kBlock);
        renderReference(from, to);
        for (int c = 0; c < 2; ++c)
            got[(size_t)c].insert(got[(size_t)c].end(), part[(size_t)c].begin(), part[(size_t)c].end());
        from = to;
    };
    renderTo(ends[0]);

    both(kestrune::kDecay, 0.3f);
    p->reset();
    reference.reset();
    both(kestrune::kHighCut, 0.2f);
    renderTo(ends[1]);

    both(kestrune::kType, 7.0f / 12.0f);
    both(kestrune::kType, 7.4f / 12.0f);
    p->setStateInformation(state.getData(), (int)state.getSize());
    for (int k = 0; k < kNumParameters; ++k)
        reference.setParameterNormalised(k, other->getParameter(k));
    renderTo(ends[2]);

    for (int i = 0; i < 3000; ++i)
        both(kestrune::kPredelay, (float)(i % 7) / 70.0f);
    both(kestrune::kType, 2.0f / 12.0f);
    renderTo(ends[3]);

    for (int c = 0; c < 2; ++c)
        EXPECT_EQ(got[(size_t)c], expected[(size_t)c]) << "channel " << c;
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
