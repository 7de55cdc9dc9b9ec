#pragma once

// Helpers for the processor tests: a processor on a throw-away preferences folder, an editor on it, and
// block-wise rendering through processBlock as a host drives it (callback lock held).

#include "KestruneRoom.h"
#include "KestruneRoomEditor.h"
#include <unistd.h> // getpid: test processes run in parallel

#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::plugintest
{

using Channels = std::vector<std::vector<float>>;

// A folder that exists for the life of the object, so no test ever touches the real preferences.
struct TemporaryFolder
{
    juce::File folder = juce::File::getSpecialLocation(juce::File::tempDirectory)
                            .getNonexistentChildFile("kestrune-test-" + juce::String(::getpid()), "", false);
    TemporaryFolder() { folder.createDirectory(); }
    ~TemporaryFolder() { folder.deleteRecursively(); }
};

struct TestProcessor
{
    TemporaryFolder preferences;
    std::unique_ptr<KestruneRoom> processor = std::make_unique<KestruneRoom>(preferences.folder);

    KestruneRoom* operator->() const { return processor.get(); }
    KestruneRoom& operator*() const { return *processor; }
};

// A processor with its preferences in a temporary folder, and an editor opened on it whose preset
// folders ("factory" and "user") lie in the same folder; nothing creates them here.
class EditorFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isDirectory());
        processor = std::make_unique<KestruneRoom>(root.getChildFile("prefs"));
    }

    void TearDown() override
    {
        editor.reset();
        processor.reset();
    }

    KestruneRoomEditor& open()
    {
        editor = std::make_unique<KestruneRoomEditor>(*processor, PresetFolders{factory, user});
        return *editor;
    }

    TemporaryFolder temporary;
    juce::File root = temporary.folder;
    juce::File user = root.getChildFile("user");
    juce::File factory = root.getChildFile("factory");
    std::unique_ptr<KestruneRoom> processor;
    std::unique_ptr<KestruneRoomEditor> editor;
};

// Prepares the processor for a layout with `inputs` input channels and two outputs.
inline void prepare(KestruneRoom& p, double rate, int blockSize, int inputs = 2)
{
    KestruneRoom::BusesLayout layout;
    layout.inputBuses.add(inputs == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo());
    layout.outputBuses.add(juce::AudioChannelSet::stereo());
    p.setBusesLayout(layout);
    p.setRateAndBufferSizeDetails(rate, blockSize);
    p.prepareToPlay(rate, blockSize);
}

// A host-state blob around a document's text, its stored length as given (the text's own by default).
inline juce::MemoryBlock blobOf(const std::string& text, std::optional<int> storedLength = std::nullopt)
{
    juce::MemoryOutputStream out;
    out.writeInt(0x21324356);
    out.writeInt(storedLength.value_or(static_cast<int>(text.size())));
    out.write(text.data(), text.size());
    out.writeByte(0);
    return out.getMemoryBlock();
}

// Runs input (one or two channels) through processBlock in blocks; returns the two output channels.
inline Channels render(KestruneRoom& p, const Channels& input, int blockSize)
{
    const int length = static_cast<int>(input[0].size());
    Channels out(2, std::vector<float>(static_cast<size_t>(length)));
    juce::AudioBuffer<float> buffer(2, blockSize);
    juce::MidiBuffer midi;
    for (int start = 0; start < length; start += blockSize)
    {
        const int n = juce::jmin(blockSize, length - start);
        buffer.setSize(2, n, false, false, true);
        buffer.clear();
        for (size_t c = 0; c < input.size() && c < 2; ++c)
            buffer.copyFrom(static_cast<int>(c), 0, input[c].data() + start, n);
        {
            const juce::ScopedLock lock(p.getCallbackLock());
            p.processBlock(buffer, midi);
        }
        for (int c = 0; c < 2; ++c)
            std::copy_n(buffer.getReadPointer(c), n, out[(size_t) c].data() + start);
    }
    return out;
}

inline Channels impulse(int channels, int length, float amplitude = 0.5f)
{
    Channels signal(static_cast<size_t>(channels), std::vector<float>(static_cast<size_t>(length)));
    for (auto& c : signal)
        c[0] = amplitude;
    return signal;
}

inline Channels silence(int channels, int length) { return impulse(channels, length, 0.0f); }

inline double energy(const std::vector<float>& x)
{
    double sum = 0.0;
    for (float v : x)
        sum += static_cast<double>(v) * v;
    return sum;
}

inline bool allFinite(const Channels& x)
{
    for (const auto& c : x)
        for (float v : c)
            if (!std::isfinite(v))
                return false;
    return true;
}

inline float maxDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    float d = 0.0f;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        d = std::max(d, std::abs(a[i] - b[i]));
    return a.size() == b.size() ? d : INFINITY;
}

} // namespace kestrune::plugintest
