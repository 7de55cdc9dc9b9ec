// Hostile and damaged input through every way a document comes in: host state, pasted text, preset
// files and both preferences files. Each input is refused (or gives the default preferences) and
// changes nothing else; the well-formed ones that once hung or were refused load as any other.
#include "KestruneRoom.h"
#include "PluginTestUtils.h"

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

namespace
{
JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
using kestrune::plugintest::blobOf;

enum class Special
{
    none,
    linkToDevZero, // a file entry that is a symbolic link to /dev/zero
    fifo,          // a file entry that is a FIFO, with no writer
};

struct Input
{
    const char* what;
    std::string document;         // as a state document would come
    std::string preferences = {}; // as a preferences file would be; empty: the document's bytes
    Special special = Special::none;
};

std::string repeated(const std::string& text, int times)
{
    std::string result;
    for (int i = 0; i < times; ++i)
        result += text;
    return result;
}

// "CPRP" and a gzip stream: JUCE's compressed binary properties, here holding GUIMode = OldSchool.
std::string compressedBinaryPreferences()
{
    juce::MemoryOutputStream out;
    out.writeInt(static_cast<int>(juce::ByteOrder::makeInt('C', 'P', 'R', 'P')));
    {
        juce::GZIPCompressorOutputStream zipped(out, 9);
        zipped.writeInt(1);
        zipped.writeString("GUIMode");
        zipped.writeString("OldSchool");
    }
    return std::string(static_cast<const char*>(out.getData()), out.getDataSize());
}

std::vector<Input> hostileInputs()
{
    const std::string good = R"(<VALUE name="GUIMode" val="OldSchool"/>)";
    std::string laughs = "<!DOCTYPE KestruneRoom [<!ENTITY a0 \"laugh\">";
    for (int i = 1; i < 12; ++i)
        laughs += "<!ENTITY a" + std::to_string(i) + " \"" +
                  repeated("&a" + std::to_string(i - 1) + ";", 10) + "\">";
    laughs += "]><KestruneRoom presetName=\"&a11;\" mix=\"0\"/>";

    return {
        {"malformed UTF-8 in a value",
         "<KestruneRoom presetName=\"0.3\x9b\xbb\xa6\xbf"
         "7\" mix=\"0\"/>",
         "<PROPERTIES>" + good +
             "<VALUE name=\"x\" val=\"0.3\x9b\xbb\xa6\xbf"
             "7\"/></PROPERTIES>"},
        {"a blank after '<', an instruction, then text", "< r><?p?>t>"},
        {"a bare '&' and an empty character reference", "<r>&<a>&#x;>"},
        {"the same inside a document", "<KestruneRoom presetName=\"x\" mix=\"0\">&<a>&#x;>",
         "<PROPERTIES>" + good + "&<a>&#x;></PROPERTIES>"},
        {"an external DTD on /dev/zero and an entity from it",
         "<!DOCTYPE KestruneRoom SYSTEM \"/dev/zero\"><KestruneRoom presetName=\"&e;\" mix=\"0\"/>",
         "<!DOCTYPE PROPERTIES SYSTEM \"/dev/zero\"><PROPERTIES>" + good +
             "<VALUE name=\"x\" val=\"&e;\"/></PROPERTIES>"},
        {"a parameter entity on /dev/zero",
         "<!DOCTYPE KestruneRoom [<!ENTITY % p SYSTEM \"/dev/zero\"> %p;]><KestruneRoom mix=\"0\"/>",
         "<!DOCTYPE PROPERTIES [<!ENTITY % p SYSTEM \"/dev/zero\"> %p;]><PROPERTIES>" + good +
             "</PROPERTIES>"},
        {"entities that multiply", laughs},
        {"an internal DTD alone",
         "<!DOCTYPE KestruneRoom [<!ATTLIST KestruneRoom mix CDATA \"0\">]><KestruneRoom/>",
         "<!DOCTYPE PROPERTIES []><PROPERTIES>" + good + "</PROPERTIES>"},
        {"compressed binary preferences", compressedBinaryPreferences()},
        {"elements opened without end", "<KestruneRoom mix=\"0\">" + repeated("<a>", 100000),
         "<PROPERTIES>" + good + repeated("<a>", 100000)},
        {"more than any document holds", "<KestruneRoom mix=\"0\"" + std::string(2u << 20, ' ') + "/>",
         "<PROPERTIES>" + good + std::string(2u << 20, ' ') + "</PROPERTIES>"},
        {"a link to /dev/zero", "", "", Special::linkToDevZero},
        {"a FIFO without a writer", "", "", Special::fifo},
    };
}

class HostileInput : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        folder = juce::File::getSpecialLocation(juce::File::tempDirectory)
                     .getNonexistentChildFile("kestrune-hostile-" + juce::String(::getpid()), "");
        ASSERT_TRUE(folder.createDirectory());
    }
    void TearDown() override { folder.deleteRecursively(); }

    std::unique_ptr<KestruneRoom> makeProcessor(const juce::File& preferences) const
    {
        return std::make_unique<KestruneRoom>(preferences);
    }

    static std::string hostText(KestruneRoom& p)
    {
        juce::MemoryBlock block;
        p.getStateInformation(block);
        return std::string(static_cast<const char*>(block.getData()), block.getSize());
    }

    static void changeEverything(KestruneRoom& p)
    {
        for (int k = 0; k < 20; ++k)
            p.setParameter(k, std::fmod(0.37f + 0.0471f * static_cast<float>(k), 1.0f));
        p.setPresetName("Before");
        p.mixLock = false;
        p.uiWidth = 900;
    }

    // Puts the input where a file entry reads it.
    static void place(const Input& input, const juce::File& file, const std::string& bytes)
    {
        file.getParentDirectory().createDirectory();
        file.deleteFile();
        switch (input.special)
        {
        case Special::none:
            ASSERT_TRUE(file.replaceWithData(bytes.data(), bytes.size()));
            break;
        case Special::linkToDevZero:
            ASSERT_EQ(::symlink("/dev/zero", file.getFullPathName().toRawUTF8()), 0);
            break;
        case Special::fifo:
            ASSERT_EQ(::mkfifo(file.getFullPathName().toRawUTF8(), 0600), 0);
            break;
        }
    }

    juce::File folder;
};

TEST_F(HostileInput, EveryDocumentEntryRefusesItAndChangesNothing)
{
    auto processor = makeProcessor(folder.getChildFile("prefs"));
    changeEverything(*processor);
    const auto before = hostText(*processor);
    const auto preset = folder.getChildFile("input.kpreset");

    for (const auto& input : hostileInputs())
    {
        if (input.special == Special::none)
        {
            const auto blob = blobOf(input.document);
            processor->setStateInformation(blob.getData(), static_cast<int>(blob.getSize()));
            EXPECT_EQ(hostText(*processor), before) << "host state: " << input.what;

            processor->setStateFromText(
                juce::String::fromUTF8(input.document.data(), static_cast<int>(input.document.size())));
            EXPECT_EQ(hostText(*processor), before) << "paste: " << input.what;
        }
        place(input, preset, input.document);
        processor->loadPresetFile(preset);
        EXPECT_EQ(hostText(*processor), before) << "preset file: " << input.what;
    }
}

// A damaged preferences file (user or common) gives the defaults, and is replaced by a good one.
TEST_F(HostileInput, PreferencesGiveTheDefaults)
{
    for (const auto& input : hostileInputs())
        for (const char* which : {"user", "common"})
        {
            const auto prefs = folder.getChildFile("prefs-" + juce::String(which));
            const auto file = prefs.getChildFile(which).getChildFile("KestruneRoomPreferences.settings");
            place(input, file, input.preferences.empty() ? input.document : input.preferences);
            {
                auto processor = makeProcessor(prefs);
                EXPECT_EQ(processor->guiScheme, 0) << which << ": " << input.what;
            }
            juce::PropertiesFile::Options options;
            KestrunePropertiesFile reread(file, options);
            EXPECT_EQ(reread.getValue("PluginName"), "KestruneRoom") << which << ": " << input.what;
        }
}

// Well-formed documents are documents, whatever once made the parser stumble over them.
TEST_F(HostileInput, WellFormedDocumentsLoad)
{
    const std::string body = R"(presetName="Loaded" mix="0.25")";
    const std::vector<std::string> documents{
        "<KestruneRoom " + body + "><?pi?>text</KestruneRoom>",
        "\xef\xbb\xbf\r\n  <?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KestruneRoom " + body + "/>",
        "<?xml version='1.0' encoding='ISO-8859-1'?><!-- a comment --><KestruneRoom presetName='Loaded' "
        "mix='0.25'/>",
        "<KestruneRoom " + body + "><![CDATA[<&>]]><child a=\"&lt;&amp;&#x41;\">" + repeated("<a>", 200) +
            repeated("</a>", 200) + "</child></KestruneRoom>",
    };
    for (size_t i = 0; i < documents.size(); ++i)
    {
        const auto& text = documents[i];
        auto viaHost = makeProcessor(folder.getChildFile("prefs"));
        const auto blob = blobOf(text);
        viaHost->setStateInformation(blob.getData(), static_cast<int>(blob.getSize()));
        auto viaPaste = makeProcessor(folder.getChildFile("prefs"));
        viaPaste->setStateFromText(juce::String::fromUTF8(text.data(), static_cast<int>(text.size())));
        auto viaFile = makeProcessor(folder.getChildFile("prefs"));
        const auto preset = folder.getChildFile("well-formed.kpreset");
        ASSERT_TRUE(preset.replaceWithData(text.data(), text.size()));
        viaFile->loadPresetFile(preset);
        for (auto* p : {viaHost.get(), viaPaste.get(), viaFile.get()})
        {
            EXPECT_EQ(p->getPresetName(), "Loaded") << "document " << i;
            EXPECT_EQ(p->getParameter(0), 0.25f) << "document " << i;
        }
    }

    // A preset file in UTF-16 with its byte-order mark.
    const auto utf16 = juce::String("<KestruneRoom " + body + "/>");
    juce::MemoryOutputStream out;
    out.writeShort(static_cast<short>(0xfeff));
    for (auto p = utf16.getCharPointer(); !p.isEmpty();)
        out.writeShort(static_cast<short>(p.getAndAdvance()));
    const auto preset = folder.getChildFile("utf16.kpreset");
    ASSERT_TRUE(preset.replaceWithData(out.getData(), out.getDataSize()));
    auto viaFile = makeProcessor(folder.getChildFile("prefs"));
    viaFile->loadPresetFile(preset);
    EXPECT_EQ(viaFile->getPresetName(), "Loaded");

    // Preferences with an instruction and text among the values.
    const auto common = folder.getChildFile("prefs/common/KestruneRoomPreferences.settings");
    ASSERT_TRUE(common.replaceWithText(
        R"(<PROPERTIES><?pi?>text<VALUE name="GUIMode" val="OldSchool"/></PROPERTIES>)"));
    EXPECT_EQ(makeProcessor(folder.getChildFile("prefs"))->guiScheme, 1);
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
} // namespace
