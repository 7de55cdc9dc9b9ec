#include "KestruneRoomEditor.h"

#include "KestruneLookAndFeel2013.h"
#include "KestruneRoomLookAndFeel2016.h"

#include <cmath>

namespace
{
// Process-wide look-and-feels shared by every editor of every instance; they outlive all editors.
KestruneRoomLookAndFeel2016* lookAndFeel2016()
{
    return KestruneRoomLookAndFeel2016::getInstance();
}
KestruneLookAndFeel2013* lookAndFeel2013()
{
    return KestruneLookAndFeel2013::getInstance();
}

// Real range, interval and skew of each slider; the processor's parameters carry the same ranges.
struct SliderSetup
{
    const char* caption; // none for the mix slider, whose caption is the lock button
    double minimum, maximum, interval;
    enum Skew
    {
        none,
        factor,
        fromMidPoint
    } skewKind;
    double skew;
    const char* suffix;
    const char* tooltip;
};

constexpr std::array<SliderSetup, KestruneRoomEditor::kNumSliders> kSliderSetups{{
    {nullptr, 0, 100, 0.1, SliderSetup::none, 0, " % ",
     "MIX: controls the balance of the input signal with the reverb\n"
     "click on the mix label above the slider to lock or unlock the mix level"},
    {"PREDELAY", 0, 500, 0.1, SliderSetup::factor, 0.3, " ms ",
     "PREDELAY: sets the amount of delay before reverb"},
    {"DECAY", 0.1, 100, 0.01, SliderSetup::factor, 0.3, " s ",
     "DECAY: sets the reverb decay time for mid frequencies"},
    {"HIGH CUT", 100, 15000, 10, SliderSetup::none, 0, " Hz ",
     "HIGH CUT: controls the cutoff frequency of a lowpass filter processing the reverb output"},
    {"DEPTH", 0, 100, 0.1, SliderSetup::none, 0, " % ",
     "DEPTH: controls the balance between early and late energy \n"
     "lower DEPTH values result in more early energy, higher values in more late energy"},
    {"Late Size", 0, 1, 0.01, SliderSetup::none, 0, "",
     "LATE Size: sets the relative room size of the reverb "},
    {"Late Cross", 0, 1, 0.01, SliderSetup::none, 0, "",
     "LATE Cross: controls stereo spread of the late reverb"},
    {"Mod Rate", 0.05, 5, 0.01, SliderSetup::none, 0, " Hz ",
     "LATE Mod Rate: controls the base rate of the late reverb modulation"},
    {"Mod Depth", 0, 1, 0.01, SliderSetup::none, 0, "",
     "LATE Mod Depth: controls the depth of the late reverb modulation"},
    {"Bass Mult", 0.5, 2, 0.01, SliderSetup::fromMidPoint, 1.0, " X ",
     "LATE Bass Mult: scales the reverb decay time for bass frequencies "},
    {"Bass Xover", 100, 10000, 10, SliderSetup::none, 0, " Hz ",
     "LATE Bass Xover: controls transition frequency between RTBass and RTMid "},
    {"High Mult", 0.1, 1, 0.01, SliderSetup::none, 0, " X ",
     "LATE High Mult: scales the reverb decay time for high frequencies "},
    {"High Xover", 100, 15000, 10, SliderSetup::none, 0, " Hz ",
     "LATE High Xover: controls transition frequency between RTMid and the high frequencies "},
    {"Early Size", 1, 1000, 0.1, SliderSetup::factor, 0.3, " ms ",
     "EARLY Size: controls the size of the early reflections, and the attack time of the reverb. "
     "higher settings result in a nonlinear or gated reverb decay"},
    {"Early Cross", 0, 1, 0.01, SliderSetup::none, 0, "",
     "EARLY Cross: controls stereo spread of the early reflections"},
    {"Mod Rate", 0.05, 5, 0.01, SliderSetup::none, 0, " Hz ",
     "EARLY Mod Rate: controls the base rate of the early reverb modulation"},
    {"Mod Depth", 0, 1, 0.01, SliderSetup::none, 0, "",
     "EARLY Mod Depth: controls the depth of the early reverb modulation"},
    {"Early Send", 0, 1, 0.01, SliderSetup::none, 0, "",
     "EARLY Send: controls the amount of early reverb sent to the input of the late reverb "},
    {"Diffusion", 0, 1, 0.01, SliderSetup::none, 0, "", "EARLY Diffusion: controls intial echo density"},
}};

constexpr int kFirstKnob = 5;
constexpr int kLatePage = 5, kLateCount = 8;    // sliders 5..12, captions 4..11
constexpr int kEarlyPage = 13, kEarlyCount = 6; // sliders 13..18, captions 12..17
constexpr int kTypeIndex = 19;

constexpr auto kTransparentButton = 0x00797979u;

const char* const kOldSchoolText = "GUI Mode:  Old School";
const char* const kElectricBlueText = "GUI Mode: Electric Blue";

// Selector id for a normalised type value: entry k (1..12) stands for k / 12.
int selectorIdFor(float typeValue)
{
    return static_cast<int>(std::floor(typeValue * 12.0f));
}
} // namespace

juce::String KestruneRoomEditor::sliderTooltip(int k)
{
    return juce::isPositiveAndBelow(k, kNumSliders) ? juce::String(kSliderSetups[(size_t)k].tooltip)
                                                    : juce::String();
}

juce::String KestruneRoomEditor::mixTooltip(bool locked)
{
    return sliderTooltip(0) + (locked ? " (currently locked)" : " (currently unlocked)");
}

KestruneRoomEditor::KestruneRoomEditor(KestruneRoom& processor, PresetFolders folders)
    : juce::AudioProcessorEditor(processor), kestrune(processor)
{
    lookAndFeel2016();
    lookAndFeel2013();
    KestruneRoomLookAndFeel2016::makeDefault();

    factoryPresetFolder = folders.factory;
    userPresetFolder = folders.user;
    // A folder that cannot be made leaves the menu's user section empty.
    if (userPresetFolder != juce::File() && !userPresetFolder.isDirectory())
        userPresetFolder.createDirectory();

    versionText = juce::String("Version ") + KestruneRoom::kVersion + "d ";

    setColourScheme(kestrune.guiScheme != 0 ? 1 : 0);

    setUpCaptions();
    setUpSliders();
    setUpButtons();

    buildPresetMenu();
    setDefaultSaveDialogs();

    hoverIndex = shownHoverIndex = 0;

    resizer = std::make_unique<juce::ResizableCornerComponent>(this, &resizeLimits);
    addAndMakeVisible(*resizer);
    resizeLimits.setSizeLimits(kMinWidth, kMinHeight, kMaxWidth, kMaxHeight);
    resizeLimits.setFixedAspectRatio(kAspectRatio);

    const auto size = storedSizeWithinLimits();
    setSize(size.x, size.y);
    uiScale = static_cast<float>(getWidth()) / static_cast<float>(kDesignWidth);
    layoutComponents();

    kestrune.addChangeListener(this);
    updateModeDescription();
    addMouseListener(&hoverFollower, true);
}

KestruneRoomEditor::~KestruneRoomEditor()
{
    removeMouseListener(&hoverFollower);
    juce::PopupMenu::dismissAllActiveMenus();
    kestrune.removeChangeListener(this);
    fileChooser.reset();
    // The controls go with their owning members; the shared look-and-feels stay, unreferenced.
    for (int k = kFirstKnob; k < kNumSliders; ++k)
        sliders[(size_t)k]->setLookAndFeel(nullptr);
    for (auto* button : {presetsSelect.get(), mixLockButton.get(), GUIColorButton.get()})
        button->setLookAndFeel(nullptr);
}

juce::Point<int> KestruneRoomEditor::storedSizeWithinLimits() const
{
    // A host state may carry any size; a window larger or smaller than the corner allows could not
    // be dragged back into range.
    return {juce::jlimit(kMinWidth, kMaxWidth, kestrune.uiWidth),
            juce::jlimit(kMinHeight, kMaxHeight, kestrune.uiHeight)};
}

void KestruneRoomEditor::setUpCaptions()
{
    for (int i = 0; i < kNumCaptions; ++i)
    {
        labels[(size_t)i] = std::make_unique<juce::Label>("hint", "label");
        addAndMakeVisible(*labels[(size_t)i]);
    }
    for (int i = 0; i < kNumCaptions; ++i)
    {
        auto& label = *labels[(size_t)i];
        label.setText(kSliderSetups[(size_t)i + 1].caption, juce::sendNotification);
        label.setJustificationType(juce::Justification::horizontallyCentred);
        label.setColour(juce::Label::textColourId, juce::Colours::white);
    }
}

void KestruneRoomEditor::setUpSliders()
{
    for (int k = 0; k < kNumSliders; ++k)
    {
        sliders[(size_t)k] = std::make_unique<KestruneSlider>(juce::String(k));
        addAndMakeVisible(*sliders[(size_t)k]);
    }

    for (int k = 0; k < kNumSliders; ++k)
    {
        const auto& setup = kSliderSetups[(size_t)k];
        auto& slider = *sliders[(size_t)k];
        slider.setRange(setup.minimum, setup.maximum, setup.interval);
        if (setup.skewKind == SliderSetup::factor)
            slider.setSkewFactor(setup.skew);
        else if (setup.skewKind == SliderSetup::fromMidPoint)
            slider.setSkewFactorFromMidPoint(setup.skew);
        slider.setTooltip(setup.tooltip);
    }

    for (int k = 0; k < kFirstKnob; ++k)
    {
        auto& slider = *sliders[(size_t)k];
        slider.addListener(this);
        slider.setSliderStyle(juce::Slider::LinearVertical);
        slider.setColour(juce::Slider::backgroundColourId, juce::Colour(0x00000000u));
        slider.setColour(juce::Slider::thumbColourId, palette[sliderThumb]);
        slider.setColour(juce::Slider::trackColourId, palette[sliderTrack]);
        slider.setColour(juce::Slider::rotarySliderFillColourId, juce::Colour(0xFF343434u));
        slider.setColour(juce::Slider::textBoxTextColourId, juce::Colours::white);
        slider.setColour(juce::Slider::textBoxBackgroundColourId, juce::Colour(0x00464646u));
        slider.setColour(juce::Slider::textBoxHighlightColourId, juce::Colour(0x00464646u));
        slider.setPopupMenuEnabled(true);
        slider.setNormalisedValue(kestrune.getParameter(k), false);
        slider.getLookAndFeel().setColour(juce::TextEditor::highlightedTextColourId, juce::Colours::white);
    }

    for (int k = kFirstKnob; k < kNumSliders; ++k)
    {
        auto& slider = *sliders[(size_t)k];
        slider.addListener(this);
        slider.setLookAndFeel(lookAndFeel2016());
        slider.setSliderStyle(juce::Slider::RotaryVerticalDrag);
        slider.setColour(juce::Slider::thumbColourId, juce::Colours::red);
        slider.setColour(juce::Slider::rotarySliderFillColourId, palette[knobFill]);
        slider.setColour(juce::Slider::rotarySliderOutlineColourId, palette[knobOutline]);
        slider.setColour(juce::Slider::textBoxTextColourId, juce::Colour(0xFFFCFBFBu));
        slider.setColour(juce::Slider::textBoxBackgroundColourId, juce::Colour(0xFF343434u));
        slider.setColour(juce::Slider::textBoxHighlightColourId, juce::Colour(0xFF343434u));
        slider.setPopupMenuEnabled(true);
        slider.setNormalisedValue(kestrune.getParameter(k), false);
    }

    for (int k = 0; k < kNumSliders; ++k)
        sliders[(size_t)k]->setTextValueSuffix(kSliderSetups[(size_t)k].suffix);

    // Opens on the LATE page.
    for (int i = 0; i < kEarlyCount; ++i)
    {
        labels[(size_t)(kEarlyPage - 1 + i)]->setVisible(false);
        sliders[(size_t)(kEarlyPage + i)]->setVisible(false);
    }
}

void KestruneRoomEditor::setUpButtons()
{
    auto makePageButton = [this](const char* name, const char* text, const char* tooltip)
    {
        auto button = std::make_unique<juce::TextButton>(name, "");
        addAndMakeVisible(*button);
        button->setButtonText(text);
        button->addListener(this);
        button->setColour(juce::TextButton::buttonColourId, palette[pageButtonOff]);
        button->setColour(juce::TextButton::buttonOnColourId, palette[pageButtonOn]);
        button->setColour(juce::TextButton::textColourOnId, palette[pageTextOn]);
        button->setColour(juce::TextButton::textColourOffId, palette[pageTextOff]);
        button->setClickingTogglesState(true);
        button->setRadioGroupId(kPageRadioGroup, juce::sendNotification);
        button->setTooltip(tooltip);
        return button;
    };
    earlyEditorSelect = makePageButton("earlyEditorSelect", "EARLY",
                                       "EARLY: enables knobs for controlling the early reverberation");
    earlyEditorSelect->setWantsKeyboardFocus(false);
    lateEditorSelect = makePageButton("lateEditorSelect", "LATE",
                                      "LATE: enables knobs for controlling the late reverberation");
    lateEditorSelect->setToggleState(true, juce::dontSendNotification);
    lateEditorSelect->setWantsKeyboardFocus(false);

    modeLabel = std::make_unique<juce::Label>("hint", "REVERB MODE:");
    addAndMakeVisible(*modeLabel);
    modeLabel->setJustificationType(juce::Justification::centredLeft);
    modeLabel->setColour(juce::Label::textColourId, juce::Colours::white);

    modeComboBox = std::make_unique<juce::ComboBox>("modeComboBox");
    addAndMakeVisible(*modeComboBox);
    modeComboBox->setTooltip("REVERB MODE: selects the reverb algorithm to use");
    modeComboBox->setJustificationType(juce::Justification::centredLeft);
    const juce::Colour invisible(0x00466FB7u);
    modeComboBox->setColour(juce::ComboBox::backgroundColourId, invisible);
    modeComboBox->setColour(juce::ComboBox::outlineColourId, invisible);
    modeComboBox->setColour(juce::ComboBox::buttonColourId, invisible);
    modeComboBox->setColour(juce::ComboBox::arrowColourId, invisible);
    modeComboBox->setColour(juce::ComboBox::textColourId, palette[selectorText]);
    for (int m = 0; m < kestrune::kNumModes; ++m)
        modeComboBox->addItem(kestrune::kModeNames[(size_t)m], m + 1);
    modeComboBox->addListener(this);
    modeComboBox->setSelectedId(selectorIdFor(kestrune.getParameter(kTypeIndex)), juce::dontSendNotification);
    modeComboBox->setTextWhenNothingSelected("Large Room");
    modeComboBox->setWantsKeyboardFocus(false);

    presetLabel = std::make_unique<juce::Label>("hint", "PRESET:");
    addAndMakeVisible(*presetLabel);
    presetLabel->setJustificationType(juce::Justification::centredLeft);
    presetLabel->setColour(juce::Label::textColourId, juce::Colours::white);

    presetsSelect = std::make_unique<juce::TextButton>("presetsSelect", "");
    addAndMakeVisible(*presetsSelect);
    presetsSelect->setLookAndFeel(lookAndFeel2013());
    presetsSelect->setButtonText(kestrune.getPresetName());
    presetsSelect->addListener(this);
    presetsSelect->setColour(juce::TextButton::buttonColourId, juce::Colour(kTransparentButton));
    presetsSelect->setColour(juce::TextButton::buttonOnColourId, juce::Colour(kTransparentButton));
    presetsSelect->setColour(juce::TextButton::textColourOnId, palette[selectorText]);
    presetsSelect->setColour(juce::TextButton::textColourOffId, palette[selectorText]);
    presetsSelect->setTooltip("PRESETS: allows the user to save and recall plugin settings");
    presetsSelect->setWantsKeyboardFocus(false);

    mixLockButton = std::make_unique<juce::TextButton>("mixLockButton", "");
    addAndMakeVisible(*mixLockButton);
    mixLockButton->setLookAndFeel(lookAndFeel2016());
    mixLockButton->setButtonText("MIX");
    mixLockButton->addListener(this);
    mixLockButton->setColour(juce::TextButton::buttonColourId, juce::Colour(kTransparentButton));
    mixLockButton->setColour(juce::TextButton::buttonOnColourId, juce::Colour(kTransparentButton));
    mixLockButton->setColour(juce::TextButton::textColourOnId, palette[lockTextOn]);
    mixLockButton->setColour(juce::TextButton::textColourOffId, palette[lockTextOff]);
    mixLockButton->setClickingTogglesState(true);
    mixLockButton->setTooltip(
        "MIX lock: click to lock and unlock the mix slider \nblue=unlocked, grey=locked");
    mixLockButton->setWantsKeyboardFocus(false);
    mixLockButton->setToggleState(kestrune.mixLock, juce::dontSendNotification);

    GUIColorButton = std::make_unique<juce::TextButton>("GUIColorButton", "");
    addAndMakeVisible(*GUIColorButton);
    GUIColorButton->setLookAndFeel(lookAndFeel2016());
    GUIColorButton->addListener(this);
    GUIColorButton->setColour(juce::TextButton::buttonColourId, juce::Colour(kTransparentButton));
    GUIColorButton->setColour(juce::TextButton::buttonOnColourId, juce::Colour(kTransparentButton));
    GUIColorButton->setColour(juce::TextButton::textColourOnId, juce::Colour(0xFFFF460Eu));
    GUIColorButton->setColour(juce::TextButton::textColourOffId, juce::Colour(0xFF7DF9FFu));
    GUIColorButton->setClickingTogglesState(true);
    GUIColorButton->setTooltip("GUI Mode: click to change the GUI color scheme");
    GUIColorButton->setWantsKeyboardFocus(false);
    GUIColorButton->setToggleState(kestrune.guiScheme != 0, juce::dontSendNotification);
    GUIColorButton->setButtonText(kestrune.guiScheme != 0 ? kOldSchoolText : kElectricBlueText);

    auto makeArrow = [this](juce::Point<float> a, juce::Point<float> b, juce::Point<float> c)
    {
        const auto colour = palette[arrowColour];
        auto arrow = std::make_unique<juce::ShapeButton>("maximize", colour, colour, colour);
        juce::Path shape;
        shape.addTriangle(a, b, c);
        arrow->setShape(shape, true, true, false);
        arrow->addListener(this);
        addAndMakeVisible(*arrow);
        return arrow;
    };
    previousPresetButton = makeArrow({0.0f, 0.5f}, {1.0f, 1.0f}, {1.0f, 0.0f});
    nextPresetButton = makeArrow({0.0f, 0.0f}, {0.0f, 1.0f}, {1.0f, 0.5f});
}

//==============================================================================================
// The processor publishes its parameters through the index-based interface, which JUCE marks deprecated.
JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")

void KestruneRoomEditor::sliderValueChanged(juce::Slider* slider)
{
    const int k = slider->getName().getIntValue();
    const auto value = static_cast<float>(static_cast<KestruneSlider*>(slider)->getNormalisedValue());
    kestrune.setParameterNotifyingHost(k, value);
}

void KestruneRoomEditor::sliderDragStarted(juce::Slider* slider)
{
    kestrune.beginParameterChangeGesture(slider->getName().getIntValue());
}

void KestruneRoomEditor::sliderDragEnded(juce::Slider* slider)
{
    kestrune.endParameterChangeGesture(slider->getName().getIntValue());
}

void KestruneRoomEditor::comboBoxChanged(juce::ComboBox* comboBox)
{
    if (comboBox != modeComboBox.get())
        return;
    kestrune.beginParameterChangeGesture(kTypeIndex);
    const float value = static_cast<float>(modeComboBox->getSelectedId()) / 12.0f;
    kestrune.setParameterNotifyingHost(kTypeIndex, value);
    kestrune.endParameterChangeGesture(kTypeIndex);
    updateModeDescription();
}

JUCE_END_IGNORE_WARNINGS_GCC_LIKE

void KestruneRoomEditor::buttonClicked(juce::Button* button)
{
    if (button == earlyEditorSelect.get() || button == lateEditorSelect.get())
    {
        // The radio group has already switched the toggles; only the knobs follow.
        const bool early = button == earlyEditorSelect.get();
        for (int i = 0; i < kLateCount; ++i)
        {
            labels[(size_t)(kLatePage - 1 + i)]->setVisible(!early);
            sliders[(size_t)(kLatePage + i)]->setVisible(!early);
        }
        for (int i = 0; i < kEarlyCount; ++i)
        {
            labels[(size_t)(kEarlyPage - 1 + i)]->setVisible(early);
            sliders[(size_t)(kEarlyPage + i)]->setVisible(early);
        }
    }
    else if (button == presetsSelect.get())
    {
        presetMenu.showMenuAsync(juce::PopupMenu::Options().withTargetComponent(presetsSelect.get()),
                                 juce::ModalCallbackFunction::forComponent(presetMenuCallback, this));
    }
    else if (button == mixLockButton.get())
    {
        const bool locked = mixLockButton->getToggleState();
        kestrune.mixLock = locked;
        auto& mix = *sliders[0];
        mix.setColour(juce::Slider::trackColourId, palette[locked ? lockedTrack : sliderTrack]);
        mix.setColour(juce::Slider::thumbColourId, palette[locked ? lockedThumb : sliderThumb]);
        mix.setTooltip(mixTooltip(locked));
    }
    else if (button == GUIColorButton.get())
    {
        const bool oldSchool = GUIColorButton->getToggleState();
        kestrune.guiScheme = oldSchool ? 1 : 0;
        GUIColorButton->setButtonText(oldSchool ? kOldSchoolText : kElectricBlueText);
        setColourScheme(oldSchool ? 1 : 0);
        applyColourScheme();
        kestrune.setGUIModeProperty(oldSchool ? "OldSchool" : "ElectricBlue");
        kestrune.saveGUIMode();
    }
    else if (button == previousPresetButton.get())
    {
        stepPreset(-1);
    }
    else if (button == nextPresetButton.get())
    {
        stepPreset(+1);
    }
}

void KestruneRoomEditor::stepPreset(int direction)
{
    const int n = presetFiles.size();
    const int old = currentPresetIndex;
    if (direction < 0)
        currentPresetIndex = old <= 0 ? n - 1 : old - 1;
    else
        currentPresetIndex = old < n - 1 ? old + 1 : 0;

    const auto file =
        juce::isPositiveAndBelow(currentPresetIndex, n) ? presetFiles[currentPresetIndex] : juce::File();
    kestrune.loadPresetFile(file);
    presetsSelect->setButtonText(kestrune.getPresetName());
    presetsSelect->repaint();
}

void KestruneRoomEditor::changeListenerCallback(juce::ChangeBroadcaster*)
{
    std::array<float, kestrune::kNumParameters> p{};
    {
        const juce::ScopedLock lock(kestrune.getCallbackLock());
        for (int k = 0; k < kestrune::kNumParameters; ++k)
            p[(size_t)k] = kestrune.getParameter(k);
    }

    for (int k = 0; k < kNumSliders; ++k)
        sliders[(size_t)k]->setNormalisedValue(static_cast<double>(p[(size_t)k]), false);
    modeComboBox->setSelectedId(selectorIdFor(p[kTypeIndex]), juce::dontSendNotification);
    updateModeDescription();

    const int oldWidth = getWidth();
    const auto size = storedSizeWithinLimits();
    setSize(size.x, size.y);
    if (getWidth() != oldWidth)
    {
        uiScale = static_cast<float>(getWidth()) / static_cast<float>(kDesignWidth);
        layoutComponents();
    }
}

void KestruneRoomEditor::resized()
{
    if (resizer == nullptr)
        return; // still under construction

    resizer->setBounds(getWidth() - 16, getHeight() - 16, 16, 16);

    if (getWidth() != kestrune.uiWidth)
    {
        // A size outside the corner's limits (a host's own resize) is laid out but not stored, so
        // that a restored session opens at a size the corner can reach.
        const bool withinLimits = getWidth() >= kMinWidth && getWidth() <= kMaxWidth &&
                                  getHeight() >= kMinHeight && getHeight() <= kMaxHeight;
        if (withinLimits)
        {
            kestrune.uiWidth = getWidth();
            kestrune.uiHeight = getHeight();
        }
        uiScale = static_cast<float>(getWidth()) / static_cast<float>(kDesignWidth);
        layoutComponents();
    }
}

//==============================================================================================
const std::array<KestruneRoomEditor::TitlePiece, 3> KestruneRoomEditor::kTitle{
    {{"K", {21, 5, 30, 60}}, {"estrune", {42, 5, 115, 60}}, {"Room", {155, 5, 142, 60}}}};
const juce::Rectangle<int> KestruneRoomEditor::kInfoArea{20, 360, 700, 80};
const juce::Rectangle<int> KestruneRoomEditor::kVersionArea{510, 5, 200, 40};

int KestruneRoomEditor::describedModeFor(float typeValue)
{
    const float f = std::floor(typeValue * 12.0f);
    const int m = std::max(static_cast<int>(static_cast<double>(f) - 1.0), 0);
    return m <= kestrune::kNumModes - 1 ? m : 0;
}

juce::String KestruneRoomEditor::modeDescriptionText(int mode)
{
    static const char* const descriptions[kestrune::kNumModes] = {
        "Large Room: wide spatial impression, fairly high initial echo density, detuning modulation",
        "Medium Room: sparser initial echo density, random modulation",
        "Bright Room: bright tonality, deep modulation, slower attack",
        "Large Chamber: high initial echo density, smooth decay, detuning modulation",
        "Dark Room: downsampled, noisy random modulation, darker tone",
        "Dark Chamber: downsampled, high initial echo density, detuning modulation, darker tone",
        "Dark Space: downsampled, sparser initial echo density, detuning modulation, darker tone",
        "Nostromo: downsampled, sparse echo density & build time, random modulation, dark tone",
        "Narcissus: downsampled, sparse initial echo density, random modulation, dark tone, low CPU",
        "Sulaco: downsampled, lush modulation, stable stereo image, dark tone",
        "LV-426: downsampled, very slow reverb attack, lush random modulation, dark tone",
        "Dense Room: downsampled, high initial echo density, detuning modulation, fairly bright tone",
    };
    return descriptions[juce::isPositiveAndBelow(mode, kestrune::kNumModes) ? mode : 0];
}

void KestruneRoomEditor::updateModeDescription()
{
    const int m = describedModeFor(kestrune.getParameter(kTypeIndex));
    modeDescription = modeDescriptionText(m);
    if (m != describedMode)
    {
        // The description area reaches past the canvas's right edge (910 wide).
        repaint(scaled({25, 360, 910, 60}, uiScale));
        describedMode = m;
    }
}

KestruneRoomEditor::HoverChoice KestruneRoomEditor::chooseHoverHelp(const HoverInput& input,
                                                                    int previousHoverIndex)
{
    HoverChoice choice{previousHoverIndex, input.modeDescription};
    // Every slider is tested; with overlapping bounds the last one under the mouse wins.
    for (int k = 0; k < kNumSliders; ++k)
        if (input.overSlider[(size_t)k])
            choice = {k, input.sliderHelp[(size_t)k]};
    for (size_t c = 0; c < kHoverControlIndex.size(); ++c)
        if (input.overControl[c])
            return {kHoverControlIndex[c], input.controlHelp[c]};
    return choice;
}

void KestruneRoomEditor::updateHoverHelp()
{
    HoverInput input;
    input.modeDescription = modeDescription;
    for (int k = 0; k < kNumSliders; ++k)
    {
        input.overSlider[(size_t)k] = sliders[(size_t)k]->isMouseOver(false);
        input.sliderHelp[(size_t)k] = sliders[(size_t)k]->getTooltip();
    }
    const std::array<juce::Component*, 10> controls{
        modeComboBox.get(),     modeLabel.get(),     earlyEditorSelect.get(), lateEditorSelect.get(),
        mixLockButton.get(),    presetLabel.get(),   presetsSelect.get(),     previousPresetButton.get(),
        nextPresetButton.get(), GUIColorButton.get()};
    const auto selectorHelp = modeComboBox->getTooltip();
    input.controlHelp = {selectorHelp + "\n" + modeDescription, selectorHelp,
                         earlyEditorSelect->getTooltip(),       lateEditorSelect->getTooltip(),
                         mixLockButton->getTooltip(),           presetsSelect->getTooltip(),
                         presetsSelect->getTooltip(),           previousPresetButton->getTooltip(),
                         nextPresetButton->getTooltip(),        GUIColorButton->getTooltip()};
    for (size_t c = 0; c < controls.size(); ++c)
        input.overControl[c] = controls[c]->isMouseOver(true);

    const auto choice = chooseHoverHelp(input, hoverIndex);
    hoverIndex = choice.hoverIndex;
    infoText = choice.infoText;

    if (hoverIndex != shownHoverIndex)
    {
        shownHoverIndex = hoverIndex;
        infoNeedsRepaint = true;
    }
    else if (infoText != shownInfoText)
    {
        shownInfoText = infoText;
        infoNeedsRepaint = true;
    }
    else
    {
        infoNeedsRepaint = false;
    }
}

void KestruneRoomEditor::followMouse()
{
    updateHoverHelp();
    if (infoNeedsRepaint)
        repaint(scaled(kInfoArea, uiScale));
}

void KestruneRoomEditor::paint(juce::Graphics& g)
{
    const auto width = static_cast<float>(getWidth());
    const auto height = static_cast<float>(getHeight());
    g.setGradientFill(juce::ColourGradient(juce::Colour(0xFF464646u), 0.0f, 0.0f, juce::Colour(0xFF3A3A3Au),
                                           0.05f * width, height, false));
    g.fillAll();

    auto font = [](float height) { return KestruneRoomLookAndFeel2016::font(height); };

    const float t = uiScale * kTitleScale;
    for (const auto& piece : kTitle)
    {
        g.setColour(juce::Colours::white);
        g.setFont(font(kTitleFontHeight * t));
        g.drawText(piece.text, scaled(piece.design, t), juce::Justification::left, true);
    }

    g.setColour(juce::Colour(0xFF343434u));
    g.fillRoundedRectangle(380.0f * uiScale, 110.0f * uiScale, 330.0f * uiScale, 245.0f * uiScale,
                           20.5f * uiScale);

    const auto infoArea = scaled(kInfoArea, uiScale);
    g.setColour(juce::Colours::white);
    updateHoverHelp();
    arrangeInfoText(infoText, font(kInfoFontHeight * uiScale), infoArea).draw(g);
    if (infoNeedsRepaint)
        repaint(infoArea); // a text chosen during a partial paint is drawn whole next time

    g.setColour(juce::Colours::white);
    g.setFont(font(kVersionFontHeight * uiScale));
    g.drawFittedText(versionText, scaled(kVersionArea, uiScale), juce::Justification::bottomRight, 2, 1.0f);
}

juce::GlyphArrangement KestruneRoomEditor::arrangeInfoText(const juce::String& text, const juce::Font& font,
                                                           juce::Rectangle<int> area)
{
    // JUCE wraps a text that holds a line break at the area's width and then ignores the line limit,
    // so a long last line would climb over the mode and preset row. Such a text keeps its breaks only
    // while its lines fit one each; otherwise it flows as one paragraph over the lines there are.
    auto lines = juce::StringArray::fromLines(text);
    bool keepBreaks = lines.size() <= kInfoLines;
    for (auto& line : lines)
    {
        line = line.trim();
        keepBreaks = keepBreaks && font.getStringWidthFloat(line) < (float)area.getWidth();
    }
    lines.removeEmptyStrings();

    juce::GlyphArrangement arrangement;
    arrangement.addFittedText(font, keepBreaks ? text : lines.joinIntoString(" "), (float)area.getX(),
                              (float)area.getY(), (float)area.getWidth(), (float)area.getHeight(),
                              juce::Justification::bottomLeft, kInfoLines, 1.0f);
    return arrangement;
}
