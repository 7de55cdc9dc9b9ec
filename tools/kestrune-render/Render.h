#pragma once

// kestrune-render's parts: the command line, the settings it applies to the processor, and the
// streaming render from a WAV file (or the built-in test signal) to a WAV file.

#include "KestruneRoom.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::render
{

inline constexpr double kDefaultRate = 48000.0;
inline constexpr int kDefaultBlock = 512;
inline constexpr int kMaxBlock = 8192;

struct Setting
{
    int index;
    float normalised;
};

struct Options
{
    std::optional<juce::File> input;
    juce::File output;
    int blockSize = kDefaultBlock;
    std::optional<double> rate;
    std::optional<double> tail;
    std::vector<Setting> settings;
    std::optional<juce::File> preset;     // loaded before the settings apply
    std::optional<juce::File> savePreset; // the state the render ran with
    bool help = false;
};

struct Failure
{
    std::string message;
    bool usage = false; // the command line itself is wrong
};

struct Summary
{
    double rate = 0.0;
    juce::int64 samples = 0;
    float peak = 0.0f;
};

// NAME=VALUE in real units ("type" also takes a mode name); every value --help lists is accepted.
std::optional<Failure> parseSetting(const std::string& argument, Setting& setting);
std::optional<Failure> parseArguments(int argc, char** argv, Options& options);
void printHelp(std::ostream& out);

// Told what the render goes on with although the input is not as it claims (a data chunk longer than
// the file); printed before rendering starts.
using Warning = std::function<void(const std::string&)>;

// Renders options.input (or the built-in test signal) into options.output. The input is read, run
// through the processor and written in chunks on three threads, so memory stays the same for any
// length; the output file appears only when everything was written and every sample is finite.
std::optional<Failure> renderFile(const Options& options, Summary& summary, const Warning& warn = {});

// Makes the signals that stop a process from outside (Ctrl-C, SIGTERM from kill or timeout, a hang-up,
// a closed pipe, a CPU-time limit) remove the temporary output of a render under way before the
// process ends as the signal would end it. A file-size limit makes the write fail instead.
void removeOutputOnSignals();

// A processor for `inputs` input channels at `rate`, with the preset and settings of `options`.
std::optional<Failure> makeProcessor(const Options& options, int inputs, double rate,
                                     const juce::File& preferencesFolder,
                                     std::unique_ptr<KestruneRoom>& result);

// The reverb tail rendered after the input, in frames.
juce::int64 tailFrames(const Options& options, const KestruneRoom& processor, double rate);

} // namespace kestrune::render
