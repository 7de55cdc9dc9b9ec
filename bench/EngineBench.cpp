// Cost of every mode at 48 kHz stereo in 512-sample host blocks, on noise and on a silent tail,
// reported as a realtime multiple (seconds of audio per second of CPU).

#include "Alternation.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

using namespace kestrune;
using bench::kBlock;
using bench::kRate;

namespace
{
void run(benchmark::State& state, bool silentTail)
{
    const int mode = static_cast<int>(state.range(0));
    auto engine = bench::makeEngine(mode);
    std::vector<float> left(kBlock), right(kBlock), outL(kBlock), outR(kBlock);
    uint32_t seed = 1u;
    bench::fillNoise(left.data(), right.data(), kBlock, seed);
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
