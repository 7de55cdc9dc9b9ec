// kestrune-render: every value --help lists is accepted, streaming gives what one pass over the
// whole file gives, and memory does not grow with the input's length.
#include "Render.h"
#include <unistd.h> // getpid: test processes run in parallel

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

using namespace kestrune::render;

namespace
{
struct TemporaryFolder
{
    juce::File folder =
        juce::File::getSpecialLocation(juce::File::tempDirectory)
            .getNonexistentChildFile("kestrune-render-test-" + juce::String(::getpid()), "", false);
    TemporaryFolder() { folder.createDirectory(); }
    ~TemporaryFolder() { folder.deleteRecursively(); }
};

std::optional<Failure> parse(std::vector<std::string> arguments, Options& options)
{
    arguments.insert(arguments.begin(), "kestrune-render");
    std::vector<char*> argv;
    for (auto& a : arguments)
        argv.push_back(a.data());
    return parseArguments(static_cast<int>(argv.size()), argv.data(), options);
}

// Noise with a few clicks, at an odd length so that neither blocks nor chunks divide it.
juce::AudioBuffer<float> testInput(int channels, int length)
{
    juce::AudioBuffer<float> signal(channels, length);
    juce::Random random(20261210);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < length; ++i)
            signal.setSample(c, i, (i % 11025 == 100 ? 0.7f : 0.0f) + 0.05f * (random.nextFloat() - 0.5f));
    return signal;
}

void writeWav(const juce::File& file, const juce::AudioBuffer<float>& signal, double rate, int bits)
{
    file.deleteFile();
    auto stream = std::make_unique<juce::FileOutputStream>(file);
    ASSERT_TRUE(stream->openedOk());
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(
        wav.createWriterFor(stream.get(), rate, (unsigned int)signal.getNumChannels(), bits, {}, 0));
    ASSERT_NE(writer, nullptr);
    stream.release();
    ASSERT_TRUE(writer->writeFromAudioSampleBuffer(signal, 0, signal.getNumSamples()));
}

juce::AudioBuffer<float> readWav(const juce::File& file)
{
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatReader> reader(
        wav.createReaderFor(file.createInputStream().release(), true));
    if (reader == nullptr)
        return {};
    juce::AudioBuffer<float> audio((int)reader->numChannels, (int)reader->lengthInSamples);
    reader->read(&audio, 0, audio.getNumSamples(), 0, true, true);
    return audio;
}

// VmHWM and VmRSS of this process, in kB.
std::pair<long, long> residentKb()
{
    std::ifstream status("/proc/self/status");
    long hwm = -1, rss = -1;
    for (std::string line; std::getline(status, line);)
    {
        if (line.rfind("VmHWM:", 0) == 0)
            hwm = std::stol(line.substr(6));
        if (line.rfind("VmRSS:", 0) == 0)
            rss = std::stol(line.substr(6));
    }
    return {hwm, rss};
}

// How far above the resident size at its start the render's peak resident size went, in kB.
std::optional<long> peakGrowthKb(const Options& options)
{
    if (!(std::ofstream("/proc/self/clear_refs") << "5"))
        return std::nullopt;
    const auto before = residentKb().second;
    Summary summary;
    if (auto failure = renderFile(options, summary))
    {
        ADD_FAILURE() << failure->message;
        return std::nullopt;
    }
    return residentKb().first - before;
}
} // namespace

// Each limit and default that --help prints is taken as written; just outside a range is refused.
TEST(RenderArguments, EveryValueTheHelpListsIsAccepted)
{
    std::ostringstream help;
    printHelp(help);
    const std::regex parameter(R"(^  (\w+) +(\S+) to (\S+)(?: \S+)? \(default (\S+)\)$)");
    const std::regex option(R"(^  (--\w+) .*?(\d+) to (\d+))");
    int parameters = 0, options = 0;
    std::istringstream lines(help.str());
    for (std::string line; std::getline(lines, line);)
    {
        std::smatch m;
        if (std::regex_match(line, m, parameter))
        {
            ++parameters;
            const std::string name = m[1];
            const auto& info = kestrune::kParameterTable[(size_t)parameters - 1];
            const struct
            {
                std::string text;
                std::optional<float> normalised; // nullopt: refused
            } cases[] = {
                {m[2], 0.0f},
                {m[3], 1.0f},
                {m[4], (info.defaultValue - info.minimum) / (info.maximum - info.minimum)},
                {std::to_string(std::stod(m[2]) - 0.01 * (std::stod(m[3]) - std::stod(m[2]))), std::nullopt},
                {std::to_string(std::stod(m[3]) * 1.01), std::nullopt},
            };
            for (const auto& c : cases)
            {
                Setting setting{};
                const auto failure = parseSetting(name + "=" + c.text, setting);
                EXPECT_EQ(failure.has_value(), !c.normalised.has_value()) << name << "=" << c.text;
                if (!failure && c.normalised)
                {
                    EXPECT_NEAR(setting.normalised, *c.normalised, 1e-6f) << name << "=" << c.text;
                    EXPECT_TRUE(setting.normalised >= 0.0f && setting.normalised <= 1.0f)
                        << name << "=" << c.text;
                }
            }
        }
        else if (std::regex_search(line, m, option))
        {
            ++options;
            for (const auto& value : {m[2].str(), m[3].str()})
            {
                Options parsed;
                EXPECT_FALSE(parse({"--out", "x.wav", m[1], value}, parsed)) << m[1] << " " << value;
            }
        }
    }
    EXPECT_EQ(parameters, kestrune::kNumParameters - 1); // "type" is listed as a mode number
    EXPECT_EQ(options, 3);                               // --block, --rate, --tail
    for (const std::string_view type : {"type=1", "type=12", "type=Dense Room"})
    {
        Setting setting{};
        EXPECT_FALSE(parseSetting(std::string(type), setting)) << type;
    }
}

struct StreamCase
{
    int channels;
    int blockSize;
    const char* type;
};

void PrintTo(const StreamCase& c, std::ostream* os)
{
    *os << c.channels << "ch block " << c.blockSize << " " << c.type;
}

class RenderStreaming : public testing::TestWithParam<StreamCase>
{
};

// The file is read, processed and written in chunks on three threads; the processor must still see
// exactly the blocks of one pass over the whole input followed by the tail.
TEST_P(RenderStreaming, GivesTheOutputOfOnePassOverTheWholeFile)
{
    constexpr double kRate = 44100.0;
    const auto [channels, blockSize, type] = GetParam();
    TemporaryFolder temporary;
    const auto input = temporary.folder.getChildFile("in.wav");
    writeWav(input, testInput(channels, 97003), kRate, 32);

    Options options;
    ASSERT_FALSE(parse({"--in", input.getFullPathName().toStdString(), "--out",
                        temporary.folder.getChildFile("out.wav").getFullPathName().toStdString(), "--block",
                        std::to_string(blockSize), std::string("type=") + type, "decay=0.4", "mix=70"},
                       options));
    Summary summary;
    const auto failure = renderFile(options, summary);
    ASSERT_FALSE(failure) << failure->message;
    const auto streamed = readWav(options.output);

    // The whole input in memory, then host blocks over it and the tail, as a single pass gives them.
    const auto whole = readWav(input);
    std::unique_ptr<KestruneRoom> processor;
    ASSERT_FALSE(makeProcessor(options, channels, kRate, temporary.folder.getChildFile("prefs"), processor));
    const int total = whole.getNumSamples() + static_cast<int>(tailFrames(options, *processor, kRate));
    juce::AudioBuffer<float> expected(2, total), block(2, blockSize);
    juce::MidiBuffer midi;
    for (int start = 0; start < total; start += blockSize)
    {
        const int n = std::min(blockSize, total - start);
        block.setSize(2, n, false, false, true);
        block.clear();
        const int available = juce::jlimit(0, n, whole.getNumSamples() - start);
        for (int c = 0; c < channels && available > 0; ++c)
            block.copyFrom(c, 0, whole, c, start, available);
        {
            const juce::ScopedLock lock(processor->getCallbackLock());
            processor->processBlock(block, midi);
        }
        for (int c = 0; c < 2; ++c)
            expected.copyFrom(c, start, block, c, 0, n);
    }

    ASSERT_EQ(streamed.getNumChannels(), 2);
    ASSERT_EQ(streamed.getNumSamples(), total);
    for (int c = 0; c < 2; ++c)
        EXPECT_EQ(std::memcmp(streamed.getReadPointer(c), expected.getReadPointer(c),
                              sizeof(float) * (size_t)total),
                  0)
            << "channel " << c;
    EXPECT_GT(summary.peak, 0.01f);
}

INSTANTIATE_TEST_SUITE_P(Cases, RenderStreaming,
                         testing::Values(StreamCase{2, 512, "Large Room"}, StreamCase{1, 512, "Dark Room"},
                                         StreamCase{2, 1, "Narcissus"}, StreamCase{2, 77, "Dense Room"},
                                         StreamCase{1, 8192, "Sulaco"}));

// A long input costs no more memory than a short one: the renderer holds a few chunks, never the file.
TEST(RenderMemory, PeakResidentSizeDoesNotGrowWithTheInput)
{
    constexpr double kRate = 48000.0;
    constexpr long kMarginKb = 8 * 1024;
    TemporaryFolder temporary;
    std::optional<long> growth[2];
    const int seconds[2] = {5, 180};
    for (int i = 0; i < 2; ++i)
    {
        const auto input = temporary.folder.getChildFile("in" + juce::String(i) + ".wav");
        writeWav(input, testInput(1, static_cast<int>(seconds[i] * kRate)), kRate, 16);
        Options options;
        ASSERT_FALSE(parse({"--in", input.getFullPathName().toStdString(), "--out",
                            temporary.folder.getChildFile("out.wav").getFullPathName().toStdString(),
                            "type=Narcissus"},
                           options));
        growth[i] = peakGrowthKb(options);
        input.deleteFile();
    }
    if (!growth[0] || !growth[1])
        GTEST_SKIP() << "this kernel does not let a process reset its peak resident size";
    // Three minutes of mono input alone take 34 MB as floats; the margin is a quarter of that.
    EXPECT_LT(*growth[1], *growth[0] + kMarginKb)
        << "5 s: " << *growth[0] << " kB, 180 s: " << *growth[1] << " kB";
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
