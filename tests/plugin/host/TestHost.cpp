#include "TestHost.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_events/juce_events.h>
#include <juce_gui_basics/juce_gui_basics.h>

namespace kestrune::testhost
{
namespace
{
class JuceHostedPlugin final : public HostedPlugin
{
  public:
    JuceHostedPlugin(std::unique_ptr<juce::AudioPluginInstance> p, double rate, int block)
        : instance(std::move(p)), blockSize(block)
    {
        instance->prepareToPlay(rate, blockSize);
    }
    ~JuceHostedPlugin() override { instance->releaseResources(); }

    std::string name() override { return instance->getName().toStdString(); }
    int numInputChannels() override { return instance->getTotalNumInputChannels(); }
    int numOutputChannels() override { return instance->getTotalNumOutputChannels(); }

    std::vector<HostedParameter> parameters() override
    {
        std::vector<HostedParameter> result;
        for (auto* p : instance->getParameters())
            result.push_back({p->getName(1024).toStdString(), p->getDefaultValue(), p->getValue(),
                              p->getCurrentValueAsText().toStdString()});
        return result;
    }

    void setParameter(int index, float normalised) override
    {
        if (auto* p = instance->getParameters()[index])
        {
            p->beginChangeGesture();
            p->setValueNotifyingHost(normalised);
            p->endChangeGesture();
        }
    }

    void process(std::vector<std::vector<float>>& channels) override
    {
        const int ins = instance->getTotalNumInputChannels();
        const int outs = instance->getTotalNumOutputChannels();
        const int width = juce::jmax(ins, outs);
        const int length = channels.empty() ? 0 : static_cast<int>(channels[0].size());
        channels.resize(static_cast<size_t>(outs), std::vector<float>(static_cast<size_t>(length), 0.0f));
        juce::AudioBuffer<float> buffer(width, blockSize);
        juce::MidiBuffer midi;
        for (int start = 0; start < length; start += blockSize)
        {
            const int n = juce::jmin(blockSize, length - start);
            buffer.setSize(width, n, false, false, true);
            buffer.clear();
            for (int c = 0; c < ins; ++c)
                buffer.copyFrom(c, 0, channels[(size_t)c].data() + start, n);
            {
                const juce::ScopedLock lock(instance->getCallbackLock());
                instance->processBlock(buffer, midi);
            }
            for (int c = 0; c < outs; ++c)
                std::copy_n(buffer.getReadPointer(c), n, channels[(size_t)c].data() + start);
        }
    }

    std::vector<char> getState() override
    {
        juce::MemoryBlock block;
        instance->getStateInformation(block);
        const auto* data = static_cast<const char*>(block.getData());
        return {data, data + block.getSize()};
    }

    void setState(const std::vector<char>& state) override
    {
        instance->setStateInformation(state.data(), static_cast<int>(state.size()));
    }

  private:
    std::unique_ptr<juce::AudioPluginInstance> instance;
    int blockSize;
};

class JuceHostSession final : public HostSession
{
  public:
    JuceHostSession()
    {
        formats.addFormat(new juce::VST3PluginFormat());
        formats.addFormat(new juce::LV2PluginFormat());
    }

    std::unique_ptr<HostedPlugin> load(const std::string& formatName, const std::string& path, double rate,
                                       int blockSize, int inputs, std::string& error) override
    {
        juce::AudioPluginFormat* format = nullptr;
        for (auto* f : formats.getFormats())
            if (f->getName() == juce::String(formatName))
                format = f;
        if (format == nullptr)
        {
            error = "no such format: " + formatName;
            return {};
        }

        // The LV2 host ignores LV2_PATH: it finds bundles through the folders it is given, and lists the
        // system's bundles (/usr/lib/lv2 and the like) with them. Only the plug-ins that the given
        // folder's manifests name are ours.
        juce::StringArray identifiers;
        if (formatName == "LV2")
        {
            juce::String manifests;
            for (const auto& manifest :
                 juce::File(juce::String(path)).findChildFiles(juce::File::findFiles, true, "manifest.ttl"))
                manifests << manifest.loadFileAsString();
            for (const auto& uri :
                 format->searchPathsForPlugins(juce::FileSearchPath(juce::String(path)), false, false))
                if (manifests.contains("<" + uri + ">"))
                    identifiers.add(uri);
        }
        else
        {
            identifiers.add(juce::String(path));
        }

        juce::OwnedArray<juce::PluginDescription> descriptions;
        for (const auto& id : identifiers)
            format->findAllTypesForFile(descriptions, id);
        if (descriptions.isEmpty())
        {
            error = "no plug-in found in " + path;
            return {};
        }

        juce::String message;
        auto instance = formats.createPluginInstance(*descriptions[0], rate, blockSize, message);
        if (instance == nullptr)
        {
            error = message.toStdString();
            return {};
        }

        auto layout = instance->getBusesLayout();
        if (!layout.inputBuses.isEmpty())
            layout.inputBuses.getReference(0) =
                inputs == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
        if (!instance->setBusesLayout(layout) && inputs == 1)
        {
            error = "the plug-in refused the mono-in layout";
            return {};
        }
        return std::make_unique<JuceHostedPlugin>(std::move(instance), rate, blockSize);
    }

  private:
    juce::ScopedJuceInitialiser_GUI juce;
    juce::AudioPluginFormatManager formats;
};
} // namespace

std::unique_ptr<HostSession> openHostSession()
{
    return std::make_unique<JuceHostSession>();
}

} // namespace kestrune::testhost
