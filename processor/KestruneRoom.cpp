#include "KestruneRoom.h"

#if __has_include("KestruneRoomEditor.h")
#include "KestruneRoomEditor.h"
#define KESTRUNE_HAVE_EDITOR 1
#endif

#include <algorithm>
#include <cmath>
#include <thread>

using kestrune::kNumParameters;
using kestrune::kParameterTable;

namespace
{
constexpr bool isValidIndex(int index) { return index >= 0 && index < kNumParameters; }
static_assert(EngineChanges::kParameters == kNumParameters);

// Fixed two decimals, rounded half up on the magnitude, independent of the C locale.
juce::String twoDecimals(double value)
{
    // A host may send any normalised value: far beyond every range the text saturates, which keeps it
    // short and the integer arithmetic below exact.
    constexpr double kLargestShown = 1e12;
    value = std::isnan(value) ? 0.0 : std::clamp(value, -kLargestShown, kLargestShown);
    const bool negative = value < 0.0;
    const auto hundredths = static_cast<long long>(std::fabs(value) * 100.0 + 0.5);
    const auto fraction = static_cast<int>(hundredths % 100);
    juce::String text(negative ? "-" : "");
    text << juce::String(hundredths / 100) << "." << (fraction < 10 ? "0" : "") << juce::String(fraction);
    return text;
}
} // namespace

KestruneRoom::KestruneRoom(const juce::File& preferencesFolder)
    : juce::AudioProcessor(BusesProperties()
                               .withInput("Input", juce::AudioChannelSet::stereo(), true)
                               .withOutput("Output", juce::AudioChannelSet::stereo(), true))
{
    openPreferences(preferencesFolder);
    if (appProperties != nullptr)
    {
        if (auto* user = appProperties->getUserSettings())
            user->setValue("PluginName", "KestruneRoom");
        if (auto* common = appProperties->getCommonSettings(true))
            common->setValue("PluginName", "KestruneRoom");
    }
    loadGUIMode();

    engine.setSampleRate(48000);
    for (int k = 0; k < kNumParameters; ++k)
        setParameter(k, engine.getDefaultNormalised(k));
    applyChangesNow();

    presetName = "Default";
    setLatencySamples(0);
    uiWidth = 735;
    uiHeight = 460;
    mixLock = false;
    startTimerHz(30);
    lastConstructedOnThisThread = this;
}

KestruneRoom::~KestruneRoom()
{
    stopTimer();
    if (lastConstructedOnThisThread == this)
        lastConstructedOnThisThread = nullptr;
}

void KestruneRoom::timerCallback() { flushPendingChange(); }

void KestruneRoom::flushPendingChange()
{
    if (changePending.exchange(false))
        sendChangeMessage();
}

const juce::String KestruneRoom::getName() const { return "KestruneRoom"; }

void KestruneRoom::prepareToPlay(double sampleRate, int)
{
    const juce::ScopedLock lock(getCallbackLock());
    applyChangesNow();
    engine.reset();
    // Sizes the rings now so that the first block at this rate does not allocate.
    if (sampleRate >= 1.0 && sampleRate < 2147483647.0)
        engine.prepareForRate(static_cast<int>(sampleRate));
}

void KestruneRoom::releaseResources() {}

bool KestruneRoom::isBusesLayoutSupported(const BusesLayout& layouts) const
{
    if (layouts.inputBuses.size() != 1 || layouts.outputBuses.size() != 1)
        return false;
    const auto in = layouts.getMainInputChannelSet();
    const auto out = layouts.getMainOutputChannelSet();
    return out == juce::AudioChannelSet::stereo()
           && (in == juce::AudioChannelSet::mono() || in == juce::AudioChannelSet::stereo());
}

void KestruneRoom::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    const juce::ScopedNoDenormals noDenormals;
    applyChangesOnAudioThread();
    // Before the host has given a rate the engine keeps its own (48000 Hz).
    if (const double rate = getSampleRate(); rate >= 1.0 && rate < 2147483647.0)
        engine.setSampleRate(static_cast<int>(rate));

    const int n = buffer.getNumSamples();
    const int channels = buffer.getNumChannels();
    if (n < 1 || channels < 1)
        return;

    const int inputs = juce::jmin(getTotalNumInputChannels(), channels);
    const int outputs = juce::jmin(getTotalNumOutputChannels(), channels);
    const float* in[2] = {buffer.getReadPointer(0), buffer.getReadPointer(inputs > 1 ? 1 : 0)};
    float* out[2] = {buffer.getWritePointer(0), buffer.getWritePointer(outputs > 1 ? 1 : 0)};
    engine.process(in, out, n, 2);
}

void KestruneRoom::processBlockBypassed(juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    applyChangesOnAudioThread();
    const int n = buffer.getNumSamples();
    const int channels = buffer.getNumChannels();
    if (n < 1 || channels < 1)
        return;
    const int source = juce::jmin(getTotalNumInputChannels(), channels) > 1 ? 1 : 0;
    const int target = juce::jmin(getTotalNumOutputChannels(), channels) > 1 ? 1 : 0;
    if (source != target)
        buffer.copyFrom(target, 0, buffer, source, 0, n);
}

void KestruneRoom::reset()
{
    queue(EngineChanges::kReset, 0.0f);
}

void KestruneRoom::queue(int index, float value)
{
    if (changes.push(index, value))
        return;
    // Full: no block has taken changes for a long while, so nothing waits for this lock.
    const juce::ScopedLock lock(getCallbackLock());
    do
        applyChangesNow();
    while (!changes.push(index, value));
    applyChangesNow();
}

void KestruneRoom::applyChange(int index, float value)
{
    if (index == EngineChanges::kReset)
        engine.reset();
    else
        engine.setParameterNormalised(index, value);
}

void KestruneRoom::applyChangesOnAudioThread()
{
    // The wrappers hold the callback lock around the block, so the only other thread that can be
    // applying is one that took the lock before it: the block then starts with what it has left.
    changes.tryApply([this](int index, float value) { applyChange(index, value); });
}

void KestruneRoom::applyChangesNow()
{
    const juce::ScopedLock lock(getCallbackLock());
    while (!changes.tryApply([this](int index, float value) { applyChange(index, value); }))
        std::this_thread::yield();
}

juce::AudioProcessorEditor* KestruneRoom::createEditor()
{
#if KESTRUNE_HAVE_EDITOR
    return new KestruneRoomEditor(*this);
#else
    return new juce::GenericAudioProcessorEditor(*this);
#endif
}

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")

const juce::String KestruneRoom::getInputChannelName(int channelIndex) const
{
    return juce::String(channelIndex + 1);
}
const juce::String KestruneRoom::getOutputChannelName(int channelIndex) const
{
    return juce::String(channelIndex + 1);
}

int KestruneRoom::getNumParameters() { return kNumParameters; }

const juce::String KestruneRoom::getParameterName(int index)
{
    return isValidIndex(index) ? juce::String(kParameterTable[(size_t) index].name) : juce::String();
}

float KestruneRoom::getParameter(int index)
{
    return isValidIndex(index) ? changes.value(index) : 0.0f;
}

float KestruneRoom::getParameterValue(int index) const
{
    if (!isValidIndex(index))
        return 0.0f;
    const auto& info = kParameterTable[(size_t)index];
    return kestrune::mapNormalised(info.minimum, info.maximum, info.curve, changes.value(index));
}

const juce::String KestruneRoom::getParameterText(int index)
{
    if (!isValidIndex(index))
        return {};
    return parameterTextFor(index, getParameterValue(index));
}

float KestruneRoom::getParameterDefaultValue(int index)
{
    return isValidIndex(index) ? engine.getDefaultNormalised(index) : 0.0f;
}

void KestruneRoom::setParameter(int index, float newValue)
{
    if (!isValidIndex(index) || std::isnan(newValue))
        return;
    // Held to 0..1 where it enters, so that what the host reads back, the display and the engine agree.
    newValue = std::clamp(newValue, 0.0f, 1.0f);
    if (changes.value(index) == newValue)
        return;
    // Shown at once, applied before the next block: a change never lands mid-block.
    queue(index, newValue);
    if (juce::MessageManager::existsAndIsCurrentThread())
        sendChangeMessage();
    else
        changePending.store(true);
}

// Unique identifiers: the LV2 wrapper otherwise derives them from the index and its name cleaner
// maps the leading digit to "_", so "1".."9" and "10".."19" would collide.
juce::String KestruneRoom::getParameterID(int index)
{
    return "p" + juce::String(index).paddedLeft('0', 2);
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE

juce::String KestruneRoom::parameterTextFor(int index, float mappedValue)
{
    if (!isValidIndex(index))
        return {};
    if (index == kestrune::kType)
    {
        const double whole = std::floor(static_cast<double>(mappedValue));
        const int m = whole >= 1.0 && whole <= kestrune::kNumModes ? static_cast<int>(whole) - 1 : 0;
        return juce::String(kestrune::kModeNames[(size_t) m]);
    }
    return twoDecimals(static_cast<double>(mappedValue)) + kParameterTable[(size_t) index].suffix;
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter() { return new KestruneRoom(); }
