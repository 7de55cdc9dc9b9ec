// The two preferences files and the colour-scheme setting, always on a scratch folder.
#include "KestruneRoom.h"
#include <unistd.h> // getpid: test processes run in parallel

#include <gtest/gtest.h>

#include <optional>

namespace
{
class PreferencesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = juce::File::getSpecialLocation(juce::File::tempDirectory).getNonexistentChildFile("kestrune-prefs-" + juce::String(::getpid()), "");
        ASSERT_TRUE(folder.createDirectory());
    }
    void TearDown() override { folder.deleteRecursively(); }

    std::unique_ptr<KestruneRoom> makeProcessor() const { return std::make_unique<KestruneRoom>(folder); }

    juce::File userFile() const { return folder.getChildFile("user/KestruneRoomPreferences.settings"); }
    juce::File commonFile() const { return folder.getChildFile("common/KestruneRoomPreferences.settings"); }

    // What is on disk now, read the way the framework reads it.
    static std::optional<juce::String> storedValue(const juce::File& file, const char* key)
    {
        juce::PropertiesFile::Options options;
        options.storageFormat = juce::PropertiesFile::storeAsXML;
        juce::PropertiesFile props(file, options);
        if (!props.containsKey(key))
            return std::nullopt;
        return props.getValue(key);
    }

    static void store(const juce::File& file, const char* key, const juce::String& value)
    {
        juce::PropertiesFile::Options options;
        options.storageFormat = juce::PropertiesFile::storeAsXML;
        juce::PropertiesFile props(file, options);
        props.setValue(key, value);
        ASSERT_TRUE(props.save());
    }

    juce::File folder;
};

TEST_F(PreferencesTest, BothFilesLiveApartInTheGivenFolderWithTheOptions)
{
    auto processor = makeProcessor();
    EXPECT_EQ(processor->guiScheme, 0);
    auto& props = *processor->appProperties;
    EXPECT_EQ(props.getUserSettings()->getFile(), userFile());
    EXPECT_EQ(props.getCommonSettings(false)->getFile(), commonFile());
    EXPECT_EQ(props.getCommonSettings(true)->getFile(), commonFile());

    const auto& options = props.getStorageParameters();
    EXPECT_EQ(options.applicationName, "KestruneRoomPreferences");
    EXPECT_EQ(options.filenameSuffix, "settings");
    EXPECT_EQ(options.osxLibrarySubFolder, "Preferences");
    EXPECT_FALSE(options.commonToAllUsers);
    EXPECT_FALSE(options.ignoreCaseOfKeyNames);
    EXPECT_FALSE(options.doNotSave);
    EXPECT_EQ(options.millisecondsBeforeSaving, 3000);
    EXPECT_EQ(options.storageFormat, juce::PropertiesFile::storeAsXML);

    processor.reset(); // pending writes happen on close
    EXPECT_EQ(storedValue(userFile(), "PluginName"), juce::String("KestruneRoom"));
    EXPECT_EQ(storedValue(commonFile(), "PluginName"), juce::String("KestruneRoom"));
    EXPECT_TRUE(commonFile().loadFileAsString().contains("<PROPERTIES>")) << "XML format";
}

TEST_F(PreferencesTest, SchemeComesFromTheCommonFileOnly)
{
    struct Case
    {
        const char* commonValue; // nullptr: no key
        const char* userValue;
        int expected;
    };
    const Case cases[] = {
        {"OldSchool", nullptr, 1},  {"oldschool", nullptr, 0}, {"ElectricBlue", nullptr, 0},
        {"", nullptr, 0},           {" OldSchool", nullptr, 0}, {nullptr, nullptr, 0},
        {nullptr, "OldSchool", 0},  {"ElectricBlue", "OldSchool", 0},
    };
    for (const auto& c : cases)
    {
        folder.deleteRecursively();
        if (c.commonValue != nullptr)
            store(commonFile(), "GUIMode", c.commonValue);
        if (c.userValue != nullptr)
            store(userFile(), "GUIMode", c.userValue);
        EXPECT_EQ(makeProcessor()->guiScheme, c.expected)
            << (c.commonValue ? c.commonValue : "(none)") << " / " << (c.userValue ? c.userValue : "(none)");
    }
}

TEST_F(PreferencesTest, SavingWritesTheCommonFileAtOnce)
{
    auto first = makeProcessor();
    first->setGUIModeProperty("OldSchool");
    EXPECT_FALSE(storedValue(commonFile(), "GUIMode").has_value()) << "set alone does not write";
    EXPECT_TRUE(first->saveGUIMode());
    EXPECT_EQ(storedValue(commonFile(), "GUIMode"), juce::String("OldSchool"));
    EXPECT_FALSE(storedValue(userFile(), "GUIMode").has_value());
    EXPECT_EQ(first->guiScheme, 0) << "the editor sets its own scheme";
    EXPECT_EQ(makeProcessor()->guiScheme, 1);

    // Without a value set first, an empty one is written, which reads as Electric Blue.
    auto other = makeProcessor();
    EXPECT_TRUE(other->saveGUIMode());
    EXPECT_EQ(storedValue(commonFile(), "GUIMode"), juce::String());
    EXPECT_EQ(makeProcessor()->guiScheme, 0);
}

TEST_F(PreferencesTest, UnwritableFilesFallBackThenFail)
{
    // Files in the way of the folders: root cannot write there either.
    ASSERT_TRUE(folder.getChildFile("common").replaceWithText("x"));
    {
        auto processor = makeProcessor();
        EXPECT_EQ(processor->appProperties->getCommonSettings(true)->getFile(), userFile());
        processor->setGUIModeProperty("OldSchool");
        EXPECT_TRUE(processor->saveGUIMode());
        EXPECT_EQ(storedValue(userFile(), "GUIMode"), juce::String("OldSchool"));
    }
    ASSERT_TRUE(folder.getChildFile("user").deleteRecursively());
    ASSERT_TRUE(folder.getChildFile("user").replaceWithText("x"));
    auto processor = makeProcessor();
    EXPECT_EQ(processor->guiScheme, 0);
    processor->setGUIModeProperty("OldSchool");
    EXPECT_FALSE(processor->saveGUIMode());
}
} // namespace
