#include "KestruneRoomLookAndFeel2016.h"

#include "resources/KestruneTypeface.h"

#include <algorithm>
#include <cmath>

JUCE_IMPLEMENT_SINGLETON(KestruneRoomLookAndFeel2016)

namespace
{
// Nearest integer, ties to even (the default rounding mode).
int nint(float v)
{
    return (int)std::lrint(v);
}

// Grey 0xFF808080 at alpha 0.7 with the alpha byte 179 (0xB3); written out because this JUCE's
// withAlpha (0.7f) rounds to 178 (0xB2).
constexpr juce::uint32 greyAt70 = 0xB3808080;
} // namespace

const KestruneRoomLookAndFeel2016::ColourEntry KestruneRoomLookAndFeel2016::colourTable[kNumColours] = {
    {juce::TextButton::buttonColourId, 0xFFCCCCFF},
    {juce::ComboBox::buttonColourId, 0xFFBBBBFF},
    {juce::ComboBox::outlineColourId, greyAt70},
    {juce::ScrollBar::backgroundColourId, 0x00000000},
    {juce::ScrollBar::thumbColourId, 0xFFFFFFFF},
    {juce::Slider::backgroundColourId, 0xFFFFFFFF},
    {juce::Slider::textBoxOutlineColourId, 0x00466FB7},
    {juce::ProgressBar::backgroundColourId, 0xFFFFFFFF},
    {juce::ProgressBar::foregroundColourId, 0xFFAAAAEE},
    {juce::PopupMenu::backgroundColourId, 0xFFFFFFFF},
    {juce::PopupMenu::highlightedTextColourId, 0xFFFFFFFF},
    {juce::PopupMenu::highlightedBackgroundColourId, greyAt70},
    {juce::TextEditor::focusedOutlineColourId, 0xFFCCCCFF},
};

KestruneRoomLookAndFeel2016::KestruneRoomLookAndFeel2016()
{
    for (const auto& entry : colourTable)
        setColour(entry.id, juce::Colour(entry.argb));

    setDefaultSansSerifTypefaceName("Monaco");

    juce::MemoryInputStream stream(KestruneTypeface::data, (size_t)KestruneTypeface::size, false);
    embeddedTypeface = new juce::CustomTypeface(stream);
}

KestruneRoomLookAndFeel2016::~KestruneRoomLookAndFeel2016()
{
    clearSingletonInstance();
}

juce::Font KestruneRoomLookAndFeel2016::font(float height)
{
    return juce::Font(kFontName, height, juce::Font::plain);
}

void KestruneRoomLookAndFeel2016::makeDefault()
{
    juce::LookAndFeel::setDefaultLookAndFeel(getInstance());
    // Fonts resolved under another default would otherwise keep their system face.
    juce::Typeface::clearTypefaceCache();
}

juce::Typeface::Ptr KestruneRoomLookAndFeel2016::getTypefaceForFont(const juce::Font&)
{
    return embeddedTypeface;
}

void KestruneRoomLookAndFeel2016::drawButtonBackground(juce::Graphics& g, juce::Button& button,
                                                       const juce::Colour& backgroundColour,
                                                       bool shouldDrawButtonAsHighlighted,
                                                       bool shouldDrawButtonAsDown)
{
    const bool enabled = button.isEnabled();
    const float inset = !enabled                                                    ? 0.2f
                        : (shouldDrawButtonAsDown || shouldDrawButtonAsHighlighted) ? 0.6f
                                                                                    : 0.35f;

    const float left = button.isConnectedOnLeft() ? 0.1f : inset;
    const float right = button.isConnectedOnRight() ? 0.1f : inset;
    const float top = button.isConnectedOnTop() ? 0.1f : inset;
    const float bottom = button.isConnectedOnBottom() ? 0.1f : inset;

    auto colour = backgroundColour.withMultipliedSaturation(button.hasKeyboardFocus(true) ? 1.3f : 0.9f);
    if (shouldDrawButtonAsDown)
        colour = colour.contrasting(0.2f);
    else if (shouldDrawButtonAsHighlighted)
        colour = colour.contrasting(0.1f);
    colour = colour.withMultipliedAlpha(enabled ? 1.0f : 0.5f);

    const auto width = (float)button.getWidth();
    const auto height = (float)button.getHeight();
    g.setColour(colour);
    g.fillRoundedRectangle(left, top, width - left - right, height - top - bottom, 0.5f * height);
}

juce::Font KestruneRoomLookAndFeel2016::getTextButtonFont(juce::TextButton&, int buttonHeight)
{
    return font((float)buttonHeight / 24.0f * 20.0f);
}

void KestruneRoomLookAndFeel2016::drawComboBox(juce::Graphics& g, int width, int height, bool isButtonDown,
                                               int buttonX, int buttonY, int buttonW, int buttonH,
                                               juce::ComboBox& box)
{
    const bool enabled = box.isEnabled();
    g.fillAll(box.findColour(juce::ComboBox::backgroundColourId));

    if (enabled && box.hasKeyboardFocus(false))
    {
        g.setColour(box.findColour(juce::TextButton::buttonColourId));
        g.drawRect(0, 0, width, height, 2);
    }
    else
    {
        g.setColour(box.findColour(juce::ComboBox::outlineColourId));
        g.drawRect(0, 0, width, height);
    }

    const float t = !enabled ? 0.3f : isButtonDown ? 1.2f : 0.5f;

    auto colour = box.findColour(juce::ComboBox::buttonColourId)
                      .withMultipliedSaturation(box.hasKeyboardFocus(true) ? 1.3f : 0.9f);
    if (isButtonDown)
        colour = colour.contrasting(0.2f);

    const auto bx = (float)buttonX;
    const auto by = (float)buttonY;
    const auto bw = (float)buttonW;
    const auto bh = (float)buttonH;
    drawGlassLozenge(g, bx + t, by + t, bw - 2.0f * t, bh - 2.0f * t, colour, t, -1.0f, true, true, true,
                     true);

    if (enabled)
    {
        juce::Path arrows;
        arrows.addTriangle(bx + 0.5f * bw, by + 0.25f * bh, bx + 0.7f * bw, by + 0.45f * bh, bx + 0.3f * bw,
                           by + 0.45f * bh);
        arrows.addTriangle(bx + 0.5f * bw, by + 0.75f * bh, bx + 0.7f * bw, by + 0.55f * bh, bx + 0.3f * bw,
                           by + 0.55f * bh);
        g.setColour(box.findColour(juce::ComboBox::arrowColourId));
        g.fillPath(arrows);
    }
}

juce::Font KestruneRoomLookAndFeel2016::getComboBoxFont(juce::ComboBox& box)
{
    return font((float)box.getHeight() / 24.0f * 20.0f);
}

void KestruneRoomLookAndFeel2016::drawComboBoxTextWhenNothingSelected(juce::Graphics& g, juce::ComboBox& box,
                                                                      juce::Label& label)
{
    // The base uses the look-and-feel's text colour at half alpha, which vanishes on this panel.
    g.setColour(box.findColour(juce::ComboBox::textColourId));

    const auto labelFont = label.getLookAndFeel().getLabelFont(label);
    g.setFont(labelFont);

    const auto area = getLabelBorderSize(label).subtractedFrom(label.getLocalBounds());
    g.drawFittedText(box.getTextWhenNothingSelected(), area, label.getJustificationType(),
                     std::max(1, (int)((float)area.getHeight() / labelFont.getHeight())),
                     label.getMinimumHorizontalScale());
}

void KestruneRoomLookAndFeel2016::drawLinearSlider(juce::Graphics& g, int x, int y, int width, int height,
                                                   float sliderPos, float minSliderPos, float maxSliderPos,
                                                   const juce::Slider::SliderStyle style,
                                                   juce::Slider& slider)
{
    using S = juce::Slider;
    g.fillAll(slider.findColour(S::backgroundColourId));

    const auto track = slider.findColour(S::trackColourId);
    const auto cover = slider.findColour(S::rotarySliderFillColourId);
    const auto thumb = slider.findColour(S::thumbColourId);
    const int pos = (int)sliderPos;

    if (style == S::LinearVertical)
    {
        const int t = (int)(0.3f * (float)width);
        const int left = (int)(0.5f * (float)width) + x - t;
        g.setColour(track);
        g.fillRect(left, y, 2 * t, height);
        g.setColour(cover);
        g.fillRect(left, y, 2 * t, pos - y);
        // The bar sits 6 px below (position - y): the track area starts y px into the component.
        g.setColour(thumb);
        g.fillRect(left, (pos - y) + 6, 2 * t, 6);
        return;
    }

    if (style == S::LinearHorizontal)
    {
        g.setColour(track);
        g.fillRect(x, y, width, height);
        g.setColour(cover);
        g.fillRect(x, y, pos - x, height);
        g.setColour(thumb);
        g.fillRect((pos - x) + 6, y, 6, height);
        return;
    }

    if (style == S::LinearBar)
    {
        g.setColour(thumb);
        g.fillRect(x, y, pos - x, height);
        g.setColour(slider.findColour(S::textBoxTextColourId).withMultipliedAlpha(0.5f));
        g.drawRect(x, y, pos - x, height, 1);
        return;
    }

    const bool enabled = slider.isEnabled();
    const auto w = (float)width;
    const auto h = (float)height;

    g.setColour(track.withMultipliedAlpha(enabled ? 1.0f : 0.3f));
    if (slider.isHorizontal())
        g.fillRect(x, y + nint(0.6f * h), width, nint(0.2f * h));
    else
        g.fillRect(x + nint(0.5f * w - std::min(0.1f * w, 3.0f)), y, std::min(4, nint(0.2f * w)), height);

    const auto fill = thumb.withAlpha(!enabled ? 0.35f : slider.isMouseOverOrDragging() ? 1.0f : 0.7f);
    const auto outline = juce::Colours::black.withAlpha(enabled ? 0.7f : 0.35f);

    using P = juce::Point<float>;
    const float cx = (float)x + 0.5f * w;
    const float cy0 = (float)y + 0.6f * h - std::min(4.0f, 0.3f * h);
    const float y9 = (float)y + 0.9f * h;
    const float y2 = (float)y + 0.2f * h;
    const float near4 = std::min(4.0f, 0.3f * w);
    const float near8 = std::min(8.0f, 0.4f * w);
    const float lo = minSliderPos;
    const float hi = maxSliderPos;
    const float at = sliderPos;

    if (style == S::TwoValueVertical || style == S::ThreeValueVertical)
    {
        drawTriangle(g, P(cx + near4, lo), P(cx - near8, lo - 7.0f), P(cx - near8, lo), fill, outline);
        drawTriangle(g, P(cx + near4, hi), P(cx - near8, hi), P(cx - near8, hi + 7.0f), fill, outline);
    }
    else if (style == S::TwoValueHorizontal || style == S::ThreeValueHorizontal)
    {
        drawTriangle(g, P(lo, cy0), P(lo - 7.0f, y9), P(lo, y9), fill, outline);
        drawTriangle(g, P(hi, cy0), P(hi, y9), P(hi + 7.0f, y9), fill, outline);
    }

    if (style == S::ThreeValueVertical)
        drawTriangle(g, P(cx - near4, at), P(cx + near8, at - 7.0f), P(cx + near8, at + 7.0f), fill, outline);
    else if (style == S::ThreeValueHorizontal)
        drawTriangle(g, P(at, y9), P(at - 7.0f, y2), P(at + 7.0f, y2), fill, outline);
}

void KestruneRoomLookAndFeel2016::drawTriangle(juce::Graphics& g, juce::Point<float> a, juce::Point<float> b,
                                               juce::Point<float> c, juce::Colour fill,
                                               juce::Colour outline) noexcept
{
    juce::Path p;
    p.addTriangle(a, b, c);
    g.setColour(fill);
    g.fillPath(p);
    g.setColour(outline);
    g.strokePath(p, juce::PathStrokeType(0.3f));
}

void KestruneRoomLookAndFeel2016::drawRotarySlider(juce::Graphics& g, int x, int y, int width, int height,
                                                   float sliderPosProportional, float rotaryStartAngle,
                                                   float rotaryEndAngle, juce::Slider& slider)
{
    const float r = (float)((double)(std::min(width / 2, height / 2) - 2) * 0.9);
    const float cx = (float)x + 0.5f * (float)width;
    const float cy = (float)y + 0.5f * (float)height;
    const float angle = rotaryStartAngle + sliderPosProportional * (rotaryEndAngle - rotaryStartAngle);
    const bool enabled = slider.isEnabled();
    const float alpha = (enabled && slider.isMouseOverOrDragging()) ? 0.7f : 1.0f;

    g.setColour(slider.findColour(juce::Slider::rotarySliderOutlineColourId));
    g.fillEllipse(cx - r, cy - r, 2.0f * r, 2.0f * r);

    g.setColour(enabled ? slider.findColour(juce::Slider::rotarySliderFillColourId).withAlpha(alpha)
                        : juce::Colour(0x80808080));

    // From half the radius to just past the rim.
    juce::Path pointer;
    pointer.addLineSegment(juce::Line<float>(0.0f, -0.5f * r, 0.0f, -(r + 0.1f)), 0.24f * r);
    g.fillPath(pointer, juce::AffineTransform::rotation(angle).translated(cx, cy));
}

juce::Label* KestruneRoomLookAndFeel2016::createSliderTextBox(juce::Slider& slider)
{
    using S = juce::Slider;
    auto* label = new SliderLabelComp();
    label->setFont(font((float)slider.getWidth() / 70.0f * 18.0f));
    label->setJustificationType(juce::Justification::centred);

    const bool bar = slider.getSliderStyle() == S::LinearBar;
    const auto text = slider.findColour(S::textBoxTextColourId);
    const auto background = slider.findColour(S::textBoxBackgroundColourId);
    const auto outline = slider.findColour(S::textBoxOutlineColourId);

    label->setColour(juce::Label::textColourId, text);
    label->setColour(juce::Label::backgroundColourId, bar ? juce::Colours::transparentBlack : background);
    label->setColour(juce::Label::outlineColourId, outline);
    label->setColour(juce::TextEditor::textColourId, text);
    label->setColour(juce::TextEditor::backgroundColourId, background.withAlpha(bar ? 0.7f : 1.0f));
    label->setColour(juce::TextEditor::outlineColourId, outline);
    return label;
}
