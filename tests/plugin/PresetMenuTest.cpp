// The preset menu: folders, menu ids and entries, loading, the arrows, save-as through stand-in dialogs,
// and (with a display) the clipboard. Preset folders are temporary; the real ones are never touched.
#include "KestruneRoomEditor.h"
#include "PluginTestUtils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <set>

namespace
{
// Both preset folders exist and start empty.
class PresetMenuFixture : public kestrune::plugintest::EditorFixture
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(user.createDirectory());
        ASSERT_TRUE(factory.createDirectory());
        EditorFixture::SetUp();
    }

    // A preset file whose document names the preset presetName.
    void writePreset(const juce::File& file, const juce::String& presetName)
    {
        ASSERT_TRUE(file.getParentDirectory().createDirectory());
        const auto previous = processor->getPresetName();
        processor->setPresetName(presetName);
        ASSERT_TRUE(processor->savePresetFile(file));
        processor->setPresetName(previous);
    }
};

struct MenuEntry
{
    int id;
    juce::String text;
    juce::String subMenu; // empty at the top level
    bool operator<(const MenuEntry& o) const { return std::tie(id, text, subMenu) < std::tie(o.id, o.text, o.subMenu); }
};

// The menu's items (not separators or headers), sub-menus one level deep, and the top-level layout
// as a string of kinds: I item, S separator, H header, M sub-menu.
std::vector<MenuEntry> itemsOf(const juce::PopupMenu& menu, juce::String* layout = nullptr)
{
    std::vector<MenuEntry> entries;
    for (juce::PopupMenu::MenuItemIterator it(menu); it.next();)
    {
        const auto& item = it.getItem();
        if (layout != nullptr)
            *layout << (item.isSeparator ? "S" : item.isSectionHeader ? "H" : item.subMenu != nullptr ? "M" : "I");
        if (item.subMenu != nullptr)
        {
            for (juce::PopupMenu::MenuItemIterator sub(*item.subMenu); sub.next();)
                entries.push_back({sub.getItem().itemID, sub.getItem().text, item.text});
        }
        else if (!item.isSeparator && !item.isSectionHeader)
        {
            entries.push_back({item.itemID, item.text, {}});
        }
    }
    return entries;
}
} // namespace

TEST_F(PresetMenuFixture, EmptyFoldersGiveTheFixedEntriesAndTwoEmptySections)
{
    auto& e = open();
    juce::String layout;
    const auto items = itemsOf(e.presetMenu, &layout);
    EXPECT_EQ(layout, "IIISHSH");
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].id, 1);
    EXPECT_EQ(items[0].text, "Copy to clipboard");
    EXPECT_EQ(items[1].id, 2);
    EXPECT_EQ(items[1].text, "Paste from clipboard");
    EXPECT_EQ(items[2].id, 3);
    EXPECT_EQ(items[2].text, "Save as...");
    EXPECT_TRUE(e.presetFiles.isEmpty());

    std::vector<juce::String> headers;
    for (juce::PopupMenu::MenuItemIterator it(e.presetMenu); it.next();)
        if (it.getItem().isSectionHeader)
            headers.push_back(it.getItem().text);
    EXPECT_EQ(headers, (std::vector<juce::String>{"USER PRESETS:", "KESTRUNE PRESETS:"}));

    // With nothing listed the arrows load nothing.
    e.buttonClicked(e.nextPresetButton.get());
    e.buttonClicked(e.previousPresetButton.get());
    EXPECT_EQ(processor->getPresetName(), "Default");
    EXPECT_EQ(e.presetsSelect->getButtonText(), "Default");
}

TEST_F(PresetMenuFixture, ListsBothFoldersAndOneLevelOfSubFolders)
{
    writePreset(user.getChildFile("A.kpreset"), "A");
    writePreset(user.getChildFile("B.kpreset"), "B");
    writePreset(user.getChildFile("LOUD.KPRESET"), "Loud");
    writePreset(user.getChildFile("Drums/Snare.kpreset"), "Snare");
    writePreset(user.getChildFile("Drums/Deeper/Kick.kpreset"), "Kick"); // below a sub-folder: not searched
    writePreset(user.getChildFile(".Hidden.kpreset"), "Hidden");
    ASSERT_TRUE(user.getChildFile("notes.txt").replaceWithText("not a preset"));
    // A folder whose name starts with '~' is listed from inside the preset folder, not the home folder.
    writePreset(juce::File(user.getFullPathName() + "/~root/Tilde.kpreset"), "Tilde");
    writePreset(factory.getChildFile("Hall.kpreset"), "Hall");

    auto& e = open();
    const auto items = itemsOf(e.presetMenu);

    // Item 4 + i stands for presetFiles[i]; the user section comes first.
    std::set<MenuEntry> presets;
    for (const auto& item : items)
        if (item.id >= 4)
        {
            ASSERT_LT(item.id - 4, e.presetFiles.size());
            EXPECT_EQ(item.text, e.presetFiles[item.id - 4].getFileNameWithoutExtension());
            presets.insert(item);
        }
    ASSERT_EQ(e.presetFiles.size(), 6);
    EXPECT_EQ(e.presetFiles.getLast(), factory.getChildFile("Hall.kpreset"));

    // Directory order is the file system's: compare as sets.
    std::set<juce::String> listed, expected{"A", "B", "LOUD", "Drums/Snare", "~root/Tilde", "factory:Hall"};
    for (const auto& entry : presets)
        listed.insert(entry.id == 4 + e.presetFiles.size() - 1 ? "factory:" + entry.text
                      : entry.subMenu.isNotEmpty()              ? entry.subMenu + "/" + entry.text
                                                                : entry.text);
    EXPECT_EQ(listed, expected);

    std::set<juce::String> files, expectedFiles;
    for (const auto& f : e.presetFiles)
        files.insert(f.getFullPathName());
    for (const char* path : {"A.kpreset", "B.kpreset", "LOUD.KPRESET", "Drums/Snare.kpreset"})
        expectedFiles.insert(user.getChildFile(path).getFullPathName());
    expectedFiles.insert(user.getFullPathName() + "/~root/Tilde.kpreset");
    expectedFiles.insert(factory.getChildFile("Hall.kpreset").getFullPathName());
    EXPECT_EQ(files, expectedFiles);

    // Choosing an item loads its file and remembers where the arrows start.
    e.presetMenuItemChosen(4 + e.presetFiles.size() - 1);
    EXPECT_EQ(e.currentPresetIndex, e.presetFiles.size() - 1);
    EXPECT_EQ(processor->getPresetName(), "Hall");
    EXPECT_EQ(e.presetsSelect->getButtonText(), "Hall");

    // An id past the list loads nothing.
    e.presetMenuItemChosen(100);
    EXPECT_EQ(e.currentPresetIndex, 96);
    EXPECT_EQ(processor->getPresetName(), "Hall");
}

TEST_F(PresetMenuFixture, ArrowsStepThroughTheListAndWrap)
{
    for (const char* name : {"A", "B", "C"})
        writePreset(user.getChildFile(juce::String(name) + ".kpreset"), name);
    auto& e = open();
    ASSERT_EQ(e.presetFiles.size(), 3);

    struct Case
    {
        int start, direction, index;
    };
    for (const auto& c : {Case{-1, +1, 0}, Case{0, +1, 1}, Case{2, +1, 0}, Case{0, -1, 2}, Case{-1, -1, 2},
                          Case{1, -1, 0}, Case{7, +1, 0}})
    {
        e.currentPresetIndex = c.start;
        e.buttonClicked(c.direction > 0 ? e.nextPresetButton.get() : e.previousPresetButton.get());
        EXPECT_EQ(e.currentPresetIndex, c.index) << c.start << " " << c.direction;
        const auto expectedName = e.presetFiles[c.index].getFileNameWithoutExtension();
        EXPECT_EQ(processor->getPresetName(), expectedName);
        EXPECT_EQ(e.presetsSelect->getButtonText(), expectedName);
    }
}

//==============================================================================================
namespace
{
// Stand-ins for the chooser and the alert windows: answer at once, and remember what was asked.
struct DialogScript
{
    juce::File chosen;
    bool replace = false;
    std::vector<juce::File> askedToReplace;
    std::vector<juce::String> failures;

    void install(KestruneRoomEditor& e)
    {
        e.saveDialogs.chooseFile = [this](const juce::File&, std::function<void(const juce::File&)> done) { done(chosen); };
        e.saveDialogs.confirmReplace = [this](const juce::File& f, std::function<void(bool)> done) {
            askedToReplace.push_back(f);
            done(replace);
        };
        e.saveDialogs.reportFailure = [this](const juce::String& m) { failures.push_back(m); };
    }
};

juce::String presetNameIn(const juce::File& file)
{
    const auto xml = juce::XmlDocument::parse(file);
    return xml != nullptr ? xml->getStringAttribute("presetName") : juce::String("<unreadable>");
}
} // namespace

TEST_F(PresetMenuFixture, SaveAsWritesTheFileNamedAfterThePreset)
{
    const juce::String letters33 = "abcdefghijklmnopqrstuvwxyz0123456";
    struct Case
    {
        juce::String typed;   // the name given in the chooser
        juce::String written; // the file's name in the same folder
    };
    const Case cases[] = {
        {"Plate.txt", "Plate.kpreset"},
        {"Room.kpreset", "Room.kpreset"},
        {letters33, letters33.substring(0, 31) + ".kpreset"},                     // 33 characters: cut to 31
        {letters33.substring(0, 32), letters33.substring(0, 32) + ".kpreset"},    // 32 stay whole
        {"~root.kpreset", "~root.kpreset"},                                         // not the home folder
    };
    auto& e = open();
    DialogScript dialogs;
    dialogs.install(e);
    for (const auto& c : cases)
    {
        dialogs.chosen = juce::File(user.getFullPathName() + "/" + c.typed);
        e.presetMenuItemChosen(3);
        const juce::File written(user.getFullPathName() + "/" + c.written);
        const auto name = c.written.upToLastOccurrenceOf(".", false, false);
        ASSERT_TRUE(written.existsAsFile()) << c.typed;
        EXPECT_EQ(presetNameIn(written), name);
        EXPECT_EQ(processor->getPresetName(), name);
        EXPECT_EQ(e.presetsSelect->getButtonText(), name);
        EXPECT_TRUE(e.presetFiles.contains(written)) << "menu rebuilt after " << c.typed;
    }
    EXPECT_TRUE(dialogs.askedToReplace.empty());
    EXPECT_TRUE(dialogs.failures.empty());
    EXPECT_FALSE(user.getChildFile("Plate.txt").exists());
}

TEST_F(PresetMenuFixture, SaveAsAsksBeforeReplacingTheFileActuallyWritten)
{
    const juce::String longName = "A very long preset name for the hall that goes on";
    const auto existingLong = user.getChildFile(longName.substring(0, 31) + ".kpreset");
    const auto existingHall = user.getChildFile("Hall.kpreset");
    writePreset(existingHall, "Original");
    writePreset(existingLong, "Original");

    auto& e = open();
    DialogScript dialogs;
    dialogs.install(e);
    // The chooser saw "Hall.txt" or the long name, neither of which exists: only the final file does.
    for (const auto& [typed, existing] : {std::pair{juce::String("Hall.txt"), existingHall},
                                          std::pair{longName, existingLong}})
    {
        dialogs.askedToReplace.clear();
        dialogs.chosen = user.getChildFile(typed);
        dialogs.replace = false;
        e.presetMenuItemChosen(3);
        ASSERT_EQ(dialogs.askedToReplace.size(), 1u) << typed;
        EXPECT_EQ(dialogs.askedToReplace[0], existing);
        EXPECT_EQ(presetNameIn(existing), "Original") << "declined: kept";
        EXPECT_EQ(processor->getPresetName(), "Default");

        dialogs.replace = true;
        e.presetMenuItemChosen(3);
        EXPECT_EQ(presetNameIn(existing), existing.getFileNameWithoutExtension()) << "confirmed: replaced";
        EXPECT_EQ(processor->getPresetName(), existing.getFileNameWithoutExtension());
        processor->setPresetName("Default");
    }
    EXPECT_TRUE(dialogs.failures.empty());
}

TEST_F(PresetMenuFixture, FailedOrCancelledSaveKeepsThePresetName)
{
    auto& e = open();
    DialogScript dialogs;
    dialogs.install(e);
    const int listed = e.presetFiles.size();

    dialogs.chosen = juce::File(); // cancelled
    e.presetMenuItemChosen(3);
    EXPECT_TRUE(dialogs.failures.empty());

    dialogs.chosen = root.getChildFile("no/such/folder/Plate.kpreset");
    e.presetMenuItemChosen(3);
    EXPECT_EQ(dialogs.failures.size(), 1u);
    EXPECT_EQ(processor->getPresetName(), "Default");
    EXPECT_EQ(e.presetsSelect->getButtonText(), "Default");
    EXPECT_EQ(e.presetFiles.size(), listed);
    EXPECT_TRUE(dialogs.askedToReplace.empty());
}

TEST(PresetFolders, LieBelowTheApplicationDataFolders)
{
    // Only the paths are compared: nothing is created.
    const juce::String sub = "Audio/Presets/Kestrune DSP, LLC/KestruneRoom";
    const auto userBase = juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory);
    const auto commonBase = juce::File::getSpecialLocation(juce::File::commonApplicationDataDirectory);
    EXPECT_EQ(getPresetFolder(1), userBase.getChildFile(sub)); // the test's home folder exists
    EXPECT_EQ(getPresetFolder(0), commonBase.exists() ? commonBase.getChildFile(sub) : juce::File());
    EXPECT_EQ(getPresetFolder(7), getPresetFolder(0));
}

// A fresh account has a home folder but no application-data folder in it yet: the first editor makes
// the user preset folder with every missing parent. A home folder that is not there is not made.
TEST(PresetFolders, FirstEditorMakesTheUserFolderWithItsParents)
{
    kestrune::plugintest::TemporaryFolder temporary;
    const auto home = temporary.folder.getChildFile("home");
    ASSERT_TRUE(home.createDirectory());
    const juce::String previousHome = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    struct RestoreHome
    {
        juce::String home;
        ~RestoreHome() { ::setenv("HOME", home.toRawUTF8(), 1); }
    } restore{previousHome};
    KestruneRoom processor(temporary.folder.getChildFile("prefs"));

    ::setenv("HOME", home.getFullPathName().toRawUTF8(), 1);
    const auto expected = home.getChildFile(".config/Audio/Presets/Kestrune DSP, LLC/KestruneRoom");
    EXPECT_EQ(getPresetFolder(1), expected);
    EXPECT_FALSE(home.getChildFile(".config").exists()) << "naming the folder creates nothing";
    {
        KestruneRoomEditor editor(processor);
        EXPECT_EQ(editor.userPresetFolder, expected);
    }
    EXPECT_TRUE(expected.isDirectory());

    const auto missingHome = temporary.folder.getChildFile("no-such-home");
    ::setenv("HOME", missingHome.getFullPathName().toRawUTF8(), 1);
    EXPECT_EQ(getPresetFolder(1), juce::File());
    {
        KestruneRoomEditor editor(processor);
        EXPECT_EQ(editor.userPresetFolder, juce::File());
    }
    EXPECT_FALSE(missingHome.exists());
}

//==============================================================================================
// With a display (scripts/with-xvfb.sh): the system clipboard.
TEST_F(PresetMenuFixture, DisplayClipboardCopyAndPasteRestoreTheState)
{
    if (juce::SystemStats::getEnvironmentVariable("DISPLAY", {}).isEmpty())
    {
        if (juce::SystemStats::getEnvironmentVariable("KESTRUNE_REQUIRE_DISPLAY", {}).isNotEmpty())
            FAIL() << "no display";
        GTEST_SKIP() << "needs a display: run through scripts/with-xvfb.sh";
    }
    processor->setParameter(2, 0.25f);
    processor->setParameter(0, 0.5f);
    processor->setPresetName("Copied");
    auto& e = open();

    e.presetMenuItemChosen(1);
    EXPECT_TRUE(e.clipboardText.startsWith("<KestruneRoom"));
    EXPECT_EQ(juce::SystemClipboard::getTextFromClipboard(), e.clipboardText);

    processor->setParameter(2, 0.75f);
    processor->setParameter(0, 0.9f);
    processor->setPresetName("Changed");
    processor->mixLock = true; // the mix stays where it is
    e.presetMenuItemChosen(2);
    EXPECT_FLOAT_EQ(processor->getParameter(2), 0.25f);
    EXPECT_FLOAT_EQ(processor->getParameter(0), 0.9f);
    EXPECT_EQ(processor->getPresetName(), "Copied");
    EXPECT_EQ(e.presetsSelect->getButtonText(), "Copied");

    // Text that is not a state document changes nothing but the editor's copy of it.
    juce::SystemClipboard::copyTextToClipboard("no preset here");
    e.presetMenuItemChosen(2);
    EXPECT_EQ(e.clipboardText, "no preset here");
    EXPECT_EQ(processor->getPresetName(), "Copied");
}
