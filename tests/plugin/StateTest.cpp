// Host state, preset files and clipboard text: the document, its three forms, loads and bad input.
#include "KestruneRoom.h"
#include "PluginTestUtils.h"
#include <unistd.h> // getpid: test processes run in parallel

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace
{
JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")

constexpr int kParams = 20;

using kestrune::plugintest::blobOf;

struct Event
{
    char kind; // 'b' begin gesture, 'c' value change, 'e' end gesture
    int index;
    bool operator==(const Event& other) const { return kind == other.kind && index == other.index; }
};

struct Recorder : juce::AudioProcessorListener
{
    std::vector<Event> events;
    void audioProcessorParameterChanged(juce::AudioProcessor*, int index, float) override { events.push_back({'c', index}); }
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails&) override {}
    void audioProcessorParameterChangeGestureBegin(juce::AudioProcessor*, int index) override { events.push_back({'b', index}); }
    void audioProcessorParameterChangeGestureEnd(juce::AudioProcessor*, int index) override { events.push_back({'e', index}); }
};

class StateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = juce::File::getSpecialLocation(juce::File::tempDirectory).getNonexistentChildFile("kestrune-state-" + juce::String(::getpid()), "");
        ASSERT_TRUE(folder.createDirectory());
        processor = makeProcessor();
    }
    void TearDown() override
    {
        processor.reset();
        folder.deleteRecursively();
    }

    std::unique_ptr<KestruneRoom> makeProcessor() const { return std::make_unique<KestruneRoom>(folder.getChildFile("prefs")); }

    std::string hostText(KestruneRoom& p) const
    {
        juce::MemoryBlock block;
        p.getStateInformation(block);
        return std::string(static_cast<const char*>(block.getData()) + 8, block.getSize() - 9);
    }

    // Every parameter at a value unlike its default, the lock on and an unusual size.
    void changeEverything(KestruneRoom& p, float offset) const
    {
        for (int k = 0; k < kParams; ++k)
            p.setParameter(k, std::fmod(0.013f + offset + 0.0471f * static_cast<float>(k), 1.0f));
        p.setPresetName(juce::String::fromUTF8("Hall & <Room> \"1\" \xc3\xbc"));
        p.mixLock = true;
        p.uiWidth = 900;
        p.uiHeight = 563;
    }

    static void expectSameParameters(KestruneRoom& a, KestruneRoom& b)
    {
        for (int k = 0; k < kParams; ++k)
            EXPECT_EQ(a.getParameter(k), b.getParameter(k)) << a.getParameterName(k);
        EXPECT_EQ(a.getPresetName(), b.getPresetName());
    }

    juce::File folder;
    std::unique_ptr<KestruneRoom> processor;
};

TEST_F(StateTest, StateAfterConstructionHasEveryAttributeInOrder)
{
    juce::MemoryBlock block;
    processor->getStateInformation(block);
    ASSERT_GT(block.getSize(), 9u);
    const auto* bytes = static_cast<const juce::uint8*>(block.getData());
    EXPECT_EQ(juce::ByteOrder::littleEndianInt(bytes), 0x21324356u);
    EXPECT_EQ(juce::ByteOrder::littleEndianInt(bytes + 4), block.getSize() - 9);
    EXPECT_EQ(bytes[block.getSize() - 1], 0);

    const auto text = hostText(*processor);
    EXPECT_EQ(text.find("<?xml"), std::string::npos);
    EXPECT_EQ(text.find('\n'), std::string::npos);

    const auto xml = juce::parseXML(juce::String(text));
    ASSERT_NE(xml, nullptr);
    EXPECT_EQ(xml->getTagName(), "KestruneRoom");
    std::vector<juce::String> expectedNames{"pluginVersion", "presetName"};
    for (int k = 0; k < kParams; ++k)
        expectedNames.push_back(processor->getParameterName(k));
    for (const char* name : {"mixLock", "uiWidth", "uiHeight"})
        expectedNames.push_back(name);
    ASSERT_EQ(xml->getNumAttributes(), static_cast<int>(expectedNames.size()));
    for (int i = 0; i < xml->getNumAttributes(); ++i)
        EXPECT_EQ(xml->getAttributeName(i), expectedNames[(size_t) i]);

    EXPECT_EQ(xml->getStringAttribute("pluginVersion"), "1.5.1");
    EXPECT_EQ(xml->getStringAttribute("presetName"), "Default");
    EXPECT_EQ(xml->getStringAttribute("mix"), "1");
    EXPECT_EQ(xml->getStringAttribute("type"), "0.083333335816860198975");
    EXPECT_EQ(xml->getStringAttribute("mixLock"), "0");
    EXPECT_EQ(xml->getStringAttribute("uiWidth"), "735");
    EXPECT_EQ(xml->getStringAttribute("uiHeight"), "460");
}

TEST_F(StateTest, NumbersAreWrittenSoTheyReadBackExactly)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<float> values{0.0f, 1.0f, 0.5f, 1e-7f, 1e-30f, std::nextafter(1.0f, 0.0f), 1.0f / 3.0f};
    for (int i = 0; i < 200; ++i)
        values.push_back(unit(random));
    for (float v : values)
    {
        processor->setParameter(1, v);
        const auto xml = juce::parseXML(juce::String(hostText(*processor)));
        ASSERT_NE(xml, nullptr);
        const auto text = xml->getStringAttribute("predelay").toStdString();
        EXPECT_EQ(static_cast<float>(std::stod(text)), v) << text;
        EXPECT_EQ(text.find(','), std::string::npos);
    }
}

TEST_F(StateTest, HostStateRoundTripsEverySetting)
{
    changeEverything(*processor, 0.0f);
    juce::MemoryBlock block;
    processor->getStateInformation(block);

    auto restored = makeProcessor();
    Recorder recorder;
    restored->addListener(&recorder);
    restored->setStateInformation(block.getData(), static_cast<int>(block.getSize()));
    restored->removeListener(&recorder);

    expectSameParameters(*processor, *restored);
    EXPECT_TRUE(restored->mixLock) << "the lock does not protect the mix on a host restore";
    EXPECT_EQ(restored->uiWidth, 900);
    EXPECT_EQ(restored->uiHeight, 563);

    // Each value is announced to the wrapper, and none as a gesture (which the host would record).
    std::vector<Event> expected;
    for (int k = 0; k < kParams; ++k)
        expected.push_back({'c', k});
    EXPECT_EQ(recorder.events, expected);
}

TEST_F(StateTest, HostStateTagAndNamesMatchWithoutRegardToCase)
{
    const auto doc = std::string("<kestruneROOM PRESETNAME=\"Loud\" MIX=\"0.25\" highcut=\"0.75\" MixLock=\"1\" UIWIDTH=\"1000\"/>");
    const auto block = blobOf(doc);
    processor->setStateInformation(block.getData(), static_cast<int>(block.getSize()));
    EXPECT_EQ(processor->getPresetName(), "Loud");
    EXPECT_EQ(processor->getParameter(0), 0.25f);
    EXPECT_EQ(processor->getParameter(3), 0.75f);
    EXPECT_TRUE(processor->mixLock);
    EXPECT_EQ(processor->uiWidth, 1000);
}

TEST_F(StateTest, HostStateWithAnotherTagAppliesOnlyLockAndSize)
{
    processor->mixLock = true;
    const auto before = processor->getParameter(0);
    const auto block = blobOf("<Other presetName=\"x\" mix=\"0.3\" uiWidth=\"1000\"/>");
    processor->setStateInformation(block.getData(), static_cast<int>(block.getSize()));
    EXPECT_EQ(processor->uiWidth, 1000);
    EXPECT_EQ(processor->uiHeight, 460);
    EXPECT_FALSE(processor->mixLock);
    EXPECT_EQ(processor->getPresetName(), "Default");
    EXPECT_EQ(processor->getParameter(0), before);
}

TEST_F(StateTest, HostStateAttributeValuesAreCheckedOneByOne)
{
    struct Case
    {
        const char* attribute;
        const char* text;
        float expectedMix;  // < 0: unchanged
        int expectedWidth;  // 0: unchanged
    };
    const Case cases[] = {
        {"mix", "0.25", 0.25f, 0},   {"mix", " 0.25 ", 0.25f, 0}, {"mix", "+0.5", 0.5f, 0},   {"mix", "2.5e-1", 0.25f, 0},
        {"mix", "1.5", 1.0f, 0},     {"mix", "-0.2", 0.0f, 0},    {"mix", "abc", -1, 0},      {"mix", "0.5abc", -1, 0},
        {"mix", "", -1, 0},          {"mix", "nan", -1, 0},       {"mix", "inf", -1, 0},      {"mix", "-inf", -1, 0},
        {"mix", "1e400", -1, 0},     {"mix", "0x1p-1", -1, 0},    {"mix", "+-0.5", -1, 0},    {"uiWidth", "1102", -1, 1102},
        {"uiWidth", "367", -1, 367}, {"uiWidth", "366", -1, 0},   {"uiWidth", "1103", -1, 0}, {"uiWidth", "-800", -1, 0},
        {"uiWidth", "900.5", -1, 0}, {"uiWidth", "abc", -1, 0},   {"uiWidth", "99999999999", -1, 0},
    };
    for (const auto& c : cases)
    {
        processor->setParameter(0, 0.625f);
        processor->uiWidth = 800;
        const auto block = blobOf(std::string("<KestruneRoom ") + c.attribute + "=\"" + c.text + "\"/>");
        processor->setStateInformation(block.getData(), static_cast<int>(block.getSize()));
        EXPECT_EQ(processor->getParameter(0), c.expectedMix < 0 ? 0.625f : c.expectedMix) << c.attribute << "=" << c.text;
        EXPECT_EQ(processor->uiWidth, c.expectedWidth == 0 ? 800 : c.expectedWidth) << c.attribute << "=" << c.text;
    }
}

TEST_F(StateTest, BadBlobsChangeNothing)
{
    changeEverything(*processor, 0.2f);
    const auto before = hostText(*processor);
    juce::MemoryBlock good;
    processor->getStateInformation(good);
    const std::string valid(static_cast<const char*>(good.getData()), good.getSize());

    std::vector<std::string> blobs{
        "",
        valid.substr(0, 8),
        std::string("\x57\x43\x32\x21") + valid.substr(4),
        valid.substr(0, valid.size() / 2),
        std::string(4096, '\xff'),
        std::string(8, '\0') + "<KestruneRoom mix=\"0\"/>",
    };
    const auto asString = [](const juce::MemoryBlock& b) { return std::string(static_cast<const char*>(b.getData()), b.getSize()); };
    const std::string doc = "<KestruneRoom presetName=\"x\" mix=\"0\"/>";
    blobs.push_back(asString(blobOf(doc, 0)));
    blobs.push_back(asString(blobOf(doc, -5)));
    blobs.push_back(asString(blobOf(doc, 12))); // length cuts the text short
    blobs.push_back(asString(blobOf("<KestruneRoom mix=\"0\"" + std::string(2u << 20, ' ') + "/>")));
    blobs.push_back(asString(blobOf("<!DOCTYPE KestruneRoom [<!ENTITY a \"&a;\">]><KestruneRoom presetName=\"&a;\" mix=\"0\"/>")));
    std::string nested;
    for (int i = 0; i < 200000; ++i)
        nested += "<a>";
    blobs.push_back(asString(blobOf("<KestruneRoom mix=\"0\">" + nested)));
    blobs.push_back(asString(blobOf("<KestruneRoom presetName=\"\xc3\x28\" mix=\"0\"/>"))); // not UTF-8

    for (size_t i = 0; i < blobs.size(); ++i)
    {
        processor->setStateInformation(blobs[i].data(), static_cast<int>(blobs[i].size()));
        EXPECT_EQ(hostText(*processor), before) << "blob " << i;
    }
    processor->setStateInformation(nullptr, 100);
    EXPECT_EQ(hostText(*processor), before);
}

TEST_F(StateTest, PresetLoadsSendOneGesturePerParameterWithMixLast)
{
    auto source = makeProcessor();
    changeEverything(*source, 0.1f);
    const auto file = folder.getChildFile("a.kpreset");
    ASSERT_TRUE(source->savePresetFile(file));

    for (bool locked : {false, true})
    {
        auto target = makeProcessor();
        target->mixLock = locked;
        const auto mixBefore = target->getParameter(0);
        Recorder recorder;
        target->addListener(&recorder);
        target->loadPresetFile(file);
        target->removeListener(&recorder);

        std::vector<Event> expected;
        for (int k = 1; k <= kParams; ++k)
            if (k < kParams || !locked)
                for (char kind : {'b', 'c', 'e'})
                    expected.push_back({kind, k % kParams});
        EXPECT_EQ(recorder.events, expected) << "locked " << locked;

        for (int k = 1; k < kParams; ++k)
            EXPECT_EQ(target->getParameter(k), source->getParameter(k));
        EXPECT_EQ(target->getParameter(0), locked ? mixBefore : source->getParameter(0));
        EXPECT_EQ(target->getPresetName(), source->getPresetName());
        EXPECT_EQ(target->mixLock, locked) << "the document's lock and size are ignored";
        EXPECT_EQ(target->uiWidth, 735);
    }
}

TEST_F(StateTest, PresetFileAndClipboardRoundTrip)
{
    changeEverything(*processor, 0.3f);
    processor->mixLock = false;
    const auto file = folder.getChildFile("b.kpreset");
    ASSERT_TRUE(processor->savePresetFile(file));
    juce::String clip;
    processor->getStateAsText(clip);

    const auto fileText = file.loadFileAsString();
    EXPECT_TRUE(fileText.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    EXPECT_GT(juce::StringArray::fromLines(fileText.trim()).size(), 2);
    EXPECT_FALSE(clip.startsWith("<?xml"));
    EXPECT_FALSE(clip.containsChar('\n'));
    for (const auto& text : {fileText, clip})
        for (const char* hostOnly : {"mixLock", "uiWidth", "uiHeight"})
            EXPECT_FALSE(text.contains(hostOnly)) << hostOnly;

    auto fromFile = makeProcessor();
    fromFile->loadPresetFile(file);
    expectSameParameters(*processor, *fromFile);

    auto fromClip = makeProcessor();
    fromClip->setStateFromText(clip);
    expectSameParameters(*processor, *fromClip);
}

TEST_F(StateTest, MissingAttributesKeepValuesAndMissingNameEmptiesIt)
{
    processor->setParameter(2, 0.375f);
    processor->setStateFromText("<KestruneRoom mix=\"0.5\" predelay=\"0.125\"/>");
    EXPECT_EQ(processor->getParameter(2), 0.375f);
    EXPECT_EQ(processor->getParameter(1), 0.125f);
    EXPECT_EQ(processor->getPresetName(), "");
}

TEST_F(StateTest, BadPresetsAndPastedTextChangeNothing)
{
    changeEverything(*processor, 0.4f);
    const auto before = hostText(*processor);
    const auto secret = folder.getChildFile("secret.dtd");
    ASSERT_TRUE(secret.replaceWithText("<!ENTITY name \"SECRET\">"));

    const std::vector<std::string> texts{
        "",
        "<Other presetName=\"x\" mix=\"0\"/>",
        "<KestruneRoom presetName=\"x\" mix=\"0\"",
        "not xml at all",
        std::string("\x00\x01\xfe\xff<KestruneRoom mix=\"0\"/>", 27),
        "<!DOCTYPE KestruneRoom [<!ENTITY a \"&a;&a;\">]><KestruneRoom presetName=\"&a;\" mix=\"0\"/>",
        "<!DOCTYPE KestruneRoom SYSTEM \"secret.dtd\"><KestruneRoom presetName=\"&name;\" mix=\"0\"/>",
        "<KestruneRoom mix=\"0\">" + std::string(300000, '<') + "a>",
        // Trailing control characters are forgiven, not what they follow: a cut-off or a text tail.
        "<KestruneRoom presetName=\"x\" mix=\"0\"\x1a",
        "<KestruneRoom presetName=\"x\" mix=\"0\"/>junk\x1a",
    };
    for (size_t i = 0; i < texts.size(); ++i)
    {
        processor->setStateFromText(juce::String::fromUTF8(texts[i].data(), static_cast<int>(texts[i].size())));
        EXPECT_EQ(hostText(*processor), before) << "text " << i;

        const auto file = folder.getChildFile("bad" + juce::String(i) + ".kpreset");
        ASSERT_TRUE(file.replaceWithData(texts[i].data(), texts[i].size()));
        processor->loadPresetFile(file);
        EXPECT_EQ(hostText(*processor), before) << "file " << i;
    }
    processor->loadPresetFile(folder.getChildFile("missing.kpreset"));
    processor->loadPresetFile(folder);
    EXPECT_EQ(hostText(*processor), before);
    EXPECT_FALSE(processor->getPresetName().contains("SECRET"));
}

// What editors and transfer tools leave after the element (a DOS end-of-file Ctrl-Z, line ends, blanks)
// is no part of the document: all three ways in accept it.
TEST_F(StateTest, TrailingBlanksAndControlCharactersAfterTheElementAreAccepted)
{
    changeEverything(*processor, 0.15f);
    processor->mixLock = false;
    juce::String clip;
    processor->getStateAsText(clip);
    const auto file = folder.getChildFile("junk.kpreset");
    ASSERT_TRUE(processor->savePresetFile(file));
    const auto fileText = file.loadFileAsString().toStdString();

    for (const std::string tail : {"\x1a", "\r\n\x1a", "\x1a\x1a\x1a", " \t\n\n", "\x04", "\x7f", "\x1b\r\n"})
    {
        auto fromFile = makeProcessor();
        const auto withTail = fileText + tail;
        ASSERT_TRUE(file.replaceWithData(withTail.data(), withTail.size()));
        fromFile->loadPresetFile(file);
        expectSameParameters(*processor, *fromFile);

        auto fromClip = makeProcessor();
        fromClip->setStateFromText(clip + juce::String::fromUTF8(tail.data(), static_cast<int>(tail.size())));
        expectSameParameters(*processor, *fromClip);

        auto fromHost = makeProcessor();
        const auto blob = blobOf(clip.toStdString() + tail);
        fromHost->setStateInformation(blob.getData(), static_cast<int>(blob.getSize()));
        expectSameParameters(*processor, *fromHost);
    }
}

// Whatever name a state holds, what the processor writes it reads back: a 300 kB name of '"' (1.8 MB
// once escaped as the processor writes it) is cut to its first 256 characters on load, and control
// characters XML cannot carry are left out of what is written.
TEST_F(StateTest, WhatLoadsSavesAndLoadsAgain)
{
    const auto file = folder.getChildFile("quoted.kpreset");
    const auto text = "<KestruneRoom presetName='" + std::string(300000, '"') + "' mix=\"0.25\"/>";
    ASSERT_TRUE(file.replaceWithData(text.data(), text.size()));
    processor->loadPresetFile(file);
    EXPECT_EQ(processor->getPresetName(), juce::String(std::string(256, '"')));
    EXPECT_EQ(processor->getParameter(0), 0.25f);

    for (const auto& name : {processor->getPresetName(), juce::String::fromUTF8("tab\tline\nbell\x07 \xc3\xbc\xf0\x9f\x8e\xb9")})
    {
        processor->setPresetName(name);
        const auto expected = name.removeCharacters("\x07");
        juce::MemoryBlock block;
        processor->getStateInformation(block);
        auto restored = makeProcessor();
        restored->setStateInformation(block.getData(), static_cast<int>(block.getSize()));
        EXPECT_EQ(restored->getPresetName(), expected) << "host state";

        juce::String clip;
        processor->getStateAsText(clip);
        auto pasted = makeProcessor();
        pasted->setStateFromText(clip);
        EXPECT_EQ(pasted->getPresetName(), expected) << "clipboard";

        ASSERT_TRUE(processor->savePresetFile(file));
        auto loaded = makeProcessor();
        loaded->loadPresetFile(file);
        EXPECT_EQ(loaded->getPresetName(), expected) << "preset file";
        expectSameParameters(*restored, *loaded);
    }
}

TEST_F(StateTest, SavingAPresetReportsFailure)
{
    EXPECT_FALSE(processor->savePresetFile(folder.getChildFile("no/such/folder/c.kpreset")));
    EXPECT_FALSE(processor->savePresetFile(folder)); // a folder is in the way
}

// Deterministic mutation fuzzing of the three entry points over valid documents: whatever arrives,
// nothing crashes and every setting stays within its range.
TEST_F(StateTest, MutatedInputsNeverBreakTheState)
{
    changeEverything(*processor, 0.05f);
    juce::MemoryBlock block;
    processor->getStateInformation(block);
    juce::String clip;
    processor->getStateAsText(clip);
    const auto file = folder.getChildFile("seed.kpreset");
    ASSERT_TRUE(processor->savePresetFile(file));
    const std::vector<std::string> corpus{std::string(static_cast<const char*>(block.getData()), block.getSize()),
                                          clip.toStdString(), file.loadFileAsString().toStdString()};

    std::mt19937 random(20261210);
    const auto pick = [&](size_t n) { return n == 0 ? size_t{0} : static_cast<size_t>(random() % n); };
    const auto mutate = [&](std::string s) {
        const int steps = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < steps; ++i)
            switch (random() % 6)
            {
            case 0: if (!s.empty()) s[pick(s.size())] ^= static_cast<char>(1 << (random() % 8)); break;
            case 1: s.resize(pick(s.size() + 1)); break;
            case 2: { const auto at = pick(s.size()); const auto n = pick(s.size() - at + 1); s.insert(at, s.substr(at, n)); break; }
            case 3: { std::string junk(1 + pick(16), '\0'); for (auto& c : junk) c = static_cast<char>(random()); s.insert(pick(s.size() + 1), junk); break; }
            case 4: if (!s.empty()) s.erase(pick(s.size()), 1 + pick(8)); break;
            case 5: { static const char* const tokens[] = {"<", ">", "\"", "&", "&amp;", "/>", "<!ENTITY", "nan", "1e999", "-", "<a>", "]]>", "<!--", "<?pi?>"};
                      s.insert(pick(s.size() + 1), tokens[pick(std::size(tokens))]); break; }
            }
        return s;
    };

    int inputs = 0;
    for (int round = 0; round < 1500; ++round)
        for (size_t entry = 0; entry < corpus.size(); ++entry, ++inputs)
        {
            const auto input = mutate(corpus[entry]);
            switch (entry)
            {
            case 0: processor->setStateInformation(input.data(), static_cast<int>(input.size())); break;
            case 1: processor->setStateFromText(juce::String::fromUTF8(input.data(), static_cast<int>(input.size()))); break;
            default: ASSERT_TRUE(file.replaceWithData(input.data(), input.size())); processor->loadPresetFile(file); break;
            }
            for (int k = 0; k < kParams; ++k)
            {
                const auto v = processor->getParameter(k);
                ASSERT_TRUE(v >= 0.0f && v <= 1.0f) << "parameter " << k << " input " << inputs;
            }
            ASSERT_TRUE(processor->uiWidth >= 367 && processor->uiWidth <= 1102);
            ASSERT_TRUE(processor->uiHeight >= 230 && processor->uiHeight <= 690);
        }
    EXPECT_EQ(inputs, 4500);
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
} // namespace
