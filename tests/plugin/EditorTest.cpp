// The editor window: construction, layout at two scales, the colour schemes and the opening state.
// Everything here runs headless: component trees, bounds, colours and snapshots need no display.
#include "KestruneLookAndFeel2013.h"
#include "KestruneRoomEditor.h"
#include "KestruneRoomLookAndFeel2016.h"
#include "Parameters.h"
#include "PluginTestUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <set>

namespace
{
using kestrune::plugintest::EditorFixture;

struct DesignBounds
{
    const char* what;
    std::function<juce::Component&(KestruneRoomEditor&)> get;
    juce::Rectangle<int> bounds;
};

std::vector<DesignBounds> designTable()
{
    std::vector<DesignBounds> table;
    auto slider = [](int k)
    {
        return [k](KestruneRoomEditor& e) -> juce::Component& { return *e.sliders[(size_t)k]; };
    };
    auto label = [](int i)
    {
        return [i](KestruneRoomEditor& e) -> juce::Component& { return *e.labels[(size_t)i]; };
    };

    table.push_back({"slider 0", slider(0), {10, 105, 70, 255}});
    const int verticalX[] = {80, 150, 220, 290};
    const int captionX[] = {75, 145, 215, 285};
    for (int i = 0; i < 4; ++i)
    {
        table.push_back({"vertical caption", label(i), {captionX[i], 80, 80, 20}});
        table.push_back({"vertical slider", slider(i + 1), {verticalX[i], 105, 70, 255}});
    }
    const int columnX[] = {400, 480, 560, 640};
    for (int c = 0; c < 4; ++c)
    {
        const int x = columnX[c];
        table.push_back({"late caption row 1", label(4 + c), {x - 15, 120, 80, 20}});
        table.push_back({"late knob row 1", slider(5 + c), {x - 10, 140, 70, 85}});
        table.push_back({"late caption row 2", label(8 + c), {x - 15, 235, 80, 20}});
        table.push_back({"late knob row 2", slider(9 + c), {x - 10, 255, 70, 85}});
        table.push_back({"early caption row 1", label(12 + c), {x - 15, 120, 80, 20}});
        table.push_back({"early knob row 1", slider(13 + c), {x - 10, 140, 70, 85}});
    }
    table.push_back({"Early Send caption", label(16), {385, 235, 80, 20}});
    table.push_back({"Early Send knob", slider(17), {390, 255, 70, 85}});
    table.push_back({"Diffusion caption", label(17), {465, 235, 80, 20}});
    table.push_back({"Diffusion knob", slider(18), {470, 255, 70, 85}});

    auto member = [](auto pointerToMember)
    {
        return [pointerToMember](KestruneRoomEditor& e) -> juce::Component& { return *(e.*pointerToMember); };
    };
    table.push_back({"EARLY", member(&KestruneRoomEditor::earlyEditorSelect), {380, 78, 160, 24}});
    table.push_back({"LATE", member(&KestruneRoomEditor::lateEditorSelect), {550, 78, 160, 24}});
    table.push_back({"mode caption", member(&KestruneRoomEditor::modeLabel), {20, 365, 115, 20}});
    table.push_back({"mode selector", member(&KestruneRoomEditor::modeComboBox), {140, 363, 150, 24}});
    table.push_back({"preset caption", member(&KestruneRoomEditor::presetLabel), {380, 365, 70, 20}});
    table.push_back({"preset button", member(&KestruneRoomEditor::presetsSelect), {460, 363, 200, 24}});
    table.push_back({"mix lock", member(&KestruneRoomEditor::mixLockButton), {22, 78, 46, 24}});
    table.push_back({"scheme button", member(&KestruneRoomEditor::GUIColorButton), {524, 43, 200, 24}});
    table.push_back({"previous", member(&KestruneRoomEditor::previousPresetButton), {671, 368, 14, 14}});
    table.push_back({"next", member(&KestruneRoomEditor::nextPresetButton), {696, 368, 14, 14}});
    return table;
}

juce::Rectangle<int> truncatedAt(juce::Rectangle<int> r, float scale)
{
    auto t = [scale](int v) { return (int)((float)v * scale); };
    return {t(r.getX()), t(r.getY()), t(r.getWidth()), t(r.getHeight())};
}
} // namespace

TEST_F(EditorFixture, LaysOutEveryControlOnTheScaledCanvas)
{
    auto& e = open();
    for (const int width : {735, 1102})
    {
        e.setSize(width, (int)std::lround(width / KestruneRoomEditor::kAspectRatio));
        const float scale = (float)width / 735.0f;
        ASSERT_FLOAT_EQ(e.uiScale, scale);
        for (const auto& row : designTable())
            EXPECT_EQ(row.get(e).getBounds(), truncatedAt(row.bounds, scale))
                << row.what << " at width " << width;

        // Text boxes scale like bounds, fonts without truncation.
        EXPECT_EQ(e.sliders[0]->getTextBoxWidth(), (int)(200.0f * scale));
        EXPECT_EQ(e.sliders[7]->getTextBoxWidth(), (int)(80.0f * scale));
        EXPECT_EQ(e.sliders[7]->getTextBoxHeight(), (int)(20.0f * scale));
        EXPECT_FLOAT_EQ(e.labels[0]->getFont().getHeight(), 20.0f * scale);
        EXPECT_FLOAT_EQ(e.labels[4]->getFont().getHeight(), 18.0f * scale);
        EXPECT_EQ(e.resizer->getBounds(),
                  juce::Rectangle<int>(e.getWidth() - 16, e.getHeight() - 16, 16, 16));
    }
    // The example that truncation toward zero must reproduce.
    EXPECT_EQ(e.sliders[0]->getBounds(), juce::Rectangle<int>(14, 157, 104, 382));
    EXPECT_EQ(processor->uiWidth, 1102);
    EXPECT_EQ(processor->uiHeight, 690);
}

TEST_F(EditorFixture, SlidersCarryTheParameterRangesSuffixesAndTooltips)
{
    auto& e = open();
    const double intervals[] = {0.1, 0.1,  0.01, 10,  0.1,  0.01, 0.01, 0.01, 0.01, 0.01,
                                10,  0.01, 10,   0.1, 0.01, 0.01, 0.01, 0.01, 0.01};
    for (int k = 0; k < KestruneRoomEditor::kNumSliders; ++k)
    {
        SCOPED_TRACE(k);
        auto& s = *e.sliders[(size_t)k];
        const auto& parameter = kestrune::kParameterTable[(size_t)k];
        EXPECT_EQ(s.getName(), juce::String(k));
        EXPECT_NEAR(s.getMinimum(), parameter.minimum, 1e-6);
        EXPECT_NEAR(s.getMaximum(), parameter.maximum, 1e-6);
        EXPECT_DOUBLE_EQ(s.getInterval(), intervals[k]);
        EXPECT_EQ(s.getTextValueSuffix(), juce::String(parameter.suffix));
        EXPECT_EQ(s.getSliderStyle(),
                  k < 5 ? juce::Slider::LinearVertical : juce::Slider::RotaryVerticalDrag);
        EXPECT_TRUE(s.getTooltip().isNotEmpty());
        // Loaded from the processor without sending anything back.
        EXPECT_NEAR(s.getNormalisedValue(), processor->getParameter(k), 1e-3);
    }
    for (const int k : {1, 2, 13})
        EXPECT_DOUBLE_EQ(e.sliders[(size_t)k]->getSkewFactor(), 0.3);
    EXPECT_NEAR(e.sliders[9]->getSkewFactor(), std::log(0.5) / std::log(1.0 / 3.0),
                1e-12); // mid point 1.0 of 0.5..2
    EXPECT_DOUBLE_EQ(e.sliders[3]->getSkewFactor(), 1.0);

    // Line breaks and trailing blanks belong to the texts.
    EXPECT_EQ(e.sliders[0]->getTooltip(),
              "MIX: controls the balance of the input signal with the reverb\n"
              "click on the mix label above the slider to lock or unlock the mix level");
    EXPECT_EQ(e.sliders[5]->getTooltip(), "LATE Size: sets the relative room size of the reverb ");
    EXPECT_EQ(e.sliders[18]->getTooltip(), "EARLY Diffusion: controls intial echo density");
    EXPECT_EQ(e.mixLockButton->getTooltip(),
              "MIX lock: click to lock and unlock the mix slider \nblue=unlocked, grey=locked");
    EXPECT_TRUE(e.previousPresetButton->getTooltip().isEmpty());
    EXPECT_EQ(e.labels[6]->getText(), "Mod Rate");
    EXPECT_EQ(e.labels[14]->getText(), "Mod Rate");
    EXPECT_EQ(e.labels[17]->getText(), "Diffusion");
}

TEST_F(EditorFixture, OpensOnTheLatePageWithTheProcessorsSettings)
{
    processor->mixLock = true;
    auto& e = open();

    for (int k = 5; k <= 12; ++k)
        EXPECT_TRUE(e.sliders[(size_t)k]->isVisible() && e.labels[(size_t)k - 1]->isVisible()) << k;
    for (int k = 13; k <= 18; ++k)
        EXPECT_FALSE(e.sliders[(size_t)k]->isVisible() || e.labels[(size_t)k - 1]->isVisible()) << k;
    EXPECT_TRUE(e.lateEditorSelect->getToggleState());
    EXPECT_FALSE(e.earlyEditorSelect->getToggleState());
    EXPECT_EQ(e.earlyEditorSelect->getRadioGroupId(), 12345);
    EXPECT_EQ(e.lateEditorSelect->getRadioGroupId(), 12345);

    // The lock shows on, but slider 0 keeps its normal colours and tooltip until it is clicked.
    EXPECT_TRUE(e.mixLockButton->getToggleState());
    EXPECT_EQ(e.sliders[0]->findColour(juce::Slider::trackColourId),
              e.palette[KestruneRoomEditor::sliderTrack]);
    EXPECT_EQ(e.sliders[0]->getTooltip(), KestruneRoomEditor::sliderTooltip(0));

    EXPECT_EQ(e.presetsSelect->getButtonText(), "Default");
    EXPECT_EQ(e.versionText, "Version 1.5.1d ");
    EXPECT_EQ(e.currentPresetIndex, -1);
    EXPECT_EQ(e.getWidth(), 735);
    EXPECT_EQ(e.getHeight(), 460);
    EXPECT_TRUE(root.getChildFile("user").isDirectory());
    EXPECT_FALSE(root.getChildFile("factory").exists());
}

TEST_F(EditorFixture, SelectorListsTheTwelveModesAndFollowsTheTypeParameter)
{
    struct Case
    {
        float type;
        int id;
        const char* text;
    };
    for (const auto& c : {Case{0.0f, 0, "Large Room"}, Case{1.0f / 12.0f, 1, "Large Room"},
                          Case{8.0f / 12.0f, 8, "Nostromo"}, Case{1.0f, 12, "Dense Room"}})
    {
        processor->setParameter(19, c.type);
        auto& e = open();
        ASSERT_EQ(e.modeComboBox->getNumItems(), 12);
        for (int m = 0; m < 12; ++m)
        {
            EXPECT_EQ(e.modeComboBox->getItemId(m), m + 1);
            EXPECT_EQ(e.modeComboBox->getItemText(m), juce::String(kestrune::kModeNames[(size_t)m]));
        }
        EXPECT_EQ(e.modeComboBox->getSelectedId(), c.id) << c.type;
        // With nothing selected the box shows its "nothing selected" text.
        const auto shown =
            c.id == 0 ? e.modeComboBox->getTextWhenNothingSelected() : e.modeComboBox->getText();
        EXPECT_EQ(shown, juce::String(c.text)) << c.type;
    }
}

TEST_F(EditorFixture, StoredWindowSizeIsKeptWithinTheCornersLimits)
{
    struct Case
    {
        int width, height, expectedWidth, expectedHeight;
    };
    for (const auto& c : {Case{1000, 626, 1000, 626}, Case{5000, 3000, 1102, 690}, Case{10, 10, 367, 230}})
    {
        processor->uiWidth = c.width;
        processor->uiHeight = c.height;
        auto& e = open();
        EXPECT_EQ(e.getWidth(), c.expectedWidth) << c.width;
        EXPECT_EQ(e.getHeight(), c.expectedHeight) << c.width;
        EXPECT_FLOAT_EQ(e.uiScale, (float)c.expectedWidth / 735.0f);
    }
    const auto& limits = editor->resizeLimits;
    EXPECT_EQ(limits.getMinimumWidth(), 367);
    EXPECT_EQ(limits.getMaximumHeight(), 690);
    EXPECT_DOUBLE_EQ(limits.getFixedAspectRatio(), 1.5978261232376099);
}

//==============================================================================================
// Every text the window draws fits its box in the embedded face and no two of them overlap, at the
// smallest, the largest and some sizes between. Each text is laid out as its drawing call lays it out
// (JUCE's GlyphArrangement with the call's area, font, line limit and horizontal squeeze).
namespace
{
struct DrawnText
{
    juce::String what, text;
    juce::Font font;
    juce::Rectangle<int> area;  // where the drawing call lays the text out, in the editor's pixels
    juce::Rectangle<int> owner; // what the text must stay within vertically: its component
    enum Fitting
    {
        fitted,    // Graphics::drawFittedText (labels, buttons, the version)
        curtailed, // Graphics::drawText with an ellipsis (the title)
        info       // the info area
    } fitting;
    juce::Justification justification;
    int maxLines;
    float minimumHorizontalScale; // 0: JUCE's default
    int page;                     // 0: both pages, 1: LATE, 2: EARLY
    juce::String place;           // texts of one place are alternatives, never shown together
};

std::vector<DrawnText> drawnTexts(KestruneRoomEditor& e, const juce::String& longPresetName)
{
    std::vector<DrawnText> texts;
    auto inEditor = [&e](juce::Component& c, juce::Rectangle<int> r) { return e.getLocalArea(&c, r); };

    // JUCE's labels fit their text inside their border on as many lines as their height holds.
    auto addLabel = [&](juce::Label& label, const juce::String& text, const juce::String& what, int page,
                        const juce::String& place)
    {
        const auto area = label.getBorderSize().subtractedFrom(label.getLocalBounds());
        const auto font = label.getLookAndFeel().getLabelFont(label);
        texts.push_back({what, text, font, inEditor(label, area), inEditor(label, label.getLocalBounds()),
                         DrawnText::fitted, label.getJustificationType(),
                         std::max(1, (int)((float)area.getHeight() / font.getHeight())),
                         label.getMinimumHorizontalScale(), page, place});
    };
    // The text buttons drawn by JUCE's own drawButtonText: indents from the button's font and corners.
    auto addButton = [&](juce::TextButton& b, const juce::String& text, const juce::String& place)
    {
        const auto font = b.getLookAndFeel().getTextButtonFont(b, b.getHeight());
        const int yIndent = std::min(4, b.proportionOfHeight(0.3f));
        const int cornerSize = std::min(b.getHeight(), b.getWidth()) / 2;
        const int fontHeight = juce::roundToInt(font.getHeight() * 0.6f);
        const int left = std::min(fontHeight, 2 + cornerSize / (b.isConnectedOnLeft() ? 4 : 2));
        const int right = std::min(fontHeight, 2 + cornerSize / (b.isConnectedOnRight() ? 4 : 2));
        const juce::Rectangle<int> area(left, yIndent, b.getWidth() - left - right,
                                        b.getHeight() - 2 * yIndent);
        texts.push_back({b.getName(), text, font, inEditor(b, area), inEditor(b, b.getLocalBounds()),
                         DrawnText::fitted, juce::Justification::centred, 2, 0.0f, 0, place});
    };
    auto pageOfSlider = [](int k) { return k < 5 ? 0 : k < 13 ? 1 : 2; };

    for (int i = 0; i < KestruneRoomEditor::kNumCaptions; ++i)
        addLabel(*e.labels[(size_t)i], e.labels[(size_t)i]->getText(), "caption", pageOfSlider(i + 1), {});
    addLabel(*e.modeLabel, e.modeLabel->getText(), "mode caption", 0, {});
    addLabel(*e.presetLabel, e.presetLabel->getText(), "preset caption", 0, {});

    // Each slider's value text at its widest value, in the slider's own text box.
    for (int k = 0; k < KestruneRoomEditor::kNumSliders; ++k)
    {
        auto& slider = *e.sliders[(size_t)k];
        juce::Label* box = nullptr;
        for (auto* child : slider.getChildren())
            if (auto* label = dynamic_cast<juce::Label*>(child))
                box = label;
        if (box == nullptr)
        {
            ADD_FAILURE() << "slider " << k << " has no text box";
            continue;
        }
        juce::String widest;
        for (int i = 0; i <= 1000; ++i)
        {
            const double step = slider.getInterval();
            const double v =
                slider.getMinimum() +
                step *
                    std::round((slider.proportionOfLengthToValue(i / 1000.0) - slider.getMinimum()) / step);
            const auto text = slider.getTextFromValue(v).trim();
            if (box->getFont().getStringWidthFloat(text) > box->getFont().getStringWidthFloat(widest))
                widest = text;
        }
        addLabel(*box, widest, "value of slider " + juce::String(k), pageOfSlider(k), {});
    }

    // The mode selector's text sits in its own label, one mode name at a time.
    for (auto* child : e.modeComboBox->getChildren())
        if (auto* label = dynamic_cast<juce::Label*>(child))
        {
            for (int m = 0; m < e.modeComboBox->getNumItems(); ++m)
                addLabel(*label, e.modeComboBox->getItemText(m), "mode name", 0, "mode");
            addLabel(*label, e.modeComboBox->getTextWhenNothingSelected(), "mode name", 0, "mode");
        }

    addButton(*e.earlyEditorSelect, e.earlyEditorSelect->getButtonText(), {});
    addButton(*e.lateEditorSelect, e.lateEditorSelect->getButtonText(), {});
    addButton(*e.mixLockButton, e.mixLockButton->getButtonText(), {});
    for (const char* text : {"GUI Mode: Electric Blue", "GUI Mode:  Old School"})
        addButton(*e.GUIColorButton, text, "scheme");

    // The preset name: one line, squeezed to 70 % at most.
    auto& preset = *e.presetsSelect;
    for (const auto& name : {juce::String("Default"), longPresetName})
        texts.push_back({"preset name", name, KestruneLookAndFeel2013::getTextFont(preset),
                         inEditor(preset, KestruneLookAndFeel2013::getInstance()->getTextArea(preset)),
                         preset.getBounds(), DrawnText::fitted, juce::Justification::centredLeft, 1, 0.7f, 0,
                         "preset"});

    // What paint draws, in the rectangles it draws them in.
    using E = KestruneRoomEditor;
    auto addPainted = [&](const juce::String& what, const juce::String& text, float fontHeight,
                          juce::Rectangle<int> area, DrawnText::Fitting fitting,
                          juce::Justification justification, int maxLines, const juce::String& place)
    {
        texts.push_back({what, text, KestruneRoomLookAndFeel2016::font(fontHeight), area, area, fitting,
                         justification, maxLines, 1.0f, 0, place});
    };
    const float t = e.uiScale * E::kTitleScale;
    for (const auto& piece : E::kTitle)
        addPainted("title", piece.text, E::kTitleFontHeight * t, E::scaled(piece.design, t),
                   DrawnText::curtailed, juce::Justification::left, 1, {});
    addPainted("version", e.versionText, E::kVersionFontHeight * e.uiScale,
               E::scaled(E::kVersionArea, e.uiScale), DrawnText::fitted, juce::Justification::bottomRight, 2,
               {});

    // The info area: every help text and every mode description, one at a time.
    juce::StringArray help;
    for (int k = 0; k < E::kNumSliders; ++k)
        help.add(E::sliderTooltip(k));
    help.add(E::mixTooltip(true));
    help.add(E::mixTooltip(false));
    const auto selectorHelp = e.modeComboBox->getTooltip();
    help.add(selectorHelp);
    for (int m = 0; m < kestrune::kNumModes; ++m)
    {
        help.add(E::modeDescriptionText(m));
        help.add(selectorHelp + "\n" + E::modeDescriptionText(m));
    }
    for (auto* c : std::initializer_list<juce::SettableTooltipClient*>{
             e.earlyEditorSelect.get(), e.lateEditorSelect.get(), e.mixLockButton.get(),
             e.presetsSelect.get(), e.GUIColorButton.get()})
        help.add(c->getTooltip());
    for (const auto& text : help)
        addPainted("info", text, E::kInfoFontHeight * e.uiScale, E::scaled(E::kInfoArea, e.uiScale),
                   DrawnText::info, juce::Justification::bottomLeft, E::kInfoLines, "info");
    return texts;
}

struct LaidOut
{
    juce::Rectangle<float> box; // union of the glyphs' boxes (advance by ascent + descent), blanks left out
    int lines = 0;
    juce::String shown; // the characters drawn, blanks left out
};

LaidOut layOut(const DrawnText& t)
{
    juce::GlyphArrangement glyphs;
    const auto area = t.area.toFloat();
    switch (t.fitting)
    {
    case DrawnText::fitted:
        glyphs.addFittedText(t.font, t.text, area.getX(), area.getY(), area.getWidth(), area.getHeight(),
                             t.justification, t.maxLines, t.minimumHorizontalScale);
        break;
    case DrawnText::curtailed: // as Graphics::drawText
        glyphs.addCurtailedLineOfText(t.font, t.text, 0.0f, 0.0f, area.getWidth(), true);
        glyphs.justifyGlyphs(0, glyphs.getNumGlyphs(), area.getX(), area.getY(), area.getWidth(),
                             area.getHeight(), t.justification);
        break;
    case DrawnText::info:
        glyphs = KestruneRoomEditor::arrangeInfoText(t.text, t.font, t.area);
        break;
    }

    LaidOut result;
    std::set<float> baselines;
    for (int i = 0; i < glyphs.getNumGlyphs(); ++i)
    {
        const auto& g = glyphs.getGlyph(i);
        if (g.isWhitespace())
            continue;
        result.shown << juce::String::charToString(g.getCharacter());
        result.box = result.box.isEmpty() ? g.getBounds() : result.box.getUnion(g.getBounds());
        baselines.insert(g.getBaselineY());
    }
    result.lines = (int)baselines.size();
    return result;
}

juce::String describe(const DrawnText& t, const LaidOut& l)
{
    return t.what + " \"" + t.text.replace("\n", "|") + "\" laid out as \"" + l.shown + "\" in " +
           juce::String(l.lines) + " line(s), box " + l.box.toString() + ", area " + t.area.toString() +
           ", natural width " + juce::String(t.font.getStringWidthFloat(t.text), 1);
}
} // namespace

TEST_F(EditorFixture, EveryTextFitsItsBoxAndNoTwoOverlap)
{
    auto& e = open();
    const auto embedded = KestruneRoomLookAndFeel2016::getInstance()->getEmbeddedTypeface();
    // A preset name as long as users give them; longer ones are shortened with an ellipsis.
    const juce::String longPresetName = "Large Chamber Vocal Plate";

    for (const int width : {367, 368, 500, 735, 1102})
    {
        SCOPED_TRACE(testing::Message() << "width " << width);
        e.setSize(width, (int)std::lround(width / KestruneRoomEditor::kAspectRatio));
        ASSERT_FLOAT_EQ(e.uiScale, (float)width / 735.0f);

        const auto texts = drawnTexts(e, longPresetName);
        std::vector<LaidOut> laid;
        for (const auto& t : texts)
        {
            ASSERT_EQ(t.font.getTypefacePtr(), embedded) << t.what;
            laid.push_back(layOut(t));
            const auto& l = laid.back();
            if (t.text.trim().isEmpty())
                continue;
            constexpr float rounding = 0.01f;
            const auto owner = t.owner.toFloat().expanded(0.0f, 1.0f); // bounds are truncated, fonts are not
            EXPECT_EQ(l.shown, t.text.removeCharacters(" \t\r\n")) << describe(t, l); // nothing cut off
            EXPECT_LE(l.lines, t.maxLines) << describe(t, l);
            EXPECT_GE(l.box.getX(), (float)t.area.getX() - rounding) << describe(t, l);
            EXPECT_LE(l.box.getRight(), (float)t.area.getRight() + rounding) << describe(t, l);
            EXPECT_GE(l.box.getY(), owner.getY() - rounding) << describe(t, l);
            EXPECT_LE(l.box.getBottom(), owner.getBottom() + rounding) << describe(t, l);
        }

        for (size_t a = 0; a < texts.size(); ++a)
            for (size_t b = a + 1; b < texts.size(); ++b)
            {
                const auto &ta = texts[a], &tb = texts[b];
                const bool together = (ta.page == 0 || tb.page == 0 || ta.page == tb.page) &&
                                      (ta.place.isEmpty() || ta.place != tb.place);
                if (together && !laid[a].box.isEmpty() && !laid[b].box.isEmpty())
                {
                    EXPECT_FALSE(laid[a].box.reduced(0.01f).intersects(laid[b].box.reduced(0.01f)))
                        << describe(ta, laid[a]) << "\n overlaps " << describe(tb, laid[b]);
                }
            }
    }
}

//==============================================================================================
namespace
{
// Every scheme-dependent colour the window shows, in one list, so two editors can be compared.
std::vector<juce::Colour> schemeColours(KestruneRoomEditor& e)
{
    std::vector<juce::Colour> colours;
    for (int k = 0; k < 5; ++k)
        for (auto id : {juce::Slider::thumbColourId, juce::Slider::trackColourId})
            colours.push_back(e.sliders[(size_t)k]->findColour(id));
    for (int k = 5; k < 19; ++k)
        for (auto id : {juce::Slider::rotarySliderFillColourId, juce::Slider::rotarySliderOutlineColourId,
                        juce::Slider::thumbColourId, juce::Slider::textBoxTextColourId})
            colours.push_back(e.sliders[(size_t)k]->findColour(id));
    for (auto* b : {e.earlyEditorSelect.get(), e.lateEditorSelect.get(), e.presetsSelect.get(),
                    e.mixLockButton.get(), e.GUIColorButton.get()})
        for (auto id : {juce::TextButton::buttonColourId, juce::TextButton::buttonOnColourId,
                        juce::TextButton::textColourOnId, juce::TextButton::textColourOffId})
            colours.push_back(b->findColour(id));
    colours.push_back(e.modeComboBox->findColour(juce::ComboBox::textColourId));
    return colours;
}
} // namespace

class SchemeTest : public EditorFixture, public ::testing::WithParamInterface<int>
{
};

TEST_P(SchemeTest, ControlsTakeThePaletteAtOpeningAsWhenSwitched)
{
    const int scheme = GetParam();
    processor->guiScheme = (uint8_t)scheme;
    auto& opened = open();
    const auto palette = KestruneRoomEditor::paletteFor(scheme);
    EXPECT_EQ(opened.palette, palette);

    using E = KestruneRoomEditor;
    EXPECT_EQ(opened.sliders[2]->findColour(juce::Slider::thumbColourId), palette[E::sliderThumb]);
    EXPECT_EQ(opened.sliders[2]->findColour(juce::Slider::trackColourId), palette[E::sliderTrack]);
    EXPECT_EQ(opened.sliders[2]->findColour(juce::Slider::textBoxBackgroundColourId),
              juce::Colour(0x00464646u));
    EXPECT_EQ(opened.sliders[9]->findColour(juce::Slider::rotarySliderFillColourId), palette[E::knobFill]);
    EXPECT_EQ(opened.sliders[9]->findColour(juce::Slider::thumbColourId), juce::Colour(0xFFFF0000u));
    EXPECT_EQ(opened.sliders[9]->findColour(juce::Slider::textBoxTextColourId), juce::Colour(0xFFFCFBFBu));
    EXPECT_EQ(opened.lateEditorSelect->findColour(juce::TextButton::buttonOnColourId),
              palette[E::pageButtonOn]);
    EXPECT_EQ(opened.modeComboBox->findColour(juce::ComboBox::textColourId), palette[E::selectorText]);
    EXPECT_EQ(opened.modeComboBox->findColour(juce::ComboBox::backgroundColourId), juce::Colour(0x00466FB7u));
    EXPECT_EQ(opened.presetsSelect->findColour(juce::TextButton::textColourOffId), palette[E::selectorText]);
    EXPECT_EQ(opened.mixLockButton->findColour(juce::TextButton::textColourOffId), palette[E::lockTextOff]);
    EXPECT_EQ(opened.GUIColorButton->findColour(juce::TextButton::textColourOnId), juce::Colour(0xFFFF460Eu));
    EXPECT_EQ(opened.GUIColorButton->findColour(juce::TextButton::textColourOffId),
              juce::Colour(0xFF7DF9FFu));
    EXPECT_EQ(opened.GUIColorButton->findColour(juce::TextButton::buttonColourId), juce::Colour(0x00797979u));
    EXPECT_EQ(opened.labels[3]->findColour(juce::Label::textColourId), juce::Colours::white);
    EXPECT_EQ(opened.GUIColorButton->getToggleState(), scheme == 1);
    EXPECT_EQ(opened.GUIColorButton->getButtonText(),
              scheme == 1 ? "GUI Mode:  Old School" : "GUI Mode: Electric Blue");

    // An editor opened in the other scheme and switched to this one looks the same.
    auto openedColours = schemeColours(opened);
    processor->guiScheme = (uint8_t)(1 - scheme);
    auto& switched = open();
    switched.setColourScheme(scheme);
    switched.applyColourScheme();
    EXPECT_EQ(schemeColours(switched), openedColours);
}

INSTANTIATE_TEST_SUITE_P(BothSchemes, SchemeTest, ::testing::Values(0, 1));

TEST(ColourSchemes, PalettesHoldTheirDistinctiveEntries)
{
    using E = KestruneRoomEditor;
    const auto blue = E::paletteFor(0);
    const auto oldSchool = E::paletteFor(1);
    // Any value but 1 is Electric Blue.
    EXPECT_EQ(E::paletteFor(2), blue);
    EXPECT_EQ(E::paletteFor(-1), blue);
    EXPECT_EQ(blue[E::sliderTrack].getARGB(), 0xAA7DF9FFu);
    EXPECT_EQ(blue[E::lockedTrack].getARGB(), 0x887DF9FFu);
    EXPECT_EQ(blue[E::pageTextOn].getARGB(), 0xFF000000u);
    EXPECT_EQ(blue[E::lockTextOn].getARGB(), 0xFFCCCCCCu); // grey = locked, blue = unlocked
    EXPECT_EQ(blue[E::lockTextOff].getARGB(), 0xFF7DF9FFu);
    EXPECT_EQ(oldSchool[E::knobFill].getARGB(), 0x7FFF0000u);
    EXPECT_EQ(oldSchool[E::pageButtonOn].getARGB(), 0xFFFC231Au);
    // Half alpha is 0x7F, not the 0x80 that JUCE 7's withAlpha (0.5f) rounds to.
    EXPECT_EQ(oldSchool[E::lockedTrack].getARGB(), 0x7FBE0505u);
    EXPECT_EQ(oldSchool[E::lockedThumb].getARGB(), 0x7FF71818u);
}

//==============================================================================================
namespace
{
// With KESTRUNE_SNAPSHOT_DIR set, a picture is also written there as a PNG file (the README's pictures).
void writeSnapshot(const juce::Image& image, const char* fileName)
{
    const auto dir = juce::SystemStats::getEnvironmentVariable("KESTRUNE_SNAPSHOT_DIR", {});
    if (dir.isEmpty())
        return;
    const auto file = juce::File(dir).getChildFile(fileName);
    file.deleteFile();
    juce::FileOutputStream out(file);
    ASSERT_TRUE(out.openedOk());
    ASSERT_TRUE(juce::PNGImageFormat().writeImageToStream(image, out));
}
} // namespace

// Renders the window in both schemes, Electric Blue on the LATE page and Old School on the EARLY page.
// The two pictures differ where the palette reaches the screen.
TEST_F(EditorFixture, RendersBothSchemesOnBothPages)
{
    std::array<juce::Image, 2> images;
    for (int scheme = 0; scheme < 2; ++scheme)
    {
        processor->guiScheme = (uint8_t)scheme;
        auto& e = open();
        if (scheme == 1)
        {
            e.earlyEditorSelect->setToggleState(true, juce::dontSendNotification); // as the radio group does
            e.buttonClicked(e.earlyEditorSelect.get());
            ASSERT_TRUE(e.sliders[13]->isVisible());
        }
        images[(size_t)scheme] = e.createComponentSnapshot(e.getLocalBounds(), true, 1.0f);
        ASSERT_EQ(images[(size_t)scheme].getWidth(), 735);
        ASSERT_EQ(images[(size_t)scheme].getHeight(), 460);
        writeSnapshot(images[(size_t)scheme],
                      scheme == 0 ? "editor-electric-blue.png" : "editor-old-school.png");
    }
    // Inside the knob panel and in the LATE button: fixed panel colour, scheme colour.
    const auto panel = juce::Point<int>(383, 230);
    EXPECT_EQ(images[0].getPixelAt(panel.x, panel.y), images[1].getPixelAt(panel.x, panel.y));
    const auto late = juce::Point<int>(560, 90);
    EXPECT_NE(images[0].getPixelAt(late.x, late.y), images[1].getPixelAt(late.x, late.y));
}

//==============================================================================================
// Behaviour: what the controls send to the host, what the processor's change message sets, resizing.
namespace
{
// Records what reaches the host through the processor's listeners.
struct HostRecorder : juce::AudioProcessorListener
{
    std::vector<juce::String> events;
    void audioProcessorParameterChanged(juce::AudioProcessor*, int index, float value) override
    {
        events.push_back("set " + juce::String(index) + " " + juce::String(value, 5));
    }
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails&) override {}
    void audioProcessorParameterChangeGestureBegin(juce::AudioProcessor*, int index) override
    {
        events.push_back("begin " + juce::String(index));
    }
    void audioProcessorParameterChangeGestureEnd(juce::AudioProcessor*, int index) override
    {
        events.push_back("end " + juce::String(index));
    }
};

std::vector<juce::String> strings(std::initializer_list<const char*> list)
{
    return {list.begin(), list.end()};
}
} // namespace

TEST_F(EditorFixture, ControlsSendGesturesAndNormalisedValuesToTheHost)
{
    auto& e = open();
    HostRecorder host;
    processor->addListener(&host);

    auto& knob = *e.sliders[7]; // late mod rate, 0.05 to 5 Hz
    e.sliderDragStarted(&knob);
    knob.setValue(1.04, juce::sendNotificationSync); // (1.04 - 0.05) / 4.95 = 0.2
    e.sliderDragEnded(&knob);
    EXPECT_EQ(host.events, strings({"begin 7", "set 7 0.20000", "end 7"}));
    EXPECT_NEAR(processor->getParameter(7), 0.2f, 1e-6);

    host.events.clear();
    e.modeComboBox->setSelectedId(5, juce::sendNotificationSync);
    EXPECT_EQ(host.events, strings({"begin 19", "set 19 0.41667", "end 19"}));
    EXPECT_TRUE(e.modeDescription.startsWith("Dark Room:"));
    processor->removeListener(&host);
}

TEST_F(EditorFixture, ChangeMessageSetsEveryControlWithoutNotifyingTheHost)
{
    auto& e = open();
    HostRecorder host;
    processor->addListener(&host);

    // As host automation or a restored state would leave the processor.
    for (int k = 0; k < 19; ++k)
        processor->setParameter(k, (float)(k + 1) / 20.0f);
    processor->setParameter(19, 1.0f);
    processor->uiWidth = 1102;
    processor->uiHeight = 690;
    e.changeListenerCallback(processor.get());

    for (int k = 0; k < 19; ++k)
        EXPECT_NEAR(e.sliders[(size_t)k]->getNormalisedValue(), (k + 1) / 20.0, 0.011)
            << k; // within one interval
    EXPECT_EQ(e.modeComboBox->getSelectedId(), 12);
    EXPECT_TRUE(e.modeDescription.startsWith("Dense Room:"));
    EXPECT_EQ(e.getWidth(), 1102);
    EXPECT_EQ(e.sliders[0]->getBounds(), juce::Rectangle<int>(14, 157, 104, 382));
    EXPECT_TRUE(host.events.empty()) << host.events.front();
    processor->removeListener(&host);
}

TEST_F(EditorFixture, ResizeStoresTheWidthChangesWithinTheLimits)
{
    auto& e = open();
    struct Case
    {
        int width, height, storedWidth, storedHeight;
    };
    for (const auto& c :
         {Case{1102, 690, 1102, 690}, Case{1102, 500, 1102, 690}, // the height alone is not stored
          Case{400, 250, 400, 250}, Case{2000, 1252, 400, 250}, // a host's resize beyond the corner's limits
          Case{300, 188, 400, 250}})
    {
        e.setSize(c.width, c.height);
        EXPECT_EQ(processor->uiWidth, c.storedWidth) << c.width;
        EXPECT_EQ(processor->uiHeight, c.storedHeight) << c.width;
        EXPECT_FLOAT_EQ(e.uiScale, (float)c.width / 735.0f) << "laid out at every width";
    }
}

TEST_F(EditorFixture, PageButtonsShowTheirKnobs)
{
    auto& e = open();
    auto click = [&e](juce::TextButton& b)
    {
        b.setToggleState(true, juce::dontSendNotification); // what the radio group does on a click
        e.buttonClicked(&b);
    };
    auto earlyShown = [&e]
    { return e.sliders[13]->isVisible() && e.labels[17]->isVisible() && !e.sliders[5]->isVisible(); };
    auto lateShown = [&e]
    { return e.sliders[12]->isVisible() && e.labels[4]->isVisible() && !e.sliders[18]->isVisible(); };

    click(*e.earlyEditorSelect);
    EXPECT_TRUE(earlyShown());
    EXPECT_FALSE(e.lateEditorSelect->getToggleState());
    click(*e.earlyEditorSelect);
    EXPECT_TRUE(earlyShown());
    click(*e.lateEditorSelect);
    EXPECT_TRUE(lateShown());
}

TEST_F(EditorFixture, MixLockAndSchemeButtonsWriteTheProcessorAndPreferences)
{
    using E = KestruneRoomEditor;
    auto& e = open();
    const double mix = e.sliders[0]->getValue();
    auto toggle = [&e](juce::Button& b)
    {
        b.setToggleState(!b.getToggleState(), juce::dontSendNotification);
        e.buttonClicked(&b);
    };

    toggle(*e.mixLockButton);
    EXPECT_TRUE(processor->mixLock);
    EXPECT_EQ(e.sliders[0]->findColour(juce::Slider::trackColourId), e.palette[E::lockedTrack]);
    EXPECT_EQ(e.sliders[0]->findColour(juce::Slider::thumbColourId), e.palette[E::lockedThumb]);
    EXPECT_TRUE(e.sliders[0]->getTooltip().endsWith("(currently locked)"));
    EXPECT_EQ(e.sliders[0]->getValue(), mix);

    // A scheme switch gives the locked mix the new scheme's normal colours.
    toggle(*e.GUIColorButton);
    EXPECT_EQ(processor->guiScheme, 1);
    EXPECT_EQ(e.GUIColorButton->getButtonText(), "GUI Mode:  Old School");
    EXPECT_EQ(e.palette, E::paletteFor(1));
    EXPECT_EQ(e.sliders[0]->findColour(juce::Slider::trackColourId), E::paletteFor(1)[E::sliderTrack]);
    EXPECT_EQ(KestruneRoom(root.getChildFile("prefs")).guiScheme, 1) << "saved for new instances";

    toggle(*e.mixLockButton);
    EXPECT_FALSE(processor->mixLock);
    EXPECT_TRUE(e.sliders[0]->getTooltip().endsWith("(currently unlocked)"));

    toggle(*e.GUIColorButton);
    EXPECT_EQ(processor->guiScheme, 0);
    EXPECT_EQ(e.GUIColorButton->getButtonText(), "GUI Mode: Electric Blue");
    EXPECT_EQ(KestruneRoom(root.getChildFile("prefs")).guiScheme, 0);
}

TEST(ModeDescription, FollowsTheTypeValue)
{
    struct Case
    {
        float type;
        int mode;
    };
    for (const auto& c : {Case{0.0f, 0}, Case{1.0f / 12.0f, 0}, Case{1.9f / 12.0f, 0}, Case{2.0f / 12.0f, 1},
                          Case{1.0f, 11}, Case{13.0f / 12.0f, 0}, Case{-1.0f, 0}})
        EXPECT_EQ(KestruneRoomEditor::describedModeFor(c.type), c.mode) << c.type;
    EXPECT_TRUE(KestruneRoomEditor::modeDescriptionText(10).startsWith("LV-426: downsampled"));
}

TEST(HoverHelp, ChoosesTheControlUnderTheMouse)
{
    KestruneRoomEditor::HoverInput input;
    input.modeDescription = "mode";
    for (int k = 0; k < 19; ++k)
        input.sliderHelp[(size_t)k] = "slider " + juce::String(k);
    for (size_t c = 0; c < 10; ++c)
        input.controlHelp[c] = "control " + juce::String((int)c);

    struct Case
    {
        std::vector<int> sliders;
        std::vector<int> controls;
        int previous, index;
        const char* text;
    };
    const Case cases[] = {
        {{}, {}, 24, 24, "mode"}, // nothing under the mouse: description, index kept
        {{3}, {}, 0, 3, "slider 3"},
        {{3, 9}, {}, 0, 9, "slider 9"},   // the loop runs on: the last slider wins
        {{3}, {0}, 0, 20, "control 0"},   // a control wins over a slider
        {{}, {1, 4}, 0, 21, "control 1"}, // the first control in order wins
        {{}, {8}, 0, 27, "control 8"},    // both arrows share index 27
        {{}, {9}, 0, 28, "control 9"},
    };
    for (const auto& c : cases)
    {
        auto in = input;
        for (int k : c.sliders)
            in.overSlider[(size_t)k] = true;
        for (int k : c.controls)
            in.overControl[(size_t)k] = true;
        const auto choice = KestruneRoomEditor::chooseHoverHelp(in, c.previous);
        EXPECT_EQ(choice.hoverIndex, c.index) << c.text;
        EXPECT_EQ(choice.infoText, juce::String(c.text));
    }
}

TEST(InfoText, TakesAtMostTwoLinesWhateverItsLineBreaks)
{
    KestruneRoomLookAndFeel2016::makeDefault();
    const auto font = KestruneRoomLookAndFeel2016::font(20.0f);
    const juce::Rectangle<int> area(20, 360, 300, 80);
    const juce::String sentence = "a sentence of some length that takes more than one line of its own";
    struct Case
    {
        juce::String text;
        bool keepsBreak; // the second line starts where the text breaks
    };
    const Case cases[] = {
        {"REVERB MODE: selects the reverb algorithm\nDark Room: downsampled", true},
        {"short\n" + sentence, false}, // the long line would wrap onto a third
        {"one\ntwo\nthree", false},
        {"trailing blank \n" + sentence, false},
        {sentence, false},
        {"", false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.text.replace("\n", "|").toStdString());
        auto glyphs = KestruneRoomEditor::arrangeInfoText(c.text, font, area);
        juce::String shown;
        std::map<float, juce::String> lines; // by baseline
        for (int i = 0; i < glyphs.getNumGlyphs(); ++i)
        {
            const auto& g = glyphs.getGlyph(i);
            if (!g.isWhitespace())
            {
                shown << juce::String::charToString(g.getCharacter());
                lines[g.getBaselineY()] << juce::String::charToString(g.getCharacter());
                EXPECT_TRUE(area.toFloat().contains(g.getBounds())) << g.getBounds().toString();
            }
        }
        EXPECT_EQ(shown, c.text.removeCharacters(" \n")) << "nothing cut off";
        EXPECT_LE(lines.size(), 2u);
        if (c.keepsBreak)
        {
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_TRUE(lines.rbegin()->second.startsWith("DarkRoom"));
        }
    }
    // What JUCE would have done with the second case on its own.
    juce::GlyphArrangement plain;
    plain.addFittedText(font, "short\n" + sentence, 20.0f, 360.0f, 300.0f, 80.0f,
                        juce::Justification::bottomLeft, 2, 1.0f);
    std::set<float> baselines;
    for (int i = 0; i < plain.getNumGlyphs(); ++i)
        baselines.insert(plain.getGlyph(i).getBaselineY());
    EXPECT_GT(baselines.size(), 2u);
    juce::LookAndFeel::setDefaultLookAndFeel(nullptr);
    juce::Typeface::clearTypefaceCache();
}

//==============================================================================================
// With a display (scripts/with-xvfb.sh): the real mouse-over tests behind the hover help.
namespace
{
bool haveDisplay()
{
    return juce::SystemStats::getEnvironmentVariable("DISPLAY", {}).isNotEmpty();
}
} // namespace

#define KESTRUNE_REQUIRE_DISPLAY()                                                                           \
    if (!haveDisplay())                                                                                      \
    {                                                                                                        \
        if (juce::SystemStats::getEnvironmentVariable("KESTRUNE_REQUIRE_DISPLAY", {}).isNotEmpty())          \
            FAIL() << "no display";                                                                          \
        GTEST_SKIP() << "needs a display: run through scripts/with-xvfb.sh";                                 \
    }

namespace
{
// Moves the real pointer and tells the window's peer, as the system does: the mouse events that
// follow are all the editor hears (nothing here asks it to update its help).
void moveMouseTo(KestruneRoomEditor& e, juce::Component& c, juce::Point<int> offset)
{
    const auto p = e.getLocalPoint(&c, offset).toFloat();
    juce::Desktop::setMousePosition(e.localPointToGlobal(p).roundToInt());
    e.getPeer()->handleMouseEvent(juce::MouseInputSource::InputSourceType::mouse, p, juce::ModifierKeys(),
                                  juce::MouseInputSource::defaultPressure,
                                  juce::MouseInputSource::defaultOrientation,
                                  juce::Time::currentTimeMillis());
}

// An editor that records the area of every paint the window asks of it.
struct PaintRecordingEditor : KestruneRoomEditor
{
    using KestruneRoomEditor::KestruneRoomEditor;
    void paint(juce::Graphics& g) override
    {
        painted.add(g.getClipBounds());
        KestruneRoomEditor::paint(g);
    }
    juce::RectangleList<int> painted;
};
} // namespace

// JUCE's own plug-in wrappers run the message loop this way on Linux; runDispatchLoopUntil needs the
// modal loops that the plug-in turns off.
namespace juce
{
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
}

namespace
{
// Runs the message loop (X events, timers, the window's repaints) until `done` or for `ms` at most.
bool runMessagesUntil(const std::function<bool()>& done, juce::uint32 ms)
{
    const auto end = juce::Time::getMillisecondCounter() + ms;
    while (!done() && juce::Time::getMillisecondCounter() < end)
        if (!juce::dispatchNextMessageOnSystemQueue(true))
            juce::Thread::sleep(2);
    return done();
}

bool hasWhiteInk(const juce::Image& image, juce::Rectangle<int> area)
{
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (const auto c = image.getPixelAt(x, y);
                c.getRed() > 0xC0 && c.getGreen() > 0xC0 && c.getBlue() > 0xC0)
                return true;
    return false;
}
} // namespace

// The help follows the mouse onto every control and back off it, also over the mode selector and the
// two captions, which never repaint themselves on hover, and when the mouse leaves the window; each
// change repaints the info area.
TEST_F(EditorFixture, DisplayHoverShowsTheHelpOfTheControlUnderTheMouse)
{
    KESTRUNE_REQUIRE_DISPLAY();
    auto recording = std::make_unique<PaintRecordingEditor>(*processor, PresetFolders{factory, user});
    auto& e = *recording;
    editor = std::move(recording);
    e.addToDesktop(0);
    e.setVisible(true);
    ASSERT_NE(e.getPeer(), nullptr);
    ASSERT_TRUE(runMessagesUntil([&] { return e.painted.containsRectangle(e.getLocalBounds()); }, 5000))
        << "the window was never painted";
    runMessagesUntil([] { return false; }, 100); // whatever else the window's showing brings

    const auto info = KestruneRoomEditor::scaled(KestruneRoomEditor::kInfoArea, e.uiScale);
    const auto selectorHelp = e.modeComboBox->getTooltip();
    const auto presetHelp = e.presetsSelect->getTooltip();
    struct Case
    {
        const char* where;
        juce::Component* over;
        juce::Point<int> offset;
        int index;
        juce::String text;
    };
    const Case cases[] = {
        {"decay slider", e.sliders[2].get(), {35, 100}, 2, e.sliders[2]->getTooltip()},
        {"the background", &e, {300, 30}, 2, e.modeDescription}, // the index stays with the last control
        {"mode selector", e.modeComboBox.get(), {20, 12}, 20, selectorHelp + "\n" + e.modeDescription},
        {"its caption", e.modeLabel.get(), {10, 10}, 21, selectorHelp},
        {"the preset caption", e.presetLabel.get(), {10, 10}, 25, presetHelp},
        {"the preset button", e.presetsSelect.get(), {20, 12}, 26, presetHelp},
        {"the preset caption again", e.presetLabel.get(), {30, 10}, 25, presetHelp},
        {"outside the window", &e, {e.getWidth() + 40, 20}, 25, e.modeDescription},
        {"the mode selector again", e.modeComboBox.get(), {100, 12}, 20, selectorHelp + "\n" + e.modeDescription},
        {"the background again", &e, {300, 30}, 20, e.modeDescription},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.where);
        e.painted.clear();
        moveMouseTo(e, *c.over, c.offset);
        EXPECT_EQ(e.hoverIndex, c.index);
        EXPECT_EQ(e.infoText, c.text);
        EXPECT_TRUE(runMessagesUntil([&] { return e.painted.containsRectangle(info); }, 2000))
            << "the info area was not repainted";
    }

    e.removeFromDesktop();
}

// The selector's help with the longest mode description, as the window paints it: two lines at the
// bottom of the info area, nothing between them and the mode and preset row. The smallest size is the
// README's third picture.
TEST_F(EditorFixture, DisplayRendersTheLongestHelpOnTwoLinesAtEverySize)
{
    KESTRUNE_REQUIRE_DISPLAY();
    processor->setParameter(19, 9.0f / 12.0f); // "Narcissus", the longest description
    for (const int width : {367, 735, 1102})
    {
        SCOPED_TRACE(width);
        processor->uiWidth = width;
        processor->uiHeight = (int)std::lround(width / KestruneRoomEditor::kAspectRatio);
        auto& e = open();
        e.addToDesktop(0);
        e.setVisible(true);
        ASSERT_NE(e.getPeer(), nullptr);
        moveMouseTo(e, *e.modeComboBox, {5, 5});
        ASSERT_EQ(e.hoverIndex, 20);
        ASSERT_TRUE(e.infoText.contains("\nNarcissus:"));

        const auto image = e.createComponentSnapshot(e.getLocalBounds(), true, 1.0f);
        const float s = e.uiScale;
        const auto info = KestruneRoomEditor::scaled(KestruneRoomEditor::kInfoArea, s);
        const int lineHeight = (int)(KestruneRoomEditor::kInfoFontHeight * s);
        const int rowBottom = (int)std::ceil(387.0f * s); // the mode selector's lower edge
        const int linesTop = info.getBottom() - 2 * lineHeight;
        EXPECT_TRUE(hasWhiteInk(image, info.withTop(linesTop).withHeight(lineHeight)));
        EXPECT_TRUE(hasWhiteInk(image, info.withTop(linesTop + lineHeight)));
        EXPECT_FALSE(hasWhiteInk(image, info.withTop(rowBottom + 1).withBottom(linesTop - 1)))
            << "a third line";
        if (width == KestruneRoomEditor::kMinWidth)
            writeSnapshot(image, "editor-smallest.png");
        e.removeFromDesktop();
    }
}
