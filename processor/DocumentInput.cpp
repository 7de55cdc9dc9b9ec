#include "DocumentInput.h"

#include <expat.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace kestrune
{
std::optional<std::string> readRegularFile(const juce::File& file, size_t maxBytes)
{
    const auto path = file.getFullPathName();
    struct stat info
    {
    };
    // Looked at before opening, so that no device is ever opened; looked at again on what was opened.
    if (path.isEmpty() || ::stat(path.toRawUTF8(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    // O_NONBLOCK: should a FIFO have taken the file's place meanwhile, opening it does not wait for a writer.
    const int fd = ::open(path.toRawUTF8(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;

    // The size the file system states is no bound (files in /proc state 0); the bytes read are.
    std::string bytes;
    char chunk[16384];
    for (;;)
    {
        const auto n = ::read(fd, chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return bytes;
        if (bytes.size() + static_cast<size_t>(n) > maxBytes)
            return std::nullopt;
        bytes.append(chunk, static_cast<size_t>(n));
    }
}

namespace
{
// Bounds on what a whole tree may build: a preferences file holds a few elements.
constexpr int kMaxLevels = 32;
constexpr int kMaxNodes = 4096;
// Per element, the root alone included: JUCE's element reaches its attributes through a list, so every
// lookup costs their number (a state document has 25).
constexpr int kMaxAttributes = 256;

// Builds the elements expat reports; a document that exceeds a bound or declares a DTD stops the parse.
struct Builder
{
    XML_Parser parser;
    XmlDepth depth;
    std::unique_ptr<juce::XmlElement> root;
    std::vector<juce::XmlElement*> open; // the kept elements from the root down to the current one
    int level = 0;                       // the current element's depth, the root's is 1
    int nodes = 0;
    std::string text; // character data of the innermost kept element, not yet added
    bool refused = false;

    void refuse()
    {
        refused = true;
        XML_StopParser(parser, XML_FALSE);
    }
    bool keepsCurrent() const { return !open.empty() && static_cast<int>(open.size()) == level; }

    // Blank text between elements is layout, as JUCE's own reader has it.
    void addPendingText()
    {
        if (text.find_first_not_of(" \t\r\n") != std::string::npos)
        {
            open.back()->addTextElement(juce::String::fromUTF8(text.data(), static_cast<int>(text.size())));
            if (++nodes > kMaxNodes)
                refuse();
        }
        text.clear();
    }

    void start(const XML_Char* name, const XML_Char** attributes)
    {
        ++level;
        if (depth == XmlDepth::rootOnly && level > 1)
            return;
        if (level > kMaxLevels)
            return refuse();
        if (!open.empty())
            addPendingText();

        auto element = std::make_unique<juce::XmlElement>(juce::String::fromUTF8(name));
        int count = 0;
        for (auto** a = attributes; a[0] != nullptr; a += 2)
        {
            if (++count > kMaxAttributes || ++nodes > kMaxNodes)
                return refuse();
            element->setAttribute(juce::Identifier(juce::String::fromUTF8(a[0])),
                                  juce::String::fromUTF8(a[1]));
        }
        if (++nodes > kMaxNodes)
            return refuse();

        auto* raw = element.get();
        if (open.empty())
            root = std::move(element);
        else
            open.back()->addChildElement(element.release());
        open.push_back(raw);
    }

    void end()
    {
        if (keepsCurrent())
        {
            addPendingText();
            open.pop_back();
        }
        --level;
    }

    void characters(const XML_Char* data, int length)
    {
        if (depth == XmlDepth::wholeTree && keepsCurrent())
            text.append(data, static_cast<size_t>(length));
    }
};

bool startsWithUtf16ByteOrderMark(std::string_view text)
{
    return text.size() >= 2 &&
           ((text[0] == '\xff' && text[1] == '\xfe') || (text[0] == '\xfe' && text[1] == '\xff'));
}

// What editors and transfer tools leave around the element of UTF-8 text, a byte-order mark or blank
// lines before it and blanks or control characters after it (a DOS end-of-file Ctrl-Z, say), is no part
// of the document. Bytes of UTF-8 sequences are all above 0x7f, so this never cuts a character in two.
std::string_view withoutSurroundings(std::string_view text)
{
    if (text.substr(0, 3) == "\xef\xbb\xbf")
        text.remove_prefix(3);
    while (!text.empty() &&
           (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' || text.front() == '\n'))
        text.remove_prefix(1);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '\x7f'))
        text.remove_suffix(1);
    return text;
}
} // namespace

std::unique_ptr<juce::XmlElement> parseXml(std::string_view text, XmlDepth depth)
{
    const bool utf16 = startsWithUtf16ByteOrderMark(text);
    if (!utf16)
        text = withoutSurroundings(text);
    if (text.empty() || text.size() > kMaxDocumentBytes)
        return {};
    // The encoding is fixed here, whatever the document's declaration says.
    const XML_Parser parser = XML_ParserCreate(utf16 ? "UTF-16" : "UTF-8");
    if (parser == nullptr)
        return {};
    const struct Freer
    {
        XML_Parser parser;
        ~Freer() { XML_ParserFree(parser); }
    } freer{parser};

    Builder builder{parser, depth};
    XML_SetUserData(parser, &builder);
    // No DTD at all: internal entities could multiply, external ones would read other files.
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetStartDoctypeDeclHandler(parser, [](void* b, const XML_Char*, const XML_Char*, const XML_Char*, int)
                                   { static_cast<Builder*>(b)->refuse(); });
    XML_SetElementHandler(
        parser,
        [](void* b, const XML_Char* name, const XML_Char** attributes)
        { static_cast<Builder*>(b)->start(name, attributes); },
        [](void* b, const XML_Char*) { static_cast<Builder*>(b)->end(); });
    XML_SetCharacterDataHandler(parser, [](void* b, const XML_Char* data, int length)
                                { static_cast<Builder*>(b)->characters(data, length); });

    const auto status = XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE);
    if (status != XML_STATUS_OK || builder.refused)
        return {};
    return std::move(builder.root);
}
} // namespace kestrune
