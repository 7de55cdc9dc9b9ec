// The built LV2 bundle driven through the bare LV2 interface, as a host that re-activates an instance
// drives it: after deactivate() and activate() the reverb starts again from silence.

#include "PluginTestUtils.h"

#include <dlfcn.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kestrune::plugintest;

namespace
{
constexpr double kRate = 48000.0;
constexpr int32_t kBlock = 256;

// The port order JUCE's LV2 wrapper writes into dsp.ttl for a stereo effect.
enum Port : uint32_t
{
    inLeft,
    inRight,
    outLeft,
    outRight,
    events,
    notifications,
    latency,
    freeWheeling,
    enabled
};

// Just enough of a host for JUCE's wrapper: URIDs, the block-length options and the ports.
class BareHost
{
  public:
    explicit BareHost(const std::string& bundle)
    {
        library = dlopen((bundle + "/libKestruneRoom.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr)
            return;
        const auto entry =
            reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(dlsym(library, "lv2_descriptor"));
        descriptor = entry != nullptr ? entry(0) : nullptr;
        if (descriptor == nullptr)
            return;

        options = {{LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t),
                    map(LV2_ATOM__Int), &maxBlock},
                   {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
        const LV2_Feature mapFeature{LV2_URID__map, &uridMap};
        const LV2_Feature optionsFeature{LV2_OPTIONS__options, options.data()};
        const LV2_Feature boundedFeature{LV2_BUF_SIZE__boundedBlockLength, nullptr};
        const LV2_Feature* features[] = {&mapFeature, &optionsFeature, &boundedFeature, nullptr};
        instance = descriptor->instantiate(descriptor, kRate, (bundle + "/").c_str(), features);
        if (instance == nullptr)
            return;

        events.atom = {sizeof(LV2_Atom_Sequence_Body), map(LV2_ATOM__Sequence)};
        float* audio[] = {in[0].data(), in[1].data(), out[0].data(), out[1].data()};
        for (uint32_t p = 0; p < 4; ++p)
            descriptor->connect_port(instance, p, audio[p]);
        descriptor->connect_port(instance, Port::events, &events);
        descriptor->connect_port(instance, Port::notifications, notifications.data());
        descriptor->connect_port(instance, Port::latency, &latencyValue);
        descriptor->connect_port(instance, Port::freeWheeling, &freeWheelingValue);
        descriptor->connect_port(instance, Port::enabled, &enabledValue);
    }

    ~BareHost()
    {
        if (instance != nullptr)
            descriptor->cleanup(instance);
        if (library != nullptr)
            dlclose(library);
    }

    bool ready() const { return instance != nullptr; }
    void activate() { descriptor->activate(instance); }
    void deactivate() { descriptor->deactivate(instance); }

    // Runs `blocks` blocks with an impulse at the start of the first one (when asked); returns the
    // output's energy.
    double run(int blocks, bool impulseFirst)
    {
        double energySum = 0.0;
        for (int b = 0; b < blocks; ++b)
        {
            for (auto& channel : in)
                std::fill(channel.begin(), channel.end(), 0.0f);
            if (b == 0 && impulseFirst)
                in[0][0] = in[1][0] = 0.5f;
            // The plug-in learns the room it may write its messages into from the atom's size.
            auto* sequence = reinterpret_cast<LV2_Atom*>(notifications.data());
            sequence->size =
                static_cast<uint32_t>(notifications.size() * sizeof(uint64_t) - sizeof(LV2_Atom));
            descriptor->run(instance, kBlock);
            for (const auto& channel : out)
                energySum += energy(channel);
        }
        return energySum;
    }

  private:
    LV2_URID map(const char* uri)
    {
        for (size_t i = 0; i < uris.size(); ++i)
            if (uris[i] == uri)
                return static_cast<LV2_URID>(i + 1);
        uris.emplace_back(uri);
        return static_cast<LV2_URID>(uris.size());
    }
    static LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri)
    {
        return static_cast<BareHost*>(handle)->map(uri);
    }

    void* library = nullptr;
    const LV2_Descriptor* descriptor = nullptr;
    LV2_Handle instance = nullptr;
    std::vector<std::string> uris;
    LV2_URID_Map uridMap{this, mapUri};
    int32_t maxBlock = kBlock;
    std::vector<LV2_Options_Option> options;
    std::vector<float> in[2]{std::vector<float>(kBlock), std::vector<float>(kBlock)};
    std::vector<float> out[2]{std::vector<float>(kBlock), std::vector<float>(kBlock)};
    LV2_Atom_Sequence events{};
    std::vector<uint64_t> notifications = std::vector<uint64_t>(8192); // 64 kB, 8-byte aligned
    float latencyValue = 0.0f, freeWheelingValue = 0.0f, enabledValue = 1.0f;
};

struct Case
{
    bool reactivate;
    bool tailExpected;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << (c.reactivate ? "reactivated" : "running on");
}

class LV2Entry : public testing::TestWithParam<Case>
{
};
} // namespace

TEST_P(LV2Entry, ReactivationStartsFromSilence)
{
    // The hosted processor is built without a folder: keep it off the real preferences files.
    TemporaryFolder preferences;
    setenv("KESTRUNE_PREFERENCES_FOLDER", preferences.folder.getFullPathName().toRawUTF8(), 1);
    {
        BareHost host(
            juce::File(KESTRUNE_LV2_FOLDER).getChildFile("KestruneRoom.lv2").getFullPathName().toStdString());
        ASSERT_TRUE(host.ready()) << dlerror();
        host.activate();
        ASSERT_GT(host.run(static_cast<int>(kRate / 4 / kBlock), true), 1e-3);
        if (GetParam().reactivate)
        {
            host.deactivate();
            host.activate();
        }
        const double tail = host.run(static_cast<int>(kRate / 10 / kBlock), false);
        if (GetParam().tailExpected)
            EXPECT_GT(tail, 1e-6);
        else
            EXPECT_LT(tail, 1e-20);
        host.deactivate();
    }
    unsetenv("KESTRUNE_PREFERENCES_FOLDER");
}

INSTANTIATE_TEST_SUITE_P(Activation, LV2Entry, testing::Values(Case{false, true}, Case{true, false}),
                         [](const auto& info) { return info.param.reactivate ? "Reactivated" : "Running"; });
