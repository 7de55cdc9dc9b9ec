// kestrune-render: every value --help lists is accepted, streaming gives what one pass over the
// whole file gives, and memory does not grow with the input's length.
#include "Render.h"
#include "WavInput.h"
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

namespace
{
// Little-endian fields and chunks of a hand-made WAV file.
std::string le(juce::uint64 value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xff);
    return out;
}

std::string chunk(const std::string& id, juce::uint64 claimedSize, const std::string& body)
{
    return id + le(claimedSize, 4) + body + (body.size() % 2 != 0 ? std::string(1, '\0') : "");
}
std::string chunk(const std::string& id, const std::string& body)
{
    return chunk(id, body.size(), body);
}

std::string riff(const std::string& chunks, juce::uint64 claimedSize = ~0ull)
{
    return "RIFF" + le(claimedSize == ~0ull ? chunks.size() + 4 : claimedSize, 4) + "WAVE" + chunks;
}

std::string fmt(int tag, int channels, int rate, int bits)
{
    const int align = channels * bits / 8;
    return chunk("fmt ", le((juce::uint64)tag, 2) + le((juce::uint64)channels, 2) +
                             le((juce::uint64)rate, 4) + le((juce::uint64)(rate * align), 4) +
                             le((juce::uint64)align, 2) + le((juce::uint64)bits, 2));
}

// WAVE_FORMAT_EXTENSIBLE with the given sub-format tag (1 PCM, 3 float) and container size.
std::string extensibleFmt(int subTag, int channels, int rate, int bits, int validBits)
{
    const int align = channels * bits / 8;
    const std::string guidTail("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71", 14);
    return chunk("fmt ", le(0xfffe, 2) + le((juce::uint64)channels, 2) + le((juce::uint64)rate, 4) +
                             le((juce::uint64)(rate * align), 4) + le((juce::uint64)align, 2) +
                             le((juce::uint64)bits, 2) + le(22, 2) + le((juce::uint64)validBits, 2) +
                             le(3, 4) + le((juce::uint64)subTag, 2) + guidTail);
}

// Frames of a ramp in the given sample size; bytes are the same whatever format reads them.
std::string audioBytes(int frames, int bytesPerFrame)
{
    std::string out;
    for (int i = 0; i < frames * bytesPerFrame; ++i)
        out += static_cast<char>((i * 37 + 11) & 0xff);
    return out;
}

std::string rf64(const std::string& chunksAfterDs64, juce::uint64 dataSize)
{
    const auto ds64 =
        chunk("ds64", le(chunksAfterDs64.size() + 40, 8) + le(dataSize, 8) + le(0, 8) + le(0, 4));
    return "RF64" + le(0xffffffff, 4) + "WAVE" + ds64 + chunksAfterDs64;
}

struct OpenResult
{
    std::optional<std::string> error;
    std::vector<std::string> warnings;
    std::unique_ptr<juce::AudioFormatReader> reader;
};

OpenResult openBytes(const std::string& bytes)
{
    OpenResult result;
    result.error = openWav(
        std::make_unique<juce::MemoryInputStream>(bytes.data(), bytes.size(), true),
        [&](const std::string& w) { result.warnings.push_back(w); }, result.reader);
    return result;
}

juce::AudioBuffer<float> readAll(juce::AudioFormatReader& reader)
{
    juce::AudioBuffer<float> audio((int)reader.numChannels, (int)reader.lengthInSamples);
    reader.read(audio.getArrayOfWritePointers(), audio.getNumChannels(), 0, audio.getNumSamples());
    return audio;
}
} // namespace

// Headers that claim more than the file holds, or formats the renderer cannot read: each is refused
// with its reason or trimmed to what is there, without reading what the header claims.
TEST(WavInput, ChecksEveryClaimAgainstTheFilesRealSize)
{
    const auto pcm16 = fmt(1, 2, 44100, 16);
    const auto frames100 = audioBytes(100, 4);
    const auto huge = 0x7fffffffull;
    struct Case
    {
        const char* what;
        std::string bytes;
        juce::int64 frames;  // -1: refused
        const char* message; // a fragment of the refusal or of the one warning; empty: no warning
    };
    const Case cases[] = {
        {"plain", riff(pcm16 + chunk("data", frames100)), 100, ""},
        {"data size 0xFFFFFFFF", riff(pcm16 + "data" + le(0xffffffff, 4) + frames100), 100,
         "claims 4294967295 bytes but the file holds 400"},
        {"RIFF size 0, as a streaming writer leaves it", riff(pcm16 + chunk("data", frames100), 0), 100, ""},
        {"trailing half frame", riff(pcm16 + chunk("data", frames100 + "xy")), 100, ""},
        {"data before fmt", riff(chunk("data", frames100) + pcm16), 100, ""},
        {"RF64", rf64(pcm16 + "data" + le(0xffffffff, 4) + frames100, 400), 100, ""},
        {"RF64 claiming 2^62 bytes", rf64(pcm16 + "data" + le(0xffffffff, 4) + frames100, 1ull << 62), 100,
         "claims 4611686018427387904 bytes"},
        {"cue claiming a million points in 28 bytes",
         riff(pcm16 + chunk("cue ", le(1000000, 4) + std::string(24, '\0')) + chunk("data", frames100)), 100,
         ""},
        {"cue claiming 2 GB after the data", riff(pcm16 + chunk("data", frames100) + chunk("cue ", huge, "")),
         100, ""},
        {"cue claiming 2 GB", riff(pcm16 + chunk("cue ", huge, le(1000000, 4)) + chunk("data", frames100)),
         -1,
         "no data chunk before its \"cue \" chunk at byte 36, which claims 2147483647 bytes, past the end"},
        {"smpl claiming 2 GB", riff(chunk("smpl", huge, "") + pcm16 + chunk("data", frames100)), -1,
         "\"smpl\" chunk at byte 12"},
        {"bext claiming 2 GB", riff(chunk("bext", huge, "") + pcm16 + chunk("data", frames100)), -1,
         "\"bext\""},
        {"inst claiming 2 GB", riff(chunk("inst", huge, "") + pcm16 + chunk("data", frames100)), -1,
         "\"inst\""},
        {"LIST claiming 2 GB", riff(pcm16 + chunk("LIST", huge, "adtl") + chunk("data", frames100)), -1,
         "\"LIST\""},
        {"unprintable id", riff(pcm16 + chunk(std::string("\x01\xff\x00z", 4), huge, "")), -1,
         "0x01ff007a chunk"},
        {"fmt claiming past the end", riff(chunk("fmt ", huge, pcm16.substr(8))), -1, "fmt chunk claims"},
        {"fmt too short", riff(chunk("fmt ", pcm16.substr(8, 14)) + chunk("data", frames100)), -1,
         "too short"},
        {"no fmt", riff(chunk("data", frames100)), -1, "no fmt chunk"},
        {"12-bit", riff(fmt(1, 1, 44100, 12) + chunk("data", frames100)), -1, "12-bit integer samples"},
        {"64-bit float", riff(fmt(3, 1, 44100, 64) + chunk("data", frames100)), -1, "64-bit float samples"},
        {"16-bit float", riff(fmt(3, 2, 44100, 16) + chunk("data", frames100)), -1, "16-bit float samples"},
        {"MP3 in WAV", riff(fmt(0x55, 2, 44100, 16) + chunk("data", frames100)), -1, "tag 85"},
        {"extensible, unknown sub-format",
         riff(extensibleFmt(2, 2, 44100, 16, 16).replace(44, 1, "\x07") + chunk("data", frames100)), -1,
         "other than PCM or float"},
        {"no channels", riff(fmt(1, 0, 44100, 16) + chunk("data", frames100)), -1, "0 channels"},
        {"three channels", riff(fmt(1, 3, 44100, 16) + chunk("data", audioBytes(100, 6))), -1, "3 channels"},
        {"4 kHz", riff(fmt(1, 2, 4000, 16) + chunk("data", frames100)), -1, "sample rate 4000 Hz"},
        {"not RIFF", "RIFX" + riff(pcm16).substr(4), -1, "no RIFF/WAVE header"},
        {"eleven bytes", riff("").substr(0, 11), -1, "too short"},
        {"RF64 without ds64", "RF64" + le(0xffffffff, 4) + "WAVE" + pcm16, -1, "without a ds64 chunk"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        const auto result = openBytes(c.bytes);
        if (c.frames < 0)
        {
            ASSERT_TRUE(result.error.has_value());
            EXPECT_NE(result.error->find(c.message), std::string::npos) << *result.error;
            continue;
        }
        ASSERT_FALSE(result.error) << *result.error;
        EXPECT_EQ(result.reader->lengthInSamples, c.frames);
        if (*c.message == 0)
            EXPECT_TRUE(result.warnings.empty());
        else
        {
            ASSERT_EQ(result.warnings.size(), 1u);
            EXPECT_NE(result.warnings[0].find(c.message), std::string::npos) << result.warnings[0];
        }
    }
}

// Behind the check, JUCE's reader decodes every sample format as it decodes a plain file of it.
TEST(WavInput, DecodesEachFormatAsJucesReaderDoes)
{
    struct Case
    {
        const char* what;
        std::string format;
        int bytesPerFrame;
    };
    const Case cases[] = {
        {"8-bit", fmt(1, 1, 22050, 8), 1},
        {"16-bit stereo", fmt(1, 2, 44100, 16), 4},
        {"24-bit", fmt(1, 2, 48000, 24), 6},
        {"32-bit", fmt(1, 1, 96000, 32), 4},
        {"float", fmt(3, 2, 44100, 32), 8},
        {"extensible 24 in 32", extensibleFmt(1, 2, 48000, 32, 24), 8},
        {"extensible float", extensibleFmt(3, 1, 192000, 32, 32), 4},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        const auto data = chunk("data", audioBytes(301, c.bytesPerFrame));
        // What the renderer is handed, with metadata around the audio, and JUCE's reader on the plain file.
        const auto screened = openBytes(riff(chunk("LIST", "INFOxxxx") + c.format + chunk("cue ", le(0, 4)) +
                                             data + chunk("smpl", "ab")));
        ASSERT_FALSE(screened.error) << *screened.error;
        const auto plain = riff(c.format + data);
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatReader> direct(
            wav.createReaderFor(new juce::MemoryInputStream(plain.data(), plain.size(), true), true));
        ASSERT_NE(direct, nullptr);
        EXPECT_EQ(screened.reader->sampleRate, direct->sampleRate);
        const auto a = readAll(*screened.reader), b = readAll(*direct);
        ASSERT_EQ(a.getNumChannels(), b.getNumChannels());
        ASSERT_EQ(a.getNumSamples(), 301);
        ASSERT_EQ(b.getNumSamples(), 301);
        for (int ch = 0; ch < a.getNumChannels(); ++ch)
            EXPECT_EQ(std::memcmp(a.getReadPointer(ch), b.getReadPointer(ch), sizeof(float) * 301), 0);
    }
}

namespace
{
// A stream of `size` bytes that holds `head` and then, at every data offset d, the byte d * 37 + 11:
// a file of gigabytes that costs no memory.
class PatternStream final : public juce::InputStream
{
  public:
    PatternStream(std::string h, juce::int64 s) : head(std::move(h)), size(s) {}
    static char byteAt(juce::int64 dataOffset) { return static_cast<char>((dataOffset * 37 + 11) & 0xff); }
    juce::int64 getTotalLength() override { return size; }
    bool isExhausted() override { return position >= size; }
    juce::int64 getPosition() override { return position; }
    bool setPosition(juce::int64 p) override
    {
        position = juce::jlimit<juce::int64>(0, size, p);
        return true;
    }
    int read(void* destination, int bytes) override
    {
        const auto n = static_cast<int>(std::min<juce::int64>(bytes, size - position));
        auto* out = static_cast<char*>(destination);
        const auto headSize = static_cast<juce::int64>(head.size());
        for (int i = 0; i < n; ++i, ++position)
            out[i] = position < headSize ? head[(size_t)position] : byteAt(position - headSize);
        return n;
    }

  private:
    std::string head;
    juce::int64 size, position = 0;
};
} // namespace

// Past 4 GB of audio the reader is handed an RF64 header, and the last frames read as they are.
TEST(WavInput, ReadsAudioBeyondFourGigabytes)
{
    constexpr juce::int64 kFrames = 1300000001; // 16-bit stereo: 5.2 GB
    const auto head = rf64(fmt(1, 2, 48000, 16) + "data" + le(0xffffffff, 4), (juce::uint64)kFrames * 4);
    std::unique_ptr<juce::AudioFormatReader> reader;
    const auto error =
        openWav(std::make_unique<PatternStream>(head, (juce::int64)head.size() + kFrames * 4), {}, reader);
    ASSERT_FALSE(error) << *error;
    ASSERT_EQ(reader->lengthInSamples, kFrames);

    // The same last three frames in a small file of their own, read by JUCE's reader directly.
    std::string last;
    for (juce::int64 d = (kFrames - 3) * 4; d < kFrames * 4; ++d)
        last += PatternStream::byteAt(d);
    const auto plain = riff(fmt(1, 2, 48000, 16) + chunk("data", last));
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatReader> direct(
        wav.createReaderFor(new juce::MemoryInputStream(plain.data(), plain.size(), true), true));
    ASSERT_NE(direct, nullptr);
    juce::AudioBuffer<float> a(2, 3), b(2, 3);
    ASSERT_TRUE(reader->read(a.getArrayOfWritePointers(), 2, kFrames - 3, 3));
    ASSERT_TRUE(direct->read(b.getArrayOfWritePointers(), 2, 0, 3));
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(a.getSample(ch, i), b.getSample(ch, i)) << ch << " " << i;
    EXPECT_NE(a.getMagnitude(0, 3), 0.0f);
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
