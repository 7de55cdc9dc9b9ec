// kestrune-render: the plug-in's processor, offline. Reads a WAV (or makes a test signal), renders it
// with the given parameter settings plus a reverb tail, and writes a 32-bit float WAV.

#include "KestruneRoom.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using kestrune::kNumParameters;
using kestrune::kParameterTable;

namespace
{
constexpr double kDefaultRate = 48000.0;
constexpr int kDefaultBlock = 512;
constexpr double kMaxAutomaticTail = 60.0; // seconds; longer decays get --tail

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
};

std::optional<double> parseNumber(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

int findParameter(const std::string& name)
{
    for (int k = 0; k < kNumParameters; ++k)
        if (name == kParameterTable[(size_t) k].name)
            return k;
    for (int k = 0; k < kNumParameters; ++k)
        if (juce::String(name).equalsIgnoreCase(kParameterTable[(size_t) k].name))
            return k;
    return -1;
}

juce::String unitOf(int k) { return juce::String(kParameterTable[(size_t) k].suffix).trim(); }

// NAME=VALUE in real units; "type" also takes a mode name. Returns the normalised value.
std::optional<Failure> parseSetting(const std::string& argument, Setting& setting)
{
    const auto equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const std::string text = argument.substr(equals + 1);
    const int k = findParameter(name);
    if (k < 0)
        return Failure{"unknown parameter \"" + name + "\" (see --help for the list)"};
    setting.index = k;
    const auto& info = kParameterTable[(size_t) k];

    if (k == kestrune::kType)
    {
        for (int m = 0; m < kestrune::kNumModes; ++m)
            if (juce::String(text).trim().equalsIgnoreCase(kestrune::kModeNames[(size_t) m]))
            {
                setting.normalised = static_cast<float>(m + 1) / 12.0f;
                return std::nullopt;
            }
        const auto number = parseNumber(text);
        if (!number || *number != std::floor(*number) || *number < 1.0 || *number > kestrune::kNumModes)
            return Failure{"type=" + text + ": give a mode name or a mode number from 1 to 12"};
        setting.normalised = static_cast<float>(*number) / 12.0f;
        return std::nullopt;
    }

    const auto number = parseNumber(text);
    if (!number)
        return Failure{name + "=" + text + ": not a number"};
    if (*number < info.minimum || *number > info.maximum)
        return Failure{name + "=" + text + ": out of range " + juce::String(info.minimum).toStdString() + " to "
                       + juce::String(info.maximum).toStdString() + " " + unitOf(k).toStdString()};
    setting.normalised = static_cast<float>((*number - info.minimum) / (info.maximum - info.minimum));
    return std::nullopt;
}

std::optional<Failure> parseArguments(int argc, char** argv, Options& options)
{
    bool haveOutput = false;
    for (int i = 1; i < argc; ++i)
    {
        std::string argument = argv[i];
        std::string value;
        bool hasValue = false;
        if (argument.rfind("--", 0) == 0)
        {
            if (const auto equals = argument.find('='); equals != std::string::npos)
            {
                value = argument.substr(equals + 1);
                argument = argument.substr(0, equals);
                hasValue = true;
            }
        }
        auto takeValue = [&]() -> std::optional<std::string> {
            if (hasValue)
                return value;
            if (i + 1 < argc)
                return std::string(argv[++i]);
            return std::nullopt;
        };

        if (argument == "--help" || argument == "-h")
        {
            options.help = true;
            return std::nullopt;
        }
        if (argument == "--in" || argument == "--out" || argument == "--block" || argument == "--rate"
            || argument == "--tail" || argument == "--preset" || argument == "--save-preset")
        {
            const auto v = takeValue();
            if (!v || v->empty())
                return Failure{argument + " needs a value"};
            const auto file = juce::File::getCurrentWorkingDirectory().getChildFile(juce::String(*v));
            if (argument == "--in")
                options.input = file;
            else if (argument == "--preset")
                options.preset = file;
            else if (argument == "--save-preset")
                options.savePreset = file;
            else if (argument == "--out")
            {
                options.output = file;
                haveOutput = true;
            }
            else
            {
                const auto number = parseNumber(*v);
                if (argument == "--block")
                {
                    if (!number || *number != std::floor(*number) || *number < 1 || *number > 8192)
                        return Failure{"--block " + *v + ": give a whole number of samples from 1 to 8192"};
                    options.blockSize = static_cast<int>(*number);
                }
                else if (argument == "--rate")
                {
                    if (!number || *number < 8000 || *number > 192000)
                        return Failure{"--rate " + *v + ": give a sample rate from 8000 to 192000 Hz"};
                    options.rate = *number;
                }
                else
                {
                    if (!number || *number < 0 || *number > 600)
                        return Failure{"--tail " + *v + ": give a tail from 0 to 600 seconds"};
                    options.tail = *number;
                }
            }
            continue;
        }
        if (argument.rfind("-", 0) == 0)
            return Failure{"unknown option " + argument};
        if (argument.find('=') == std::string::npos)
            return Failure{"unexpected argument \"" + argument + "\" (settings are NAME=VALUE)"};
        Setting setting{};
        if (auto failure = parseSetting(argument, setting))
            return failure;
        options.settings.push_back(setting);
    }
    if (!haveOutput)
        return Failure{"--out FILE is required"};
    if (options.output.isDirectory())
        return Failure{"--out " + options.output.getFullPathName().toStdString() + " is a folder"};
    return std::nullopt;
}

void printHelp()
{
    std::cout << "Usage: kestrune-render [--in FILE] --out FILE [--block N] [--rate HZ] [--tail SECONDS] "
                 "[--preset FILE] [--save-preset FILE] [NAME=VALUE ...]\n\n"
                 "Runs the KestruneRoom processor over a mono or stereo WAV file (or, without --in, over a\n"
                 "built-in test signal of clicks and a chord) and writes a stereo 32-bit float WAV.\n\n"
                 "  --in FILE       input WAV; mono input runs through the mono-in layout\n"
                 "  --out FILE      output WAV (written beside the target, then renamed into place)\n"
                 "  --block N       host block size in samples, 1 to 8192 (default 512)\n"
                 "  --rate HZ       sample rate of the built-in signal, 8000 to 192000 (default 48000)\n"
                 "  --tail SECONDS  silence rendered after the input, 0 to 600 (default: long enough for\n"
                 "                  the decay, at most 60 s)\n"
                 "  --preset FILE   load a .kpreset file first; NAME=VALUE settings then apply on top\n"
                 "  --save-preset FILE\n"
                 "                  save the settings the render ran with as a .kpreset file\n\n"
                 "Parameters, in real units (NAME=VALUE):\n";
    for (int k = 0; k < kNumParameters; ++k)
    {
        const auto& info = kParameterTable[(size_t) k];
        juce::String line = "  " + juce::String(info.name).paddedRight(' ', 16);
        if (k == kestrune::kType)
            line << "mode 1 to 12 or its name (default 1, Large Room)";
        else
            line << juce::String(info.minimum) << " to " << juce::String(info.maximum)
                 << (unitOf(k).isEmpty() ? "" : " " + unitOf(k)) << " (default " << juce::String(info.defaultValue)
                 << ")";
        std::cout << line.trimEnd() << "\n";
    }
    std::cout << "\nModes:";
    for (int m = 0; m < kestrune::kNumModes; ++m)
        std::cout << (m % 4 == 0 ? "\n  " : ", ") << m + 1 << " " << kestrune::kModeNames[(size_t) m];
    std::cout << "\n\nExample: kestrune-render --in dry.wav --out wet.wav type=\"Dark Room\" decay=3.5 mix=40\n";
}

// Clicks (left, right, both), then a short A major chord, so both the early and the late reverb show.
juce::AudioBuffer<float> makeTestSignal(double rate)
{
    const int length = static_cast<int>(2.5 * rate);
    juce::AudioBuffer<float> signal(2, length);
    signal.clear();
    const int clickLength = juce::jmax(1, static_cast<int>(0.001 * rate));
    const struct
    {
        double at;
        bool left, right;
    } clicks[] = {{0.05, true, false}, {0.55, false, true}, {1.05, true, true}};
    for (const auto& c : clicks)
    {
        const int start = static_cast<int>(c.at * rate);
        for (int i = 0; i < clickLength; ++i)
        {
            const float v = 0.8f * static_cast<float>(std::sin(juce::MathConstants<double>::pi * (i + 0.5) / clickLength));
            if (c.left)
                signal.setSample(0, start + i, v);
            if (c.right)
                signal.setSample(1, start + i, v);
        }
    }
    const double chord[] = {220.0, 277.1826, 329.6276};
    const int chordStart = static_cast<int>(1.55 * rate);
    const int chordLength = static_cast<int>(0.4 * rate);
    for (int i = 0; i < chordLength; ++i)
    {
        const double t = i / rate;
        const double envelope = 0.5 - 0.5 * std::cos(2.0 * juce::MathConstants<double>::pi * i / chordLength);
        double v = 0.0;
        for (double f : chord)
            v += std::sin(2.0 * juce::MathConstants<double>::pi * f * t);
        for (int c = 0; c < 2; ++c)
            signal.setSample(c, chordStart + i, static_cast<float>(0.25 * envelope * v));
    }
    return signal;
}

std::optional<Failure> readInput(const juce::File& file, juce::AudioBuffer<float>& signal, double& rate)
{
    if (!file.existsAsFile())
        return Failure{"cannot read " + file.getFullPathName().toStdString() + ": no such file"};
    auto stream = file.createInputStream();
    if (stream == nullptr)
        return Failure{"cannot read " + file.getFullPathName().toStdString()};
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatReader> reader(wav.createReaderFor(stream.release(), true));
    if (reader == nullptr)
        return Failure{file.getFullPathName().toStdString() + " is not a readable WAV file"};
    if (reader->numChannels < 1 || reader->numChannels > 2)
        return Failure{file.getFullPathName().toStdString() + " has " + std::to_string(reader->numChannels)
                       + " channels; only mono and stereo input is supported"};
    if (reader->sampleRate < 8000 || reader->sampleRate > 192000)
        return Failure{file.getFullPathName().toStdString() + ": sample rate "
                       + std::to_string(reader->sampleRate) + " Hz is outside 8000 to 192000 Hz"};
    if (reader->lengthInSamples > static_cast<juce::int64>(reader->sampleRate * 3600.0))
        return Failure{file.getFullPathName().toStdString() + " is longer than an hour"};
    const int length = static_cast<int>(reader->lengthInSamples);
    signal.setSize(static_cast<int>(reader->numChannels), length);
    if (length > 0 && !reader->read(&signal, 0, length, 0, true, true))
        return Failure{"cannot read the audio of " + file.getFullPathName().toStdString()};
    rate = reader->sampleRate;
    return std::nullopt;
}

struct Summary
{
    juce::int64 samples = 0;
    float peak = 0.0f;
};

std::optional<Failure> render(const Options& options, const juce::AudioBuffer<float>& input, double rate,
                              Summary& summary)
{
    // The processor keeps its preferences in a folder of its own, removed afterwards.
    const auto preferences = juce::File::getSpecialLocation(juce::File::tempDirectory)
                                 .getNonexistentChildFile("kestrune-render", "", false);
    preferences.createDirectory();
    struct Cleanup
    {
        juce::File folder;
        ~Cleanup() { folder.deleteRecursively(); }
    } cleanup{preferences};

    auto processor = std::make_unique<KestruneRoom>(preferences);
    const int inputs = input.getNumChannels();
    KestruneRoom::BusesLayout layout;
    layout.inputBuses.add(inputs == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo());
    layout.outputBuses.add(juce::AudioChannelSet::stereo());
    if (!processor->setBusesLayout(layout))
        return Failure{"the processor refused the " + std::to_string(inputs) + "-channel input layout"};
    processor->setRateAndBufferSizeDetails(rate, options.blockSize);
    processor->prepareToPlay(rate, options.blockSize);
    if (options.preset)
    {
        // Every document that loads sets the preset name, so a name no file can hold tells a refusal.
        const juce::String unloaded = "\x01unloaded";
        processor->setPresetName(unloaded);
        processor->loadPresetFile(*options.preset);
        if (processor->getPresetName() == unloaded)
            return Failure{"cannot load " + options.preset->getFullPathName().toStdString()
                           + ": no such file, or not a KestruneRoom preset"};
    }
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    for (const auto& s : options.settings)
        processor->setParameter(s.index, s.normalised);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    if (options.savePreset && !processor->savePresetFile(*options.savePreset))
        return Failure{"cannot write the preset " + options.savePreset->getFullPathName().toStdString()};

    const auto& engine = processor->engine;
    const double decay = engine.getParameterValue(kestrune::kDecay)
                         * juce::jmax(1.0f, engine.getParameterValue(kestrune::kRTBassMultiply));
    const double tail = options.tail.value_or(juce::jmin(
        kMaxAutomaticTail, decay + engine.getParameterValue(kestrune::kPredelay) / 1000.0 + 0.1));
    const juce::int64 total = input.getNumSamples() + static_cast<juce::int64>(std::ceil(tail * rate));

    juce::TemporaryFile temporary(options.output);
    auto stream = std::make_unique<juce::FileOutputStream>(temporary.getFile());
    if (!stream->openedOk())
        return Failure{"cannot write " + options.output.getFullPathName().toStdString() + ": "
                       + stream->getStatus().getErrorMessage().toStdString()};
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(wav.createWriterFor(stream.get(), rate, 2, 32, {}, 0));
    if (writer == nullptr)
        return Failure{"cannot write a WAV file at " + juce::String(rate).toStdString() + " Hz"};
    stream.release(); // the writer owns it now

    juce::AudioBuffer<float> buffer(2, options.blockSize);
    juce::MidiBuffer midi;
    bool finite = true;
    for (juce::int64 start = 0; start < total; start += options.blockSize)
    {
        const int n = static_cast<int>(juce::jmin<juce::int64>(options.blockSize, total - start));
        buffer.setSize(2, n, false, false, true);
        buffer.clear();
        const int available = static_cast<int>(juce::jlimit<juce::int64>(0, n, input.getNumSamples() - start));
        for (int c = 0; c < inputs && available > 0; ++c)
            buffer.copyFrom(c, 0, input, c, static_cast<int>(start), available);
        {
            const juce::ScopedLock lock(processor->getCallbackLock());
            processor->processBlock(buffer, midi);
        }
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
            {
                const float v = buffer.getSample(c, i);
                finite = finite && std::isfinite(v);
                summary.peak = juce::jmax(summary.peak, std::abs(v));
            }
        if (!writer->writeFromAudioSampleBuffer(buffer, 0, n))
            return Failure{"writing " + options.output.getFullPathName().toStdString() + " failed (disk full?)"};
    }
    if (!finite)
        return Failure{"the output is not finite; nothing written"};
    writer.reset(); // completes the header
    if (!temporary.overwriteTargetFileWithTemporary())
        return Failure{"cannot move the rendered file into place at " + options.output.getFullPathName().toStdString()};
    summary.samples = total;
    return std::nullopt;
}

int fail(const Failure& failure, int code)
{
    std::cerr << "kestrune-render: " << failure.message << "\n";
    if (code == 2)
        std::cerr << "Try kestrune-render --help.\n";
    return code;
}
} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (auto failure = parseArguments(argc, argv, options))
        return fail(*failure, 2);
    if (options.help)
    {
        printHelp();
        return 0;
    }

    const juce::ScopedJuceInitialiser_GUI juce;
    juce::AudioBuffer<float> input;
    double rate = options.rate.value_or(kDefaultRate);
    if (options.input)
    {
        if (auto failure = readInput(*options.input, input, rate))
            return fail(*failure, 1);
        if (options.rate && *options.rate != rate)
            return fail({"--rate sets the built-in signal's rate; the input runs at its own " + juce::String(rate).toStdString()
                         + " Hz"},
                        2);
    }
    else
        input = makeTestSignal(rate);

    Summary summary;
    if (auto failure = render(options, input, rate, summary))
        return fail(*failure, 1);

    const double peakDb = summary.peak > 0.0f ? 20.0 * std::log10(summary.peak) : -INFINITY;
    std::cout << "wrote " << options.output.getFullPathName() << ": 2 ch, " << rate << " Hz, 32-bit float, "
              << juce::String(summary.samples / rate, 2) << " s (" << summary.samples << " samples), peak "
              << juce::String(peakDb, 1) << " dBFS\n";
    return 0;
}
