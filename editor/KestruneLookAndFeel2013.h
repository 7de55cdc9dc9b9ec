#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The preset button's look-and-feel: no button body, the preset name drawn left-aligned in a bold
// "Arial" font (drawn with the embedded face while KestruneRoomLookAndFeel2016 is the default).
//
// One instance per process, created on first use and deleted at JUCE's shutdown. Message thread only:
//     presetsSelect.setLookAndFeel (KestruneLookAndFeel2013::getInstance());
// and setLookAndFeel (nullptr) before the button goes.
class KestruneLookAndFeel2013 : public juce::LookAndFeel_V2, private juce::DeletedAtShutdown
{
  public:
    ~KestruneLookAndFeel2013() override;

    void drawButtonBackground(juce::Graphics&, juce::Button&, const juce::Colour& backgroundColour,
                              bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;
    juce::Font getTextButtonFont(juce::TextButton&, int buttonHeight) override;
    void drawButtonText(juce::Graphics&, juce::TextButton&, bool shouldDrawButtonAsHighlighted,
                        bool shouldDrawButtonAsDown) override;
    juce::Font getComboBoxFont(juce::ComboBox&) override;
    void drawRotarySlider(juce::Graphics&, int x, int y, int width, int height, float sliderPosProportional,
                          float rotaryStartAngle, float rotaryEndAngle, juce::Slider&) override;

    // Where drawButtonText fits the text, in the button's pixels, and the font it draws it in.
    juce::Rectangle<int> getTextArea(juce::TextButton&);
    static juce::Font getTextFont(const juce::TextButton&);

    JUCE_DECLARE_SINGLETON_SINGLETHREADED_MINIMAL(KestruneLookAndFeel2013)

  private:
    KestruneLookAndFeel2013();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(KestruneLookAndFeel2013)
};
