#pragma once

#include "EngineChanges.h"
#include "ReverbEngine.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_events/juce_events.h>

#include <atomic>
#include <memory>

// One preferences file in JUCE's XML properties format (<PROPERTIES> holding <VALUE name= val=>).
// JUCE's own PropertiesFile reads with XmlDocument and falls back on its compressed binary format, and
// saves a value that looks like XML by parsing it the same way: this one reads and saves only through
// the guarded ways, and a save replaces the file whole or not at all. Saved after a pause, like JUCE's.
class KestrunePropertiesFile : public juce::PropertySet, private juce::Timer
{
public:
    KestrunePropertiesFile(const juce::File& file, const juce::PropertiesFile::Options& options);
    ~KestrunePropertiesFile() override;

    const juce::File& getFile() const { return file; }
    bool save();
    bool saveIfNeeded();
    bool needsToBeSaved() const;

private:
    void reload();
    void propertyChanged() override;
    void timerCallback() override;

    juce::File file;
    juce::PropertiesFile::Options options;
    bool needsWriting = false;
};

// The two preferences files (user and all users), as JUCE's ApplicationProperties keeps them. That
// derives both paths from one Options object (~ and /var on Linux), so a scratch folder could not hold
// them apart: with a folder given, both files live side by side inside it.
class KestrunePreferences
{
public:
    // folder empty: the system's files for these options; otherwise "user" and "common" inside folder.
    KestrunePreferences(const juce::PropertiesFile::Options& options, const juce::File& folder);
    ~KestrunePreferences();

    const juce::PropertiesFile::Options& getStorageParameters() const { return options; }
    KestrunePropertiesFile* getUserSettings();
    // The common file, or the user file when returnUserPropsIfReadOnly and the common one cannot be saved.
    KestrunePropertiesFile* getCommonSettings(bool returnUserPropsIfReadOnly);
    bool saveIfNeeded();
    void closeFiles();

private:
    void openFiles();

    juce::PropertiesFile::Options options;
    juce::File folder;
    std::unique_ptr<KestrunePropertiesFile> userFile, commonFile;
    int commonReadOnly = 0; // 0 not yet known, 1 read-only, -1 writable
};

// The audio processor: publishes the engine's twenty parameters, feeds it every block, and keeps the
// per-instance settings the editor and the state document need.
class KestruneRoom : public juce::AudioProcessor, public juce::ChangeBroadcaster, private juce::Timer
{
public:
    static constexpr const char* kVersion = "1.5.1";

    // preferencesFolder: where the two preferences files live; empty means the system's folders.
    // Tests pass a temporary folder so that they never touch the real files.
    explicit KestruneRoom(const juce::File& preferencesFolder = juce::File());
    ~KestruneRoom() override;

    // --- juce::AudioProcessor ----------------------------------------------------------------------
    const juce::String getName() const override;
    void prepareToPlay(double sampleRate, int estimatedBlockSize) override;
    void releaseResources() override;
    bool isBusesLayoutSupported(const BusesLayout& layouts) const override;
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    void processBlockBypassed(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;
    using juce::AudioProcessor::processBlockBypassed;

    bool silenceInProducesSilenceOut() const override { return false; }
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    void reset() override;

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override { return true; }

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    const juce::String getInputChannelName(int channelIndex) const override;
    const juce::String getOutputChannelName(int channelIndex) const override;
    bool isInputChannelStereoPair(int) const override { return true; }
    bool isOutputChannelStereoPair(int) const override { return true; }

    using juce::AudioProcessor::getParameterName;
    using juce::AudioProcessor::getParameterText;
    int getNumParameters() override;
    const juce::String getParameterName(int index) override;
    float getParameter(int index) override;
    const juce::String getParameterText(int index) override;
    float getParameterDefaultValue(int index) override;
    void setParameter(int index, float newValue) override;
    juce::String getParameterID(int index) override;
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    int getNumPrograms() override { return 0; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram(int) override {}
    const juce::String getProgramName(int) override { return {}; }
    void changeProgramName(int, const juce::String&) override {}

    // --- host state, presets and clipboard -----------------------------------------------------------
    void getStateInformation(juce::MemoryBlock& destData) override;
    void setStateInformation(const void* data, int sizeInBytes) override;
    void writeStateAttributes(juce::XmlElement& element);
    void readStateFromXml(const juce::XmlElement& element);
    void getStateAsText(juce::String& destination);
    void setStateFromText(const juce::String& text);
    bool savePresetFile(const juce::File& file);
    void loadPresetFile(const juce::File& file);
    void setPresetName(const juce::String& name) { presetName = name; }
    juce::String getPresetName() const { return presetName; }

    // --- preferences ------------------------------------------------------------------------------------
    void loadGUIMode();
    void setGUIModeProperty(const juce::String& value);
    bool saveGUIMode();

    // Sends the change message that a change off the message thread left pending (the timer calls it).
    void flushPendingChange();

    // Text of parameter k for a value in real units, getParameterValue (used by getParameterText and the tools).
    static juce::String parameterTextFor(int index, float mappedValue);
    // Parameter k in real units as last set (0 outside 0..19), whether or not a block has applied it yet.
    float getParameterValue(int index) const;

    // The processor constructed last on the calling thread: the LV2 entry pairs JUCE's instance with
    // its processor through it.
    static inline thread_local KestruneRoom* lastConstructedOnThisThread = nullptr;

    // --- per-instance settings the editor reads and writes directly --------------------------------
    std::unique_ptr<KestrunePreferences> appProperties;
    juce::PropertySet localSettings;
    uint8_t guiScheme = 0; // 0 Electric Blue, 1 Old School
    bool mixLock = false;
    kestrune::ReverbEngine engine;
    juce::String presetName;
    int uiWidth = 735;
    int uiHeight = 460;

private:
    // Creates appProperties on the system's folders, or on preferencesFolder when it is not empty.
    void openPreferences(const juce::File& preferencesFolder);

    // Parameter changes and resets reach the engine through this queue, on the audio thread before the
    // next block, so that the audio thread never waits for a thread that is switching modes. Without
    // blocks they wait there; when it fills up, the thread that found it full applies them (under the
    // callback lock).
    EngineChanges changes;
    void queue(int index, float value);
    // Applies the queued changes; the audio thread's version never waits (a thread that holds the
    // callback lock applies them instead), the other takes the callback lock.
    void applyChangesOnAudioThread();
    void applyChangesNow();
    void applyChange(int index, float value);

    // Changes made off the message thread (host automation, often on the audio thread) only raise this
    // flag: posting a change message there would lock and allocate inside the message queue. The timer
    // passes it on from the message thread.
    std::atomic<bool> changePending{false};
    void timerCallback() override;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(KestruneRoom)
};
