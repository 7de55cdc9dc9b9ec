#include "KestruneSlider.h"

#include <cmath>

KestruneSlider::KestruneSlider(const juce::String& name) : juce::Slider(name) {}

double KestruneSlider::proportionOfLengthToValue(double proportion)
{
    const double skew = getSkewFactor();
    const double lo = getMinimum();
    const double hi = getMaximum();

    if (skew == 1.0)
        return lo + (hi - lo) * proportion;

    double q = proportion;
    if (proportion > 0.0)
        q = std::exp(std::log(proportion) / skew);
    return lo + (hi - lo) * q;
}

double KestruneSlider::valueToProportionOfLength(double value)
{
    const double skew = getSkewFactor();
    const double lo = getMinimum();
    const double hi = getMaximum();

    if (hi == lo)
        return 0.0; // an empty range has no track to lay out

    if (skew == 1.0)
        return (value - lo) / (hi - lo);

    return std::pow((value - lo) / (hi - lo), skew);
}

double KestruneSlider::getNormalisedValue() const
{
    const double lo = getMinimum();
    const double hi = getMaximum();
    return hi == lo ? 0.0 : (getValue() - lo) / (hi - lo);
}

void KestruneSlider::setNormalisedValue(double normalised, bool notify)
{
    const double lo = getMinimum();
    setValue(lo + (getMaximum() - lo) * normalised,
             notify ? juce::sendNotification : juce::dontSendNotification);
}
