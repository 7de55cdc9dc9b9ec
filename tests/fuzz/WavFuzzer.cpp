// Fuzzes kestrune-render's WAV input: the chunk walk and, behind it, JUCE's WAV reader. Whatever is
// accepted must claim no more frames than its bytes hold and must read whole. Run:
//     wav_fuzzer -max_total_time=60 NEW_CORPUS tests/fuzz/corpus/wav
// (new inputs go into the first folder; keep it out of the source tree).
#include "WavInput.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace
{
void check(bool condition, const char* what)
{
    if (!condition)
    {
        std::fprintf(stderr, "wav_fuzzer: %s\n", what);
        std::abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::unique_ptr<juce::AudioFormatReader> reader;
    int warnings = 0;
    const auto error = kestrune::render::openWav(
        std::make_unique<juce::MemoryInputStream>(data, size, false),
        [&](const std::string& warning)
        {
            check(!warning.empty(), "an empty warning");
            ++warnings;
        },
        reader);
    check(warnings <= 1, "more than one warning");
    if (error)
    {
        check(!error->empty() && reader == nullptr, "a refusal without a reason, or with a reader");
        return 0;
    }
    check(reader != nullptr, "no reader and no reason");
    check(reader->numChannels >= 1 && reader->numChannels <= 2, "channels out of range");
    check(reader->sampleRate >= 8000 && reader->sampleRate <= 192000, "sample rate out of range");
    const auto frameBytes = static_cast<juce::int64>(reader->numChannels * reader->bitsPerSample / 8);
    check(reader->lengthInSamples >= 0 &&
              reader->lengthInSamples * frameBytes <= static_cast<juce::int64>(size),
          "more frames than the input holds");

    // Every frame, in the renderer's chunks, and a little past the end (read as silence).
    constexpr int kFrames = 4096;
    juce::AudioBuffer<float> buffer(static_cast<int>(reader->numChannels), kFrames);
    for (juce::int64 start = 0; start < reader->lengthInSamples + 7; start += kFrames)
        check(reader->read(buffer.getArrayOfWritePointers(), buffer.getNumChannels(), start, kFrames),
              "a read failed");
    return 0;
}
