// The LV2 window: wraps JUCE's UI descriptor. JUCE's editor works on the processor directly; what it
// changes there (a control, the preset menu, the arrows, a paste) this passes on to the host's ports
// through the UI's write function, inside a touch gesture where the host offers one, so that the host's
// controls follow the editor and record its moves.

#include "LV2Plugin.h"

#include <lv2/instance-access/instance-access.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>

#include <cstring>
#include <memory>
#include <vector>

// JUCE's own UI entry point, renamed when its wrapper is compiled (see processor/CMakeLists.txt).
extern "C" const LV2UI_Descriptor* juceLV2UIDescriptor(uint32_t index);

namespace kestrune::lv2
{
namespace
{
const LV2UI_Descriptor& juceUi()
{
    return *juceLV2UIDescriptor(0);
}

template <typename T> const T* juceUiExtension(const char* uri)
{
    return static_cast<const T*>(juceUi().extension_data(uri));
}

const LV2_Feature* findFeature(const LV2_Feature* const* features, const char* uri)
{
    for (auto f = features; f != nullptr && *f != nullptr; ++f)
        if (std::strcmp((*f)->URI, uri) == 0)
            return *f;
    return nullptr;
}

class Window final : private juce::AudioProcessorListener
{
  public:
    Window(Instance& pluginIn, LV2UI_Write_Function writeIn, LV2UI_Controller controllerIn,
           const LV2UI_Touch* touchIn)
        : plugin(pluginIn), write(writeIn), controller(controllerIn), touch(touchIn)
    {
        plugin.processor->addListener(this);
    }
    ~Window() override { plugin.processor->removeListener(this); }

    // On the host's UI thread, after JUCE has run the editor's pending events.
    void idle()
    {
        // The first call also covers a restore before the window opened. (Not from instantiate: Ardour
        // 7.3 drops writes until its window host has set itself up.)
        if (plugin.restored.exchange(false) || !hostUpdated)
            bringHostUpToDate();
        hostUpdated = true;
        for (int k = 0; k < kNumParameters; ++k)
            if (changedElsewhere[(size_t)k].exchange(false))
                writePort(k, parameter(k));
    }

    LV2UI_Handle juce = nullptr;

  private:
    // Where the processor holds what the host's port does not (a state restored over ports that did not
    // hold it, a mode value taken as its entry, a value the processor refused), the host's port takes
    // the processor's value.
    void bringHostUpToDate()
    {
        for (int k = 0; k < kNumParameters; ++k)
            if (const float value = parameter(k);
                bitsOf(value) != plugin.portSeen[(size_t)k].load(std::memory_order_relaxed))
                writePort(k, value);
    }

    float parameter(int k) const
    {
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
        return plugin.processor->getParameter(k);
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    }

    void writePort(int k, float value)
    {
        plugin.written[(size_t)k].add(bitsOf(value));
        write(controller, controlPort(k), sizeof(float), 0, &value);
    }

    static bool onUiThread() { return juce::MessageManager::existsAndIsCurrentThread(); }

    // The editor runs on the host's UI thread and writes at once, in order with its gestures; changes
    // made on other threads go out with the next idle call.
    void audioProcessorParameterChanged(juce::AudioProcessor*, int k, float value) override
    {
        if (k < 0 || k >= kNumParameters)
            return;
        if (onUiThread())
            writePort(k, value);
        else
            changedElsewhere[(size_t)k] = true;
    }
    void audioProcessorParameterChangeGestureBegin(juce::AudioProcessor*, int k) override
    {
        gesture(k, true);
    }
    void audioProcessorParameterChangeGestureEnd(juce::AudioProcessor*, int k) override { gesture(k, false); }
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails&) override {}

    void gesture(int k, bool grabbed)
    {
        if (touch != nullptr && k >= 0 && k < kNumParameters && onUiThread())
            touch->touch(touch->handle, controlPort(k), grabbed);
    }

    Instance& plugin;
    const LV2UI_Write_Function write;
    const LV2UI_Controller controller;
    const LV2UI_Touch* const touch;
    std::array<std::atomic<bool>, kNumParameters> changedElsewhere{};
    bool hostUpdated = false;
};

Window& windowOf(LV2UI_Handle handle)
{
    return *static_cast<Window*>(handle);
}

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char* bundlePath,
                         LV2UI_Write_Function write, LV2UI_Controller controller, LV2UI_Widget* widget,
                         const LV2_Feature* const* features)
{
    const auto* access = findFeature(features, LV2_INSTANCE_ACCESS_URI);
    if (access == nullptr || access->data == nullptr)
        return nullptr;
    auto& plugin = *static_cast<Instance*>(access->data);

    // JUCE's editor wants JUCE's instance, not ours.
    const LV2_Feature juceAccess{LV2_INSTANCE_ACCESS_URI, plugin.juce};
    std::vector<const LV2_Feature*> juceFeatures;
    for (auto f = features; *f != nullptr; ++f)
        juceFeatures.push_back(*f == access ? &juceAccess : *f);
    juceFeatures.push_back(nullptr);

    const auto* touch = findFeature(features, LV2_UI__touch);
    auto window = std::make_unique<Window>(
        plugin, write, controller, touch != nullptr ? static_cast<const LV2UI_Touch*>(touch->data) : nullptr);
    window->juce = juceUi().instantiate(&juceUi(), pluginUri, bundlePath, write, controller, widget,
                                        juceFeatures.data());
    if (window->juce == nullptr)
        return nullptr;
    return window.release();
}

void cleanup(LV2UI_Handle handle)
{
    std::unique_ptr<Window> window(&windowOf(handle));
    const auto juce = window->juce;
    window.reset(); // stops listening before JUCE deletes the editor
    juceUi().cleanup(juce);
}

void portEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format, const void* buffer)
{
    juceUi().port_event(windowOf(handle).juce, port, size, format, buffer);
}

int idle(LV2UI_Handle handle)
{
    auto& window = windowOf(handle);
    const int status = juceUiExtension<LV2UI_Idle_Interface>(LV2_UI__idleInterface)->idle(window.juce);
    window.idle();
    return status;
}

int resize(LV2UI_Feature_Handle handle, int width, int height)
{
    return juceUiExtension<LV2UI_Resize>(LV2_UI__resize)->ui_resize(windowOf(handle).juce, width, height);
}

uint32_t getOptions(LV2_Handle handle, LV2_Options_Option* options)
{
    return juceUiExtension<LV2_Options_Interface>(LV2_OPTIONS__interface)
        ->get(windowOf(handle).juce, options);
}

uint32_t setOptions(LV2_Handle handle, const LV2_Options_Option* options)
{
    return juceUiExtension<LV2_Options_Interface>(LV2_OPTIONS__interface)
        ->set(windowOf(handle).juce, options);
}

// JUCE's interfaces with its own handle swapped for ours; anything else it offers carries no handle.
const void* extensionData(const char* uri)
{
    static const LV2UI_Idle_Interface idleInterface{idle};
    static const LV2UI_Resize resizeInterface{nullptr, resize};
    static const LV2_Options_Interface optionsInterface{getOptions, setOptions};
    if (std::strcmp(uri, LV2_UI__idleInterface) == 0)
        return &idleInterface;
    if (std::strcmp(uri, LV2_UI__resize) == 0)
        return &resizeInterface;
    if (std::strcmp(uri, LV2_OPTIONS__interface) == 0)
        return &optionsInterface;
    return juceUi().extension_data(uri);
}
} // namespace
} // namespace kestrune::lv2

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index)
{
    using namespace kestrune::lv2;
    if (index != 0 || juceLV2UIDescriptor(0) == nullptr)
        return nullptr;
    static const LV2UI_Descriptor descriptor{juceUi().URI, instantiate, cleanup, portEvent, extensionData};
    return &descriptor;
}
