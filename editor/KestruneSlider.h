#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The editor's slider and knob: a juce::Slider whose value travels to and from the processor as a
// linear fraction of its range, while its skew only shapes how that range lies along the track.
//
// The component name is the parameter index as decimal text ("0" to "18"); listeners read it back
// with getName().getIntValue().
class KestruneSlider : public juce::Slider
{
  public:
    explicit KestruneSlider(const juce::String& name);

    // Position along the track (0 at the start, 1 at the end) to value and back. Skew s:
    // value = lo + (hi - lo) * p^(1/s), proportion = ((v - lo) / (hi - lo))^s; a skew of exactly 1
    // is linear, and a proportion <= 0 is extrapolated linearly (no power is taken).
    double proportionOfLengthToValue(double proportion) override;
    double valueToProportionOfLength(double value) override;

    // (value - minimum) / (maximum - minimum), whatever the skew: the parameter's value as the host
    // sees it.
    double getNormalisedValue() const;

    // Sets minimum + (maximum - minimum) * normalised. notify false sends nothing to the listeners,
    // so that loading a parameter into the slider does not send it back to the host.
    void setNormalisedValue(double normalised, bool notify);

  private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(KestruneSlider)
};
