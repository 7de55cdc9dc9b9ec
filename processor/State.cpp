#include "KestruneRoom.h"

#include "DocumentInput.h"
#include "FileSave.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iomanip>
#include <locale>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

namespace
{
constexpr const char* kTag = "KestruneRoom";
constexpr juce::uint32 kBlobMagic = 0x21324356;

// Editor size limits, px.
constexpr int kMinWidth = 367, kMaxWidth = 1102, kMinHeight = 230, kMaxHeight = 690;

// 20 significant digits, shortest general form, whatever the C locale: 1 -> "1", 1/12f -> "0.0833...975".
juce::String formatNormalised(float value)
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << std::setprecision(20) << static_cast<double>(value);
    return juce::String(out.str());
}

std::optional<juce::String> findAttribute(const juce::XmlElement& element, juce::StringRef name)
{
    for (int i = 0; i < element.getNumAttributes(); ++i)
        if (element.getAttributeName(i).equalsIgnoreCase(name))
            return element.getAttributeValue(i);
    return std::nullopt;
}

// Number text with nothing else around it but blanks; an optional leading '+'.
template <typename T>
std::optional<T> parseNumber(const juce::String& text)
{
    const auto utf8 = text.trim().toStdString();
    const char* first = utf8.data();
    const char* last = first + utf8.size();
    if (first != last && *first == '+' && (last - first) > 1 && first[1] != '-')
        ++first;
    T value{};
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || first == last)
        return std::nullopt;
    return value;
}

// A parameter value that is not a finite number counts as missing; a finite one is held to 0..1.
std::optional<float> normalisedAttribute(const juce::XmlElement& element, juce::StringRef name)
{
    const auto text = findAttribute(element, name);
    if (!text)
        return std::nullopt;
    const auto value = parseNumber<double>(*text);
    if (!value || !std::isfinite(*value))
        return std::nullopt;
    return static_cast<float>(std::clamp(*value, 0.0, 1.0));
}

bool boolAttribute(const juce::XmlElement& element, juce::StringRef name)
{
    const auto text = findAttribute(element, name);
    if (!text)
        return false;
    const auto first = text->trimStart()[0];
    return first == '1' || first == 't' || first == 'T' || first == 'y' || first == 'Y';
}

int sizeAttribute(const juce::XmlElement& element, juce::StringRef name, int current, int minimum, int maximum)
{
    const auto text = findAttribute(element, name);
    if (!text)
        return current;
    const auto value = parseNumber<int>(*text);
    return value && *value >= minimum && *value <= maximum ? *value : current;
}

bool hasStateTag(const juce::XmlElement& element) { return element.getTagName().equalsIgnoreCase(kTag); }

// Preset names are held to this many characters wherever they come from, so that no state this
// processor writes grows past what its own readers take (a name of '"' is six times as long escaped).
constexpr int kMaxPresetNameLength = 256;

// The name as a document can carry it: XML has no way to write most control characters, so they go.
juce::String storablePresetName(const juce::String& name)
{
    const auto isXmlCharacter = [](juce::juce_wchar c) {
        return c == 0x9 || c == 0xa || c == 0xd || (c >= 0x20 && c <= 0xd7ff) || (c >= 0xe000 && c <= 0xfffd) ||
               (c >= 0x10000 && c <= 0x10ffff);
    };
    juce::String result;
    int length = 0;
    for (auto p = name.getCharPointer(); !p.isEmpty() && length < kMaxPresetNameLength;)
        if (const auto c = p.getAndAdvance(); isXmlCharacter(c))
        {
            result += c;
            ++length;
        }
    return result;
}

// Any well-formed XML document; only its root element is kept, the readers need nothing else.
std::unique_ptr<juce::XmlElement> parseDocument(std::string_view text)
{
    return kestrune::parseXml(text, kestrune::XmlDepth::rootOnly);
}

// The inverse of copyXmlToBinary, with its checks: magic, length at least 1, text clipped to the block.
std::unique_ptr<juce::XmlElement> unpackBlob(const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 8)
        return {};
    const auto* bytes = static_cast<const char*>(data);
    if (juce::ByteOrder::littleEndianInt(bytes) != kBlobMagic)
        return {};
    const auto storedLength = static_cast<juce::int32>(juce::ByteOrder::littleEndianInt(bytes + 4));
    if (storedLength < 1)
        return {};
    const std::string_view text(bytes + 8, static_cast<size_t>(juce::jmin(sizeInBytes - 8, storedLength)));
    // The text ends at its zero byte.
    return parseDocument(text.substr(0, text.find('\0')));
}
} // namespace

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")

void KestruneRoom::writeStateAttributes(juce::XmlElement& element)
{
    element.setAttribute("pluginVersion", kVersion);
    element.setAttribute("presetName", storablePresetName(presetName));
    for (int k = 0; k < getNumParameters(); ++k)
        element.setAttribute(getParameterName(k), formatNormalised(getParameter(k)));
}

void KestruneRoom::getStateInformation(juce::MemoryBlock& destData)
{
    juce::XmlElement element(kTag);
    writeStateAttributes(element);
    element.setAttribute("mixLock", mixLock ? 1 : 0);
    element.setAttribute("uiWidth", uiWidth);
    element.setAttribute("uiHeight", uiHeight);

    // copyXmlToBinary's layout, but with the text as the document has it: one line, no XML header.
    const auto text = element.toString(juce::XmlElement::TextFormat().singleLine().withoutHeader());
    const auto length = text.getNumBytesAsUTF8();
    destData.reset();
    juce::MemoryOutputStream out(destData, false);
    out.writeInt(static_cast<int>(kBlobMagic));
    out.writeInt(static_cast<int>(length));
    out.write(text.toRawUTF8(), length);
    out.writeByte(0);
}

void KestruneRoom::setStateInformation(const void* data, int sizeInBytes)
{
    if (const auto element = unpackBlob(data, sizeInBytes))
        readStateFromXml(*element);
}

void KestruneRoom::readStateFromXml(const juce::XmlElement& element)
{
    if (hasStateTag(element))
    {
        setPresetName(storablePresetName(findAttribute(element, "presetName").value_or(juce::String())));
        // The host's own value, not the mix lock, decides here: a restored session is what was saved.
        for (int k = 0; k < getNumParameters(); ++k)
            setParameter(k, normalisedAttribute(element, getParameterName(k)).value_or(getParameter(k)));
        sendChangeMessage();

        // Wrappers that cache each value show stale ones unless told; no gesture, so no automation. The
        // LV2's host holds the values in its ports, and its window brings them up to date itself.
        if (wrapperType != wrapperType_LV2)
            for (int k = 0; k < getNumParameters(); ++k)
                sendParamChangeMessageToListeners(k, getParameter(k));
    }

    mixLock = boolAttribute(element, "mixLock");
    uiWidth = sizeAttribute(element, "uiWidth", uiWidth, kMinWidth, kMaxWidth);
    uiHeight = sizeAttribute(element, "uiHeight", uiHeight, kMinHeight, kMaxHeight);
}

void KestruneRoom::getStateAsText(juce::String& destination)
{
    juce::XmlElement element(kTag);
    writeStateAttributes(element);
    destination = element.toString(juce::XmlElement::TextFormat().singleLine().withoutHeader());
}

bool KestruneRoom::savePresetFile(const juce::File& file)
{
    juce::XmlElement element(kTag);
    writeStateAttributes(element);
    juce::XmlElement::TextFormat format;
    format.customEncoding = "UTF-8";
    format.lineWrapLength = 60;
    return kestrune::replaceFileWhole(file, element.toString(format).toStdString());
}

namespace
{
// Presets and pasted text reach the host as automation: one gesture per parameter, "mix" last and
// only while the mix lock is off.
void applyPresetDocument(KestruneRoom& processor, const juce::XmlElement& element)
{
    if (!hasStateTag(element))
        return;
    processor.setPresetName(storablePresetName(findAttribute(element, "presetName").value_or(juce::String())));

    const auto apply = [&](int k) {
        processor.beginParameterChangeGesture(k);
        const auto value = normalisedAttribute(element, processor.getParameterName(k)).value_or(processor.getParameter(k));
        processor.setParameterNotifyingHost(k, value);
        processor.endParameterChangeGesture(k);
    };
    for (int k = 1; k < processor.getNumParameters(); ++k)
        apply(k);
    if (!processor.mixLock)
        apply(0);
}
} // namespace

void KestruneRoom::setStateFromText(const juce::String& text)
{
    if (const auto element = parseDocument({text.toRawUTF8(), text.getNumBytesAsUTF8()}))
        applyPresetDocument(*this, *element);
}

void KestruneRoom::loadPresetFile(const juce::File& file)
{
    if (const auto bytes = kestrune::readRegularFile(file))
        if (const auto element = parseDocument(*bytes))
            applyPresetDocument(*this, *element);
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
