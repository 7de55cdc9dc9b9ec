// The built LV2 bundle driven through the bare LV2 interface, as Linux hosts drive it: control ports
// read before each block, re-activation and block-size changes that start the reverb from silence, a
// state saved before the plug-in had ports, and the plug-in's window passing the editor's changes on to
// the host's ports.

#include "PluginTestUtils.h"
#include "lv2/LV2Plugin.h"

#include <X11/Xlib.h>
#include <dlfcn.h>
JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wparentheses")
#include <lv2/atom/util.h>
JUCE_END_IGNORE_WARNINGS_GCC_LIKE
#include <lv2/buf-size/buf-size.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/options/options.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/ui/ui.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

using namespace kestrune::plugintest;
using kestrune::lv2::controlPort;
namespace port = kestrune::lv2;

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")

namespace
{
constexpr double kRate = 48000.0;
constexpr int32_t kBlock = 256;
constexpr const char* kStateKey = "https://kestrunedsp.com/plugins/kestruneroom:StateString";

// Just enough of a host for the plug-in: URIDs, the block-length options, every port, state.
class BareHost
{
  public:
    BareHost()
    {
        const auto bundle =
            juce::File(KESTRUNE_LV2_FOLDER).getChildFile("KestruneRoom.lv2").getFullPathName().toStdString();
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
        const LV2_Feature optionsFeature{LV2_OPTIONS__options, options.data()};
        const LV2_Feature boundedFeature{LV2_BUF_SIZE__boundedBlockLength, nullptr};
        const LV2_Feature* features[] = {&mapFeature, &optionsFeature, &boundedFeature, nullptr};
        handle = descriptor->instantiate(descriptor, kRate, (bundle + "/").c_str(), features);
        if (handle == nullptr)
            return;

        // The ports start where the description says they do: at the processor's defaults.
        const TestProcessor defaults;
        for (int k = 0; k < kestrune::kNumParameters; ++k)
            controls[(size_t)k] = defaults->getParameterDefaultValue(k);
        events.atom = {sizeof(LV2_Atom_Sequence_Body), map(LV2_ATOM__Sequence)};
        float* audio[] = {in[0].data(), in[1].data(), out[0].data(), out[1].data()};
        for (uint32_t p = 0; p < 4; ++p)
            descriptor->connect_port(handle, p, audio[p]);
        descriptor->connect_port(handle, port::kEventsIn, &events);
        descriptor->connect_port(handle, port::kEventsOut, notifications.data());
        descriptor->connect_port(handle, port::kLatency, &latencyValue);
        descriptor->connect_port(handle, port::kFreeWheeling, &freeWheelingValue);
        descriptor->connect_port(handle, port::kEnabled, &enabledValue);
        for (int k = 0; k < kestrune::kNumParameters; ++k)
            descriptor->connect_port(handle, controlPort(k), &controls[(size_t)k]);
    }

    ~BareHost()
    {
        if (handle != nullptr)
            descriptor->cleanup(handle);
        if (library != nullptr)
            dlclose(library);
    }

    bool ready() const { return handle != nullptr; }
    void activate() { descriptor->activate(handle); }
    void deactivate() { descriptor->deactivate(handle); }
    void setPort(int k, float value) { controls[(size_t)k] = value; }
    LV2_Handle instance() const { return handle; }
    KestruneRoom& processor() const { return *static_cast<port::Instance*>(handle)->processor; }

    // Runs input (two channels, a whole number of blocks) through the plug-in; returns the output.
    Channels run(const Channels& input)
    {
        Channels output(2, std::vector<float>(input[0].size()));
        for (size_t start = 0; start + kBlock <= input[0].size(); start += kBlock)
        {
            for (size_t c = 0; c < 2; ++c)
                std::copy_n(input[c].begin() + (long)start, kBlock, in[c].begin());
            // The plug-in learns the room it may write its messages into from the atom's size.
            auto* sequence = reinterpret_cast<LV2_Atom*>(notifications.data());
            sequence->size =
                static_cast<uint32_t>(notifications.size() * sizeof(uint64_t) - sizeof(LV2_Atom));
            descriptor->run(handle, kBlock);
            for (size_t c = 0; c < 2; ++c)
                std::copy(out[c].begin(), out[c].end(), output[c].begin() + (long)start);
        }
        return output;
    }

    // The patch:Set messages the plug-in wrote in the last block.
    int patchMessagesOut()
    {
        int count = 0;
        const auto* sequence = reinterpret_cast<const LV2_Atom_Sequence*>(notifications.data());
        for (const auto* event = lv2_atom_sequence_begin(&sequence->body);
             !lv2_atom_sequence_is_end(&sequence->body, sequence->atom.size, event);
             event = lv2_atom_sequence_next(event))
            if (event->body.type == map(LV2_ATOM__Object) &&
                reinterpret_cast<const LV2_Atom_Object_Body*>(event + 1)->otype == map(LV2_PATCH__Set))
                ++count;
        return count;
    }

    std::string save()
    {
        saved.clear();
        stateInterface()->save(handle, store, this, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, nullptr);
        return saved;
    }

    bool restore(const std::string& state)
    {
        saved = state;
        return stateInterface()->restore(handle, retrieve, this, 0, nullptr) == LV2_STATE_SUCCESS;
    }

    // As Ardour does before a bounce.
    void setNominalBlockLength(int32_t length)
    {
        const LV2_Options_Option option[] = {{LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__nominalBlockLength),
                                              sizeof(int32_t), map(LV2_ATOM__Int), &length},
                                             {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
        const auto* interface =
            static_cast<const LV2_Options_Interface*>(descriptor->extension_data(LV2_OPTIONS__interface));
        ASSERT_NE(interface, nullptr);
        EXPECT_EQ(interface->set(handle, option), (uint32_t)LV2_OPTIONS_SUCCESS);
    }

    LV2_URID map(const char* uri)
    {
        for (size_t i = 0; i < uris.size(); ++i)
            if (uris[i] == uri)
                return static_cast<LV2_URID>(i + 1);
        uris.emplace_back(uri);
        return static_cast<LV2_URID>(uris.size());
    }

    void* library = nullptr;
    LV2_URID_Map uridMap{this, mapUri};
    const LV2_Feature mapFeature{LV2_URID__map, &uridMap};

  private:
    static LV2_URID mapUri(LV2_URID_Map_Handle h, const char* uri)
    {
        return static_cast<BareHost*>(h)->map(uri);
    }

    const LV2_State_Interface* stateInterface() const
    {
        return static_cast<const LV2_State_Interface*>(descriptor->extension_data(LV2_STATE__interface));
    }
    static LV2_State_Status store(LV2_State_Handle h, uint32_t key, const void* value, size_t size, uint32_t,
                                  uint32_t)
    {
        auto& self = *static_cast<BareHost*>(h);
        if (key == self.map(kStateKey))
            self.saved.assign(static_cast<const char*>(value),
                              strnlen(static_cast<const char*>(value), size));
        return LV2_STATE_SUCCESS;
    }
    static const void* retrieve(LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type,
                                uint32_t* flags)
    {
        auto& self = *static_cast<BareHost*>(h);
        if (key != self.map(kStateKey))
            return nullptr;
        *size = self.saved.size() + 1;
        *type = self.map(LV2_ATOM__String);
        *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
        return self.saved.c_str();
    }

    const LV2_Descriptor* descriptor = nullptr;
    LV2_Handle handle = nullptr;
    std::vector<std::string> uris;
    int32_t maxBlock = kBlock;
    std::vector<LV2_Options_Option> options;
    std::string saved;
    std::array<float, kestrune::kNumParameters> controls{};
    std::vector<float> in[2]{std::vector<float>(kBlock), std::vector<float>(kBlock)};
    std::vector<float> out[2]{std::vector<float>(kBlock), std::vector<float>(kBlock)};
    LV2_Atom_Sequence events{};
    std::vector<uint64_t> notifications = std::vector<uint64_t>(8192); // 64 kB, 8-byte aligned
    float latencyValue = 0.0f, freeWheelingValue = 0.0f, enabledValue = 1.0f;
};

// The hosted processors are built without a folder: keep them off the real preferences files.
class LV2Test : public testing::Test
{
  protected:
    void SetUp() override
    {
        setenv("KESTRUNE_PREFERENCES_FOLDER", preferences.folder.getFullPathName().toRawUTF8(), 1);
    }
    void TearDown() override { unsetenv("KESTRUNE_PREFERENCES_FOLDER"); }
    TemporaryFolder preferences;
};

// The state Ardour saved with the LV2 before it had control ports (tests/ardour/state-only-session):
// "Medium Room", half wet, a 3 s decay, with the values only in the state.
std::string stateSavedWithoutPorts()
{
    const auto ttl = juce::File(KESTRUNE_STATE_ONLY_SESSION)
                         .getChildFile("plugins/195/state1/state.ttl")
                         .loadFileAsString();
    std::smatch match;
    const auto text = ttl.toStdString();
    return std::regex_search(text, match, std::regex("StateString> \"([^\"]+)\"")) ? match[1].str() : "";
}

Channels impulses(int blocks, std::initializer_list<int> atBlocks)
{
    auto signal = silence(2, blocks * kBlock);
    for (int b : atBlocks)
        signal[0][(size_t)(b * kBlock)] = signal[1][(size_t)(b * kBlock)] = 0.5f;
    return signal;
}

void expectSameSound(const Channels& hosted, const Channels& reference)
{
    for (size_t c = 0; c < 2; ++c)
    {
        EXPECT_GT(energy(reference[c]), 1e-3) << c;
        EXPECT_LE(maxDifference(hosted[c], reference[c]), 1e-6f) << "channel " << c;
    }
}

// Non-default settings that reach the sound: a half-rate mode, a short decay, a half mix.
const std::pair<int, float> kSettings[] = {{kestrune::kType, 5.0f / 12.0f},
                                           {kestrune::kDecay, 0.02f},
                                           {kestrune::kMix, 0.5f},
                                           {kestrune::kPredelay, 0.0f}};

enum class Restart
{
    none,
    reactivate,
    newBlockSize
};

void PrintTo(Restart r, std::ostream* os)
{
    *os << (r == Restart::none ? "running on" : r == Restart::reactivate ? "reactivated" : "new block size");
}

class LV2Restart : public LV2Test, public testing::WithParamInterface<Restart>
{
};
} // namespace

// A host re-activates an instance, or sets its block size before a bounce, to start it from silence.
TEST_P(LV2Restart, RestartingStartsFromSilence)
{
    BareHost host;
    ASSERT_TRUE(host.ready()) << dlerror();
    host.activate();
    const auto ringing = host.run(impulses(static_cast<int>(kRate / 4 / kBlock), {0}));
    ASSERT_GT(energy(ringing[0]), 1e-3);
    if (GetParam() == Restart::reactivate)
    {
        host.deactivate();
        host.activate();
    }
    else if (GetParam() == Restart::newBlockSize)
        host.setNominalBlockLength(8192);
    const auto tail = host.run(silence(2, static_cast<int>(kRate / 10 / kBlock) * kBlock));
    if (GetParam() == Restart::none)
        EXPECT_GT(energy(tail[0]), 1e-6);
    else
        EXPECT_LT(energy(tail[0]) + energy(tail[1]), 1e-20);
    host.deactivate();
}

INSTANTIATE_TEST_SUITE_P(Activation, LV2Restart,
                         testing::Values(Restart::none, Restart::reactivate, Restart::newBlockSize),
                         [](const auto& info)
                         {
                             return info.param == Restart::none         ? "Running"
                                    : info.param == Restart::reactivate ? "Reactivated"
                                                                        : "NewBlockSize";
                         });

// What the host puts in a port applies from the block that follows, as the processor in-process hears
// a change made between two blocks.
TEST_F(LV2Test, APortChangeReachesTheProcessorBeforeItsBlock)
{
    const auto before = impulses(40, {0}), after = impulses(60, {0});
    TestProcessor reference;
    prepare(*reference, kRate, kBlock);
    auto expected = render(*reference, before, kBlock);
    for (auto [k, value] : kSettings)
        reference->setParameter(k, value);
    const auto expectedAfter = render(*reference, after, kBlock);

    BareHost host;
    ASSERT_TRUE(host.ready()) << dlerror();
    host.activate();
    expectSameSound(host.run(before), expected);
    for (auto [k, value] : kSettings)
        host.setPort(k, value);
    expectSameSound(host.run(after), expectedAfter);
}

// Ardour glides an automated "type" from one entry of its list to the next, as it does any control:
// within a mode that changes nothing, and the mode changes in one step, to the entry of the next one.
TEST_F(LV2Test, TheModePortMovesInSteps)
{
    BareHost steady, gliding;
    ASSERT_TRUE(steady.ready() && gliding.ready()) << dlerror();
    for (auto* host : {&steady, &gliding})
    {
        host->setPort(kestrune::kType, 2.0f / 12.0f); // "Medium Room", up to 3 / 12
        host->activate();
    }
    const auto input = impulses(1, {0});
    constexpr int kBlocks = 50;
    for (int b = 0; b < kBlocks; ++b)
    {
        gliding.setPort(kestrune::kType, (2.0f + 0.99f * static_cast<float>(b) / kBlocks) / 12.0f);
        const auto expected = steady.run(b == 0 ? input : silence(2, kBlock));
        const auto heard = gliding.run(b == 0 ? input : silence(2, kBlock));
        ASSERT_EQ(heard, expected) << "block " << b;
    }
    EXPECT_EQ(gliding.processor().getParameter(kestrune::kType), 2.0f / 12.0f);

    gliding.setPort(kestrune::kType, 0.54f); // within "Dark Chamber"
    gliding.run(silence(2, kBlock));
    EXPECT_EQ(gliding.processor().getParameter(kestrune::kType), 0.5f);
}

// A session saved before the plug-in had ports keeps its values in the state alone: the ports start at
// the defaults and must not undo it, neither on reopening nor after the host saved it anew.
TEST_F(LV2Test, AStateSavedWithoutPortsSoundsAsSavedAlsoAfterAResave)
{
    const auto state = stateSavedWithoutPorts();
    ASSERT_FALSE(state.empty());
    juce::MemoryBlock blob;
    ASSERT_TRUE(blob.fromBase64Encoding(state));
    TestProcessor reference;
    reference->setStateInformation(blob.getData(), (int)blob.getSize());
    ASSERT_NEAR(reference->getParameter(kestrune::kType), 2.0f / 12.0f, 1e-6f) << "the fixture's settings";
    prepare(*reference, kRate, kBlock);
    const auto expected = render(*reference, impulses(100, {0}), kBlock);

    std::string resaved;
    {
        BareHost host;
        ASSERT_TRUE(host.ready()) << dlerror();
        ASSERT_TRUE(host.restore(state));
        host.activate();
        expectSameSound(host.run(impulses(100, {0})), expected);
        EXPECT_EQ(host.patchMessagesOut(), 0) << "the restore announces nothing: the host holds the values";
        resaved = host.save();
    }
    BareHost reopened;
    ASSERT_TRUE(reopened.ready());
    ASSERT_TRUE(reopened.restore(resaved));
    reopened.activate();
    expectSameSound(reopened.run(impulses(100, {0})), expected);
}

//==============================================================================================
// The plug-in's window (JUCE's editor) needs an X display: scripts/with-xvfb.sh gives it one.
namespace
{
struct WindowEvent
{
    enum Kind
    {
        write,
        touchOn,
        touchOff
    } kind;
    uint32_t port;
    float value;
    bool operator==(const WindowEvent&) const = default;
};

void PrintTo(const WindowEvent& e, std::ostream* os)
{
    *os << (e.kind == WindowEvent::write     ? "write "
            : e.kind == WindowEvent::touchOn ? "touch on "
                                             : "touch off ")
        << e.port << (e.kind == WindowEvent::write ? " = " + std::to_string(e.value) : "");
}

// The host side of the plug-in's window: a parent X window, the write function and ui:touch.
class BareWindow
{
  public:
    BareWindow(BareHost& host, Display* display) : x(display)
    {
        parent = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 800, 500, 0, 0, 0);
        XMapWindow(x, parent);
        XFlush(x);
        const auto entry =
            reinterpret_cast<const LV2UI_Descriptor* (*)(uint32_t)>(dlsym(host.library, "lv2ui_descriptor"));
        descriptor = entry != nullptr ? entry(0) : nullptr;
        if (descriptor == nullptr)
            return;
        const LV2_Feature access{LV2_INSTANCE_ACCESS_URI, host.instance()};
        const LV2_Feature parentFeature{LV2_UI__parent, reinterpret_cast<void*>(parent)};
        const LV2_Feature touchFeature{LV2_UI__touch, &touch};
        const LV2_Feature* features[] = {&access, &parentFeature, &host.mapFeature, &touchFeature, nullptr};
        LV2UI_Widget widget = nullptr;
        handle = descriptor->instantiate(descriptor, "https://kestrunedsp.com/plugins/kestruneroom", "",
                                         write, this, &widget, features);
        instantiated = true;
    }
    ~BareWindow()
    {
        if (handle != nullptr)
            descriptor->cleanup(handle);
        XDestroyWindow(x, parent);
        XFlush(x);
    }

    bool ready() const { return handle != nullptr; }
    void idle()
    {
        const auto* idle =
            static_cast<const LV2UI_Idle_Interface*>(descriptor->extension_data(LV2_UI__idleInterface));
        idle->idle(handle);
    }

    std::vector<WindowEvent> events;

  private:
    // Ardour 7.3's window host drops writes until instantiate has returned: they would be lost.
    static void write(LV2UI_Controller c, uint32_t port, uint32_t size, uint32_t protocol, const void* buffer)
    {
        auto& self = *static_cast<BareWindow*>(c);
        ASSERT_TRUE(self.instantiated) << "a write from inside instantiate";
        ASSERT_EQ(size, sizeof(float));
        ASSERT_EQ(protocol, 0u);
        self.events.push_back({WindowEvent::write, port, *static_cast<const float*>(buffer)});
    }
    static void touched(LV2UI_Feature_Handle c, uint32_t port, bool grabbed)
    {
        static_cast<BareWindow*>(c)->events.push_back(
            {grabbed ? WindowEvent::touchOn : WindowEvent::touchOff, port, 0.0f});
    }

    Display* x;
    Window parent = 0;
    const LV2UI_Descriptor* descriptor = nullptr;
    LV2UI_Handle handle = nullptr;
    bool instantiated = false;
    LV2UI_Touch touch{this, touched};
};

class LV2Window : public LV2Test
{
  protected:
    void SetUp() override
    {
        LV2Test::SetUp();
        if (juce::SystemStats::getEnvironmentVariable("DISPLAY", {}).isEmpty() ||
            (display = XOpenDisplay(nullptr)) == nullptr)
        {
            if (juce::SystemStats::getEnvironmentVariable("KESTRUNE_REQUIRE_DISPLAY", {}).isNotEmpty())
                FAIL() << "no display";
            GTEST_SKIP() << "needs a display: run through scripts/with-xvfb.sh";
        }
    }
    void TearDown() override
    {
        if (display != nullptr)
            XCloseDisplay(display);
        LV2Test::TearDown();
    }
    Display* display = nullptr;
};
} // namespace

// Opened over a session saved without ports, the window gives the host the values it lacks.
TEST_F(LV2Window, DisplayOpeningBringsTheHostsPortsUpToTheRestoredValues)
{
    BareHost host;
    ASSERT_TRUE(host.ready()) << dlerror();
    ASSERT_TRUE(host.restore(stateSavedWithoutPorts()));
    host.activate();
    host.run(silence(2, kBlock));

    std::vector<WindowEvent> expected;
    const TestProcessor defaults;
    for (int k = 0; k < kestrune::kNumParameters; ++k)
        if (const float v = host.processor().getParameter(k); v != defaults->getParameterDefaultValue(k))
            expected.push_back({WindowEvent::write, controlPort(k), v});
    ASSERT_GE(expected.size(), 10u);

    BareWindow window(host, display);
    ASSERT_TRUE(window.ready());
    window.idle();
    EXPECT_EQ(window.events, expected);
}

// What the editor changes (a control's drag, a preset, a paste: each a gesture around its values) goes
// to the host's port inside a touch; the host showing those values back later moves nothing, while a
// value of the host's own applies.
TEST_F(LV2Window, DisplayEditorChangesReachTheHostsPortsAndTheirEchoMovesNothing)
{
    BareHost host;
    ASSERT_TRUE(host.ready()) << dlerror();
    host.activate();
    BareWindow window(host, display);
    ASSERT_TRUE(window.ready());
    window.idle();
    ASSERT_TRUE(window.events.empty()) << "the host's ports already hold the defaults";

    auto& processor = host.processor();
    const uint32_t decayPort = controlPort(kestrune::kDecay);
    processor.beginParameterChangeGesture(kestrune::kDecay);
    processor.setParameterNotifyingHost(kestrune::kDecay, 0.3f);
    processor.setParameterNotifyingHost(kestrune::kDecay, 0.4f);
    processor.endParameterChangeGesture(kestrune::kDecay);
    window.idle();
    const std::vector<WindowEvent> expected{{WindowEvent::touchOn, decayPort, 0.0f},
                                            {WindowEvent::write, decayPort, 0.3f},
                                            {WindowEvent::write, decayPort, 0.4f},
                                            {WindowEvent::touchOff, decayPort, 0.0f}};
    EXPECT_EQ(window.events, expected);

    // A host that passes the window's writes on a block late shows 0.3 while the editor is at 0.4.
    host.setPort(kestrune::kDecay, 0.3f);
    host.run(silence(2, kBlock));
    EXPECT_EQ(processor.getParameter(kestrune::kDecay), 0.4f);
    EXPECT_EQ(host.patchMessagesOut(), 0) << "JUCE's reports of the editor's changes stay off the output";
    host.setPort(kestrune::kDecay, 0.4f);
    host.run(silence(2, kBlock));
    EXPECT_EQ(processor.getParameter(kestrune::kDecay), 0.4f);

    host.setPort(kestrune::kDecay, 0.7f);
    host.run(silence(2, kBlock));
    EXPECT_EQ(processor.getParameter(kestrune::kDecay), 0.7f);
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
