// The slider's value mapping, the two look-and-feels' colour tables, fonts and drawing (checked on
// pixels drawn into an image, which needs no display), and the embedded typeface's stream.

#include "KestruneLookAndFeel2013.h"
#include "KestruneRoomLookAndFeel2016.h"
#include "KestruneSlider.h"
#include "resources/KestruneTypeface.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>
#include <functional>

namespace
{

// ------------------------------------------------------------------------------------------------
// KestruneSlider

struct MappingCase
{
    double skew, lo, hi, proportion, value;
};

TEST(KestruneSlider, MapsPositionsThroughTheSkew)
{
    const MappingCase cases[] = {
        {1.0, 0.0, 100.0, 0.0, 0.0}, // linear over the range
        {1.0, 0.0, 100.0, 0.25, 25.0},
        {1.0, 100.0, 15000.0, 1.0, 15000.0},
        {0.5, 0.0, 100.0, 0.0, 0.0}, // ends stay put whatever the skew
        {0.5, 0.0, 100.0, 1.0, 100.0},
        {0.5, 0.0, 100.0, 0.5, 25.0}, // 0.5^(1/0.5): the lower part gets more track
        {0.25, 100.0, 15000.0, 0.5, 100.0 + 14900.0 * 0.0625},
        {2.0, 0.1, 100.0, 0.25, 0.1 + 99.9 * 0.5},
        {0.5, 0.0, 100.0, -0.5, -50.0}, // a negative proportion extrapolates linearly
        {1.0, 10.0, 20.0, -1.0, 0.0},
    };

    KestruneSlider slider("0");
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message()
                     << "skew " << c.skew << " range " << c.lo << ".." << c.hi << " p " << c.proportion);
        slider.setRange(c.lo, c.hi);
        slider.setSkewFactor(c.skew);
        EXPECT_NEAR(slider.proportionOfLengthToValue(c.proportion), c.value, 1e-9 * std::abs(c.hi));
        if (c.proportion >= 0.0)
        {
            EXPECT_NEAR(slider.valueToProportionOfLength(c.value), c.proportion, 1e-12);
        }
    }
}

TEST(KestruneSlider, MappingsAreInversesAcrossTheRange)
{
    KestruneSlider slider("3");
    slider.setRange(100.0, 15000.0);
    for (double skew : {0.2, 0.3, 1.0, 1.7})
    {
        slider.setSkewFactor(skew);
        for (int i = 0; i <= 20; ++i)
        {
            const double p = i / 20.0;
            EXPECT_NEAR(slider.valueToProportionOfLength(slider.proportionOfLengthToValue(p)), p, 1e-12)
                << "skew " << skew;
        }
    }
}

// Counts value changes the way JUCE reports them to a slider (synchronously, for any notification).
struct CountingSlider : KestruneSlider
{
    CountingSlider() : KestruneSlider("2") {}
    void valueChanged() override { ++changes; }
    int changes = 0;
};

TEST(KestruneSlider, NormalisedValueIsLinearWhateverTheSkew)
{
    CountingSlider slider;
    slider.setRange(0.1, 100.0);
    slider.setSkewFactorFromMidPoint(2.0);
    ASSERT_NE(slider.getSkewFactor(), 1.0);

    slider.setValue(0.1, juce::dontSendNotification);
    EXPECT_DOUBLE_EQ(slider.getNormalisedValue(), 0.0);
    slider.setValue(100.0, juce::dontSendNotification);
    EXPECT_DOUBLE_EQ(slider.getNormalisedValue(), 1.0);

    slider.setNormalisedValue(0.5, false);
    EXPECT_DOUBLE_EQ(slider.getValue(), 0.1 + 0.5 * 99.9);
    EXPECT_DOUBLE_EQ(slider.getNormalisedValue(), 0.5);
    EXPECT_GT(slider.valueToProportionOfLength(slider.getValue()), 0.5); // off the track's centre
    EXPECT_EQ(slider.changes, 0);

    slider.setNormalisedValue(0.25, true);
    EXPECT_EQ(slider.changes, 1);
    EXPECT_DOUBLE_EQ(slider.getValue(), 0.1 + 0.25 * 99.9);
}

TEST(KestruneSlider, EmptyRangeGivesZeroInsteadOfNaN)
{
    KestruneSlider slider("5");
    slider.setRange(1.0, 1.0);
    EXPECT_EQ(slider.getNormalisedValue(), 0.0);
    EXPECT_EQ(slider.valueToProportionOfLength(1.0), 0.0);
}

// ------------------------------------------------------------------------------------------------
// Colour tables

TEST(LookAndFeels, ColourTables)
{
    struct Row
    {
        int id;
        juce::uint32 colour2016, colour2013;
    };
    const Row rows[] = {
        {juce::TextButton::buttonColourId, 0xFFCCCCFF, 0xFFCCCCFF},
        {juce::ComboBox::buttonColourId, 0xFFBBBBFF, 0xFFBBBBFF},
        {juce::ComboBox::outlineColourId, 0xB3808080, 0xB3808080},
        {juce::ScrollBar::backgroundColourId, 0x00000000, 0x00000000},
        {juce::ScrollBar::thumbColourId, 0xFFFFFFFF, 0xFFFFFFFF},
        {juce::Slider::backgroundColourId, 0xFFFFFFFF, 0xFFFFFFFF},
        {juce::Slider::textBoxOutlineColourId, 0x00466FB7, 0xFF466FB7},
        {juce::ProgressBar::backgroundColourId, 0xFFFFFFFF, 0xFFFFFFFF},
        {juce::ProgressBar::foregroundColourId, 0xFFAAAAEE, 0xFFAAAAEE},
        {juce::PopupMenu::backgroundColourId, 0xFFFFFFFF, 0xFFFFFFFF},
        {juce::PopupMenu::highlightedTextColourId, 0xFFFFFFFF, 0xFFFFFFFF},
        {juce::PopupMenu::highlightedBackgroundColourId, 0xB3808080, 0xB3808080},
        {juce::TextEditor::focusedOutlineColourId, 0xFFCCCCFF, 0xFFCCCCFF},
    };

    auto& laf2016 = *KestruneRoomLookAndFeel2016::getInstance();
    auto& laf2013 = *KestruneLookAndFeel2013::getInstance();
    for (const auto& row : rows)
    {
        EXPECT_EQ(laf2016.findColour(row.id).getARGB(), row.colour2016) << std::hex << row.id;
        EXPECT_EQ(laf2013.findColour(row.id).getARGB(), row.colour2013) << std::hex << row.id;
    }

    // Everything else stays the base's.
    EXPECT_EQ(laf2016.findColour(juce::Label::textColourId),
              juce::LookAndFeel_V2().findColour(juce::Label::textColourId));
}

// ------------------------------------------------------------------------------------------------
// Fonts and the embedded typeface

TEST(LookAndFeels, EveryFontResolvesToTheEmbeddedFace)
{
    auto* laf = KestruneRoomLookAndFeel2016::getInstance();
    KestruneRoomLookAndFeel2016::makeDefault();
    const auto embedded = laf->getEmbeddedTypeface();
    ASSERT_NE(embedded, nullptr);

    const juce::Font fonts[] = {
        KestruneRoomLookAndFeel2016::font(20.0f),
        juce::Font("Arial", 18.0f, juce::Font::bold),
        juce::Font("Monaco", 12.0f, juce::Font::plain),
        juce::Font("Helvetica", 9.0f, juce::Font::italic),
        juce::Font(15.0f),
        juce::Font(juce::Font::getDefaultMonospacedFontName(), 10.0f, juce::Font::plain),
    };
    for (const auto& f : fonts)
        EXPECT_EQ(f.getTypefacePtr(), embedded) << f.getTypefaceName() << " " << f.getTypefaceStyle();

    juce::ComboBox box;
    box.setSize(100, 24);
    EXPECT_EQ(KestruneLookAndFeel2013::getInstance()->getComboBoxFont(box).getTypefacePtr(), embedded);

    juce::LookAndFeel::setDefaultLookAndFeel(nullptr);
    juce::Typeface::clearTypefaceCache();
}

TEST(EmbeddedTypeface, StreamHoldsA255GlyphRegularFace)
{
    ASSERT_GT(KestruneTypeface::size, 2);
    EXPECT_EQ(KestruneTypeface::data[0], 0x78); // zlib header
    EXPECT_EQ(KestruneTypeface::data[1], 0x9C);

    juce::MemoryInputStream raw(KestruneTypeface::data, (size_t)KestruneTypeface::size, false);
    juce::GZIPDecompressorInputStream in(raw);
    EXPECT_FALSE(in.readString().isEmpty()); // face name
    EXPECT_FALSE(in.readBool());             // bold
    EXPECT_FALSE(in.readBool());             // italic
    const float ascent = in.readFloat();
    EXPECT_GT(ascent, 0.6f);
    EXPECT_LT(ascent, 0.95f);
    EXPECT_EQ((juce::uint16)in.readShort(), 32); // default character
    EXPECT_EQ(in.readInt(), 255);                // glyphs

    // Read the way the look-and-feel reads it: Latin-1 text gets real outlines.
    auto face = KestruneRoomLookAndFeel2016::getInstance()->getEmbeddedTypeface();
    EXPECT_EQ(face->getStyle(), "Regular");
    for (juce::juce_wchar c : {(juce::juce_wchar)'A', (juce::juce_wchar)'g', (juce::juce_wchar)0xE9})
    {
        juce::Path outline;
        face->getOutlineForGlyph((int)c, outline);
        EXPECT_FALSE(outline.isEmpty()) << (int)c;
    }
    EXPECT_GT(face->getStringWidth("MIX"), face->getStringWidth("iii"));
}

// ------------------------------------------------------------------------------------------------
// Drawing, checked on pixels

juce::Image drawn(int w, int h, const std::function<void(juce::Graphics&)>& paint)
{
    juce::Image image(juce::Image::ARGB, w, h, true, juce::SoftwareImageType());
    juce::Graphics g(image);
    paint(g);
    return image;
}

// The pixel at (x, y) within `tolerance` of `expected` on each of the four channels (0: exactly it).
::testing::AssertionResult pixelIs(const juce::Image& image, int x, int y, juce::Colour expected, int tolerance = 0)
{
    const juce::Colour a = image.getPixelAt(x, y);
    if (std::abs(a.getRed() - expected.getRed()) <= tolerance &&
        std::abs(a.getGreen() - expected.getGreen()) <= tolerance &&
        std::abs(a.getBlue() - expected.getBlue()) <= tolerance &&
        std::abs(a.getAlpha() - expected.getAlpha()) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << x << ", " << y << ") is " << a.toDisplayString(true)
                                         << ", expected " << expected.toDisplayString(true);
}

const juce::Colour kBody(0xFFFF0000), kPointer(0xFF0000FF), kNone(0x00000000);

TEST(LookAndFeel2016, KnobGeometryOn70By65)
{
    // r = (min(35, 32) - 2) * 0.9 = 27: a disc centred at (35, 32.5) spanning x 8..62 and y 5.5..59.5,
    // and a pointer pointing up 6.48 wide (x 31.76..38.24) from y 19 (13.5 from the centre) to y 5.4.
    KestruneSlider knob("7");
    knob.setSize(70, 65);
    knob.setColour(juce::Slider::rotarySliderOutlineColourId, kBody);
    knob.setColour(juce::Slider::rotarySliderFillColourId, kPointer);
    auto& laf = *KestruneRoomLookAndFeel2016::getInstance();
    const auto image = drawn(
        70, 65, [&](juce::Graphics& g) { laf.drawRotarySlider(g, 0, 0, 70, 65, 0.0f, 0.0f, 0.0f, knob); });

    struct Pixel
    {
        int x, y;
        juce::Colour colour;
    };
    const Pixel pixels[] = {
        {35, 45, kBody},    {9, 32, kBody},     {60, 32, kBody}, {35, 58, kBody},    {7, 32, kNone},
        {62, 32, kNone},    {35, 60, kNone},    {35, 4, kNone},  {35, 18, kPointer}, {35, 6, kPointer},
        {32, 12, kPointer}, {37, 12, kPointer}, {35, 20, kBody}, {30, 12, kBody},    {39, 12, kBody},
    };
    for (const auto& p : pixels)
        EXPECT_TRUE(pixelIs(image, p.x, p.y, p.colour, 3));

    // Disabled: the pointer is grey at half alpha over the body.
    knob.setEnabled(false);
    const auto disabled = drawn(
        70, 65, [&](juce::Graphics& g) { laf.drawRotarySlider(g, 0, 0, 70, 65, 0.0f, 0.0f, 0.0f, knob); });
    EXPECT_TRUE(pixelIs(disabled, 35, 12, kBody.overlaidWith(juce::Colour(0x80808080)), 3));
}

TEST(LookAndFeel2016, VerticalSliderCoverAndThumb)
{
    // Track area at y = 5, 90 high, in a 40 x 100 component: the bar is 2 * (int)(0.3 * 40) = 24 wide
    // from x 8, the cover runs from the top edge to the position, the thumb's top is (position - 5) + 6.
    const juce::Colour background(0xFFFFFFFF), track(0xFF00FF00), cover(0xFF0000FF), thumb(0xFFFF0000);
    KestruneSlider slider("1");
    slider.setSliderStyle(juce::Slider::LinearVertical);
    slider.setSize(40, 100);
    slider.setColour(juce::Slider::backgroundColourId, background);
    slider.setColour(juce::Slider::trackColourId, track);
    slider.setColour(juce::Slider::rotarySliderFillColourId, cover);
    slider.setColour(juce::Slider::thumbColourId, thumb);
    auto& laf = *KestruneRoomLookAndFeel2016::getInstance();

    struct Case
    {
        float position;
        int row;
        juce::Colour colour;
    };
    const Case cases[] = {
        {5.0f, 50, track},  {5.0f, 94, track},  {5.0f, 6, thumb},   {5.0f, 11, thumb},  {5.0f, 12, track},
        {95.0f, 5, cover},  {95.0f, 94, cover}, {95.0f, 96, thumb}, {95.0f, 99, thumb}, {50.0f, 30, cover},
        {50.0f, 49, cover}, {50.0f, 51, thumb}, {50.0f, 56, thumb}, {50.0f, 57, track}, {50.0f, 80, track},
    };
    for (const auto& c : cases)
    {
        const auto image = drawn(40, 100,
                                 [&](juce::Graphics& g) {
                                     laf.drawLinearSlider(g, 0, 5, 40, 90, c.position, 5.0f, 95.0f,
                                                          juce::Slider::LinearVertical, slider);
                                 });
        for (int x : {8, 20})
            EXPECT_TRUE(pixelIs(image, x, c.row, c.colour)) << "position " << c.position;
        for (int x : {7, 32})
            EXPECT_TRUE(pixelIs(image, x, c.row, background)) << "position " << c.position;
    }
}

TEST(LookAndFeel2016, FontHeightsScaleWithoutIntegerDivision)
{
    struct Case
    {
        int size;
        float buttonFont, comboFont, textBoxFont;
    };
    // Heights for buttons and boxes (size = height), text boxes (size = slider width).
    const Case cases[] = {
        {24, 20.0f, 20.0f, 24.0f / 70.0f * 18.0f},
        {11, 11.0f / 24.0f * 20.0f, 11.0f / 24.0f * 20.0f, 11.0f / 70.0f * 18.0f},
        {35, 35.0f / 24.0f * 20.0f, 35.0f / 24.0f * 20.0f, 9.0f},
        {70, 70.0f / 24.0f * 20.0f, 70.0f / 24.0f * 20.0f, 18.0f},
    };
    auto& laf = *KestruneRoomLookAndFeel2016::getInstance();
    for (const auto& c : cases)
    {
        juce::TextButton button("MIX");
        button.setSize(60, c.size);
        const auto buttonFont = laf.getTextButtonFont(button, c.size);
        EXPECT_FLOAT_EQ(buttonFont.getHeight(), c.buttonFont) << c.size;
        EXPECT_EQ(buttonFont.getTypefaceName(), "FuturaTf");
        EXPECT_FALSE(buttonFont.isBold());

        juce::ComboBox box;
        box.setSize(150, c.size);
        EXPECT_FLOAT_EQ(laf.getComboBoxFont(box).getHeight(), c.comboFont) << c.size;

        KestruneSlider slider("0");
        slider.setSize(c.size, 200);
        std::unique_ptr<juce::Label> label(laf.createSliderTextBox(slider));
        EXPECT_FLOAT_EQ(label->getFont().getHeight(), c.textBoxFont) << c.size;
        EXPECT_EQ(label->getJustificationType().getFlags(), (int)juce::Justification::centred);
    }
}

TEST(LookAndFeel2016, ButtonIsAPill)
{
    const juce::Colour background(0xFF3366CC);
    juce::TextButton button("LATE");
    button.setSize(100, 24);
    auto& laf = *KestruneRoomLookAndFeel2016::getInstance();
    const auto image = drawn(
        100, 24, [&](juce::Graphics& g) { laf.drawButtonBackground(g, button, background, false, false); });

    const auto body = background.withMultipliedSaturation(0.9f);
    for (auto [x, y] : {std::pair{50, 12}, {50, 1}, {2, 12}, {97, 12}})
        EXPECT_TRUE(pixelIs(image, x, y, body, 4));
    // Corners round off with a radius of half the height.
    for (auto [x, y] : {std::pair{1, 1}, {98, 1}, {1, 22}, {98, 22}, {2, 2}})
        EXPECT_EQ(image.getPixelAt(x, y).getAlpha(), 0) << x << "," << y;
}

TEST(LookAndFeel2016, NothingSelectedTextUsesTheBoxTextColour)
{
    // The base draws it in the look-and-feel's text colour at half alpha: nearly invisible on the panel.
    const juce::Colour text(0xFF7DF9FF);
    juce::ComboBox box;
    box.setSize(150, 24);
    box.setColour(juce::ComboBox::textColourId, text);
    box.setTextWhenNothingSelected("MODE");
    juce::Label label;
    label.setBounds(0, 0, 120, 24);
    label.setFont(KestruneRoomLookAndFeel2016::font(20.0f));

    auto& laf = *KestruneRoomLookAndFeel2016::getInstance();
    const auto image =
        drawn(120, 24, [&](juce::Graphics& g) { laf.drawComboBoxTextWhenNothingSelected(g, box, label); });
    int inked = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 120; ++x)
            if (const auto c = image.getPixelAt(x, y); c.getAlpha() == 255)
            {
                EXPECT_EQ(c, text) << x << "," << y;
                ++inked;
            }
    EXPECT_GT(inked, 20);
}

TEST(LookAndFeel2016, WheelOverTheTextBoxLeavesTheValue)
{
    KestruneSlider slider("4");
    slider.setLookAndFeel(KestruneRoomLookAndFeel2016::getInstance());
    slider.setSliderStyle(juce::Slider::LinearVertical);
    slider.setTextBoxStyle(juce::Slider::TextBoxBelow, false, 70, 20);
    slider.setRange(0.0, 100.0);
    slider.setValue(50.0, juce::dontSendNotification);
    slider.setBounds(0, 0, 70, 200);

    juce::Label* textBox = nullptr;
    for (auto* child : slider.getChildren())
        if (auto* label = dynamic_cast<juce::Label*>(child))
            textBox = label;
    ASSERT_NE(dynamic_cast<KestruneRoomLookAndFeel2016::SliderLabelComp*>(textBox), nullptr);

    auto wheelOver = [](juce::Component& target, int ms)
    {
        const auto now = juce::Time(1'000'000 + ms);
        const juce::MouseEvent e(juce::Desktop::getInstance().getMainMouseSource(), {5.0f, 5.0f}, {}, 0.0f,
                                 0.0f, 0.0f, 0.0f, 0.0f, &target, &target, now, {5.0f, 5.0f}, now, 0, false);
        juce::MouseWheelDetails wheel{0.0f, 0.5f, false, false, false};
        target.mouseWheelMove(e, wheel);
    };

    wheelOver(*textBox, 1);
    EXPECT_EQ(slider.getValue(), 50.0);
    wheelOver(slider, 2); // the same wheel over the slider itself does move it
    EXPECT_NE(slider.getValue(), 50.0);

    slider.setLookAndFeel(nullptr);
}

// ------------------------------------------------------------------------------------------------
// KestruneLookAndFeel2013: the preset field

TEST(LookAndFeel2013, PresetFieldTextAreaAndNoBody)
{
    auto& laf = *KestruneLookAndFeel2013::getInstance();
    juce::TextButton button("Default");
    button.setSize(200, 24);

    // f = min(15, 14.4) sizes the indents: nint(0.6 * 14.4) = 9, min(9, 2 + 12 / 2) = 8.
    EXPECT_FLOAT_EQ(laf.getTextButtonFont(button, 24).getHeight(), 14.4f);
    EXPECT_EQ(laf.getTextArea(button), juce::Rectangle<int>(8, 4, 184, 16));
    button.setConnectedEdges(juce::Button::ConnectedOnLeft);
    EXPECT_EQ(laf.getTextArea(button), juce::Rectangle<int>(5, 4, 187, 16)); // 2 + 12 / 4
    button.setConnectedEdges(0);

    for (const auto& state : {std::pair{false, false}, {true, false}, {true, true}})
    {
        const bool over = state.first, down = state.second; // clang 14 cannot capture structured bindings
        const auto image = drawn(200, 24,
                                 [&](juce::Graphics& g)
                                 { laf.drawButtonBackground(g, button, juce::Colours::red, over, down); });
        for (int x = 0; x < 200; x += 7)
            for (int y = 0; y < 24; y += 3)
                ASSERT_EQ(image.getPixelAt(x, y).getAlpha(), 0) << over << down;
    }

    juce::ComboBox box;
    box.setSize(100, 24);
    const auto comboFont = laf.getComboBoxFont(box);
    EXPECT_FLOAT_EQ(comboFont.getHeight(), 18.0f);
    EXPECT_TRUE(comboFont.isBold());
}

TEST(LookAndFeel2013, PresetNameDrawnLeftAlignedAndDimmedWhenDisabled)
{
    KestruneRoomLookAndFeel2016::makeDefault();
    auto& laf = *KestruneLookAndFeel2013::getInstance();
    juce::TextButton button("Default");
    button.setSize(200, 24);
    button.setColour(juce::TextButton::textColourOffId, juce::Colours::black);

    auto inkOf = [&]
    {
        const auto image =
            drawn(200, 24, [&](juce::Graphics& g) { laf.drawButtonText(g, button, false, false); });
        struct
        {
            int left = 999, right = -1, maxAlpha = 0;
        } ink;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 200; ++x)
                if (const int a = image.getPixelAt(x, y).getAlpha(); a > 0)
                {
                    ink.left = std::min(ink.left, x);
                    ink.right = std::max(ink.right, x);
                    ink.maxAlpha = std::max(ink.maxAlpha, a);
                }
        return ink;
    };

    const auto enabled = inkOf();
    EXPECT_GE(enabled.left, 8);
    EXPECT_LE(enabled.left, 10);
    EXPECT_LT(enabled.right, 120); // left-aligned, not centred
    EXPECT_GT(enabled.maxAlpha, 240);

    button.setEnabled(false);
    const auto disabled = inkOf();
    EXPECT_NEAR(disabled.maxAlpha, 128, 3);

    juce::LookAndFeel::setDefaultLookAndFeel(nullptr);
    juce::Typeface::clearTypefaceCache();
}

} // namespace
