#include "KestruneRoomEditor.h"

KestruneRoomEditor::Palette KestruneRoomEditor::paletteFor(int scheme)
{
    using juce::Colour;
    if (scheme == 1) // Old School
        return {Colour(0xFFBE0505u), Colour(0xFFF71818u), Colour(0xFF797979u), Colour(0x7FFF0000u),
                Colour(0xFFFF460Eu), Colour(0xFFFC231Au), Colour(0xFF797979u), Colour(0xFFF7F3F3u),
                Colour(0xFFF7F4F4u), Colour(0xFFFF460Eu), Colour(0xFFCCCCCCu), Colour(0xFFFF460Eu),
                // the locked mix: track and thumb at half alpha, 0x7F as the older withAlpha (0.5f)
                // truncated it (JUCE 7 rounds to 0x80)
                Colour(0x7FBE0505u), Colour(0x7FF71818u)};

    // Electric Blue
    return {Colour(0xAA7DF9FFu), Colour(0xFF7DF9FFu), Colour(0xFF7DF9FFu), Colour(0xFF343434u),
            Colour(0xFF7DF9FFu), Colour(0xFF7DF9FFu), Colour(0xFF343434u), Colour(0xFF000000u),
            Colour(0xFFFFFFFFu), Colour(0xFFFFFFFFu), Colour(0xFFCCCCCCu), Colour(0xFF7DF9FFu),
            Colour(0x887DF9FFu), Colour(0xAA7DF9FFu)};
}

void KestruneRoomEditor::setColourScheme(int scheme)
{
    palette = paletteFor(scheme);
}

void KestruneRoomEditor::applyColourScheme()
{
    // Slider 0 takes the unlocked colours even while the mix is locked; the locked ones return with
    // the next click that locks it.
    for (int k = 0; k < 5; ++k)
    {
        sliders[(size_t)k]->setColour(juce::Slider::thumbColourId, palette[sliderThumb]);
        sliders[(size_t)k]->setColour(juce::Slider::trackColourId, palette[sliderTrack]);
    }
    for (int k = 5; k < kNumSliders; ++k)
    {
        sliders[(size_t)k]->setColour(juce::Slider::rotarySliderFillColourId, palette[knobFill]);
        sliders[(size_t)k]->setColour(juce::Slider::rotarySliderOutlineColourId, palette[knobOutline]);
    }
    for (auto* page : {earlyEditorSelect.get(), lateEditorSelect.get()})
    {
        page->setColour(juce::TextButton::buttonColourId, palette[pageButtonOff]);
        page->setColour(juce::TextButton::buttonOnColourId, palette[pageButtonOn]);
        page->setColour(juce::TextButton::textColourOnId, palette[pageTextOn]);
        page->setColour(juce::TextButton::textColourOffId, palette[pageTextOff]);
    }
    modeComboBox->setColour(juce::ComboBox::textColourId, palette[selectorText]);
    presetsSelect->setColour(juce::TextButton::textColourOnId, palette[selectorText]);
    presetsSelect->setColour(juce::TextButton::textColourOffId, palette[selectorText]);
    mixLockButton->setColour(juce::TextButton::textColourOnId, palette[lockTextOn]);
    mixLockButton->setColour(juce::TextButton::textColourOffId, palette[lockTextOff]);
    // The scheme button's own colours are the same in both schemes.
    GUIColorButton->setColour(juce::TextButton::textColourOnId, juce::Colour(0xFFFF460Eu));
    GUIColorButton->setColour(juce::TextButton::textColourOffId, juce::Colour(0xFF7DF9FFu));
    for (auto* arrow : {previousPresetButton.get(), nextPresetButton.get()})
        arrow->setColours(palette[arrowColour], palette[arrowColour], palette[arrowColour]);
    repaint();
}
