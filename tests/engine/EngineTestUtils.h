#pragma once

// Helpers shared by the engine tests: an engine set up as the processor sets it up, parameter and
// mode selection in real units, block-wise rendering, decay measurement, and the checks every mode's
// tests run (wet lag, block-size independence, silence, parameter corners, mode switches).

#include "ReverbEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
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

inline std::unique_ptr<ReverbEngine> makeMode(int modeIndex, int hostRate = 48000)
{
    auto engine = makeEngine(hostRate);
    selectMode(*engine, modeIndex);
    return engine;
}

// The mode's name with letters and digits only, for test names and traces ("LV-426" gives "LV426").
inline std::string modeName(int modeIndex)
{
    std::string name = kModeNames[static_cast<size_t>(modeIndex)];
    name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }), name.end());
    return name;
}

// The deepest early and late modulation.
inline void deepModulation(ReverbEngine& engine)
{
    setValue(engine, kLateModDepth, 1.0f);
    setValue(engine, kEarlyModDepth, 1.0f);
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

// Host samples from the input to the earliest possible wet output: the 64-sample frame plus the
// predelay's whole internal samples, each hostRate / internalRate host samples long.
inline size_t wetLag(const ReverbEngine& engine)
{
    return 64 + static_cast<size_t>(engine.predelayLength) *
                    static_cast<size_t>(engine.getHostRate() / engine.getInternalRate());
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

// --- properties every mode must keep ------------------------------------------------------------
// Each check builds its own engines: modeIndex at hostRate, then configure (if given) on top.

using Configure = std::function<void(ReverbEngine&)>;

inline std::unique_ptr<ReverbEngine> makeMode(int modeIndex, int hostRate, const Configure& configure)
{
    auto engine = makeMode(modeIndex, hostRate);
    if (configure)
        configure(*engine);
    return engine;
}

// For each predelay: preRollFrames whole frames of silence (the frame position stays where it was), then
// an impulse whose wet response first shows (above the dry leak at mix 100, about 4e-8) no earlier
// than wetLag and less than `slack` samples after it.
inline void expectWetArrivalAtEachPredelay(int modeIndex, int hostRate, std::initializer_list<float> predelaysMs,
                                           size_t slack, size_t preRollFrames = 0)
{
    for (float predelayMs : predelaysMs)
    {
        SCOPED_TRACE(testing::Message() << modeName(modeIndex) << " " << hostRate << " Hz, predelay "
                                        << predelayMs << " ms");
        auto engine = makeMode(modeIndex, hostRate);
        setValue(*engine, kPredelay, predelayMs);
        render(*engine, silence(preRollFrames * static_cast<size_t>(ReverbEngine::kFrame)), ReverbEngine::kFrame);
        const size_t lag = wetLag(*engine);
        const size_t first = firstAbove(renderImpulse(*engine, lag + std::max<size_t>(slack, 1024)), 1e-6f);
        EXPECT_GE(first, lag);
        EXPECT_LT(first, lag + slack);
    }
}

// The same output, bit for bit, in one block and in host blocks of one sample, around the 64-sample
// frame and larger than it.
inline void expectOutputIndependentOfBlockSize(int modeIndex, int hostRate, const Stereo& input,
                                               const Configure& configure = {})
{
    SCOPED_TRACE(testing::Message() << modeName(modeIndex) << " " << hostRate << " Hz");
    const Stereo expected = render(*makeMode(modeIndex, hostRate, configure), input, static_cast<int>(input.size()));
    for (int block : {1, 63, 64, 65, 100, 512})
    {
        SCOPED_TRACE(testing::Message() << "block " << block);
        const Stereo out = render(*makeMode(modeIndex, hostRate, configure), input, block);
        EXPECT_EQ(out.left, expected.left);
        EXPECT_EQ(out.right, expected.right);
    }
}

inline void expectSilenceStaysTinyAndFinite(int modeIndex, int hostRate, size_t samples, const Configure& configure = {})
{
    SCOPED_TRACE(testing::Message() << modeName(modeIndex) << " " << hostRate << " Hz");
    const Stereo out = render(*makeMode(modeIndex, hostRate, configure), silence(samples));
    EXPECT_TRUE(allFinite(out));
    EXPECT_LT(maxAbs(out), 1e-9f);
}

// Finite and below 100 (40 dB over full scale) on the given input.
inline void expectBoundedOutput(ReverbEngine& engine, const Stereo& input, const std::string& what)
{
    const Stereo out = render(engine, input);
    ASSERT_TRUE(allFinite(out)) << what;
    EXPECT_LT(maxAbs(out), 100.0f) << what;
}

// Each parameter but the mode at each end of its range with the others at their defaults, then all of
// them at once at either end.
inline void expectBoundedAtEveryParameterCorner(int modeIndex, int hostRate, const Stereo& input)
{
    auto engine = makeMode(modeIndex, hostRate);
    auto check = [&](const std::string& what)
    {
        // Re-selecting the mode clears the signal state, so each corner is judged on its own and not
        // on the jump of the high-cut biquad's state from the previous corner.
        engine->applyParameter(kType);
        expectBoundedOutput(*engine, input, modeName(modeIndex) + " " + what);
    };
    for (int k = 0; k < kType; ++k)
        for (bool high : {false, true})
        {
            engine->setParameterNormalised(k, high ? 1.0f : 0.0f);
            check(kParameterTable[static_cast<size_t>(k)].name + std::string(high ? " max" : " min"));
            engine->setParameterNormalised(k, engine->getDefaultNormalised(k));
        }
    for (float x : {0.0f, 1.0f})
    {
        for (int k = 0; k < kType; ++k)
            engine->setParameterNormalised(k, x);
        check(x > 0.0f ? "all max" : "all min");
    }
}

// What a mode switch must leave alone: the parameters and the values derived from them, of the first
// lateLines late lines (a mode's unused lines keep whatever the mode before wrote).
struct DerivedState
{
    std::vector<float> parameters, lateLengths, tapGains;
    float midNormalisation;

    DerivedState(const ReverbEngine& engine, int lateLines)
        : lateLengths(engine.lateLengths, engine.lateLengths + lateLines),
          tapGains(engine.tapGains, engine.tapGains + 30), midNormalisation(engine.midNormalisation)
    {
        for (int k = 0; k < kNumParameters; ++k)
            parameters.push_back(engine.getParameterValue(k));
    }
};

// At 48 kHz, "lateSize" 0.8 and the given decay: plays noise, switches to "Large Room" and back, playing
// noise again in between. The tail is gone right after each switch (one frame may still carry input
// from before it; the input is silent then) and the settings come back unchanged.
inline void expectSwitchClearsTheTailAndKeepsSettings(int modeIndex, float decay, size_t noiseSamples,
                                                      int lateLines = 32)
{
    SCOPED_TRACE(modeName(modeIndex));
    auto engine = makeMode(modeIndex, 48000);
    setValue(*engine, kDecay, decay);
    setValue(*engine, kLateSize, 0.8f);
    const DerivedState before(*engine, lateLines);
    render(*engine, noise(noiseSamples));
    selectMode(*engine, 0);
    EXPECT_LT(maxAbs(render(*engine, silence(4096))), 1e-6f);
    render(*engine, noise(noiseSamples));
    selectMode(*engine, modeIndex);
    EXPECT_LT(maxAbs(render(*engine, silence(4096))), 1e-6f);
    const DerivedState after(*engine, lateLines);
    EXPECT_FLOAT_EQ(engine->getParameterValue(kDecay), decay);
    EXPECT_EQ(after.parameters, before.parameters);
    EXPECT_EQ(after.lateLengths, before.lateLengths);
    EXPECT_EQ(after.tapGains, before.tapGains);
    EXPECT_EQ(after.midNormalisation, before.midNormalisation);
}

} // namespace kestrune::test
