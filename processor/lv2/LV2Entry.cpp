// The LV2 entry point: wraps JUCE's descriptor. Around JUCE's instance it reads the parameters' control
// ports before each block, keeps JUCE's patch messages (for properties it no longer describes) off the
// output sequence, follows state restores, drops all history on activate() (LV2 asks for that; a host
// re-activates an instance to start it again from silence) and on a block-size change through the
// options interface (Ardour's way of flushing a plug-in before a bounce), and writes the description.

#include "LV2Plugin.h"

#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

// JUCE's own entry point, renamed when its wrapper is compiled (see processor/CMakeLists.txt).
extern "C" const LV2_Descriptor* juceLV2Descriptor(uint32_t index);

namespace kestrune::lv2
{
namespace
{
// What JUCE's manifest helper asks for by this URI: a function that writes the description.
constexpr const char* kRecallUri = "https://lv2-extensions.juce.com/turtle_recall";
struct RecallFeature
{
    int (*doRecall)(const char* libraryPath);
};

const LV2_Descriptor& juceDescriptor()
{
    return *juceLV2Descriptor(0);
}

Instance& instanceOf(LV2_Handle handle)
{
    return *static_cast<Instance*>(handle);
}

const LV2_URID_Map* findMap(const LV2_Feature* const* features)
{
    for (auto f = features; f != nullptr && *f != nullptr; ++f)
        if (std::strcmp((*f)->URI, LV2_URID__map) == 0)
            return static_cast<const LV2_URID_Map*>((*f)->data);
    return nullptr;
}

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char* bundle,
                       const LV2_Feature* const* features)
{
    const auto* map = findMap(features);
    KestruneRoom::lastConstructedOnThisThread = nullptr;
    auto* juce = juceDescriptor().instantiate(&juceDescriptor(), rate, bundle, features);
    if (juce == nullptr)
        return nullptr;
    if (map == nullptr || KestruneRoom::lastConstructedOnThisThread == nullptr)
    {
        juceDescriptor().cleanup(juce);
        return nullptr;
    }

    auto instance = std::make_unique<Instance>();
    instance->juce = juce;
    instance->processor = KestruneRoom::lastConstructedOnThisThread;
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    // What a host's ports start at: the defaults of the description.
    for (int k = 0; k < kNumParameters; ++k)
        instance->portSeen[(size_t)k] = bitsOf(instance->processor->getParameterDefaultValue(k));
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    const auto urid = [map](const char* uri) { return map->map(map->handle, uri); };
    instance->atomSequence = urid(LV2_ATOM__Sequence);
    instance->atomObject = urid(LV2_ATOM__Object);
    instance->atomBlank = urid(LV2_ATOM__Blank);
    instance->patchSet = urid(LV2_PATCH__Set);
    instance->nominalBlockLength = urid(LV2_BUF_SIZE__nominalBlockLength);
    return instance.release();
}

void connectPort(LV2_Handle handle, uint32_t port, void* data)
{
    auto& instance = instanceOf(handle);
    if (port >= controlPort(0) && port < controlPort(kNumParameters))
        instance.ports[port - controlPort(0)] = static_cast<const float*>(data);
    else if (port < kFirstControl)
    {
        if (port == kEventsOut)
            instance.eventsOut = static_cast<LV2_Atom_Sequence*>(data);
        juceDescriptor().connect_port(instance.juce, port, data);
    }
}

void activate(LV2_Handle handle)
{
    auto& instance = instanceOf(handle);
    juceDescriptor().activate(instance.juce);
    instance.processor->reset();
}

void deactivate(LV2_Handle handle)
{
    juceDescriptor().deactivate(instanceOf(handle).juce);
}

void cleanup(LV2_Handle handle)
{
    std::unique_ptr<Instance> instance(&instanceOf(handle));
    juceDescriptor().cleanup(instance->juce);
}

// Every port the host changed since the last block reaches the processor before this one. A port the
// host leaves alone says nothing: the processor may hold a restored state the port never held.
// "type" as its list has it: the entry of the mode a value selects. Ardour 7.3 automates an
// enumeration like any control, gliding from one entry to the next, and every value on the way would set
// the mode up afresh (clearing the reverb) where the list means one step.
float asModeEntry(float value)
{
    if (!std::isfinite(value))
        return value;
    const auto& table = kParameterTable[kType];
    EngineParameter type;
    type.minimum = table.minimum;
    type.maximum = table.maximum;
    type.curve = table.curve;
    type.normalised = std::clamp(value, 0.0f, 1.0f);
    type.valueFromNormalised();
    return modeEntry(modeFromTypeValue(type.value));
}

void readPorts(Instance& instance)
{
    for (int k = 0; k < kNumParameters; ++k)
    {
        const auto* port = instance.ports[(size_t)k];
        if (port == nullptr)
            continue;
        const float value = *port;
        const auto bits = bitsOf(value);
        if (bits == instance.portSeen[(size_t)k].load(std::memory_order_relaxed))
            continue;
        instance.portSeen[(size_t)k].store(bits, std::memory_order_relaxed);
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
        if (!instance.written[(size_t)k].isEcho(bits))
            instance.processor->setParameter(k, k == kType ? asModeEntry(value) : value);
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    }
}

// JUCE's wrapper reports every parameter change as a patch:Set of a property the description no
// longer has; no host reads them, and JUCE's own LV2 host queues each one on its audio thread.
void dropPatchMessages(const Instance& instance)
{
    auto* sequence = instance.eventsOut;
    if (sequence == nullptr || sequence->atom.type != instance.atomSequence)
        return;
    auto* const body = reinterpret_cast<uint8_t*>(&sequence->body);
    auto* const end = body + sequence->atom.size;
    auto* kept = body + sizeof(LV2_Atom_Sequence_Body);
    for (auto* at = kept; at + sizeof(LV2_Atom_Event) <= end;)
    {
        const auto* event = reinterpret_cast<const LV2_Atom_Event*>(at);
        const size_t padded = (event->body.size + 7u) & ~size_t{7}; // events lie on 64-bit boundaries
        const auto size = std::min<size_t>(sizeof(LV2_Atom_Event) + padded, static_cast<size_t>(end - at));
        const bool isObject =
            event->body.type == instance.atomObject || event->body.type == instance.atomBlank;
        const bool isPatchSet =
            isObject && event->body.size >= sizeof(LV2_Atom_Object_Body) &&
            reinterpret_cast<const LV2_Atom_Object_Body*>(event + 1)->otype == instance.patchSet;
        if (!isPatchSet)
        {
            if (kept != at)
                std::memmove(kept, at, size);
            kept += size;
        }
        at += size;
    }
    sequence->atom.size = static_cast<uint32_t>(kept - body);
}

void run(LV2_Handle handle, uint32_t samples)
{
    auto& instance = instanceOf(handle);
    readPorts(instance);
    juceDescriptor().run(instance.juce, samples);
    dropPatchMessages(instance);
}

const LV2_State_Interface& juceState()
{
    return *static_cast<const LV2_State_Interface*>(juceDescriptor().extension_data(LV2_STATE__interface));
}

LV2_State_Status saveState(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state,
                           uint32_t flags, const LV2_Feature* const* features)
{
    return juceState().save(instanceOf(handle).juce, store, state, flags, features);
}

LV2_State_Status restoreState(LV2_Handle handle, LV2_State_Retrieve_Function retrieve, LV2_State_Handle state,
                              uint32_t flags, const LV2_Feature* const* features)
{
    auto& instance = instanceOf(handle);
    const auto status = juceState().restore(instance.juce, retrieve, state, flags, features);
    if (status == LV2_STATE_SUCCESS)
        instance.restored = true;
    return status;
}

uint32_t getOptions(LV2_Handle, LV2_Options_Option* options)
{
    uint32_t status = LV2_OPTIONS_SUCCESS;
    for (auto* option = options; option != nullptr && option->key != 0; ++option)
        status |= LV2_OPTIONS_ERR_BAD_KEY;
    return status;
}

// A new block size: Ardour sets one before every bounce, which then starts from silence.
uint32_t setOptions(LV2_Handle handle, const LV2_Options_Option* options)
{
    auto& instance = instanceOf(handle);
    uint32_t status = LV2_OPTIONS_SUCCESS;
    bool blockSizeChanged = false;
    for (auto* option = options; option != nullptr && option->key != 0; ++option)
    {
        if (option->key == instance.nominalBlockLength)
            blockSizeChanged = true;
        else
            status |= LV2_OPTIONS_ERR_BAD_KEY;
    }
    if (blockSizeChanged)
        instance.processor->reset();
    return status;
}

int recall(const char* libraryPath)
{
    const auto* juceRecall = static_cast<const RecallFeature*>(juceDescriptor().extension_data(kRecallUri));
    if (juceRecall == nullptr || juceRecall->doRecall(libraryPath) != 0)
        return 1;
    const juce::String path = juce::CharPointer_UTF8(libraryPath);
    const auto library = juce::File::isAbsolutePath(path)
                             ? juce::File(path)
                             : juce::File::getCurrentWorkingDirectory().getChildFile(path);
    return writeDescription(library.getSiblingFile("dsp.ttl")) ? 0 : 1;
}

const void* extensionData(const char* uri)
{
    static const LV2_State_Interface state{saveState, restoreState};
    static const LV2_Options_Interface options{getOptions, setOptions};
    static const RecallFeature recallFeature{recall};
    if (std::strcmp(uri, LV2_STATE__interface) == 0)
        return &state;
    if (std::strcmp(uri, LV2_OPTIONS__interface) == 0)
        return &options;
    if (std::strcmp(uri, kRecallUri) == 0)
        return &recallFeature;
    return nullptr;
}
} // namespace
} // namespace kestrune::lv2

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    using namespace kestrune::lv2;
    if (index != 0 || juceLV2Descriptor(0) == nullptr)
        return nullptr;
    static const LV2_Descriptor descriptor{juceDescriptor().URI, instantiate, connectPort,  activate, run,
                                           deactivate,           cleanup,     extensionData};
    return &descriptor;
}
