// Cost of every mode at 48 kHz stereo in 512-sample host blocks, on noise and on a silent tail,
// reported as a realtime multiple (seconds of audio per second of CPU).

#include "ReverbEngine.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

using namespace kestrune;

namespace
{
constexpr int kRate = 48000;
constexpr int kBlock = 512;

std::unique_ptr<ReverbEngine> makeEngine(int mode)
{
    auto engine = std::make_unique<ReverbEngine>();
    engine->setSampleRate(kRate);
    for (int k = 0; k < kNumParameters; ++k)
        engine->setParameterNormalised(k, engine->getDefaultNormalised(k));
    engine->setParameterNormalised(kType, static_cast<float>(mode + 1) / 12.0f);
    return engine;
}

void run(benchmark::State& state, bool silentTail)
{
    const int mode = static_cast<int>(state.range(0));
    auto engine = makeEngine(mode);
    std::vector<float> left(kBlock), right(kBlock), outL(kBlock), outR(kBlock);
    uint32_t seed = 1u;
    auto fill = [&]
    {
        for (int i = 0; i < kBlock; ++i)
        {
            seed = seed * 1664525u + 1013904223u;
            left[static_cast<size_t>(i)] = static_cast<float>(static_cast<int32_t>(seed)) * 2.3e-10f;
            seed = seed * 1664525u + 1013904223u;
            right[static_cast<size_t>(i)] = static_cast<float>(static_cast<int32_t>(seed)) * 2.3e-10f;
        }
    };
    fill();
    const float* in[2] = {left.data(), right.data()};
    float* out[2] = {outL.data(), outR.data()};
    if (silentTail)
    {
        // A second of signal, then silence long enough for the tail to sink toward denormal levels.
        for (int b = 0; b < kRate / kBlock; ++b)
            engine->process(in, out, kBlock, 2);
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        for (int b = 0; b < 60 * kRate / kBlock; ++b)
            engine->process(in, out, kBlock, 2);
    }
    for (auto _ : state)
    {
        engine->process(in, out, kBlock, 2);
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
    }
    const double audioSeconds = static_cast<double>(state.iterations()) * kBlock / kRate;
    // Divided by the CPU time of the run, this rate is the realtime multiple.
    state.counters["realtime_x"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.SetLabel(kModeNames[static_cast<size_t>(mode)]);
}

void signal(benchmark::State& state)
{
    run(state, false);
}
void silentTail(benchmark::State& state)
{
    run(state, true);
}
} // namespace

BENCHMARK(signal)->DenseRange(0, kNumModes - 1);
BENCHMARK(silentTail)->DenseRange(0, kNumModes - 1);
