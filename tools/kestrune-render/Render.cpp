#include "Render.h"
#include "WavInput.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <ostream>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace kestrune::render
{
namespace
{
constexpr double kMaxAutomaticTail = 60.0; // seconds; longer decays get --tail

// Chunks in flight between the reading, processing and writing threads, and their size in frames
// (rounded up to whole host blocks). Together they are the renderer's whole audio memory, 4 MB; that
// is about 10 ms of processing at 1000 times realtime, enough to ride out the disk's hiccups.
constexpr int kChunks = 8;
constexpr int kChunkFrames = 65536;

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
        if (name == kParameterTable[(size_t)k].name)
            return k;
    for (int k = 0; k < kNumParameters; ++k)
        if (juce::String(name).equalsIgnoreCase(kParameterTable[(size_t)k].name))
            return k;
    return -1;
}

juce::String unitOf(int k)
{
    return juce::String(kParameterTable[(size_t)k].suffix).trim();
}

// Frames of the input in order; frames past its end read as silence.
class Input
{
  public:
    virtual ~Input() = default;
    virtual int channels() const = 0;
    virtual juce::int64 length() const = 0;
    virtual bool read(float* const* channels, juce::int64 start, int frames) = 0;
};

class FileInput final : public Input
{
  public:
    // `file` is the stream at the bottom of the reader's, kept to learn of failed reads (the reader
    // reads past a failure as silence).
    FileInput(std::unique_ptr<juce::AudioFormatReader> r, const RegularFileStream& f)
        : reader(std::move(r)), file(f)
    {
    }
    int channels() const override { return static_cast<int>(reader->numChannels); }
    juce::int64 length() const override { return reader->lengthInSamples; }
    bool read(float* const* channels, juce::int64 start, int frames) override
    {
        return reader->read(channels, static_cast<int>(reader->numChannels), start, frames) && !file.failed();
    }

  private:
    std::unique_ptr<juce::AudioFormatReader> reader;
    const RegularFileStream& file;
};

class SignalInput final : public Input
{
  public:
    explicit SignalInput(juce::AudioBuffer<float> s) : signal(std::move(s)) {}
    int channels() const override { return signal.getNumChannels(); }
    juce::int64 length() const override { return signal.getNumSamples(); }
    bool read(float* const* channels, juce::int64 start, int frames) override
    {
        const int available =
            static_cast<int>(juce::jlimit<juce::int64>(0, frames, signal.getNumSamples() - start));
        for (int c = 0; c < signal.getNumChannels(); ++c)
        {
            if (available > 0)
                std::copy_n(signal.getReadPointer(c, static_cast<int>(start)), available, channels[c]);
            std::fill(channels[c] + available, channels[c] + frames, 0.0f);
        }
        return true;
    }

  private:
    juce::AudioBuffer<float> signal;
};

// Hands chunk numbers from one thread to the next, in order. Closing it wakes every waiter; what was
// pushed before can still be taken.
class ChunkQueue
{
  public:
    void push(int chunk)
    {
        {
            const std::lock_guard lock(mutex);
            items[(head + count++) % kChunks] = chunk;
        }
        ready.notify_one();
    }

    std::optional<int> pop()
    {
        std::unique_lock lock(mutex);
        ready.wait(lock, [&] { return count > 0 || closed; });
        if (count == 0)
            return std::nullopt;
        const int chunk = items[head];
        head = (head + 1) % kChunks;
        --count;
        return chunk;
    }

    void close()
    {
        {
            const std::lock_guard lock(mutex);
            closed = true;
        }
        ready.notify_all();
    }

  private:
    std::mutex mutex;
    std::condition_variable ready;
    std::array<int, kChunks> items{};
    int head = 0, count = 0;
    bool closed = false;
};

// The largest magnitude in the chunk as the bits of a non-negative float, whose integer order is the
// float order; infinities and NaNs sort above every finite value.
uint32_t largestMagnitudeBits(const juce::AudioBuffer<float>& audio, int frames)
{
    uint32_t largest = 0;
    for (int c = 0; c < audio.getNumChannels(); ++c)
    {
        const float* x = audio.getReadPointer(c);
        for (int i = 0; i < frames; ++i)
            largest = std::max(largest, std::bit_cast<uint32_t>(x[i]) & 0x7fffffffu);
    }
    return largest;
}

constexpr uint32_t kInfinityBits = 0x7f800000u;

enum class Fault
{
    none,
    read,
    write,
    notFinite
};

// Input frames, then silence up to `total`, through the processor in host blocks and into the writer.
// One thread reads, this one processes, one writes: the processor waits for neither disk.
Fault renderChunks(KestruneRoom& processor, Input& input, juce::int64 total, int blockSize,
                   juce::AudioFormatWriter& writer, Summary& summary)
{
    // Whole blocks per chunk, so the processor sees the very blocks a single pass would give it.
    const int chunkFrames = blockSize * std::max(1, (kChunkFrames + blockSize - 1) / blockSize);
    struct Chunk
    {
        juce::AudioBuffer<float> audio;
        int frames = 0;
    };
    std::array<Chunk, kChunks> chunks;
    ChunkQueue empty, filled, processed;
    for (int i = 0; i < kChunks; ++i)
    {
        chunks[(size_t)i].audio.setSize(2, chunkFrames);
        chunks[(size_t)i].audio.clear();
        empty.push(i);
    }

    std::atomic<Fault> fault{Fault::none};
    const auto stopAll = [&](Fault what)
    {
        Fault expected = Fault::none;
        fault.compare_exchange_strong(expected, what);
        empty.close();
        filled.close();
        processed.close();
    };

    std::thread reading(
        [&]
        {
            for (juce::int64 start = 0; start < total; start += chunkFrames)
            {
                const auto index = empty.pop();
                if (!index || fault.load() != Fault::none)
                    return;
                auto& chunk = chunks[(size_t)*index];
                chunk.frames = static_cast<int>(std::min<juce::int64>(chunkFrames, total - start));
                if (!input.read(chunk.audio.getArrayOfWritePointers(), start, chunk.frames))
                    return stopAll(Fault::read);
                filled.push(*index);
            }
            filled.close();
        });

    uint32_t largest = 0;
    std::thread writing(
        [&]
        {
            while (const auto index = processed.pop())
            {
                const auto& chunk = chunks[(size_t)*index];
                largest = std::max(largest, largestMagnitudeBits(chunk.audio, chunk.frames));
                if (largest >= kInfinityBits)
                    return stopAll(Fault::notFinite);
                if (!writer.writeFromAudioSampleBuffer(chunk.audio, 0, chunk.frames))
                    return stopAll(Fault::write);
                empty.push(*index);
            }
        });

    juce::AudioBuffer<float> block;
    juce::MidiBuffer midi;
    while (const auto index = filled.pop())
    {
        auto& chunk = chunks[(size_t)*index];
        for (int offset = 0; offset < chunk.frames; offset += blockSize)
        {
            block.setDataToReferTo(chunk.audio.getArrayOfWritePointers(), 2, offset,
                                   std::min(blockSize, chunk.frames - offset));
            const juce::ScopedLock lock(processor.getCallbackLock());
            processor.processBlock(block, midi);
        }
        processed.push(*index);
    }
    processed.close();
    reading.join();
    writing.join();

    if (fault.load() == Fault::none)
    {
        summary.samples = total;
        summary.peak = std::bit_cast<float>(largest);
    }
    return fault.load();
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
            const float v = 0.8f * static_cast<float>(
                                       std::sin(juce::MathConstants<double>::pi * (i + 0.5) / clickLength));
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

std::optional<Failure> openInput(const juce::File& file, const Warning& warn, std::unique_ptr<Input>& input,
                                 double& rate)
{
    const auto name = file.getFullPathName().toStdString();
    std::string error;
    auto stream = RegularFileStream::open(file, error);
    if (stream == nullptr)
        return Failure{"cannot read " + name + ": " + error};
    const auto& bottom = *stream;
    const Warning named = [&](const std::string& warning)
    {
        if (warn)
            warn(name + ": " + warning);
    };
    std::unique_ptr<juce::AudioFormatReader> reader;
    if (auto failure = openWav(std::move(stream), named, reader))
        return Failure{name + ": " + *failure};
    rate = reader->sampleRate;
    input = std::make_unique<FileInput>(std::move(reader), bottom);
    return std::nullopt;
}

// The signals that stop a process from outside (or at a CPU-time limit) by default.
constexpr int kStopSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGPIPE,
                                SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU};

// Holds the stop signals back in this thread, and in threads started meanwhile (JUCE's timer thread),
// while the render sets up files that no handler knows of yet; they arrive when it ends.
class HeldSignals
{
  public:
    HeldSignals()
    {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : kStopSignals)
            sigaddset(&held, signal);
        pthread_sigmask(SIG_BLOCK, &held, &previous);
    }
    ~HeldSignals() { release(); }
    void release()
    {
        if (std::exchange(holding, false))
            pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

  private:
    sigset_t previous;
    bool holding = true;
};

// The temporary output a signal must remove, as a path prepared beforehand: the handler may only
// make async-signal-safe calls.
char pendingOutput[PATH_MAX + 1];
std::atomic<bool> pendingOutputSet{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void removePendingOutput(int signal)
{
    if (pendingOutputSet.load())
        ::unlink(pendingOutput);
    std::signal(signal, SIG_DFL);
    std::raise(signal); // delivered once the handler returns: the process ends as the signal says
}

// Names the render's temporary output for the signal handler while it lives.
struct PendingOutput
{
    explicit PendingOutput(const juce::File& file)
    {
        const auto path = file.getFullPathName();
        if (static_cast<size_t>(path.getNumBytesAsUTF8()) >= sizeof pendingOutput)
            return; // no file can be created under such a path
        std::memcpy(pendingOutput, path.toRawUTF8(), static_cast<size_t>(path.getNumBytesAsUTF8()) + 1);
        pendingOutputSet.store(true);
    }
    ~PendingOutput() { pendingOutputSet.store(false); }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
};

// A finished output holds every frame it should: the writer's last writes (the header's among them)
// report no failure, so the file is read back.
bool holdsFrames(const juce::File& file, juce::int64 frames)
{
    std::string error;
    auto stream = RegularFileStream::open(file, error);
    WavLayout layout;
    return stream != nullptr && !scanWav(*stream, layout) && layout.frames == frames &&
           static_cast<juce::uint64>(layout.presentDataBytes) == layout.claimedDataBytes;
}
} // namespace

std::optional<Failure> parseSetting(const std::string& argument, Setting& setting)
{
    const auto equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const std::string text = argument.substr(equals + 1);
    const int k = findParameter(name);
    if (k < 0)
        return Failure{"unknown parameter \"" + name + "\" (see --help for the list)"};
    setting.index = k;
    const auto& info = kParameterTable[(size_t)k];

    if (k == kType)
    {
        for (int m = 0; m < kNumModes; ++m)
            if (juce::String(text).trim().equalsIgnoreCase(kModeNames[(size_t)m]))
            {
                setting.normalised = static_cast<float>(m + 1) / 12.0f;
                return std::nullopt;
            }
        const auto number = parseNumber(text);
        if (!number || *number != std::floor(*number) || *number < 1.0 || *number > kNumModes)
            return Failure{"type=" + text + ": give a mode name or a mode number from 1 to 12"};
        setting.normalised = static_cast<float>(*number) / 12.0f;
        return std::nullopt;
    }

    const auto number = parseNumber(text);
    if (!number)
        return Failure{name + "=" + text + ": not a number"};
    // In the limits' own precision: --help prints them as floats, and the text "0.1" lies a hair
    // below the float 0.1 that it names.
    const float value = static_cast<float>(*number);
    if (!(value >= info.minimum && value <= info.maximum))
        return Failure{name + "=" + text + ": out of range " + juce::String(info.minimum).toStdString() +
                       " to " + juce::String(info.maximum).toStdString() + " " + unitOf(k).toStdString()};
    setting.normalised = static_cast<float>(
        std::clamp((static_cast<double>(value) - info.minimum) / (info.maximum - info.minimum), 0.0, 1.0));
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
        auto takeValue = [&]() -> std::optional<std::string>
        {
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
        if (argument == "--in" || argument == "--out" || argument == "--block" || argument == "--rate" ||
            argument == "--tail" || argument == "--preset" || argument == "--save-preset")
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
                    if (!number || *number != std::floor(*number) || *number < 1 || *number > kMaxBlock)
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

void printHelp(std::ostream& out)
{
    out << "Usage: kestrune-render [--in FILE] --out FILE [--block N] [--rate HZ] [--tail SECONDS] "
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
        const auto& info = kParameterTable[(size_t)k];
        juce::String line = "  " + juce::String(info.name).paddedRight(' ', 16);
        if (k == kType)
            line << "mode 1 to 12 or its name (default 1, Large Room)";
        else
            line << juce::String(info.minimum) << " to " << juce::String(info.maximum)
                 << (unitOf(k).isEmpty() ? "" : " " + unitOf(k)) << " (default "
                 << juce::String(info.defaultValue) << ")";
        out << line.trimEnd() << "\n";
    }
    out << "\nModes:";
    for (int m = 0; m < kNumModes; ++m)
        out << (m % 4 == 0 ? "\n  " : ", ") << m + 1 << " " << kModeNames[(size_t)m];
    out << "\n\nExample: kestrune-render --in dry.wav --out wet.wav type=\"Dark Room\" decay=3.5 mix=40\n";
}

std::optional<Failure> makeProcessor(const Options& options, int inputs, double rate,
                                     const juce::File& preferencesFolder,
                                     std::unique_ptr<KestruneRoom>& result)
{
    auto processor = std::make_unique<KestruneRoom>(preferencesFolder);
    KestruneRoom::BusesLayout layout;
    layout.inputBuses.add(inputs == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo());
    layout.outputBuses.add(juce::AudioChannelSet::stereo());
    if (!processor->setBusesLayout(layout))
        return Failure{"the processor refused the " + std::to_string(inputs) + "-channel input layout"};
    processor->setRateAndBufferSizeDetails(rate, options.blockSize);
    processor->prepareToPlay(rate, options.blockSize);
    if (options.preset)
    {
        if (auto reason = notRegularFile(*options.preset))
            return Failure{"cannot load " + options.preset->getFullPathName().toStdString() + ": " + *reason};
        // Every document that loads sets the preset name, so a name no file can hold tells a refusal.
        const juce::String unloaded = "\x01unloaded";
        processor->setPresetName(unloaded);
        processor->loadPresetFile(*options.preset);
        if (processor->getPresetName() == unloaded)
            return Failure{"cannot load " + options.preset->getFullPathName().toStdString() +
                           ": no such file, or not a KestruneRoom preset"};
    }
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    for (const auto& s : options.settings)
        processor->setParameter(s.index, s.normalised);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    if (options.savePreset)
        if (auto reason = notRegularFile(*options.savePreset))
            return Failure{"cannot write the preset " + options.savePreset->getFullPathName().toStdString() +
                           ": " + *reason};
    if (options.savePreset && !processor->savePresetFile(*options.savePreset))
        return Failure{"cannot write the preset " + options.savePreset->getFullPathName().toStdString()};
    result = std::move(processor);
    return std::nullopt;
}

juce::int64 tailFrames(const Options& options, const KestruneRoom& processor, double rate)
{
    const double decay =
        processor.getParameterValue(kDecay) * juce::jmax(1.0f, processor.getParameterValue(kRTBassMultiply));
    const double tail = options.tail.value_or(
        juce::jmin(kMaxAutomaticTail, decay + processor.getParameterValue(kPredelay) / 1000.0 + 0.1));
    return static_cast<juce::int64>(std::ceil(tail * rate));
}

std::optional<Failure> renderFile(const Options& options, Summary& summary, const Warning& warn)
{
    const auto outputName = options.output.getFullPathName().toStdString();
    // The output is renamed into place: a FIFO or device there would be replaced, not written to.
    if (auto reason = notRegularFile(options.output))
        return Failure{"cannot write " + outputName + ": " + *reason};

    // Until the temporary output is known to the signal handler, no stop signal may end the process
    // with a file behind: the processor's preferences folder exists meanwhile.
    HeldSignals held;
    std::unique_ptr<Input> input;
    double rate = options.rate.value_or(kDefaultRate);
    if (options.input)
    {
        if (auto failure = openInput(*options.input, warn, input, rate))
            return failure;
        if (options.rate && *options.rate != rate)
            return Failure{"--rate sets the built-in signal's rate; the input runs at its own " +
                               juce::String(rate).toStdString() + " Hz",
                           true};
    }
    else
        input = std::make_unique<SignalInput>(makeTestSignal(rate));

    // The processor keeps its preferences in a folder of its own. It is removed once the processor
    // stands, before the render can be interrupted, and again at the end in case the processor wrote
    // to it since.
    const auto preferences = juce::File::getSpecialLocation(juce::File::tempDirectory)
                                 .getNonexistentChildFile("kestrune-render", "", false);
    preferences.createDirectory();
    struct Cleanup
    {
        juce::File folder;
        ~Cleanup() { folder.deleteRecursively(); }
    } cleanup{preferences};

    std::unique_ptr<KestruneRoom> processor;
    if (auto failure = makeProcessor(options, input->channels(), rate, preferences, processor))
        return failure;
    preferences.deleteRecursively();
    const juce::int64 total = input->length() + tailFrames(options, *processor, rate);

    juce::TemporaryFile temporary(options.output);
    const PendingOutput pending(temporary.getFile()); // outlives the temporary, which deletes the file
    auto stream = std::make_unique<juce::FileOutputStream>(temporary.getFile(), 1 << 16);
    held.release(); // a signal held back arrives now, and the handler removes the new file
    if (!stream->openedOk())
        return Failure{"cannot write " + outputName + ": " +
                       stream->getStatus().getErrorMessage().toStdString()};
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(wav.createWriterFor(stream.get(), rate, 2, 32, {}, 0));
    if (writer == nullptr)
        return Failure{"cannot write a WAV file at " + juce::String(rate).toStdString() + " Hz"};
    stream.release(); // the writer owns it now

    const auto writeFailed = Failure{"writing " + outputName + " failed (disk full, or a file-size limit?)"};
    switch (renderChunks(*processor, *input, total, options.blockSize, *writer, summary))
    {
    case Fault::read:
        return Failure{"cannot read the audio of " +
                       (options.input ? options.input->getFullPathName().toStdString() : "the test signal")};
    case Fault::write:
        return writeFailed;
    case Fault::notFinite:
        return Failure{"the output is not finite; nothing written"};
    case Fault::none:
        break;
    }
    writer.reset(); // completes the header
    if (!holdsFrames(temporary.getFile(), total))
        return writeFailed;
    // One rename: the old output stays whole until the new one replaces it.
    if (::rename(temporary.getFile().getFullPathName().toRawUTF8(),
                 options.output.getFullPathName().toRawUTF8()) != 0)
        return Failure{"cannot move the rendered file into place at " + outputName + ": " +
                       std::strerror(errno)};
    summary.rate = rate;
    return std::nullopt;
}

void removeOutputOnSignals()
{
    struct sigaction action = {};
    action.sa_handler = removePendingOutput;
    sigfillset(&action.sa_mask);
    for (const int signal : kStopSignals)
    {
        // A signal ignored on entry (nohup, a background job) stays ignored.
        struct sigaction previous = {};
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            ::sigaction(signal, &action, nullptr);
    }
    // Past a file-size limit the write fails with a message, as on a full disk, instead of ending
    // the process with a core dump.
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace kestrune::render
