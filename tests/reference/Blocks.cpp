#include "Blocks.h"

#include "Bounds.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace kestrune::reference
{

float coefficientFromFrequency(float frequencyHz, float sampleRate)
{
    const float argument = (-6.2831855f * frequencyHz) / sampleRate;
    return static_cast<float>(1.0 - std::exp(static_cast<double>(argument)));
}

float coefficientFromTime(float timeMs, float sampleRate)
{
    const float argument = -1000.0f / (timeMs * sampleRate);
    return static_cast<float>(1.0 - std::exp(static_cast<double>(argument)));
}

void CrossoverLowpass::run(const float* x, float* lp, int n, float c)
{
    float work[128];
    for (int j = 0; j < n; ++j)
        work[j] = c * x[j];
    const float keep = 1.0f - c;
    for (int j = 0; j < n; ++j)
    {
        state = state * keep + work[j];
        lp[j] = state;
    }
}

void FirstOrderSection::run(float* x, int n)
{
    for (int j = 0; j < n; ++j)
    {
        const float in = x[j];
        const float y = c1 * in + state;
        state = c2 * in - c0 * y;
        x[j] = y;
    }
}

// 6.28318 is a double here, not 2 pi.
float bilinearK(float frequencyHz, float sampleRate)
{
    const float w = static_cast<float>(1.0 / (static_cast<double>(frequencyHz) * 6.28318));
    return (sampleRate + sampleRate) * w;
}

void designFirstOrderShelf(float out[3], float frequencyHz, float gainDC, float gainHF, float sampleRate)
{
    const float k = bilinearK(frequencyHz, sampleRate);
    out[0] = (gainDC + gainHF * k) / (1.0f + k);
    out[1] = (gainDC - gainHF * k) / (1.0f + k);
    out[2] = (1.0f - k) / (1.0f + k);
}

void designFirstOrderTone(float out[3], float frequencyHz, float sampleRate)
{
    const float k = bilinearK(frequencyHz, sampleRate);
    const float a = (1.0f - k) / (k + 1.0f);
    out[0] = a;
    out[1] = 1.0f;
    out[2] = a;
}

void designBiquadLowpass(float out[5], float frequencyHz, float q, float sampleRate)
{
    const float omega = frequencyHz * 6.28318f / sampleRate;
    const double sn = std::sin(static_cast<double>(omega));
    const double cs = std::cos(static_cast<double>(omega));
    const float alpha = static_cast<float>(sn / (2.0 * static_cast<double>(q)));
    const float a0 = 1.0f + alpha;
    out[0] = static_cast<float>(-2.0 * cs) / a0;
    out[1] = static_cast<float>(1.0 - static_cast<double>(alpha)) / a0;
    out[2] = static_cast<float>((1.0 - cs) / 2.0) / a0;
    out[3] = static_cast<float>(1.0 - cs) / a0;
    out[4] = static_cast<float>((1.0 - cs) / 2.0) / a0;
}

void HighCutFilter::design(float frequencyHz, float q, float sampleRate)
{
    const float omega = frequencyHz * 6.28318f / sampleRate;
    target = static_cast<float>(std::tan(0.5 * static_cast<double>(omega)));
    k = 1.0f / q;
}

void HighCutFilter::setSmoothing(int blockLength, float timeMs, float sampleRate)
{
    smoothing = coefficientFromTime(timeMs, sampleRate / static_cast<float>(blockLength));
}

HighCutFilter::Coefficients HighCutFilter::coefficients(float g) const
{
    const float a1 = 1.0f / (1.0f + g * (g + k));
    const float a2 = g * a1;
    const float a3 = g * a2;
    Coefficients c{};
    c.m11 = 2.0f * a1 - 1.0f;
    c.m12 = -2.0f * a2;
    c.n1 = 2.0f * a2;
    c.m21 = 2.0f * a2;
    c.m22 = 1.0f - 2.0f * a3;
    c.n2 = 2.0f * a3;
    c.c1 = a2;
    c.c2 = 1.0f - a3;
    c.d = a3;
    return c;
}

void HighCutFilter::run(float* x, int n, const Coefficients& c)
{
    for (int j = 0; j < n; ++j)
    {
        const float in = x[j];
        const float y = (c.c1 * s1 + c.c2 * s2) + c.d * in;
        const float t1 = (c.m11 * s1 + c.m12 * s2) + c.n1 * in;
        s2 = (c.m21 * s1 + c.m22 * s2) + c.n2 * in;
        s1 = t1;
        x[j] = y;
    }
}

void HighCutFilter::runDirect(float* x, int n)
{
    run(x, n, coefficients(target));
}

void HighCutFilter::runSmoothed(float* x, int n)
{
    run(x, n, coefficients(smoothed.step(target, smoothing)));
}

void HighCutShelf::design(float frequencyHz, float sampleRate)
{
    G = 1.0f / (1.0f + bilinearK(frequencyHz, sampleRate));
}

void HighCutShelf::run(float* x, int n)
{
    for (int j = 0; j < n; ++j)
    {
        const float in = x[j];
        const float v = (in - s) * G;
        const float lp = v + s;
        s = lp + v;
        x[j] = gainHF * in + (gainDC - gainHF) * lp;
    }
}

void Rotator::setAmount(float amount)
{
    const float theta = amount * 3.1415927f * 0.5f;
    sine = static_cast<float>(std::sin(static_cast<double>(theta)));
    cosine = static_cast<float>(std::cos(static_cast<double>(theta)));
    negatedSine = -sine;
}

void Rotator::rotate(float* a, float* b, int n) const
{
    for (int j = 0; j < n; ++j)
    {
        const float w1 = a[j] * cosine;
        const float w2 = b[j] * negatedSine + w1;
        const float w1b = a[j] * sine;
        b[j] = b[j] * cosine + w1b;
        a[j] = w2;
    }
}

Modulator::Modulator()
{
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    advanceGenerator();
}

void Modulator::setRate(float rate, float blockRate)
{
    stepSize = 2.0f * rate / blockRate;
    step = step >= 0.0f ? stepSize : -stepSize;
}

void Modulator::setRandomPeriod(float drawRate, float blockRate)
{
    const float blocks = std::floor(blockRate / drawRate);
    // A period outside the int range cannot come from a clamped parameter; keep the conversion defined.
    period = std::isfinite(blocks) && std::fabs(blocks) < 2.0e9f ? static_cast<std::int32_t>(blocks) : 0;
}

void Modulator::advance(Draw draw, Form form)
{
    if (countdown < 1)
    {
        float r;
        if (draw == Draw::Rand)
            r = static_cast<float>(std::rand());
        else
        {
            advanceGenerator();
            r = static_cast<float>(static_cast<std::int32_t>(generator));
        }
        if (r * 4.656613e-10f - 0.5f > 0.0f)
            step = -step;
        countdown = period;
    }
    phase = phase + step;
    if (form == Form::Bouncing)
    {
        if (phase >= 1.0f)
            step = -stepSize;
        if (phase <= -1.0f)
            step = stepSize;
    }
    else
    {
        if (phase >= 4.0f)
            phase = phase - 4.0f;
        if (phase <= 0.0f)
            phase = phase + 4.0f;
    }
    countdown = countdown - 1;
}

float Modulator::folded() const
{
    return std::fabs(phase - 2.0f) - 1.0f;
}

const std::array<float, 256>& allpassTable()
{
    static const std::array<float, 256> table = []
    {
        std::array<float, 256> t{};
        for (int i = 0; i < 256; ++i)
        {
            const float x = static_cast<float>(i) * 0.00390625f;
            t[i] = (1.0f - x) / (1.0f + x);
            if (t[i] >= 0.99f)
                t[i] = 0.99f;
        }
        return t;
    }();
    return table;
}

DelayLine::DelayLine()
{
    size = 32768;
    mask = size - 1;
    ring.assign(static_cast<std::size_t>(size), 0.0f);
    previousDelay.fill(100.0f);
    clearSlots();
}

void DelayLine::setMaxDelay(std::int64_t request)
{
    const auto newSize = static_cast<std::int64_t>(
        std::exp2(std::ceil(std::log(static_cast<float>(request)) / std::log(2.0f))));
    if (newSize == size)
        return;
    size = newSize;
    mask = size - 1;
    ring.assign(static_cast<std::size_t>(size), 0.0f);
    writeIndex = 0;
    clearSlots();
}

void DelayLine::clear()
{
    std::fill(ring.begin(), ring.end(), 0.0f);
    clearSlots();
}

void DelayLine::clearSlots()
{
    interpolationState.fill(0.0f);
    lastCoefficient.fill(0.0f);
    lastInteger.fill(-1);
}

void DelayLine::writeBlock(const float* x, int n)
{
    for (int j = 0; j < n; ++j)
        ring[static_cast<std::size_t>((writeIndex - j) & mask)] = x[j];
}

void DelayLine::readInteger(float* y, int n, std::int64_t delay) const
{
    for (int j = 0; j < n; ++j)
        y[j] = at(delay, j);
}

void DelayLine::readRamped(float* y, int n, float target, int slot, float rampFactor, Interpolation kind)
{
    const float inc = (target - previousDelay[slot]) * rampFactor;
    float d = previousDelay[slot];
    float s = interpolationState[slot];
    float cp = lastCoefficient[slot];
    std::int32_t ip = lastInteger[slot];
    const auto& table = allpassTable();
    for (int j = 0; j < n; ++j)
    {
        d = d + inc; // accumulated: the last sample lands on the target up to rounding
        const float delay = boundedReadDelay(d);
        const float whole = std::trunc(delay);
        float f = delay - whole;
        const auto i = static_cast<std::int32_t>(delay);
        const std::int32_t sum = static_cast<std::int32_t>(writeIndex) - j + i;
        const std::int64_t p = static_cast<std::int64_t>(sum) & mask;
        const float a = ring[static_cast<std::size_t>(p)];
        const float b = ring[static_cast<std::size_t>((p + 1) & mask)];
        switch (kind)
        {
        case Interpolation::Quantised:
            f = static_cast<float>(static_cast<std::int32_t>(f * 32.0f)) * 0.03125f;
            [[fallthrough]];
        case Interpolation::Linear:
        {
            const float difference = b - a;
            y[j] = difference * f + a;
            break;
        }
        case Interpolation::FirstOrderAllpass:
        {
            // f just below 1 can round to 256 when scaled; the table has 256 entries.
            const auto index = std::min(static_cast<std::int32_t>(f * 256.0f), 255);
            const float c = table[static_cast<std::size_t>(index)];
            const float k = std::sqrt(1.0f - c * c);
            const float kp = std::sqrt(1.0f - cp * cp);
            bool consume = true;
            if (i > ip)
            {
                // the delay stepped past a sample: the state keeps the share of energy the new c gives it
                const float r = std::fmin(1.0f, ((1.0f - c) / k) / ((1.0f - cp) / kp));
                s = 0.0f + r * s;
                consume = false;
            }
            else if (i < ip)
            {
                // the delay stepped back: take in the sample that would be skipped
                s = k * b + (-c) * s;
            }
            y[j] = c * a + k * s;
            if (consume)
                s = k * a - c * s;
            cp = c;
            ip = i;
            break;
        }
        }
    }
    interpolationState[slot] = s;
    lastCoefficient[slot] = cp;
    lastInteger[slot] = ip;
    previousDelay[slot] = target;
}

void allpassSection(DelayLine& line, float* x, int n, float newDelay, float g, float loopGain,
                    float rampFactor, Interpolation kind)
{
    float d[128];
    float y[128];
    float v[128];
    line.readRamped(d, n, newDelay, 0, rampFactor, kind);
    for (int j = 0; j < n; ++j)
    {
        const float scaled = d[j] * loopGain;
        y[j] = x[j] * -g + scaled;
    }
    for (int j = 0; j < n; ++j)
        v[j] = y[j] * g + x[j];
    line.writeBlock(v, n);
    for (int j = 0; j < n; ++j)
        x[j] = y[j];
}

HalfbandFilter::HalfbandFilter()
{
    const float a[4] = {0.0358327888f, 0.272040129f, 0.572057188f, 0.827124774f};
    const float b[4] = {0.13409014f, 0.42432487f, 0.706292152f, 0.941503108f};
    for (int i = 0; i < 4; ++i)
    {
        branchA[i].a = a[i];
        branchB[i].a = b[i];
    }
}

void HalfbandFilter::reset()
{
    for (auto& s : branchA)
        s.s = 0.0f;
    for (auto& s : branchB)
        s.s = 0.0f;
    delayState = 0.0f;
}

void HalfbandFilter::runBranch(std::array<Section, 4>& branch, float* x, int n)
{
    for (auto& section : branch)
    {
        for (int j = 0; j < n; ++j)
        {
            const float u = x[j] + section.delta - section.a * section.s;
            x[j] = section.a * u + section.s;
            section.s = u;
        }
        section.delta = -section.delta;
    }
}

void HalfbandFilter::decimate(const float* x64, float* y32)
{
    float xa[32];
    float xb[32];
    for (int k = 0; k < 32; ++k)
    {
        xa[k] = x64[2 * k];
        xb[k] = k == 0 ? delayState : x64[2 * k - 1];
    }
    delayState = x64[63];
    runBranch(branchA, xa, 32);
    runBranch(branchB, xb, 32);
    for (int k = 0; k < 32; ++k)
        y32[k] = (xa[k] + xb[k]) * 0.5f;
}

void HalfbandFilter::upsample(const float* in32, float* out64)
{
    float a[32];
    float b[32];
    for (int k = 0; k < 32; ++k)
    {
        a[k] = in32[k];
        b[k] = in32[k];
    }
    runBranch(branchA, a, 32);
    runBranch(branchB, b, 32);
    float pa[64];
    float pb[64];
    for (int k = 0; k < 32; ++k)
    {
        pa[2 * k] = a[k];
        pa[2 * k + 1] = 0.0f;
        pb[2 * k] = b[k];
        pb[2 * k + 1] = 0.0f;
    }
    for (int j = 0; j < 64; ++j)
    {
        const float delayed = j == 0 ? delayState : pb[j - 1];
        out64[j] = pa[j] + delayed;
    }
    delayState = pb[63];
}

} // namespace kestrune::reference
