#include "KestruneRoom.h"

#include "DocumentInput.h"
#include "FileSave.h"

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

// JUCE's XML properties format.
namespace PropertyFile
{
constexpr const char* fileTag = "PROPERTIES";
constexpr const char* valueTag = "VALUE";
constexpr const char* nameAttribute = "name";
constexpr const char* valueAttribute = "val";
} // namespace PropertyFile
} // namespace

KestrunePropertiesFile::KestrunePropertiesFile(const juce::File& file_, const juce::PropertiesFile::Options& options_)
    : juce::PropertySet(options_.ignoreCaseOfKeyNames), file(file_), options(options_)
{
    reload();
}

KestrunePropertiesFile::~KestrunePropertiesFile()
{
    stopTimer();
    saveIfNeeded();
}

// A missing, unreadable or damaged file gives no values, as JUCE's has it; only XML is read (this
// processor never wrote the binary forms).
void KestrunePropertiesFile::reload()
{
    const auto bytes = kestrune::readRegularFile(file);
    const auto document = bytes ? kestrune::parseXml(*bytes, kestrune::XmlDepth::wholeTree) : nullptr;
    if (document == nullptr || !document->hasTagName(PropertyFile::fileTag))
        return;
    for (auto* e : document->getChildWithTagNameIterator(PropertyFile::valueTag))
    {
        const auto name = e->getStringAttribute(PropertyFile::nameAttribute);
        if (name.isEmpty())
            continue;
        // A value that is itself XML is stored as the element's child.
        const auto* child = e->getFirstChildElement();
        getAllProperties().set(name, child != nullptr
                                         ? child->toString(juce::XmlElement::TextFormat().singleLine().withoutHeader())
                                         : e->getStringAttribute(PropertyFile::valueAttribute));
    }
}

bool KestrunePropertiesFile::save()
{
    const juce::ScopedLock lock(getLock());
    stopTimer();
    if (options.doNotSave || file == juce::File() || file.isDirectory() || !file.getParentDirectory().createDirectory())
        return false;

    juce::XmlElement document(PropertyFile::fileTag);
    const auto& properties = getAllProperties();
    for (int i = 0; i < properties.size(); ++i)
    {
        auto* e = document.createNewChildElement(PropertyFile::valueTag);
        e->setAttribute(PropertyFile::nameAttribute, properties.getAllKeys()[i]);
        const auto& value = properties.getAllValues()[i];
        if (auto asXml = kestrune::parseXml(value.toStdString(), kestrune::XmlDepth::wholeTree))
            e->addChildElement(asXml.release());
        else
            e->setAttribute(PropertyFile::valueAttribute, value);
    }
    if (!kestrune::replaceFileWhole(file, document.toString(juce::XmlElement::TextFormat()).toStdString()))
        return false;
    needsWriting = false;
    return true;
}

bool KestrunePropertiesFile::saveIfNeeded()
{
    const juce::ScopedLock lock(getLock());
    return !needsWriting || save();
}

bool KestrunePropertiesFile::needsToBeSaved() const
{
    const juce::ScopedLock lock(getLock());
    return needsWriting;
}

void KestrunePropertiesFile::propertyChanged()
{
    needsWriting = true;
    if (options.millisecondsBeforeSaving > 0)
        startTimer(options.millisecondsBeforeSaving);
    else if (options.millisecondsBeforeSaving == 0)
        saveIfNeeded();
}

void KestrunePropertiesFile::timerCallback() { saveIfNeeded(); }

KestrunePreferences::KestrunePreferences(const juce::PropertiesFile::Options& options_, const juce::File& folder_)
    : options(options_), folder(folder_)
{
}

KestrunePreferences::~KestrunePreferences() { closeFiles(); }

void KestrunePreferences::openFiles()
{
    const auto open = [&](bool commonToAllUsers, const char* subfolder) {
        auto o = options;
        o.commonToAllUsers = commonToAllUsers;
        const auto file = folder == juce::File()
                              ? o.getDefaultFile()
                              : folder.getChildFile(subfolder).getChildFile(o.applicationName + "." + o.filenameSuffix);
        return std::make_unique<KestrunePropertiesFile>(file, o);
    };
    if (userFile == nullptr)
        userFile = open(false, "user");
    if (commonFile == nullptr)
        commonFile = open(true, "common");
    userFile->setFallbackPropertySet(commonFile.get());
}

KestrunePropertiesFile* KestrunePreferences::getUserSettings()
{
    if (userFile == nullptr)
        openFiles();
    return userFile.get();
}

KestrunePropertiesFile* KestrunePreferences::getCommonSettings(bool returnUserPropsIfReadOnly)
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
