// Saves replace a file whole or not at all: a disk that fills up during a save leaves the old preset
// and preferences as they were, and the save reports failure.
#include "FileSave.h"
#include "KestruneRoom.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace
{
JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")

// A disk with room for so many more bytes: a write takes what fits, the next one fails.
struct FullDisk
{
    static inline size_t room = 0;
    static ssize_t write(int fd, const void* data, size_t size)
    {
        if (room == 0)
        {
            errno = ENOSPC;
            return -1;
        }
        const auto n = ::write(fd, data, std::min(size, room));
        if (n > 0)
            room -= static_cast<size_t>(n);
        return n;
    }
};

class SaveTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        folder = juce::File::getSpecialLocation(juce::File::tempDirectory)
                     .getNonexistentChildFile("kestrune-save-" + juce::String(::getpid()), "");
        ASSERT_TRUE(folder.createDirectory());
    }
    void TearDown() override
    {
        if (mounted)
            ::umount2(disk().getFullPathName().toRawUTF8(), MNT_DETACH);
        folder.deleteRecursively();
    }

    juce::File disk() const { return folder.getChildFile("disk"); }
    static juce::File commonFile(const juce::File& prefs)
    {
        return prefs.getChildFile("common/KestruneRoomPreferences.settings");
    }

    juce::File folder;
    bool mounted = false;
};

TEST_F(SaveTest, AShortWriteLeavesTheOldPresetAndPreferencesWhole)
{
    const auto prefs = folder.getChildFile("prefs");
    const auto preset = folder.getChildFile("presets/Hall.kpreset");
    ASSERT_TRUE(preset.getParentDirectory().createDirectory());
    KestruneRoom processor(prefs);
    processor.setPresetName("Hall");
    ASSERT_TRUE(processor.savePresetFile(preset));
    processor.setGUIModeProperty("OldSchool");
    ASSERT_TRUE(processor.saveGUIMode());
    const auto oldPreset = preset.loadFileAsString();
    const auto oldPreferences = commonFile(prefs).loadFileAsString();

    processor.setPresetName("A much longer name than the one before");
    processor.setParameter(2, 0.75f);
    processor.setGUIModeProperty("ElectricBlue");
    // Room for none, one byte, half or all but the last byte of what was there before.
    const auto roomFor = [](const juce::String& old, int room)
    {
        const auto size = static_cast<size_t>(old.getNumBytesAsUTF8());
        return room == 0 ? 0 : room == 1 ? 1 : room == 2 ? size / 2 : size - 1;
    };
    for (int room = 0; room < 4; ++room)
    {
        const kestrune::ScopedWriteFunction full(&FullDisk::write);
        FullDisk::room = roomFor(oldPreset, room);
        EXPECT_FALSE(processor.savePresetFile(preset)) << room;
        FullDisk::room = roomFor(oldPreferences, room);
        EXPECT_FALSE(processor.saveGUIMode()) << room;

        EXPECT_EQ(preset.loadFileAsString(), oldPreset) << room;
        EXPECT_EQ(commonFile(prefs).loadFileAsString(), oldPreferences) << room;
        EXPECT_EQ(preset.getParentDirectory().getNumberOfChildFiles(juce::File::findFilesAndDirectories), 1)
            << "no temporary file is left beside the preset";
        EXPECT_EQ(
            commonFile(prefs).getParentDirectory().getNumberOfChildFiles(juce::File::findFilesAndDirectories),
            1);
    }
    EXPECT_EQ(KestruneRoom(prefs).guiScheme, 1);
}

// The same on a real file system that fills up, where the machine lets a test mount a small one.
TEST_F(SaveTest, AFullDiskLeavesTheOldPreferencesWhole)
{
    ASSERT_TRUE(disk().createDirectory());
    if (::mount("tmpfs", disk().getFullPathName().toRawUTF8(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << ")";
    mounted = true;

    KestruneRoom processor(disk());
    processor.setGUIModeProperty("OldSchool");
    ASSERT_TRUE(processor.saveGUIMode());
    const auto old = commonFile(disk()).loadFileAsString();

    // Fill the disk, then free five pages (20 kB): a save of 23 kB then gets only part of its bytes
    // written, and the failure shows only in a count that falls short (JUCE's writer flushed 16 kB, then
    // the last 7 kB in one write that took 4 kB, and reported success).
    const auto filler = disk().getChildFile("filler");
    {
        const int fd = ::open(filler.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        const std::string page(4096, 'x');
        while (::write(fd, page.data(), page.size()) == static_cast<ssize_t>(page.size()))
        {
        }
        ::close(fd);
    }
    const auto filled = filler.getSize() / 4096 * 4096;
    ASSERT_GE(filled, 20480);
    ASSERT_EQ(::truncate(filler.getFullPathName().toRawUTF8(), filled - 20480), 0);

    processor.setGUIModeProperty(juce::String::repeatedString("ElectricBlue", 1900));
    EXPECT_FALSE(processor.saveGUIMode());
    EXPECT_EQ(commonFile(disk()).loadFileAsString(), old);
    EXPECT_EQ(
        commonFile(disk()).getParentDirectory().getNumberOfChildFiles(juce::File::findFilesAndDirectories),
        1);
    filler.deleteFile();
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE
} // namespace
