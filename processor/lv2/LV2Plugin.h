#pragma once

// The LV2 format around JUCE's LV2 wrapper: JUCE's wrapper publishes the parameters as patch
// properties, which hosts show, save and automate badly or not at all. Ours puts one control input
// port per parameter after JUCE's own ports, and keeps what the host holds in those ports and what
// the processor holds in step both ways (LV2Entry.cpp for the plug-in, LV2Window.cpp for its window,
// LV2Description.cpp for the description hosts read).

#include "KestruneRoom.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include <array>
#include <atomic>
#include <bit>
#include <cstdint>

namespace kestrune::lv2
{
// Port indices. JUCE's wrapper numbers its ports for a stereo effect: the audio inputs, the audio
// outputs, its two atom sequences, latency, free-wheeling and enable.
enum Port : uint32_t
{
    kAudioIn1,
    kAudioIn2,
    kAudioOut1,
    kAudioOut2,
    kEventsIn,
    kEventsOut,
    kLatency,
    kFreeWheeling,
    kEnabled,
    kFirstControl // parameter k is port kFirstControl + k
};

constexpr uint32_t controlPort(int parameter)
{
    return kFirstControl + static_cast<uint32_t>(parameter);
}

constexpr uint32_t bitsOf(float value)
{
    return std::bit_cast<uint32_t>(value);
}

// The value of "type" that the mode selector writes for a mode, and the host's list shows: entry m + 1,
// (m + 1) / 12.
constexpr float modeEntry(uint32_t mode)
{
    return static_cast<float>(mode + 1) / 12.0f;
}

// The values the window wrote to one port that the host has not shown back yet. Hosts pass writes on
// late (JUCE's LV2 host a block late), so during a drag the port may show an earlier value while the
// editor has moved on: that is the host's echo, no news to the processor. One writer (the window's
// thread) and one reader (run()).
class WindowWrites
{
  public:
    void add(uint32_t bits)
    {
        const auto end = head.load(std::memory_order_relaxed);
        if (end - tail.load(std::memory_order_acquire) == kSize)
            return; // a host that shows none of them back: the oldest stay
        values[end % kSize] = bits;
        head.store(end + 1, std::memory_order_release);
    }

    // True when a port's new value is one of them; forgets it and every one written before it. Any
    // other value is the host's own, after which none of them can come back.
    bool isEcho(uint32_t bits)
    {
        const auto end = head.load(std::memory_order_acquire);
        for (auto i = tail.load(std::memory_order_relaxed); i != end; ++i)
            if (values[i % kSize] == bits)
            {
                tail.store(i + 1, std::memory_order_release);
                return true;
            }
        tail.store(end, std::memory_order_release);
        return false;
    }

  private:
    static constexpr uint32_t kSize = 16;
    std::array<uint32_t, kSize> values{};
    std::atomic<uint32_t> head{0}, tail{0};
};

// One instance of the plug-in as the host holds it (its LV2_Handle).
struct Instance
{
    LV2_Handle juce = nullptr; // JUCE's instance, which its window reaches through instance-access
    KestruneRoom* processor = nullptr;

    std::array<const float*, kNumParameters> ports{};
    LV2_Atom_Sequence* eventsOut = nullptr;

    // The value each control port held when run() last read it (audio thread writes, the window reads
    // it to tell what the host shows).
    std::array<std::atomic<uint32_t>, kNumParameters> portSeen{};
    std::array<WindowWrites, kNumParameters> written;
    // A state restore sets the processor and leaves ports the host did not change alone (a session saved
    // before the plug-in had ports holds the defaults there); this tells an open window to bring the
    // host's ports up to the restored values.
    std::atomic<bool> restored{false};

    LV2_URID atomSequence = 0, atomObject = 0, atomBlank = 0, patchSet = 0, nominalBlockLength = 0;
};

// The description JUCE's build step asks for: writes dsp.ttl next to the plug-in's library, after
// JUCE's own manifest.ttl and ui.ttl. Returns false when the file cannot be written.
bool writeDescription(const juce::File& dspTtl);

} // namespace kestrune::lv2
