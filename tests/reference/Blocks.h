// Building blocks of the reference reverb: plain scalar loops, one operation per statement, so that every
// float is rounded where the real engine rounds it. Nothing here is shared with engine/.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kestrune::reference
{

constexpr float kLn0001 = -6.9077554f; // ln 0.001: the RT60 constant

// One-pole coefficients; the exponential is taken in double, the argument and the result are single.
float coefficientFromFrequency(float frequencyHz, float sampleRate);
float coefficientFromTime(float timeMs, float sampleRate);

// Parameter smoother (mix gains, biquad coefficients): value follows target by c per step.
struct Smoother
{
    float value = 0.0f;
    float step(float target, float c)
    {
        value = (target - value) * c + value;
        return value;
    }
};

// Band-split low-pass of the decay filters and of the two-band late normalisation. Kept apart from the
// smoother because its structure is expected to change while its settled response stays.
struct CrossoverLowpass
{
    float state = 0.0f;
    void reset() { state = 0.0f; }
    // lp may not alias x.
    void run(const float* x, float* lp, int n, float c);
};

// First-order section H(z) = (c1 + c2 z^-1) / (1 + c0 z^-1), in place.
struct FirstOrderSection
{
    float c0 = 0.0f, c1 = 1.0f, c2 = 0.0f;
    float state = 0.0f;
    void reset() { state = 0.0f; }
    void setCoefficients(float a, float b, float c)
    {
        c0 = a;
        c1 = b;
        c2 = c;
    }
    // d = (b0, b1, a1) from a designer.
    void loadDesign(const float d[3]) { setCoefficients(d[2], d[0], d[1]); }
    void run(float* x, int n);
};

// Designers; first-order ones return (b0, b1, a1).
void designFirstOrderShelf(float out[3], float frequencyHz, float gainDC, float gainHF, float sampleRate);
// K of the bilinear transform without prewarping, shared by the first-order designs.
float bilinearK(float frequencyHz, float sampleRate);
void designFirstOrderTone(float out[3], float frequencyHz, float sampleRate);
void designBiquadLowpass(float out[5], float frequencyHz, float q, float sampleRate); // a1 a2 b0 b1 b2

// The HighCut low-pass as a state-variable filter (two trapezoidal integrators): its response is the
// cookbook biquad's, but its states stay bounded when the cut-off jumps, so a fast cut-off change neither
// rings up nor clicks. Run on the target's coefficients or on a once-per-block smoothed g.
struct HighCutFilter
{
    float target = 0.0f; // g = tan(omega / 2) of the design
    float k = 1.0f;      // 1 / q
    Smoother smoothed{}; // g, from 0 at construction; a reset leaves it
    float smoothing = 0.0f;
    float s1 = 0.0f, s2 = 0.0f;

    void reset()
    {
        s1 = 0.0f;
        s2 = 0.0f;
    }
    void design(float frequencyHz, float q, float sampleRate);
    void setSmoothing(int blockLength, float timeMs, float sampleRate);
    void runDirect(float* x, int n);
    void runSmoothed(float* x, int n);

    // State update s' = M s + N x and output y = C s + D x for a given g.
    struct Coefficients
    {
        float m11, m12, n1, m21, m22, n2, c1, c2, d;
    };
    Coefficients coefficients(float g) const;

  private:
    void run(float* x, int n, const Coefficients& c);
};

// "Dense Room"'s high cut: the first-order shelf from 1 at 0 Hz to gainHF at Nyquist, as a trapezoidal
// one-pole low-pass blended with the input, so that a cut-off change moves no stored output.
struct HighCutShelf
{
    float G = 1.0f;
    float gainDC = 1.0f, gainHF = 0.01f;
    float s = 0.0f;

    void reset() { s = 0.0f; }
    void design(float frequencyHz, float sampleRate);
    void run(float* x, int n);
};

// Plane rotation of two blocks by amount * 90 degrees.
struct Rotator
{
    float sine = 0.0f, cosine = 1.0f, negatedSine = -0.0f;
    void setAmount(float amount);
    void rotate(float* a, float* b, int n) const;
};

// Slow triangle with random direction changes, stepped once per block.
struct Modulator
{
    enum class Draw
    {
        Rand,
        Generator
    };
    enum class Form
    {
        Bouncing,
        Folded
    };

    float phase = 0.0f;
    float stepSize = 0.001f;
    float step = 0.001f;
    std::int32_t period = 20869;
    std::int32_t countdown = 20869;
    std::uint32_t generator = 1235u;

    Modulator(); // re-seeds rand() from the clock, as every construction in the product does

    void setRate(float rate, float blockRate);
    void setRandomPeriod(float drawRate, float blockRate);
    void advance(Draw draw, Form form);
    // Output of the folded form, -1..1; the bouncing form's output is the phase itself.
    float folded() const;

  private:
    void advanceGenerator() { generator = generator * 214013u + 2531011u; }
};

enum class Interpolation
{
    Linear,
    Quantised,
    FirstOrderAllpass
};

// The allpass-interpolation table, (1 - x)/(1 + x) at x = i/256, capped at 0.99.
const std::array<float, 256>& allpassTable();

// Power-of-two ring written backwards one block at a time; delay D reads ring[(w - j + D) & mask].
struct DelayLine
{
    std::vector<float> ring;
    std::int64_t size = 0;
    std::int64_t mask = 0;
    std::int64_t writeIndex = 0;
    std::array<float, 32> previousDelay{};
    // allpass-interpolated reads: the lattice state, the coefficient and the whole delay of the last sample
    std::array<float, 32> interpolationState{};
    std::array<float, 32> lastCoefficient{};
    std::array<std::int32_t, 32> lastInteger{};

    DelayLine();
    // The product's size rule: next power of two at or above the request. Contents survive an unchanged size.
    void setMaxDelay(std::int64_t request);
    void clear(); // write index and previous delays kept
    void clearSlots();
    void writeBlock(const float* x, int n);
    float at(std::int64_t delay, int j) const
    {
        return ring[static_cast<std::size_t>((writeIndex - j + delay) & mask)];
    }
    void readInteger(float* y, int n, std::int64_t delay) const;
    // Delay glides from the slot's previous delay to target over the block, accumulated sample by sample.
    // The allpass interpolation is a lattice whose state keeps its energy while the delay moves: when the
    // whole delay grows the state is scaled down to the new coefficient's share, when it shrinks the skipped
    // sample is taken in; for a steady delay it is the allpass (c + z^-1) / (1 + c z^-1).
    void readRamped(float* y, int n, float target, int slot, float rampFactor, Interpolation kind);
    void advance(int n) { writeIndex = (writeIndex - n) & mask; }
};

// One modulated allpass section over a block, in place; slot 0 of the line.
void allpassSection(DelayLine& line, float* x, int n, float newDelay, float g, float loopGain,
                    float rampFactor, Interpolation kind);

// Polyphase half-band filter: two branches of four first-order allpass sections.
struct HalfbandFilter
{
    struct Section
    {
        float a = 0.0f;
        float s = 0.0f;
        float delta = 1e-15f;
    };
    std::array<Section, 4> branchA{};
    std::array<Section, 4> branchB{};
    float delayState = 0.0f;

    HalfbandFilter();
    void reset();
    static void runBranch(std::array<Section, 4>& branch, float* x, int n);
    void decimate(const float* x64, float* y32);    // y may not alias x
    void upsample(const float* in32, float* out64); // in and out may be the same array
};

} // namespace kestrune::reference
