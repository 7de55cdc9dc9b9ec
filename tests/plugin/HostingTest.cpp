// Loads the built VST3 and LV2 bundles through JUCE's own hosting and checks that a host sees the same
// processor as the one linked in-process: parameters, sound and state.

#include "PluginTestUtils.h"
#include "TestHost.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace kestrune::plugintest;
using kestrune::testhost::HostedPlugin;
using kestrune::testhost::HostSession;

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")

namespace
{
constexpr double kRate = 48000.0;
constexpr int kBlock = 256;
constexpr int kLength = 24000;

struct Format
{
    const char* name;
    const char* path;
    // JUCE's LV2 host re-creates the instance in prepareToPlay and carries the port values over through
    // its own state text, with eight decimals; the defaults it reads are exact.
    float valueTolerance;
};

// Keeps the test names readable (gtest would print the raw bytes of the struct).
void PrintTo(const Format& format, std::ostream* os) { *os << format.name; }

const Format kFormats[] = {
    {"VST3", KESTRUNE_VST3_BUNDLE, 0.0f},
    {"LV2", KESTRUNE_LV2_FOLDER, 1e-8f},
};

// Non-default settings that reach the sound: a half-rate mode, a short decay, a half mix.
const std::pair<int, float> kSettings[] = {
    {kestrune::kType, 5.0f / 12.0f}, {kestrune::kDecay, 0.02f}, {kestrune::kMix, 0.5f}, {kestrune::kPredelay, 0.0f}};

class Hosting : public testing::TestWithParam<Format>
{
protected:
    static void SetUpTestSuite()
    {
        // The hosted processors are built without a folder: keep them off the real preferences files.
        preferences = std::make_unique<TemporaryFolder>();
        setenv("KESTRUNE_PREFERENCES_FOLDER", preferences->folder.getFullPathName().toRawUTF8(), 1);
        session = kestrune::testhost::openHostSession();
    }
    static void TearDownTestSuite()
    {
        session.reset();
        unsetenv("KESTRUNE_PREFERENCES_FOLDER");
        preferences.reset();
    }

    std::unique_ptr<HostedPlugin> load()
    {
        std::string error;
        const auto path = juce::File(GetParam().path).getFullPathName().toStdString();
        auto plugin = session->load(GetParam().name, path, kRate, kBlock, 2, error);
        EXPECT_NE(plugin, nullptr) << GetParam().name << ": " << error;
        return plugin;
    }

    static Channels renderInProcess(bool withSettings)
    {
        TestProcessor p;
        prepare(*p, kRate, kBlock);
        if (withSettings)
            for (auto [index, value] : kSettings)
                p->setParameter(index, value);
        return render(*p, impulse(2, kLength), kBlock);
    }

    static void expectSameSound(const Channels& hosted, const Channels& reference)
    {
        ASSERT_EQ(hosted.size(), 2u);
        for (size_t c = 0; c < 2; ++c)
        {
            EXPECT_GT(energy(reference[c]), 1e-3) << c;
            EXPECT_LE(maxDifference(hosted[c], reference[c]), 1e-6f) << "channel " << c;
        }
    }

    // The processor's twenty as the host lists them, leaving out the wrapper's own bypass switch
    // (the VST3 wrapper appends one, the LV2 host lists the plug-in's enable port first).
    static std::vector<int> ownParameterIndices(HostedPlugin& plugin)
    {
        std::vector<int> indices;
        const auto parameters = plugin.parameters();
        for (size_t i = 0; i < parameters.size(); ++i)
            if (juce::String(parameters[i].name).indexOfIgnoreCase("bypass") < 0)
                indices.push_back(static_cast<int>(i));
        return indices;
    }

    static void applySettings(HostedPlugin& plugin)
    {
        const auto indices = ownParameterIndices(plugin);
        ASSERT_EQ(indices.size(), (size_t) kestrune::kNumParameters);
        for (auto [index, value] : kSettings)
            plugin.setParameter(indices[(size_t) index], value);
    }

    static inline std::unique_ptr<TemporaryFolder> preferences;
    static inline std::unique_ptr<HostSession> session;
};
} // namespace

TEST_P(Hosting, PublishesTheTwentyParametersWithNamesAndDefaults)
{
    auto plugin = load();
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->numInputChannels(), 2);
    EXPECT_EQ(plugin->numOutputChannels(), 2);

    TestProcessor reference;
    const auto parameters = plugin->parameters();
    const auto indices = ownParameterIndices(*plugin);
    ASSERT_EQ(indices.size(), (size_t) kestrune::kNumParameters);
    EXPECT_LE(parameters.size(), indices.size() + 1);
    for (int k = 0; k < kestrune::kNumParameters; ++k)
    {
        const auto& p = parameters[(size_t) indices[(size_t) k]];
        EXPECT_EQ(p.name, kestrune::kParameterTable[(size_t) k].name) << k;
        EXPECT_EQ(p.defaultValue, reference->getParameterDefaultValue(k)) << k;
        EXPECT_NEAR(p.value, reference->getParameter(k), GetParam().valueTolerance) << k;
    }
}

TEST_P(Hosting, SoundsLikeTheProcessorInProcess)
{
    auto plugin = load();
    ASSERT_NE(plugin, nullptr);
    auto atDefaults = impulse(2, kLength);
    plugin->process(atDefaults);
    expectSameSound(atDefaults, renderInProcess(false));

    auto changed = load();
    ASSERT_NE(changed, nullptr);
    applySettings(*changed);
    auto output = impulse(2, kLength);
    changed->process(output);
    expectSameSound(output, renderInProcess(true));
}

TEST_P(Hosting, RestoredStateSoundsTheSame)
{
    auto original = load();
    ASSERT_NE(original, nullptr);
    applySettings(*original);
    auto warmUp = silence(2, kBlock); // hosts deliver parameter changes with the next block
    original->process(warmUp);
    const auto state = original->getState();

    TestProcessor probe;
    juce::MemoryBlock own;
    probe->getStateInformation(own);
    if (own.getSize() == 0)
        GTEST_SKIP() << "the processor saves no state yet";

    auto restored = load();
    ASSERT_NE(restored, nullptr);
    restored->setState(state);
    auto output = impulse(2, kLength);
    restored->process(output);
    expectSameSound(output, renderInProcess(true));
    const auto parameters = restored->parameters();
    const auto indices = ownParameterIndices(*restored);
    for (auto [index, value] : kSettings)
        EXPECT_NEAR(parameters[(size_t) indices[(size_t) index]].value, value, 1e-6f) << index;
}

// Save, change everything, restore in the same instance: the host's own parameter objects must read
// the restored values (the LV2 wrapper keeps a copy of each) and the state must come back whole.
TEST_P(Hosting, StateRoundTripRestoresEveryParameterInTheHost)
{
    auto plugin = load();
    ASSERT_NE(plugin, nullptr);
    const auto indices = ownParameterIndices(*plugin);
    ASSERT_EQ(indices.size(), (size_t) kestrune::kNumParameters);
    const auto setAll = [&](float offset) {
        for (int k = 0; k < kestrune::kNumParameters; ++k)
            plugin->setParameter(indices[(size_t) k], std::fmod(offset + 0.0471f * static_cast<float>(k), 1.0f));
        auto block = silence(2, kBlock);
        plugin->process(block);
    };
    setAll(0.013f);
    const auto saved = plugin->getState();
    const auto before = plugin->parameters();
    setAll(0.5f);

    plugin->setState(saved);
    auto block = silence(2, kBlock);
    plugin->process(block);
    const auto after = plugin->parameters();
    for (int k = 0; k < kestrune::kNumParameters; ++k)
    {
        const auto i = (size_t) indices[(size_t) k];
        EXPECT_NEAR(after[i].value, before[i].value, 1e-6f) << after[i].name;
    }
    EXPECT_EQ(plugin->getState(), saved) << "preset name, lock and size come back too";
}

TEST_P(Hosting, MonoInputRunsThroughTheMonoInLayout)
{
    if (std::string(GetParam().name) == "LV2")
        GTEST_SKIP() << "an LV2 plug-in's ports are fixed: it offers the stereo-in layout only";
    std::string error;
    const auto path = juce::File(GetParam().path).getFullPathName().toStdString();
    auto plugin = session->load(GetParam().name, path, kRate, kBlock, 1, error);
    ASSERT_NE(plugin, nullptr) << error;
    ASSERT_EQ(plugin->numInputChannels(), 1);
    ASSERT_EQ(plugin->numOutputChannels(), 2);
    auto output = impulse(1, kLength);
    plugin->process(output);

    TestProcessor p;
    prepare(*p, kRate, kBlock, 1);
    expectSameSound(output, render(*p, impulse(1, kLength), kBlock));
}

INSTANTIATE_TEST_SUITE_P(Formats, Hosting, testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
