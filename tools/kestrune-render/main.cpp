// kestrune-render: the plug-in's processor, offline. Reads a WAV (or makes a test signal), renders it
// with the given parameter settings plus a reverb tail, and writes a 32-bit float WAV.

#include "Render.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>
#include <iostream>

using namespace kestrune::render;

namespace
{
int fail(const Failure& failure, bool usage)
{
    std::cerr << "kestrune-render: " << failure.message << "\n";
    if (usage)
        std::cerr << "Try kestrune-render --help.\n";
    return usage ? 2 : 1;
}
} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (auto failure = parseArguments(argc, argv, options))
        return fail(*failure, true);
    if (options.help)
    {
        printHelp(std::cout);
        return 0;
    }

    removeOutputOnSignals();
    const juce::ScopedJuceInitialiser_GUI juce;
    Summary summary;
    const auto warn = [](const std::string& warning)
    { std::cerr << "kestrune-render: warning: " << warning << "\n"; };
    if (auto failure = renderFile(options, summary, warn))
        return fail(*failure, failure->usage);

    const double peakDb = summary.peak > 0.0f ? 20.0 * std::log10(summary.peak) : -INFINITY;
    std::cout << "wrote " << options.output.getFullPathName() << ": 2 ch, " << summary.rate
              << " Hz, 32-bit float, " << juce::String(summary.samples / summary.rate, 2) << " s ("
              << summary.samples << " samples), peak " << juce::String(peakDb, 1) << " dBFS\n";
    return 0;
}
