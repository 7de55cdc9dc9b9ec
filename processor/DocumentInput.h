#pragma once

// The one way in for every document the processor reads (host state, preset files, pasted text,
// preferences): files are read only when they are regular files, and never past a bound; text is parsed
// by expat, never by JUCE's XmlDocument, which loops or reads past its buffer on some malformed input.

#include <juce_core/juce_core.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune
{
// A state document is under 2 kB, a preferences file a few hundred bytes: anything larger is refused.
inline constexpr size_t kMaxDocumentBytes = 1u << 20;

// The bytes of a regular file (a symbolic link to one will do), no more than maxBytes of them actually
// read; nothing for a device, a FIFO, a folder, a missing file, a longer file or a read error.
std::optional<std::string> readRegularFile(const juce::File& file, size_t maxBytes = kMaxDocumentBytes);

enum class XmlDepth
{
    rootOnly,  // the root's tag and attributes; what lies inside is checked, not kept
    wholeTree, // every element and text (up to a few thousand nodes, 32 levels deep)
};

// Well-formed XML in UTF-8 (or UTF-16 with a byte-order mark) without a document type declaration, so
// no entity but the five predefined ones and character references. Nothing for anything else. In UTF-8,
// blanks before the element and blanks or control characters after it are forgiven.
std::unique_ptr<juce::XmlElement> parseXml(std::string_view text, XmlDepth depth);
} // namespace kestrune
