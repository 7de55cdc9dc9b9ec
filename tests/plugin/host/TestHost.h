#pragma once

// A small plug-in host in its own shared library: it carries its own copy of JUCE built with VST3 and
// LV2 hosting, so that a test that also links the processor's shared code never sees two definitions
// of the same framework symbols. Only standard types cross this boundary.

#include <memory>
#include <string>
#include <vector>

#define KESTRUNE_TESTHOST_API __attribute__((visibility("default")))

namespace kestrune::testhost
{

struct HostedParameter
{
    std::string name;
    float defaultValue = 0.0f;
    float value = 0.0f;
    std::string text;
};

class HostedPlugin
{
public:
    virtual ~HostedPlugin() = default;
    virtual std::string name() = 0;
    virtual int numInputChannels() = 0;
    virtual int numOutputChannels() = 0;
    virtual std::vector<HostedParameter> parameters() = 0;
    virtual void setParameter(int index, float normalised) = 0;
    // Runs channels[c] (all of one length) through the plug-in in blocks of the prepared size, in place.
    virtual void process(std::vector<std::vector<float>>& channels) = 0;
    virtual std::vector<char> getState() = 0;
    virtual void setState(const std::vector<char>& state) = 0;
};

// One framework initialisation and the two formats; keep it alive for as long as any plug-in it loaded.
class HostSession
{
public:
    virtual ~HostSession() = default;
    // format: "VST3" (bundle path) or "LV2" (folder that holds the bundle); inputs: 1 or 2.
    virtual std::unique_ptr<HostedPlugin> load(const std::string& format, const std::string& path, double rate,
                                               int blockSize, int inputs, std::string& error) = 0;
};

KESTRUNE_TESTHOST_API std::unique_ptr<HostSession> openHostSession();

} // namespace kestrune::testhost
