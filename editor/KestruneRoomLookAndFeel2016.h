#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The editor's main look-and-feel: knobs (a disc with a pointer bar), vertical sliders (track, cover
// above the position, thin thumb), pill buttons, the mode combo box and the slider text boxes, and the
// embedded typeface it answers for every font, whatever name or style the font asks for.
//
// One instance per process, created on first use and deleted at JUCE's shutdown (with the other
// DeletedAtShutdown objects), so it outlives every editor. Message thread only. Use:
//     auto* laf = KestruneRoomLookAndFeel2016::getInstance();
//     KestruneRoomLookAndFeel2016::makeDefault();   // every editor construction
//     knob.setLookAndFeel (laf);                     // and setLookAndFeel (nullptr) before the knob goes
// Fonts are asked for by the name kFontName ("FuturaTf"); font (height) builds one.
class KestruneRoomLookAndFeel2016 : public juce::LookAndFeel_V2, private juce::DeletedAtShutdown
{
  public:
    static constexpr const char* kFontName = "FuturaTf";

    // A plain font under kFontName; resolved to the embedded face while this look-and-feel is the default.
    static juce::Font font(float height);

    // Makes the instance the process-wide default and drops fonts that were resolved before it was.
    static void makeDefault();

    // The colours the constructor sets, in order (KestruneLookAndFeel2013 shares them but for the
    // text-box outline, which is opaque there).
    struct ColourEntry
    {
        int id;
        juce::uint32 argb;
    };
    static constexpr int kNumColours = 13;
    static const ColourEntry colourTable[kNumColours];

    // The label a slider's text box uses: a mouse wheel over it does nothing, where juce::Label would
    // hand the wheel on to the slider and change its value.
    class SliderLabelComp : public juce::Label
    {
      public:
        SliderLabelComp() : juce::Label({}, {}) {}
        void mouseWheelMove(const juce::MouseEvent&, const juce::MouseWheelDetails&) override {}
    };

    ~KestruneRoomLookAndFeel2016() override;

    juce::Typeface::Ptr getTypefaceForFont(const juce::Font&) override;

    void drawButtonBackground(juce::Graphics&, juce::Button&, const juce::Colour& backgroundColour,
                              bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;
    juce::Font getTextButtonFont(juce::TextButton&, int buttonHeight) override;

    void drawComboBox(juce::Graphics&, int width, int height, bool isButtonDown, int buttonX, int buttonY,
                      int buttonW, int buttonH, juce::ComboBox&) override;
    juce::Font getComboBoxFont(juce::ComboBox&) override;
    void drawComboBoxTextWhenNothingSelected(juce::Graphics&, juce::ComboBox&, juce::Label&) override;

    void drawLinearSlider(juce::Graphics&, int x, int y, int width, int height, float sliderPos,
                          float minSliderPos, float maxSliderPos, const juce::Slider::SliderStyle,
                          juce::Slider&) override;
    void drawRotarySlider(juce::Graphics&, int x, int y, int width, int height, float sliderPosProportional,
                          float rotaryStartAngle, float rotaryEndAngle, juce::Slider&) override;
    juce::Label* createSliderTextBox(juce::Slider&) override;

    // The face every font resolves to (for tests and the editor's own measurements).
    juce::Typeface::Ptr getEmbeddedTypeface() const { return embeddedTypeface; }

    JUCE_DECLARE_SINGLETON_SINGLETHREADED_MINIMAL(KestruneRoomLookAndFeel2016)

  private:
    KestruneRoomLookAndFeel2016();

    static void drawTriangle(juce::Graphics&, juce::Point<float> a, juce::Point<float> b,
                             juce::Point<float> c, juce::Colour fill, juce::Colour outline) noexcept;

    juce::Typeface::Ptr embeddedTypeface;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(KestruneRoomLookAndFeel2016)
};
