// dsp.ttl, the plug-in's description: JUCE's ports as its wrapper numbers them, then the twenty
// parameters as control input ports, with the processor's own names and defaults.

#include "LV2Plugin.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <charconv>
#include <sstream>

namespace kestrune::lv2
{
namespace
{
// Nine significant digits give every float back; lilv reads the literal through a double and
// narrows it, which stays far inside the float's rounding interval. Always a decimal, never an integer.
std::string decimal(float value)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof(text), value, std::chars_format::general, 9).ptr;
    std::string result(text, end);
    if (result.find_first_of(".e") == std::string::npos)
        result += ".0";
    return result;
}

void writeControlPort(std::ostream& out, KestruneRoom& processor, int k)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    const auto name = processor.getParameterName(k).toStdString();
    const float defaultValue = processor.getParameterDefaultValue(k);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    out << "\t] , [\n"
           "\t\ta lv2:InputPort , lv2:ControlPort ;\n"
           "\t\tlv2:index "
        << controlPort(k) << " ;\n\t\tlv2:symbol \"" << name << "\" ;\n\t\tlv2:name \"" << name
        << "\" ;\n\t\tlv2:default " << decimal(defaultValue)
        << " ;\n"
           "\t\tlv2:minimum 0.0 ;\n"
           "\t\tlv2:maximum 1.0 ;\n";
    if (k != kType)
        return;
    out << "\t\tlv2:portProperty lv2:enumeration ;\n\t\tlv2:scalePoint";
    for (int m = 0; m < kNumModes; ++m)
        out << (m == 0 ? " [\n" : " , [\n") << "\t\t\trdfs:label \"" << kModeNames[(size_t)m]
            << "\" ;\n\t\t\trdf:value " << decimal(modeEntry(static_cast<uint32_t>(m))) << " ;\n\t\t]";
    out << " ;\n";
}

std::string description(KestruneRoom& processor)
{
    // Room for JUCE's wrapper to write a message per parameter into its output sequence, as it asks.
    constexpr int kSequenceBytes = kNumParameters * 72 + 8192;
    const juce::String version(JucePlugin_VersionString);
    const auto versionParts = juce::StringArray::fromTokens(version, ".", "");

    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << "@prefix atom:  <http://lv2plug.in/ns/ext/atom#> .\n"
           "@prefix bufs:  <http://lv2plug.in/ns/ext/buf-size#> .\n"
           "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
           "@prefix foaf:  <http://xmlns.com/foaf/0.1/> .\n"
           "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
           "@prefix opts:  <http://lv2plug.in/ns/ext/options#> .\n"
           "@prefix pg:    <http://lv2plug.in/ns/ext/port-groups#> .\n"
           "@prefix plug:  <" JucePlugin_LV2URI ":> .\n"
           "@prefix pprop: <http://lv2plug.in/ns/ext/port-props#> .\n"
           "@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
           "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
           "@prefix rsz:   <http://lv2plug.in/ns/ext/resize-port#> .\n"
           "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
           "@prefix time:  <http://lv2plug.in/ns/ext/time#> .\n"
           "@prefix ui:    <http://lv2plug.in/ns/extensions/ui#> .\n"
           "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
           "@prefix urid:  <http://lv2plug.in/ns/ext/urid#> .\n"
           "\n"
           "plug:input_group_1\n"
           "\ta pg:InputGroup ;\n"
           "\tlv2:name \"Input\" ;\n"
           "\tlv2:symbol \"input_group_1\" .\n"
           "\n"
           "plug:output_group_1\n"
           "\ta pg:OutputGroup ;\n"
           "\tlv2:name \"Output\" ;\n"
           "\tlv2:symbol \"output_group_1\" .\n"
           "\n"
           "<" JucePlugin_LV2URI ">\n"
           "\ta lv2:Plugin , lv2:ReverbPlugin ;\n"
           "\tui:ui <" JucePlugin_LV2URI ":UI> ;\n"
           "\tdoap:name \"" JucePlugin_Name "\" ;\n"
           "\tdoap:description \"" JucePlugin_Desc "\" ;\n"
           "\tlv2:minorVersion "
        << versionParts[1].getIntValue() << " ;\n\tlv2:microVersion " << versionParts[2].getIntValue()
        << " ;\n"
           "\tdoap:maintainer [\n"
           "\t\ta foaf:Person ;\n"
           "\t\tfoaf:name \"" JucePlugin_Manufacturer "\" ;\n"
           "\t\tfoaf:homepage <" KESTRUNE_COMPANY_WEBSITE "> ;\n"
           "\t\tfoaf:mbox <mailto:" KESTRUNE_COMPANY_EMAIL "> ;\n"
           "\t] ;\n"
           "\tdoap:release [\n"
           "\t\ta doap:Version ;\n"
           "\t\tdoap:revision \"" JucePlugin_VersionString "\" ;\n"
           "\t] ;\n"
           "\tlv2:optionalFeature lv2:hardRTCapable ;\n"
           "\tlv2:requiredFeature urid:map , opts:options , bufs:boundedBlockLength ;\n"
           "\tlv2:extensionData state:interface , opts:interface ;\n"
           "\topts:supportedOption bufs:maxBlockLength , bufs:nominalBlockLength ;\n"
           "\tpg:mainInput plug:input_group_1 ;\n"
           "\tpg:mainOutput plug:output_group_1 ;\n"
           "\tlv2:port [\n";

    for (uint32_t index = kAudioIn1; index <= kAudioOut2; ++index)
    {
        const bool input = index < kAudioOut1;
        const uint32_t channel = index % 2;
        out << (index == kAudioIn1 ? "" : "\t] , [\n") << "\t\ta lv2:" << (input ? "InputPort" : "OutputPort")
            << " , lv2:AudioPort ;\n\t\tlv2:index " << index << " ;\n\t\tlv2:symbol \""
            << (input ? "audio_in_" : "audio_out_") << channel + 1 << "\" ;\n\t\tlv2:name \""
            << (input ? "Audio In " : "Audio Out ") << channel + 1
            << "\" ;\n\t\tpg:group plug:" << (input ? "input" : "output")
            << "_group_1 ;\n\t\tlv2:designation pg:" << (channel == 0 ? "left" : "right") << " ;\n";
    }
    out << "\t] , [\n"
           "\t\ta lv2:InputPort , atom:AtomPort ;\n"
           "\t\tatom:bufferType atom:Sequence ;\n"
           "\t\tatom:supports time:Position ;\n"
           "\t\trsz:minimumSize "
        << kSequenceBytes << " ;\n\t\tlv2:designation lv2:control ;\n\t\tlv2:index " << kEventsIn
        << " ;\n"
           "\t\tlv2:symbol \"in\" ;\n"
           "\t\tlv2:name \"In\" ;\n"
           "\t] , [\n"
           "\t\ta lv2:OutputPort , atom:AtomPort ;\n"
           "\t\tatom:bufferType atom:Sequence ;\n"
           "\t\trsz:minimumSize "
        << kSequenceBytes << " ;\n\t\tlv2:designation lv2:control ;\n\t\tlv2:index " << kEventsOut
        << " ;\n"
           "\t\tlv2:symbol \"out\" ;\n"
           "\t\tlv2:name \"Out\" ;\n"
           "\t] , [\n"
           "\t\ta lv2:OutputPort , lv2:ControlPort ;\n"
           "\t\tlv2:designation lv2:latency ;\n"
           "\t\tlv2:index "
        << kLatency
        << " ;\n"
           "\t\tlv2:symbol \"latency\" ;\n"
           "\t\tlv2:name \"Latency\" ;\n"
           "\t\tlv2:portProperty lv2:reportsLatency , lv2:integer , lv2:connectionOptional , pprop:notOnGUI "
           ";\n"
           "\t\tunits:unit units:frame ;\n"
           "\t] , [\n"
           "\t\ta lv2:InputPort , lv2:ControlPort ;\n"
           "\t\tlv2:designation lv2:freeWheeling ;\n"
           "\t\tlv2:index "
        << kFreeWheeling
        << " ;\n"
           "\t\tlv2:symbol \"freeWheeling\" ;\n"
           "\t\tlv2:name \"Free Wheeling\" ;\n"
           "\t\tlv2:default 0.0 ;\n"
           "\t\tlv2:minimum 0.0 ;\n"
           "\t\tlv2:maximum 1.0 ;\n"
           "\t\tlv2:portProperty lv2:toggled , lv2:connectionOptional , pprop:notOnGUI ;\n"
           "\t] , [\n"
           "\t\ta lv2:InputPort , lv2:ControlPort ;\n"
           "\t\tlv2:designation lv2:enabled ;\n"
           "\t\tlv2:index "
        << kEnabled
        << " ;\n"
           "\t\tlv2:symbol \"enabled\" ;\n"
           "\t\tlv2:name \"Enabled\" ;\n"
           "\t\tlv2:default 1.0 ;\n"
           "\t\tlv2:minimum 0.0 ;\n"
           "\t\tlv2:maximum 1.0 ;\n"
           "\t\tlv2:portProperty lv2:toggled , lv2:connectionOptional , pprop:notOnGUI ;\n";
    for (int k = 0; k < kNumParameters; ++k)
        writeControlPort(out, processor, k);
    out << "\t] .\n";
    return out.str();
}
} // namespace

bool writeDescription(const juce::File& dspTtl)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    KestruneRoom processor;
    return dspTtl.replaceWithText(description(processor), false, false, "\n");
}

} // namespace kestrune::lv2
