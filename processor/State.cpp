#include "KestruneRoom.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iomanip>
#include <locale>
#include <optional>
#include <sstream>
#include <string>

namespace
{
constexpr const char* kTag = "KestruneRoom";
constexpr juce::uint32 kBlobMagic = 0x21324356;

// A state document is under 2 kB; anything far larger is not one, and is refused before parsing.
constexpr size_t kMaxDocumentBytes = 1u << 20;
// The parser recurses once per nested element; a document has one element, so this bounds the stack.
constexpr int kMaxStartTags = 256;

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

// Refuses what the XML parser cannot take safely: entity declarations (it expands them recursively,
// without a bound), more start tags than a state document could hold, and a processing instruction
// inside the element (followed by text, it sends the parser round in a loop that never ends).
bool isSafeToParse(const juce::String& text)
{
    if (text.containsIgnoreCase("<!entity"))
        return false;
    int startTags = 0;
    for (auto p = text.getCharPointer(); !p.isEmpty();)
        if (p.getAndAdvance() == '<')
        {
            const auto next = *p;
            if (juce::CharacterFunctions::isLetter(next) || next == '_' || next == ':')
            {
                if (++startTags > kMaxStartTags)
                    return false;
            }
            else if (next == '?' && startTags > 0)
                return false;
        }
    return true;
}

// Blanks and control characters after the element are no part of the document: editors and old
// transfer tools leave them there (a DOS end-of-file Ctrl-Z, say). Bytes of UTF-8 sequences are all
// above 0x7f, so this never cuts a character in two.
juce::String withoutTrailingControls(const juce::String& text)
{
    const char* utf8 = text.toRawUTF8();
    auto length = text.getNumBytesAsUTF8();
    while (length > 0 && (static_cast<unsigned char>(utf8[length - 1]) <= ' ' || utf8[length - 1] == '\x7f'))
        --length;
    return juce::String::fromUTF8(utf8, static_cast<int>(length));
}

// Parses text in memory only: no input source, so nothing refers the parser to other files. The
// parser steps backwards over bytes, which loops forever on malformed UTF-8, so that is refused first;
// and what it only warns about (an unknown entity, say) counts as not parsing. It also takes a start tag
// cut short by the end of the text, so a document that does not end in '>' is refused as truncated.
std::unique_ptr<juce::XmlElement> parseDocument(const juce::String& input)
{
    const auto bytes = input.getNumBytesAsUTF8();
    if (bytes > kMaxDocumentBytes ||
        !juce::CharPointer_UTF8::isValidString(input.toRawUTF8(), static_cast<int>(bytes)))
        return {};
    const auto text = withoutTrailingControls(input);
    if (!text.endsWithChar('>') || !isSafeToParse(text))
        return {};
    juce::XmlDocument document(text);
    auto element = document.getDocumentElement();
    if (document.getLastParseError().isNotEmpty())
        return {};
    return element;
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
    const auto length = static_cast<size_t>(juce::jmin(sizeInBytes - 8, storedLength));
    if (length > kMaxDocumentBytes)
        return {};
    // The text ends at its zero byte; garbage that is not UTF-8 is no document.
    const auto* text = bytes + 8;
    const auto textLength = static_cast<size_t>(std::find(text, text + length, '\0') - text);
    if (!juce::CharPointer_UTF8::isValidString(text, static_cast<int>(textLength)))
        return {};
    return parseDocument(juce::String::fromUTF8(text, static_cast<int>(textLength)));
}
} // namespace

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")

void KestruneRoom::writeStateAttributes(juce::XmlElement& element)
{
    element.setAttribute("pluginVersion", kVersion);
    element.setAttribute("presetName", presetName);
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
        presetName = findAttribute(element, "presetName").value_or(juce::String());
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
    return element.writeTo(file, format);
}

namespace
{
// Presets and pasted text reach the host as automation: one gesture per parameter, "mix" last and
// only while the mix lock is off.
void applyPresetDocument(KestruneRoom& processor, const juce::XmlElement& element)
{
    if (!hasStateTag(element))
        return;
    processor.setPresetName(findAttribute(element, "presetName").value_or(juce::String()));

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
    if (const auto element = parseDocument(text))
        applyPresetDocument(*this, *element);
}

void KestruneRoom::loadPresetFile(const juce::File& file)
{
    if (!file.existsAsFile() || file.getSize() > static_cast<juce::int64>(kMaxDocumentBytes))
        return;
    if (const auto element = parseDocument(file.loadFileAsString()))
        applyPresetDocument(*this, *element);
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
