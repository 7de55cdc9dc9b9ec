#include "KestruneRoom.h"

#include <cstdlib>

namespace
{
constexpr const char* guiModeKey = "GUIMode";

juce::PropertiesFile::Options preferencesOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = "KestruneRoomPreferences";
    options.filenameSuffix = "settings";
    options.osxLibrarySubFolder = "Preferences";
    options.folderName = {};
    options.commonToAllUsers = false;
    options.ignoreCaseOfKeyNames = false;
    options.doNotSave = false;
    options.millisecondsBeforeSaving = 3000;
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    return options;
}
} // namespace

KestrunePreferences::KestrunePreferences(const juce::PropertiesFile::Options& options, const juce::File& folder_)
    : folder(folder_)
{
    auto stored = options;
    // Should anything reach the base class's own files, they too stay inside the given folder.
    if (folder != juce::File())
        stored.folderName = folder.getFullPathName();
    setStorageParameters(stored);
}

KestrunePreferences::~KestrunePreferences() { closeFiles(); }

void KestrunePreferences::openFiles()
{
    auto options = getStorageParameters();
    if (userFile == nullptr)
    {
        options.commonToAllUsers = false;
        userFile = folder == juce::File()
                       ? std::make_unique<juce::PropertiesFile>(options)
                       : std::make_unique<juce::PropertiesFile>(
                             folder.getChildFile("user").getChildFile(options.applicationName + "." + options.filenameSuffix),
                             options);
    }
    if (commonFile == nullptr)
    {
        options.commonToAllUsers = true;
        commonFile = folder == juce::File()
                         ? std::make_unique<juce::PropertiesFile>(options)
                         : std::make_unique<juce::PropertiesFile>(
                               folder.getChildFile("common").getChildFile(options.applicationName + "." + options.filenameSuffix),
                               options);
    }
    userFile->setFallbackPropertySet(commonFile.get());
}

juce::PropertiesFile* KestrunePreferences::getUserSettings()
{
    if (userFile == nullptr)
        openFiles();
    return userFile.get();
}

juce::PropertiesFile* KestrunePreferences::getCommonSettings(bool returnUserPropsIfReadOnly)
{
    if (commonFile == nullptr)
        openFiles();
    if (returnUserPropsIfReadOnly)
    {
        if (commonReadOnly == 0)
            commonReadOnly = commonFile->save() ? -1 : 1;
        if (commonReadOnly > 0)
            return userFile.get();
    }
    return commonFile.get();
}

bool KestrunePreferences::saveIfNeeded()
{
    return (userFile == nullptr || userFile->saveIfNeeded()) && (commonFile == nullptr || commonFile->saveIfNeeded());
}

void KestrunePreferences::closeFiles()
{
    // The user file falls back on the common one, so it goes first.
    userFile.reset();
    commonFile.reset();
}

void KestruneRoom::openPreferences(const juce::File& preferencesFolder)
{
    auto folder = preferencesFolder;
    // A host builds the plug-in without a folder; a test that hosts the built bundles names one here.
    if (folder == juce::File())
        if (const char* path = std::getenv("KESTRUNE_PREFERENCES_FOLDER"); path != nullptr && juce::File::isAbsolutePath(path))
            folder = juce::File(juce::String::fromUTF8(path));
    appProperties = std::make_unique<KestrunePreferences>(preferencesOptions(), folder);
}

void KestruneRoom::loadGUIMode()
{
    guiScheme = 0;
    if (appProperties == nullptr)
        return;
    if (auto* common = appProperties->getCommonSettings(true); common != nullptr && common->containsKey(guiModeKey))
        guiScheme = common->getValue(guiModeKey, {}) == "OldSchool" ? 1 : 0;
}

void KestruneRoom::setGUIModeProperty(const juce::String& value) { localSettings.setValue(guiModeKey, value); }

bool KestruneRoom::saveGUIMode()
{
    if (appProperties == nullptr)
        return false;
    auto* common = appProperties->getCommonSettings(true);
    if (common == nullptr)
        return false;
    common->setValue(guiModeKey, localSettings.getValue(guiModeKey, {}));
    return common->save();
}
