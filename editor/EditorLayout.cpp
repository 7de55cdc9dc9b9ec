#include "KestruneRoomEditor.h"

#include "KestruneRoomLookAndFeel2016.h"

namespace
{
juce::Font captionFont(float designHeight, float scale)
{
    // Served by the default look-and-feel's embedded typeface, whatever the name.
    return KestruneRoomLookAndFeel2016::font(designHeight * scale);
}
} // namespace

juce::Rectangle<int> KestruneRoomEditor::scaled(juce::Rectangle<int> design, float scale)
{
    auto scale1 = [scale](int v) { return static_cast<int>(static_cast<float>(v) * scale); };
    return {scale1(design.getX()), scale1(design.getY()), scale1(design.getWidth()), scale1(design.getHeight())};
}

void KestruneRoomEditor::layoutComponents()
{
    const float s = uiScale;
    auto place = [s](juce::Component& c, int x, int y, int w, int h) { c.setBounds(scaled({x, y, w, h}, s)); };
    auto placeSlider = [&](int k, int x, int y, int w, int h, int boxWidth) {
        auto& slider = *sliders[(size_t)k];
        place(slider, x, y, w, h);
        const auto box = scaled({0, 0, boxWidth, 20}, s);
        slider.setTextBoxStyle(juce::Slider::TextBoxBelow, false, box.getWidth(), box.getHeight());
    };
    auto placeCaption = [&](int i, int x, int y, float fontHeight) {
        place(*labels[(size_t)i], x, y, 80, 20);
        labels[(size_t)i]->setFont(captionFont(fontHeight, s));
    };

    // The five vertical sliders, 70 apart; the mix slider's caption is the lock button.
    placeSlider(0, 10, 105, 70, 255, 200);
    for (int k = 1; k <= 4; ++k)
    {
        placeCaption(k - 1, k * 70 + 5, 80, 20.0f);
        placeSlider(k, k * 70 + 10, 105, 70, 255, 200);
    }

    // Knobs in four columns 80 apart; the EARLY and LATE pages share the places.
    for (int c = 0; c < 4; ++c)
    {
        const int x = (c + 5) * 80;
        placeCaption(4 + c, x - 15, 120, 18.0f);
        placeSlider(5 + c, x - 10, 140, 70, 85, 80);
        placeCaption(8 + c, x - 15, 235, 18.0f);
        placeSlider(9 + c, x - 10, 255, 70, 85, 80);
        placeCaption(12 + c, x - 15, 120, 18.0f);
        placeSlider(13 + c, x - 10, 140, 70, 85, 80);
    }
    placeCaption(16, 385, 235, 18.0f);
    placeSlider(17, 390, 255, 70, 85, 80);
    placeCaption(17, 465, 235, 18.0f);
    placeSlider(18, 470, 255, 70, 85, 80);

    place(*earlyEditorSelect, 380, 78, 160, 24);
    place(*lateEditorSelect, 550, 78, 160, 24);
    place(*modeLabel, 20, 365, 115, 20);
    modeLabel->setFont(captionFont(20.0f, s));
    place(*modeComboBox, 140, 363, 150, 24);
    place(*presetLabel, 380, 365, 70, 20);
    presetLabel->setFont(captionFont(20.0f, s));
    place(*presetsSelect, 460, 363, 200, 24);
    place(*mixLockButton, 22, 78, 46, 24);
    place(*GUIColorButton, 524, 43, 200, 24);
    place(*previousPresetButton, 671, 368, 14, 14);
    place(*nextPresetButton, 696, 368, 14, 14);
}
