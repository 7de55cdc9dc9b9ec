// kestrune-render's own cost: the whole tool (read, process, write a 60 s stereo 24-bit WAV) against
// the processor alone over the same audio in memory, both as realtime multiples. The tool's own cost
// per second of audio is 1 / tool - 1 / processor.

#include "Render.h"

#include <benchmark/benchmark.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace
{
constexpr double kRate = 48000.0;
constexpr int kSeconds = 60;
constexpr int kBlock = 512;

struct Fixture
{
    const juce::ScopedJuceInitialiser_GUI juce;
    juce::TemporaryFile input{".wav"}, output{".wav"}, preferences;
    juce::AudioBuffer<float> audio{2, static_cast<int>(kRate) * kSeconds};

    Fixture()
    {
        juce::Random random(1);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < audio.getNumSamples(); ++i)
                audio.setSample(c, i, 0.1f * (random.nextFloat() - 0.5f));
        juce::WavAudioFormat wav;
        auto stream = std::make_unique<juce::FileOutputStream>(input.getFile());
        std::unique_ptr<juce::AudioFormatWriter> writer(
            wav.createWriterFor(stream.release(), kRate, 2, 24, {}, 0));
        writer->writeFromAudioSampleBuffer(audio, 0, audio.getNumSamples());
    }

    kestrune::render::Options options(const char* type) const
    {
        kestrune::render::Options o;
        o.input = input.getFile();
        o.output = output.getFile();
        o.tail = 0.0;
        kestrune::render::Setting setting{};
        kestrune::render::parseSetting(std::string("type=") + type, setting);
        o.settings.push_back(setting);
        return o;
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

const char* const kTypes[] = {"Large Room", "Narcissus"};

void processorAlone(benchmark::State& state)
{
    auto& f = fixture();
    const auto options = f.options(kTypes[state.range(0)]);
    std::unique_ptr<KestruneRoom> processor;
    kestrune::render::makeProcessor(options, 2, kRate, f.preferences.getFile(), processor);
    juce::AudioBuffer<float> chunk(2, f.audio.getNumSamples()), block;
    juce::MidiBuffer midi;
    for (auto _ : state)
    {
        state.PauseTiming();
        chunk.makeCopyOf(f.audio, true);
        state.ResumeTiming();
        for (int start = 0; start < chunk.getNumSamples(); start += kBlock)
        {
            block.setDataToReferTo(chunk.getArrayOfWritePointers(), 2, start, kBlock);
            const juce::ScopedLock lock(processor->getCallbackLock());
            processor->processBlock(block, midi);
        }
    }
    state.counters["realtime_x"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kSeconds, benchmark::Counter::kIsRate);
    state.SetLabel(kTypes[state.range(0)]);
}

void wholeTool(benchmark::State& state)
{
    auto& f = fixture();
    const auto options = f.options(kTypes[state.range(0)]);
    for (auto _ : state)
    {
        kestrune::render::Summary summary;
        if (auto failure = kestrune::render::renderFile(options, summary))
            state.SkipWithError(failure->message.c_str());
    }
    state.counters["realtime_x"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kSeconds, benchmark::Counter::kIsRate);
    state.SetLabel(kTypes[state.range(0)]);
}
} // namespace

// Wall time: the tool reads and writes on threads of its own, so CPU time would not show its speed.
BENCHMARK(processorAlone)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(wholeTool)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
