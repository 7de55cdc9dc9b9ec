// The LV2 entry point. JUCE's LV2 wrapper leaves activate() empty, but LV2 asks a plug-in to drop all
// history there: a host re-activates an instance to start it again from silence (Ardour does when a
// plug-in is switched off and on). This entry wraps JUCE's descriptor and resets the processor then.

#include "KestruneRoom.h"

#include <lv2/core/lv2.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

// JUCE's own entry point, renamed when its wrapper is compiled (see processor/CMakeLists.txt).
extern "C" const LV2_Descriptor* juceLV2Descriptor(uint32_t index);

namespace
{
// Instances and their processors. Instantiate, activate, deactivate and cleanup are never called
// on the audio thread, so a lock is fine here.
std::mutex instancesLock;
std::vector<std::pair<LV2_Handle, KestruneRoom*>> instances;

const LV2_Descriptor& juceDescriptor()
{
    return *juceLV2Descriptor(0);
}

KestruneRoom* processorOf(LV2_Handle handle)
{
    const std::lock_guard lock(instancesLock);
    const auto it =
        std::find_if(instances.begin(), instances.end(), [&](const auto& i) { return i.first == handle; });
    return it != instances.end() ? it->second : nullptr;
}

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char* bundle,
                       const LV2_Feature* const* features)
{
    KestruneRoom::lastConstructedOnThisThread = nullptr;
    auto* handle = juceDescriptor().instantiate(&juceDescriptor(), rate, bundle, features);
    if (handle != nullptr && KestruneRoom::lastConstructedOnThisThread != nullptr)
    {
        const std::lock_guard lock(instancesLock);
        instances.emplace_back(handle, KestruneRoom::lastConstructedOnThisThread);
    }
    return handle;
}

void activate(LV2_Handle handle)
{
    juceDescriptor().activate(handle);
    if (auto* processor = processorOf(handle))
        processor->reset();
}

void deactivate(LV2_Handle handle)
{
    juceDescriptor().deactivate(handle);
}

void cleanup(LV2_Handle handle)
{
    {
        const std::lock_guard lock(instancesLock);
        instances.erase(std::remove_if(instances.begin(), instances.end(),
                                       [&](const auto& i) { return i.first == handle; }),
                        instances.end());
    }
    juceDescriptor().cleanup(handle);
}

void connectPort(LV2_Handle handle, uint32_t port, void* data)
{
    juceDescriptor().connect_port(handle, port, data);
}
void run(LV2_Handle handle, uint32_t samples)
{
    juceDescriptor().run(handle, samples);
}
const void* extensionData(const char* uri)
{
    return juceDescriptor().extension_data(uri);
}
} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    if (index != 0 || juceLV2Descriptor(0) == nullptr)
        return nullptr;
    static const LV2_Descriptor descriptor{juceDescriptor().URI, instantiate, connectPort,  activate, run,
                                           deactivate,           cleanup,     extensionData};
    return &descriptor;
}
