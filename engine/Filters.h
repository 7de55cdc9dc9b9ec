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

// The HighCut low-pass, run either on its targets or on coefficients smoothed per block. Direct form I:
// its state holds past inputs and outputs at signal level, so a sudden coefficient change (an automated
// jump from 100 Hz to 15 kHz) gives no transient; direct form II's state can sit thousands of times above
// the signal at low cut-offs and would click. For fixed coefficients both forms compute the same filter.
struct SmoothedBiquad
{
    float target[5] = {0.0f, 0.0f, 1.0f, 0.0f, 0.0f}; // a1, a2, b0, b1, b2
    float x1 = 0.0f, x2 = 0.0f, y1 = 0.0f, y2 = 0.0f;
    OnePole smoothed[5]; // state = the smoothed coefficient, 0 until the first smoothed block
    float smoothingCoefficient = 0.0f;

    void reset()
    {
        x1 = x2 = y1 = y2 = 0.0f;
    }

    void setCoefficients(const float c[5])
    {
        for (int i = 0; i < 5; ++i)
            target[i] = c[i];
    }

    void setSmoothing(int blockLength, float timeMs, float sampleRate)
    {
        smoothingCoefficient = OnePole::coefficientFromTime(timeMs, sampleRate / static_cast<float>(blockLength));
    }

    void processDirect(float* x, int n) { run(x, n, target); }

    void processSmoothed(float* x, int n)
    {
        float c[5];
        nextSmoothedCoefficients(c);
        run(x, n, c);
    }

    // The coefficients processSmoothed uses for its block (the smoothers take their step).
    void nextSmoothedCoefficients(float c[5])
    {
        for (int i = 0; i < 5; ++i)
            c[i] = smoothed[i].smooth(target[i], smoothingCoefficient);
    }

    // One block on the given coefficients (a1, a2, b0, b1, b2).
    void run(float* x, int n, const float* c)
    {
        const float a1 = c[0], a2 = c[1], b0 = c[2], b1 = c[3], b2 = c[4];
        float px1 = x1, px2 = x2, py1 = y1, py2 = y2; // registers, not members that x might alias
        for (int j = 0; j < n; ++j)
        {
            const float in = x[j];
            const float out = b0 * in + b1 * px1 + b2 * px2 - a1 * py1 - a2 * py2;
            px2 = px1;
            px1 = in;
            py2 = py1;
            py1 = out;
            x[j] = out;
        }
        x1 = px1;
        x2 = px2;
        y1 = py1;
        y2 = py2;
    }
};

// A tiny offset that keeps recursive paths out of denormals; the half-rate frame flips its sign.
struct DenormalOffset
{
    float value = 1e-15f;
};

} // namespace kestrune
