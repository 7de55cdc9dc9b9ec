#include "KestruneRoomEditor.h"

namespace
{
const char* const kPresetSubPath = "Audio/Presets/Kestrune DSP, LLC/KestruneRoom";
const char* const kPresetExtension = ".kpreset";
constexpr int kFirstPresetId = 4; // after copy, paste and save as

// A child of folder by name. juce::File::getChildFile reads a name that starts with '~' as a path in
// the home folder, so a preset or folder named "~root" would lead outside the preset folder.
juce::File childOf(const juce::File& folder, const juce::String& name)
{
    auto path = folder.getFullPathName();
    if (!path.endsWithChar(juce::File::getSeparatorChar()))
        path << juce::File::getSeparatorChar();
    return juce::File(path + name);
}

juce::Array<juce::File> entriesOf(const juce::File& folder)
{
    if (!folder.isDirectory())
        return {};
    // Listing order as the file system returns it; nothing sorts it.
    return folder.findChildFiles(juce::File::findFilesAndDirectories | juce::File::ignoreHiddenFiles, false, "*");
}

// Adds folder's presets to menu, and its sub-folders (one level deep) as sub-menus. Item ids follow
// the order of presetFiles, so item n always stands for presetFiles[n - 4].
void listPresetFolder(const juce::File& folder, juce::PopupMenu& menu, juce::Array<juce::File>& presetFiles)
{
    auto addPreset = [&presetFiles](juce::PopupMenu& into, const juce::File& file) {
        presetFiles.add(file);
        into.addItem(kFirstPresetId - 1 + presetFiles.size(), file.getFileNameWithoutExtension(), true, false);
    };

    for (const auto& entry : entriesOf(folder))
    {
        if (entry.isDirectory())
        {
            const auto title = entry.getFileNameWithoutExtension();
            const auto sub = childOf(folder, title); // "Big.Halls" lists the folder "Big" beside it
            if (!sub.exists())
                continue;
            juce::PopupMenu subMenu;
            for (const auto& child : entriesOf(sub))
                if (child.hasFileExtension(kPresetExtension))
                    addPreset(subMenu, child);
            menu.addSubMenu(title, subMenu, true);
        }
        else if (entry.hasFileExtension(kPresetExtension))
        {
            addPreset(menu, entry);
        }
    }
}
} // namespace

juce::File getPresetFolder(int which)
{
    const auto base = juce::File::getSpecialLocation(which == 1 ? juce::File::userApplicationDataDirectory
                                                                : juce::File::commonApplicationDataDirectory);
    // A fresh account may have no application-data folder yet (no ~/.config): the user's preset
    // folder is still named, and the editor makes it with its parents, as long as the folder that
    // should hold the application-data folder (the home folder) is there.
    const bool named = base.exists() || (which == 1 && base.getParentDirectory().isDirectory());
    if (!named)
        return juce::File();
    return base.getChildFile(kPresetSubPath);
}

void KestruneRoomEditor::buildPresetMenu()
{
    presetMenu.clear();
    presetFiles.clear();

    presetMenu.addItem(1, "Copy to clipboard", true, false);
    presetMenu.addItem(2, "Paste from clipboard", true, false);
    presetMenu.addItem(3, "Save as...", true, false);
    presetMenu.addSeparator();
    presetMenu.addSectionHeader("USER PRESETS:");
    listPresetFolder(userPresetFolder, presetMenu, presetFiles);
    presetMenu.addSeparator();
    presetMenu.addSectionHeader("KESTRUNE PRESETS:");
    listPresetFolder(factoryPresetFolder, presetMenu, presetFiles);
}

void KestruneRoomEditor::presetMenuCallback(int result, KestruneRoomEditor* editor)
{
    // editor is null when the window closed while the menu was open; 0 means dismissed.
    if (result != 0 && editor != nullptr)
        editor->presetMenuItemChosen(result);
}

void KestruneRoomEditor::presetMenuItemChosen(int result)
{
    switch (result)
    {
    case 0:
        return;
    case 1:
        kestrune.getStateAsText(clipboardText);
        juce::SystemClipboard::copyTextToClipboard(clipboardText);
        return;
    case 2:
        clipboardText = juce::SystemClipboard::getTextFromClipboard();
        kestrune.setStateFromText(clipboardText);
        presetsSelect->setButtonText(kestrune.getPresetName());
        return;
    case 3:
        saveAs();
        return;
    default:
        currentPresetIndex = result - kFirstPresetId;
        kestrune.loadPresetFile(juce::isPositiveAndBelow(currentPresetIndex, presetFiles.size())
                                    ? presetFiles[currentPresetIndex]
                                    : juce::File());
        presetsSelect->setButtonText(kestrune.getPresetName());
        presetsSelect->repaint();
        return;
    }
}

void KestruneRoomEditor::saveAs()
{
    juce::Component::SafePointer<KestruneRoomEditor> safe(this);
    saveDialogs.chooseFile(userPresetFolder, [safe](const juce::File& chosen) {
        if (safe != nullptr && chosen != juce::File())
            safe->saveTo(chosen);
    });
}

void KestruneRoomEditor::saveTo(const juce::File& chosen)
{
    // Preset names are kept to 31 characters; the file is named after the preset.
    auto name = chosen.getFileNameWithoutExtension();
    if (name.length() > 32)
        name = name.substring(0, 31);
    const auto file = childOf(chosen.getParentDirectory(), name + kPresetExtension);

    // The chooser could only warn about the name typed, not the file actually written: ask here.
    if (!file.exists())
    {
        writePreset(file, name);
        return;
    }
    juce::Component::SafePointer<KestruneRoomEditor> safe(this);
    saveDialogs.confirmReplace(file, [safe, file, name](bool replace) {
        if (safe != nullptr && replace)
            safe->writePreset(file, name);
    });
}

void KestruneRoomEditor::writePreset(const juce::File& file, const juce::String& name)
{
    // The document carries the preset name, so the name is set before writing and taken back on failure.
    const auto previousName = kestrune.getPresetName();
    kestrune.setPresetName(name);
    if (!kestrune.savePresetFile(file))
    {
        kestrune.setPresetName(previousName);
        saveDialogs.reportFailure("The preset could not be written to " + file.getFullPathName() + ".");
        return;
    }
    presetsSelect->setButtonText(name);
    presetsSelect->repaint();
    buildPresetMenu();
}

void KestruneRoomEditor::setDefaultSaveDialogs()
{
    saveDialogs.chooseFile = [this](const juce::File& startFolder, std::function<void(const juce::File&)> chosen) {
        // The overwrite question comes later, for the file that is actually written.
        fileChooser = std::make_unique<juce::FileChooser>("Save preset as...", startFolder, "*.kpreset", true);
        fileChooser->launchAsync(juce::FileBrowserComponent::saveMode | juce::FileBrowserComponent::canSelectFiles,
                                 [chosen = std::move(chosen)](const juce::FileChooser& chooser) {
                                     chosen(chooser.getResult());
                                 });
    };
    saveDialogs.confirmReplace = [this](const juce::File& existing, std::function<void(bool)> answered) {
        juce::AlertWindow::showOkCancelBox(
            juce::MessageBoxIconType::WarningIcon, "Replace preset?",
            "The preset \"" + existing.getFileNameWithoutExtension() + "\" already exists in "
                + existing.getParentDirectory().getFullPathName() + ". Replace it?",
            "Replace", "Cancel", this,
            juce::ModalCallbackFunction::create([answered = std::move(answered)](int button) { answered(button == 1); }));
    };
    saveDialogs.reportFailure = [this](const juce::String& message) {
        juce::AlertWindow::showMessageBoxAsync(juce::MessageBoxIconType::WarningIcon, "Preset not saved", message,
                                               "OK", this);
    };
}
