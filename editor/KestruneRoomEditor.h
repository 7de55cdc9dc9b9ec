#pragma once

#include "KestruneRoom.h"
#include "KestruneSlider.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <functional>
#include <memory>

// The preset folder below the user's (which == 1) or the all-users (any other value) application-data
// folder; the empty file when that folder does not exist (the user's may be missing while the home
// folder is there). Computes the path only, creates nothing.
juce::File getPresetFolder(int which);

// The two folders the preset menu lists. Tests hand in temporary folders so that they never touch the
// real ones.
struct PresetFolders
{
    juce::File factory;
    juce::File user;

    static PresetFolders system() { return {getPresetFolder(0), getPresetFolder(1)}; }
};

// The plug-in's window: five vertical sliders, fourteen knobs on an EARLY and a LATE page, the mode
// selector, the mix lock, the colour-scheme button, the preset menu with its arrows and the info area.
// Laid out on a 735 x 460 canvas scaled by width / 735.
class KestruneRoomEditor : public juce::AudioProcessorEditor,
                           public juce::Button::Listener,
                           public juce::ChangeListener,
                           public juce::Slider::Listener,
                           public juce::ComboBox::Listener
{
  public:
    static constexpr int kNumSliders = 19;
    static constexpr int kNumCaptions = 18;
    static constexpr int kDesignWidth = 735;
    static constexpr int kDesignHeight = 460;
    static constexpr int kMinWidth = 367, kMinHeight = 230;
    static constexpr int kMaxWidth = 1102, kMaxHeight = 690;
    // 735 / 460 divided in single precision, then widened: the ratio the corner has always kept.
    static constexpr double kAspectRatio = static_cast<double>(735.0f / 460.0f);
    static constexpr int kPageRadioGroup = 12345;

    enum PaletteEntry
    {
        sliderTrack,
        sliderThumb,
        knobOutline,
        knobFill,
        selectorText,
        pageButtonOn,
        pageButtonOff,
        pageTextOn,
        pageTextOff,
        arrowColour,
        lockTextOn,
        lockTextOff,
        lockedTrack,
        lockedThumb,
        kPaletteSize
    };
    using Palette = std::array<juce::Colour, kPaletteSize>;

    // What "Save as..." asks the user. The defaults open the file chooser and alert windows; tests
    // replace them, since nobody can click through a dialog there. Each answers through its callback.
    struct SaveDialogs
    {
        // Delivers the chosen file, or the empty file when the user cancelled.
        std::function<void(const juce::File& startFolder, std::function<void(const juce::File&)>)> chooseFile;
        // Delivers true when the existing file may be replaced.
        std::function<void(const juce::File& existing, std::function<void(bool)>)> confirmReplace;
        std::function<void(const juce::String& message)> reportFailure;
    };

    // Input of the hover-help choice, gathered from the components under the mouse.
    struct HoverInput
    {
        std::array<bool, kNumSliders> overSlider{}; // the slider itself, not its text box
        std::array<bool, 10> overControl{};         // in kHoverControlIndex order, children counting
        std::array<juce::String, kNumSliders> sliderHelp;
        std::array<juce::String, 10> controlHelp;
        juce::String modeDescription;
    };
    struct HoverChoice
    {
        int hoverIndex;
        juce::String infoText;
    };
    // Hover indices of the controls tested after the sliders, in the order they are tested:
    // selector, its caption, EARLY, LATE, MIX lock, preset caption, preset button, the two arrows, scheme.
    static constexpr std::array<int, 10> kHoverControlIndex{20, 21, 22, 23, 24, 25, 26, 27, 27, 28};

    explicit KestruneRoomEditor(KestruneRoom& processor, PresetFolders folders = PresetFolders::system());
    ~KestruneRoomEditor() override;

    void paint(juce::Graphics& g) override;
    void resized() override;

    void changeListenerCallback(juce::ChangeBroadcaster* source) override;
    void sliderValueChanged(juce::Slider* slider) override;
    void sliderDragStarted(juce::Slider* slider) override;
    void sliderDragEnded(juce::Slider* slider) override;
    void buttonClicked(juce::Button* button) override;
    void comboBoxChanged(juce::ComboBox* comboBox) override;

    void layoutComponents();

    // Fills the palette for scheme 1 (Old School) or any other value (Electric Blue); touches no control.
    void setColourScheme(int scheme);
    // Pushes the palette into the controls and repaints.
    void applyColourScheme();
    static Palette paletteFor(int scheme);

    void updateModeDescription();
    void updateHoverHelp();
    static HoverChoice chooseHoverHelp(const HoverInput& input, int previousHoverIndex);
    // Mode index whose description the info area shows for a normalised type value (0 beyond the list).
    static int describedModeFor(float typeValue);
    static juce::String modeDescriptionText(int mode);

    void buildPresetMenu();
    static void presetMenuCallback(int result, KestruneRoomEditor* editor);
    void presetMenuItemChosen(int result);

    // A design-canvas rectangle at a scale, each bound truncated toward zero.
    static juce::Rectangle<int> scaled(juce::Rectangle<int> design, float scale);

    // What paint draws, on the design canvas. The title's pieces lie on the canvas scaled by a
    // further kTitleScale; font heights are scaled like the canvas, without truncation.
    struct TitlePiece
    {
        const char* text;
        juce::Rectangle<int> design;
    };
    static const std::array<TitlePiece, 3> kTitle;
    static constexpr float kTitleScale = 1.25f, kTitleFontHeight = 44.0f;
    static const juce::Rectangle<int> kInfoArea, kVersionArea;
    static constexpr float kInfoFontHeight = 20.0f, kVersionFontHeight = 18.0f;
    static constexpr int kInfoLines = 2;
    // The info text laid out in its area: bottom-left, at most kInfoLines lines, never squeezed.
    static juce::GlyphArrangement arrangeInfoText(const juce::String& text, const juce::Font& font,
                                                  juce::Rectangle<int> area);

    // Slider k's tooltip; slider 0 has a plain, a locked and an unlocked text.
    static juce::String sliderTooltip(int k);
    static juce::String mixTooltip(bool locked);

    // --- the window's parts, public so that the tests can inspect them -----------------------------
    juce::String clipboardText;
    juce::Array<juce::File> presetFiles;
    juce::PopupMenu presetMenu;
    int currentPresetIndex = -1; // no preset chosen yet
    std::unique_ptr<juce::ResizableCornerComponent> resizer;
    juce::ComponentBoundsConstrainer resizeLimits;
    Palette palette{};
    std::array<std::unique_ptr<KestruneSlider>, kNumSliders> sliders;
    std::array<std::unique_ptr<juce::Label>, kNumCaptions> labels;
    std::unique_ptr<juce::TextButton> earlyEditorSelect, lateEditorSelect;
    std::unique_ptr<juce::TextButton> mixLockButton;
    std::unique_ptr<juce::TextButton> GUIColorButton;
    std::unique_ptr<juce::Label> modeLabel;
    std::unique_ptr<juce::ComboBox> modeComboBox;
    std::unique_ptr<juce::Label> presetLabel;
    std::unique_ptr<juce::TextButton> presetsSelect;
    std::unique_ptr<juce::ShapeButton> previousPresetButton, nextPresetButton;
    int hoverIndex = 0;
    int shownHoverIndex = 0;
    int describedMode = -1; // no description set yet
    juce::String versionText;
    juce::String modeDescription;
    bool infoNeedsRepaint = false;
    juce::String infoText, shownInfoText;
    juce::File factoryPresetFolder, userPresetFolder;
    float uiScale = 1.0f;
    SaveDialogs saveDialogs;

  private:
    KestruneRoom& kestrune;
    std::unique_ptr<juce::FileChooser> fileChooser; // kept alive while the asynchronous chooser is open

    // Hears the mouse enter, leave and move over the editor and every control in it: the info area
    // follows the mouse instead of waiting for something under it to repaint (the selector and the
    // captions never do, and leaving a control for the background repaints nothing).
    struct HoverFollower final : juce::MouseListener
    {
        explicit HoverFollower(KestruneRoomEditor& e) : editor(e) {}
        void mouseEnter(const juce::MouseEvent&) override { editor.followMouse(); }
        void mouseExit(const juce::MouseEvent&) override { editor.followMouse(); }
        void mouseMove(const juce::MouseEvent&) override { editor.followMouse(); }
        KestruneRoomEditor& editor;
    } hoverFollower{*this};
    void followMouse();

    void setUpCaptions();
    void setUpSliders();
    void setUpButtons();
    void setDefaultSaveDialogs();
    void saveAs();
    void saveTo(const juce::File& chosen);
    void writePreset(const juce::File& file, const juce::String& name);
    void stepPreset(int direction);
    // The processor's stored size, kept within the corner's limits.
    juce::Point<int> storedSizeWithinLimits() const;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(KestruneRoomEditor)
};
