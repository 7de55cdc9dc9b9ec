#pragma once

#include <cmath>

namespace kestrune
{

// One-pole low-pass; also the parameter smoother. The owner keeps the coefficient.
struct OnePole
{
    float state = 0.0f;
    float work[128] = {};

    void reset() { state = 0.0f; }

    // 1 - exp(-2*pi*f/sr): product and quotient in single precision, the exponential in double.
    static float coefficientFromFrequency(float frequencyHz, float sampleRate)
    {
        return static_cast<float>(1.0 - std::exp(static_cast<double>(-6.2831855f * frequencyHz / sampleRate)));
    }

    // Time constant in milliseconds at the given update rate.
    static float coefficientFromTime(float timeMs, float sampleRate)
    {
        return static_cast<float>(1.0 - std::exp(static_cast<double>(-1000.0f / (timeMs * sampleRate))));
    }

    // Low-pass over a block (n <= 128); in and out may be different buffers, in is left unchanged.
    void process(const float* in, float* out, int n, float c)
    {
        for (int j = 0; j < n; ++j)
            work[j] = c * in[j];
        const float keep = 1.0f - c;
        float s = state;
        for (int j = 0; j < n; ++j)
        {
            s = s * keep + work[j];
            out[j] = s;
        }
        state = s;
    }

    // One smoothing step toward target.
    float smooth(float target, float c)
    {
        state = (target - state) * c + state;
        return state;
    }
};

// First-order recursive section H(z) = (c1 + c2 z^-1) / (1 + c0 z^-1).
struct FirstOrderSection
{
    float c0 = 0.0f;
    float c1 = 1.0f;
    float c2 = 0.0f;
    float state = 0.0f;

    void reset() { state = 0.0f; }

    // A design is (b0, b1, a1).
    void loadDesign(const float d[3])
    {
        c0 = d[2];
        c1 = d[0];
        c2 = d[1];
    }

    void setCoefficients(float a, float b, float c)
    {
        c0 = a;
        c1 = b;
        c2 = c;
    }

    float processSample(float x)
    {
        const float y = c1 * x + state;
        state = c2 * x - c0 * y;
        return y;
    }

    void process(float* x, int n)
    {
        // The state lives in a register: x could alias the member and force a memory round trip.
        const float a = c0, b = c1, c = c2;
        float s = state;
        for (int j = 0; j < n; ++j)
        {
            const float y = b * x[j] + s;
            s = c * x[j] - a * y;
            x[j] = y;
        }
        state = s;
    }
};

// Bilinear first-order shelf without prewarping: gainDC at 0 Hz, gainHF at half the sample rate.
void designFirstOrderShelf(float out[3], float frequencyHz, float gainDC, float gainHF, float sampleRate);
// First-order allpass (a, 1, a) with the same frequency warping as the shelf.
void designFirstOrderTone(float out[3], float frequencyHz, float sampleRate);
// Second-order low-pass, out = (a1, a2, b0, b1, b2).
void designBiquadLowpass(float out[5], float frequencyHz, float q, float sampleRate);

// The HighCut low-pass: the cookbook second-order low-pass (its response for fixed settings) built as a
// trapezoidal state-variable filter. Its two states are integrator outputs at signal level whatever the
// cut-off, so the cut-off can jump in either direction without a transient; a direct-form biquad's
// states are past inputs and outputs that only suit the coefficients that made them, and a host's
// automated jump rang it up to +70 dB. Run direct (on its target) or smoothed (the target approached
// once per block, from 0 at construction: silence that fades into the designed filter).
struct SmoothedBiquad
{
    // The recursion for one integrator gain g = tan(w/2) and damping k = 1/q, written out as the two
    // states' new values and the output in terms of the old ones and the input:
    // y = c1 s1 + c2 s2 + d x, s1' = m11 s1 + m12 s2 + n1 x, s2' = m21 s1 + m22 s2 + n2 x. The same states
    // as the usual form (v3 = x - s2, v1 = a1 s1 + a2 v3, v2 = s2 + a2 s1 + a3 v3, s' = 2 v - s), but
    // each sample waits for one product and two sums instead of five steps in a row.
    struct Coefficients
    {
        float m11 = 1.0f, m12 = 0.0f, n1 = 0.0f, m21 = 0.0f, m22 = 1.0f, n2 = 0.0f, c1 = 0.0f, c2 = 0.0f, d = 1.0f;
        bool pass = true; // a constructed filter passes the signal unchanged
    };

    float targetGain = 0.0f; // g of the last design
    float damping = 1.0f;    // k = 1/q
    bool designed = false;
    float ic1 = 0.0f, ic2 = 0.0f; // band-pass and low-pass integrator states
    OnePole smoothedGain;         // state = the smoothed g, 0 until the first smoothed block
    float smoothingCoefficient = 0.0f;

    void reset() { ic1 = ic2 = 0.0f; }

    // The cookbook design's prototype and warping: w = frequency x 6.28318 / sampleRate in single precision.
    void setDesign(float frequencyHz, float q, float sampleRate)
    {
        const float omega = frequencyHz * 6.28318f / sampleRate;
        targetGain = static_cast<float>(std::tan(0.5 * static_cast<double>(omega)));
        damping = 1.0f / q;
        designed = true;
    }

    void setSmoothing(int blockLength, float timeMs, float sampleRate)
    {
        smoothingCoefficient = OnePole::coefficientFromTime(timeMs, sampleRate / static_cast<float>(blockLength));
    }

    static Coefficients coefficientsFor(float g, float k)
    {
        const float a1 = 1.0f / (1.0f + g * (g + k));
        const float a2 = g * a1;
        const float a3 = g * a2;
        Coefficients c;
        c.m11 = 2.0f * a1 - 1.0f;
        c.m12 = -2.0f * a2;
        c.n1 = 2.0f * a2;
        c.m21 = 2.0f * a2;
        c.m22 = 1.0f - 2.0f * a3;
        c.n2 = 2.0f * a3;
        c.c1 = a2;
        c.c2 = 1.0f - a3;
        c.d = a3;
        c.pass = false;
        return c;
    }

    Coefficients direct() const { return designed ? coefficientsFor(targetGain, damping) : Coefficients{}; }

    // The coefficients a smoothed block uses (the smoother takes its step).
    Coefficients nextSmoothed() { return coefficientsFor(smoothedGain.smooth(targetGain, smoothingCoefficient), damping); }

    void processDirect(float* x, int n) { run(x, n, direct()); }
    void processSmoothed(float* x, int n) { run(x, n, nextSmoothed()); }

    // One sample of the recursion; s1, s2 are the states.
    static float step(float x, const Coefficients& c, float& s1, float& s2)
    {
        const float y = (c.c1 * s1 + c.c2 * s2) + c.d * x;
        const float t1 = (c.m11 * s1 + c.m12 * s2) + c.n1 * x;
        s2 = (c.m21 * s1 + c.m22 * s2) + c.n2 * x;
        s1 = t1;
        return y;
    }

    void run(float* x, int n, const Coefficients& c)
    {
        if (c.pass)
            return;
        float s1 = ic1, s2 = ic2; // registers, not members that x might alias
        for (int j = 0; j < n; ++j)
            x[j] = step(x[j], c, s1, s2);
        ic1 = s1;
        ic2 = s2;
    }
};

// The "Dense Room" high cut: the first-order shelf of designFirstOrderShelf (gainDC at 0 Hz, gainHF at
// half the sample rate, the same warping) built as gainHF x + (gainDC - gainHF) x a trapezoidal one-pole
// low-pass, whose state stays at signal level when the cut-off jumps. Constructed, it passes the signal.
struct ShelfFilter
{
    float gain = 0.0f;   // G = g / (1 + g) of the one-pole, g = 1 / K
    float gainDC = 1.0f;
    float gainHF = 1.0f;
    float state = 0.0f;

    void reset() { state = 0.0f; }

    void setDesign(float frequencyHz, float dcGain, float hfGain, float sampleRate);

    void process(float* x, int n)
    {
        const ShelfFilter c = *this; // coefficients in registers: x could alias the members
        float s = state;
        for (int j = 0; j < n; ++j)
        {
            const float v = (x[j] - s) * c.gain;
            const float lp = v + s;
            s = lp + v;
            x[j] = c.gainHF * x[j] + (c.gainDC - c.gainHF) * lp;
        }
        state = s;
    }
};

// A tiny offset that keeps recursive paths out of denormals; the half-rate frame flips its sign.
struct DenormalOffset
{
    float value = 1e-15f;
};

} // namespace kestrune
