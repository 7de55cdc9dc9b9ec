// What the processor and kestrune-render cost beyond the engine, for "Large Room" and the fastest mode,
// "Narcissus", at 48 kHz stereo in 512-sample blocks. The engine alone and the processor (processBlock
// in place under the callback lock, as a host calls it) alternate in chunks on this thread; then the
// render tool's core renders a long 24-bit noise file into a temporary file, timed whole, each render
// after the engine alone over as much audio. An overhead is the extra time per second of audio against
// the engine's.
//
//   taskset -c 7 render_bench [--rounds N] [--seconds S] [--tool-runs N] [--minutes M]
//
// On one core the tool's reading and writing threads take turns with its processing thread, so its
// wall time is all the work it does for a render; its CPU time (every thread) is shown beside it.

#include "Alternation.h"
#include "Render.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

using namespace kestrune;
using namespace kestrune::bench;

namespace
{

double processSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// A 24-bit stereo noise file of `seconds`, written once.
void writeNoiseFile(const juce::File& file, int seconds)
{
    juce::WavAudioFormat wav;
    auto stream = std::make_unique<juce::FileOutputStream>(file);
    std::unique_ptr<juce::AudioFormatWriter> writer(
        wav.createWriterFor(stream.release(), kRate, 2, 24, {}, 0));
    juce::AudioBuffer<float> part(2, kRate);
    juce::Random random(1);
    for (int s = 0; s < seconds; ++s)
    {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < part.getNumSamples(); ++i)
                part.setSample(c, i, 0.1f * (random.nextFloat() - 0.5f));
        writer->writeFromAudioSampleBuffer(part, 0, part.getNumSamples());
    }
}

double percent(double ratio)
{
    return 100.0 * (ratio - 1.0);
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = static_cast<int>(option(argc, argv, "--rounds", 5, 1, 1000));
    const double chunkSeconds = option(argc, argv, "--seconds", 2.0, 0.05, 600.0);
    const int toolRuns = static_cast<int>(option(argc, argv, "--tool-runs", 3, 0, 100));
    const int minutes = static_cast<int>(option(argc, argv, "--minutes", 10, 1, 120));

#if defined(__x86_64__) || defined(__i386__)
    // The processor flushes denormals to zero around every block; the engine alone runs so throughout.
    _mm_setcsr(_mm_getcsr() | 0x8040);
#endif
    const juce::ScopedJuceInitialiser_GUI juce;
    const juce::TemporaryFile input{".wav"}, output{".wav"}, preferences;
    if (toolRuns > 0)
        writeNoiseFile(input.getFile(), 60 * minutes);

    const NoiseChunk noise(chunkSeconds);
    const double toolAudio = 60.0 * minutes;
    const int chunksPerRender = static_cast<int>(toolAudio / noise.seconds() + 0.5);
    std::vector<std::string> processorRows, toolRows;
    char row[200];

    for (const char* type : {"Large Room", "Narcissus"})
    {
        int mode = 0;
        while (std::string(kModeNames[size_t(mode)]) != type)
            ++mode;

        render::Options options;
        options.input = input.getFile();
        options.output = output.getFile();
        options.tail = 0.0;
        render::Setting setting{};
        render::parseSetting(std::string("type=") + type, setting);
        options.settings.push_back(setting);

        auto engine = makeEngine(mode);
        std::unique_ptr<KestruneRoom> processor;
        if (auto failure = render::makeProcessor(options, 2, kRate, preferences.getFile(), processor))
        {
            std::fprintf(stderr, "render_bench: %s\n", failure->message.c_str());
            return 1;
        }

        // Both process a fresh copy of the same noise in place, so that they touch the same memory.
        const int samples = noise.blocks * kBlock;
        juce::AudioBuffer<float> work(2, samples), block;
        juce::MidiBuffer midi;
        auto refill = [&]
        {
            work.copyFrom(0, 0, noise.left.data(), samples);
            work.copyFrom(1, 0, noise.right.data(), samples);
        };
        auto engineChunk = [&]
        {
            for (int start = 0; start < samples; start += kBlock)
            {
                float* out[2] = {work.getWritePointer(0, start), work.getWritePointer(1, start)};
                const float* in[2] = {out[0], out[1]};
                engine->process(in, out, kBlock, 2);
            }
        };
        auto processorChunk = [&]
        {
            for (int start = 0; start < samples; start += kBlock)
            {
                block.setDataToReferTo(work.getArrayOfWritePointers(), 2, start, kBlock);
                const juce::ScopedLock lock(processor->getCallbackLock());
                processor->processBlock(block, midi);
            }
        };
        const auto seconds = alternate(rounds, {{engineChunk, refill}, {processorChunk, refill}});
        std::snprintf(row, sizeof row, "%-11s %9.0f %11.0f %+9.1f%%", type,
                      noise.seconds() / median(seconds[0]), noise.seconds() / median(seconds[1]),
                      percent(median(ratios(seconds[1], seconds[0]))));
        processorRows.push_back(row);

        // Each render alternates with the engine alone over as much audio, so that drift cancels here too.
        std::vector<double> engineTimes, wall, cpu;
        for (int run = 0; run < toolRuns; ++run)
        {
            const auto chunks = alternate(chunksPerRender, {{engineChunk, refill}})[0];
            engineTimes.push_back(std::accumulate(chunks.begin(), chunks.end(), 0.0));

            // Replacing an old output would add the cost of deleting it.
            output.getFile().deleteFile();
            render::Summary summary;
            const auto w0 = std::chrono::steady_clock::now();
            const double c0 = processSeconds();
            if (auto failure = render::renderFile(options, summary))
            {
                std::fprintf(stderr, "render_bench: %s\n", failure->message.c_str());
                return 1;
            }
            cpu.push_back(processSeconds() - c0);
            wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count());
        }
        output.getFile().deleteFile();
        if (toolRuns > 0)
        {
            const double audio = chunksPerRender * noise.seconds();
            std::snprintf(row, sizeof row, "%-11s %9.0f %9.0f %+9.1f%% %9.0f %+9.1f%%", type,
                          audio / median(engineTimes), toolAudio / median(wall),
                          percent(median(ratios(wall, engineTimes)) * audio / toolAudio),
                          toolAudio / median(cpu),
                          percent(median(ratios(cpu, engineTimes)) * audio / toolAudio));
            toolRows.push_back(row);
        }
    }

    std::printf("x realtime; + is the extra time per second of audio against the engine's\n\n");
    std::printf("engine and processor: %d rounds of %.2f s chunks, alternating, thread CPU time\n", rounds,
                noise.seconds());
    std::printf("%-11s %9s %11s %10s\n", "mode", "engine", "processor", "");
    for (const auto& r : processorRows)
        std::printf("%s\n", r.c_str());
    if (toolRuns > 0)
    {
        std::printf("\ntool: %d renders of a %d-minute 24-bit stereo file into a temporary 32-bit file, each "
                    "after the engine alone over as much audio; wall time, and CPU time of every thread\n",
                    toolRuns, minutes);
        std::printf("%-11s %9s %9s %10s %9s %10s\n", "mode", "engine", "tool", "", "tool CPU", "");
        for (const auto& r : toolRows)
            std::printf("%s\n", r.c_str());
    }
    return 0;
}
