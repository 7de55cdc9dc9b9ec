#pragma once

// Timing workloads in alternating chunks on one thread, for the plain benchmark programs that compare
// the engine with something else: on a shared machine load drifts over seconds, and alternating chunk
// by chunk makes the drift fall on every side alike.

#include "ReverbEngine.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestrune::bench
{

inline constexpr int kRate = 48000;
inline constexpr int kBlock = 512;

inline double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const size_t h = v.size() / 2;
    return v.size() % 2 ? v[h] : 0.5 * (v[h - 1] + v[h]);
}

// Every benchmark's noise, so that figures compare across the programs.
inline void fillNoise(float* left, float* right, int n, uint32_t& seed)
{
    for (int i = 0; i < n; ++i)
    {
        seed = seed * 1664525u + 1013904223u;
        left[i] = static_cast<float>(static_cast<int32_t>(seed)) * 2.3e-10f;
        seed = seed * 1664525u + 1013904223u;
        right[i] = static_cast<float>(static_cast<int32_t>(seed)) * 2.3e-10f;
    }
}

// An engine at 48 kHz with every default, in mode `mode` (0 to 11).
inline std::unique_ptr<ReverbEngine> makeEngine(int mode)
{
    auto engine = std::make_unique<ReverbEngine>();
    engine->setSampleRate(kRate);
    for (int k = 0; k < kNumParameters; ++k)
        engine->setParameterNormalised(k, engine->getDefaultNormalised(k));
    engine->setParameterNormalised(kType, static_cast<float>(mode + 1) / 12.0f);
    return engine;
}

// Stereo noise of whole host blocks, walked through block by block.
struct NoiseChunk
{
    int blocks;
    std::vector<float> left, right;

    explicit NoiseChunk(double seconds, uint32_t seed = 1u)
        : blocks(std::max(1, static_cast<int>(seconds * kRate / kBlock + 0.5))),
          left(static_cast<size_t>(blocks * kBlock)), right(left.size())
    {
        fillNoise(left.data(), right.data(), blocks * kBlock, seed);
    }
    double seconds() const { return static_cast<double>(blocks) * kBlock / kRate; }
};

// One side of an alternation: `prepare` runs untimed before every timed `run`.
struct Workload
{
    std::function<void()> run;
    std::function<void()> prepare = {};
};

// Thread CPU seconds of every workload in every round: result[workload][round]. Each round runs the
// workloads once in order; one untimed round before them fills the caches and the reverbs' tails.
inline std::vector<std::vector<double>> alternate(int rounds, const std::vector<Workload>& workloads)
{
    std::vector<std::vector<double>> seconds(workloads.size());
    for (int r = -1; r < rounds; ++r)
        for (size_t w = 0; w < workloads.size(); ++w)
        {
            if (workloads[w].prepare)
                workloads[w].prepare();
            const double start = threadSeconds();
            workloads[w].run();
            const double elapsed = threadSeconds() - start;
            if (r >= 0)
                seconds[w].push_back(elapsed);
        }
    return seconds;
}

// Per-round ratios a[r] / b[r], so that each compares chunks run side by side.
inline std::vector<double> ratios(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> result;
    for (size_t r = 0; r < std::min(a.size(), b.size()); ++r)
        result.push_back(a[r] / b[r]);
    return result;
}

// "--name VALUE" or "--name=VALUE" from the command line, else `fallback`; exits on a bad value.
inline double option(int argc, char** argv, const char* name, double fallback, double lowest, double highest)
{
    const size_t length = std::strlen(name);
    for (int i = 1; i < argc; ++i)
    {
        const char* value = nullptr;
        if (std::strcmp(argv[i], name) == 0 && i + 1 < argc)
            value = argv[i + 1];
        else if (std::strncmp(argv[i], name, length) == 0 && argv[i][length] == '=')
            value = argv[i] + length + 1;
        if (value == nullptr)
            continue;
        char* end = nullptr;
        const double v = std::strtod(value, &end);
        if (end == value || *end != '\0' || !(v >= lowest && v <= highest))
        {
            std::fprintf(stderr, "%s %s: give a number from %g to %g\n", name, value, lowest, highest);
            std::exit(2);
        }
        return v;
    }
    return fallback;
}

} // namespace kestrune::bench
