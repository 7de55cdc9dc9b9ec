// The plug-in tests need JUCE's message manager (change messages, the hosted plug-ins' set-up).
#include <gtest/gtest.h>
#include <juce_events/juce_events.h>
#include <juce_gui_basics/juce_gui_basics.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
