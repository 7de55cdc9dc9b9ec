// What a mode switch costs the thread that applies it, at the host rates where the rings differ in
// size, as a share of a 64-sample block's budget (64 / rate seconds): 1 would use up a whole block.
// Each switch comes after a few blocks of noise, with the engine ringing as in use, and every other
// one re-selects the mode it is in (which clears the tail all the same).
//
// afterSwitch: the first 0.5 s of blocks after a switch against the same blocks without one, so that
// a cost the switch defers (the lazy clear of the rings) shows too.

#include "ReverbEngine.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <vector>

using namespace kestrune;

namespace
{
constexpr int kBlock = 64;

// The type values the switches cycle through: every mode, each once more at another value of its own.
std::vector<float> typeValues()
{
    std::vector<float> values;
    for (int m = 0; m < kNumModes; ++m)
    {
        values.push_back(static_cast<float>(m + 1) / 12.0f);
        values.push_back((static_cast<float>(m) + 1.5f) / 12.0f);
    }
    return values;
}

struct Bench
{
    std::unique_ptr<ReverbEngine> engine = std::make_unique<ReverbEngine>();
    std::array<float, kBlock> left{}, right{};
    uint32_t seed = 1u;

    explicit Bench(int rate)
    {
        engine->setSampleRate(rate);
        for (int k = 0; k < kNumParameters; ++k)
            engine->setParameterNormalised(k, engine->getDefaultNormalised(k));
        // A long tail, so that every line holds signal when a switch clears it.
        engine->setParameterNormalised(kDecay, 0.2f);
        for (int b = 0; b < rate / kBlock; ++b)
            block();
    }

    void block()
    {
        for (int i = 0; i < kBlock; ++i)
        {
            seed = seed * 1664525u + 1013904223u;
            left[static_cast<size_t>(i)] = static_cast<float>(static_cast<int32_t>(seed)) * 2.3e-10f;
            right[static_cast<size_t>(i)] = -left[static_cast<size_t>(i)];
        }
        const float* in[2] = {left.data(), right.data()};
        float* out[2] = {left.data(), right.data()};
        engine->process(in, out, kBlock, 2);
    }
};

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Writes a buffer larger than the caches, as the rest of a host's work between two blocks would.
void evictCaches()
{
    static std::vector<char> buffer(64 << 20);
    static char round = 0;
    ++round;
    for (size_t i = 0; i < buffer.size(); i += 64)
        buffer[i] = round;
    benchmark::ClobberMemory();
}

double median(std::vector<double> v)
{
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// range(1): 1 when the caches are evicted before each switch, as the host's own work between two
// blocks would. "switch_64": the switch alone (median); "with_first_block_64": the switch and the
// first block after it, less a block without a switch (medians), which is what the switch costs the
// block it comes in.
void switchCost(benchmark::State& state)
{
    const int rate = static_cast<int>(state.range(0));
    const bool cold = state.range(1) != 0;
    Bench bench(rate);
    const auto values = typeValues();
    size_t next = 0;
    std::vector<double> plain, switches, withFirst;
    auto timed = [](auto&& f)
    {
        const auto start = Clock::now();
        f();
        return seconds(Clock::now() - start);
    };
    for (auto _ : state)
    {
        for (int b = 0; b < 4; ++b)
            bench.block();
        if (cold)
            evictCaches();
        plain.push_back(timed([&] { bench.block(); }));
        for (int b = 0; b < 4; ++b)
            bench.block();
        if (cold)
            evictCaches();
        const double change = timed([&] { bench.engine->setParameterNormalised(kType, values[next]); });
        const double first = timed([&] { bench.block(); });
        state.SetIterationTime(change);
        switches.push_back(change);
        withFirst.push_back(change + first);
        next = (next + 1) % values.size();
    }
    const double budget = static_cast<double>(kBlock) / rate;
    state.counters["switch_64"] = median(switches) / budget;
    state.counters["with_first_block_64"] = (median(withFirst) - median(plain)) / budget;
}

// The blocks of the half second after a switch, against the same half second with no switch: the
// ratio is what the switch adds to those blocks.
void afterSwitch(benchmark::State& state)
{
    const int rate = static_cast<int>(state.range(0));
    const int blocks = rate / 2 / kBlock;
    Bench bench(rate);
    const auto values = typeValues();
    size_t next = 0;
    double switched = 0.0, steady = 0.0;
    for (auto _ : state)
    {
        double run = 0.0;
        for (int pass = 0; pass < 2; ++pass)
        {
            if (pass == 0)
            {
                bench.engine->setParameterNormalised(kType, values[next]);
                next = (next + 1) % values.size();
            }
            for (int b = 0; b < blocks; ++b)
            {
                const auto start = Clock::now();
                bench.block();
                const double elapsed = seconds(Clock::now() - start);
                (pass == 0 ? switched : steady) += elapsed;
                run += elapsed;
            }
        }
        state.SetIterationTime(run);
    }
    state.counters["after_over_steady"] = switched / steady;
}
} // namespace

BENCHMARK(switchCost)
    ->ArgsProduct({{44100, 48000, 96000, 192000}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(afterSwitch)->Arg(48000)->Arg(192000)->UseManualTime()->Unit(benchmark::kMillisecond);
