#pragma once

// Helpers shared by the engine tests: an engine set up as the processor sets it up, parameter and
// mode selection in real units, block-wise rendering and decay measurement.

#include "ReverbEngine.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace kestrune::test
{

struct Stereo
{
    std::vector<float> left, right;
    size_t size() const { return left.size(); }
};

// The engine is too large for the stack. Defaults go through setParameterNormalised in index order,
// as the processor's constructor does: the constructor alone leaves every record "never set".
inline std::unique_ptr<ReverbEngine> makeEngine(int hostRate = 48000)
{
    auto engine = std::make_unique<ReverbEngine>();
    engine->setSampleRate(hostRate);
    for (int k = 0; k < kNumParameters; ++k)
        engine->setParameterNormalised(k, engine->getDefaultNormalised(k));
    return engine;
}

inline float normalisedFromValue(int k, float value)
{
    const ParameterInfo& p = kParameterTable[static_cast<size_t>(k)];
    if (p.curve == 3)
        return value / (p.maximum - p.minimum);
    return (value - p.minimum) / (p.maximum - p.minimum);
}

// Sets parameter k in real units (percent, ms, s, Hz, factor).
inline void setValue(ReverbEngine& engine, int k, float value)
{
    engine.setParameterNormalised(k, normalisedFromValue(k, value));
}

// Mode index 0..11 as the mode selector writes it: entry index + 1 out of 12.
inline void selectMode(ReverbEngine& engine, int modeIndex)
{
    engine.setParameterNormalised(kType, static_cast<float>(modeIndex + 1) / 12.0f);
}

// Runs a signal through engine.process in host blocks of blockSize samples (the last may be shorter).
inline Stereo render(ReverbEngine& engine, const Stereo& input, int blockSize = 512)
{
    Stereo out{std::vector<float>(input.size()), std::vector<float>(input.size())};
    const size_t n = input.size();
    for (size_t start = 0; start < n; start += static_cast<size_t>(blockSize))
    {
        const int count = static_cast<int>(std::min(static_cast<size_t>(blockSize), n - start));
        const float* in[2] = {input.left.data() + start, input.right.data() + start};
        float* o[2] = {out.left.data() + start, out.right.data() + start};
        engine.process(in, o, count, 2);
    }
    return out;
}

inline Stereo silence(size_t samples)
{
    return {std::vector<float>(samples), std::vector<float>(samples)};
}

// Unit impulse at sample 0 on the chosen channels.
inline Stereo impulse(size_t samples, bool left = true, bool right = true)
{
    Stereo s = silence(samples);
    if (samples > 0)
    {
        s.left[0] = left ? 1.0f : 0.0f;
        s.right[0] = right ? 1.0f : 0.0f;
    }
    return s;
}

// Deterministic white noise in [-amplitude, amplitude].
inline Stereo noise(size_t samples, float amplitude = 0.5f, uint32_t seed = 12345u)
{
    Stereo s = silence(samples);
    uint32_t x = seed;
    auto next = [&x, amplitude]
    {
        x = x * 1664525u + 1013904223u;
        return (static_cast<float>(x >> 8) / 8388608.0f - 1.0f) * amplitude;
    };
    for (size_t i = 0; i < samples; ++i)
    {
        s.left[i] = next();
        s.right[i] = next();
    }
    return s;
}

inline Stereo renderImpulse(ReverbEngine& engine, size_t samples, int blockSize = 512)
{
    return render(engine, impulse(samples), blockSize);
}

inline bool allFinite(const std::vector<float>& x)
{
    return std::all_of(x.begin(), x.end(), [](float v) { return std::isfinite(v); });
}
inline bool allFinite(const Stereo& s)
{
    return allFinite(s.left) && allFinite(s.right);
}

inline float maxAbs(const std::vector<float>& x, size_t from = 0, size_t to = SIZE_MAX)
{
    float m = 0.0f;
    to = std::min(to, x.size());
    for (size_t i = from; i < to; ++i)
        m = std::max(m, std::fabs(x[i]));
    return m;
}
inline float maxAbs(const Stereo& s, size_t from = 0, size_t to = SIZE_MAX)
{
    return std::max(maxAbs(s.left, from, to), maxAbs(s.right, from, to));
}

// First index whose magnitude exceeds threshold on either channel, or size() if none.
inline size_t firstAbove(const Stereo& s, float threshold)
{
    for (size_t i = 0; i < s.size(); ++i)
        if (std::fabs(s.left[i]) > threshold || std::fabs(s.right[i]) > threshold)
            return i;
    return s.size();
}

// RT60 in seconds by Schroeder backward integration of the summed channel energies: a straight-line
// fit of the energy decay curve between fromDb and toDb (e.g. -5 and -25 dB), extrapolated to 60 dB.
// Returns 0 when the curve never reaches toDb.
inline double rt60(const Stereo& s, double sampleRate, double fromDb = -5.0, double toDb = -25.0)
{
    const size_t n = s.size();
    std::vector<double> edc(n + 1, 0.0);
    for (size_t i = n; i-- > 0;)
        edc[i] = edc[i + 1] + static_cast<double>(s.left[i]) * s.left[i] +
                 static_cast<double>(s.right[i]) * s.right[i];
    if (edc[0] <= 0.0)
        return 0.0;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    size_t count = 0;
    bool reached = false;
    for (size_t i = 0; i < n; ++i)
    {
        const double db = 10.0 * std::log10(std::max(edc[i] / edc[0], 1e-300));
        if (db > fromDb)
            continue;
        if (db < toDb)
        {
            reached = true;
            break;
        }
        const double t = static_cast<double>(i) / sampleRate;
        sx += t;
        sy += db;
        sxx += t * t;
        sxy += t * db;
        ++count;
    }
    if (!reached || count < 2)
        return 0.0;
    const double slope = (count * sxy - sx * sy) / (count * sxx - sx * sx); // dB per second
    return slope < 0.0 ? -60.0 / slope : 0.0;
}

} // namespace kestrune::test
