#include "KestruneLookAndFeel2013.h"

#include "KestruneRoomLookAndFeel2016.h"

#include <algorithm>
#include <cmath>

JUCE_IMPLEMENT_SINGLETON(KestruneLookAndFeel2013)

KestruneLookAndFeel2013::KestruneLookAndFeel2013()
{
    for (const auto& entry : KestruneRoomLookAndFeel2016::colourTable)
    {
        // The one difference from the main table: the text-box outline is opaque here.
        const auto argb = entry.id == juce::Slider::textBoxOutlineColourId ? 0xFF466FB7 : entry.argb;
        setColour(entry.id, juce::Colour(argb));
    }

    setDefaultSansSerifTypefaceName("Arial");
}

KestruneLookAndFeel2013::~KestruneLookAndFeel2013()
{
    clearSingletonInstance();
}

void KestruneLookAndFeel2013::drawButtonBackground(juce::Graphics&, juce::Button&, const juce::Colour&, bool,
                                                   bool)
{
    // A plain text field: no body in any state.
}

juce::Font KestruneLookAndFeel2013::getTextButtonFont(juce::TextButton&, int buttonHeight)
{
    return juce::Font(std::min(15.0f, (float)buttonHeight * 0.6f));
}

juce::Rectangle<int> KestruneLookAndFeel2013::getTextArea(juce::TextButton& button)
{
    const int w = button.getWidth();
    const int h = button.getHeight();
    // The button's own font sizes only the side indents.
    const auto f = getTextButtonFont(button, h);

    const int yIndent = std::min(4, button.proportionOfHeight(0.3f));
    const int cornerSize = std::min(h, w) / 2;
    const int fontHeight = (int)std::lrint(0.6f * f.getHeight());
    const int leftIndent = std::min(fontHeight, 2 + cornerSize / (button.isConnectedOnLeft() ? 4 : 2));
    const int rightIndent = std::min(fontHeight, 2 + cornerSize / (button.isConnectedOnRight() ? 4 : 2));

    return {leftIndent, yIndent, w - leftIndent - rightIndent, h - 2 * yIndent};
}

juce::Font KestruneLookAndFeel2013::getTextFont(const juce::TextButton& button)
{
    return juce::Font("Arial", (float)button.getHeight() / 20.0f * 18.0f, juce::Font::bold);
}

void KestruneLookAndFeel2013::drawButtonText(juce::Graphics& g, juce::TextButton& button, bool, bool)
{
    g.setFont(getTextFont(button));
    g.setColour(button
                    .findColour(button.getToggleState() ? juce::TextButton::textColourOnId
                                                        : juce::TextButton::textColourOffId)
                    .withMultipliedAlpha(button.isEnabled() ? 1.0f : 0.5f));

    g.drawFittedText(button.getButtonText(), getTextArea(button), juce::Justification::centredLeft, 1, 0.7f);
}

juce::Font KestruneLookAndFeel2013::getComboBoxFont(juce::ComboBox& box)
{
    return juce::Font("Arial", (float)box.getHeight() / 24.0f * 18.0f, juce::Font::bold);
}

void KestruneLookAndFeel2013::drawRotarySlider(juce::Graphics& g, int x, int y, int width, int height,
                                               float sliderPosProportional, float rotaryStartAngle,
                                               float rotaryEndAngle, juce::Slider& slider)
{
    const float r = (float)(std::min(width / 2, height / 2)) - 2.0f;
    const float cx = (float)x + 0.5f * (float)width;
    const float cy = (float)y + 0.5f * (float)height;
    const float angle = rotaryStartAngle + sliderPosProportional * (rotaryEndAngle - rotaryStartAngle);
    const bool enabled = slider.isEnabled();
    const float alpha = (enabled && slider.isMouseOverOrDragging()) ? 1.0f : 0.7f;

    g.setColour(slider.findColour(juce::Slider::rotarySliderOutlineColourId));
    g.fillEllipse(cx - r, cy - r, 2.0f * r, 2.0f * r);

    g.setColour(enabled ? slider.findColour(juce::Slider::rotarySliderFillColourId).withAlpha(alpha)
                        : juce::Colour(0x80808080));

    juce::Path pointer;
    pointer.addLineSegment(juce::Line<float>(0.0f, -0.7f * r, 0.0f, -r), 0.16f * r);
    g.fillPath(pointer, juce::AffineTransform::rotation(angle).translated(cx, cy));
}
