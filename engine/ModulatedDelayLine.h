#pragma once

#include <cstdint>

namespace kestrune
{

// The engine's one delay type: a power-of-two ring written backwards one block at a time, read at
// integer delays or at delays that glide linearly across a block. Sample j of a block goes to
// ring[(w - j) & mask], so ring[(w - j + D) & mask] is always the sample D positions before it.
class ModulatedDelayLine
{
public:
    enum class Interpolation
    {
        Linear,
        QuantisedLinear, // fraction cut to steps of 1/32
        FirstOrderAllpass
    };

    static constexpr int kMaxBlock = 128;
    static constexpr int kSlots = 32;

    struct TapSlot
    {
        float state = 0.0f;           // allpass interpolation state
        float previousDelay = 100.0f; // where the next ramp starts, in samples
        float lastCoefficient = 0.0f; // the allpass read's last coefficient and integer delay, so that
        int32_t lastInteger = -1;     // the next block sees a step at its first sample
    };

    ModulatedDelayLine();
    ~ModulatedDelayLine();
    ModulatedDelayLine(const ModulatedDelayLine&) = delete;
    ModulatedDelayLine& operator=(const ModulatedDelayLine&) = delete;

    // Size becomes the next power of two at or above the request; a change zeroes the ring, the write
    // index and the slot states. Allocates only when the storage is too small (see reserve).
    void setMaxDelay(int64_t requestedLength);
    // Makes sure rings up to this many samples fit without a later allocation. Discards the contents.
    void reserve(int64_t samples);
    void clear();

    int64_t size() const { return size_; }
    int64_t mask() const { return mask_; }
    int64_t capacity() const { return capacity_; }
    int64_t writeIndex() const { return writeIndex_; }
    void advance(int blockLength) { writeIndex_ = (writeIndex_ - blockLength) & mask_; }

    void write(const float* x, int n)
    {
        const int64_t w = writeIndex_;
        if (w >= n - 1) // the block does not wrap: a plain reversed copy the compiler vectorises
        {
            float* dst = ring_ + w;
            for (int j = 0; j < n; ++j)
                dst[-j] = x[j];
        }
        else
            for (int j = 0; j < n; ++j)
                ring_[(w - j) & mask_] = x[j];
    }

    // write() of a + b.
    void writeSum(const float* a, const float* b, int n)
    {
        const int64_t w = writeIndex_;
        if (w >= n - 1)
        {
            float* __restrict dst = ring_ + w;
            for (int j = 0; j < n; ++j)
                dst[-j] = a[j] + b[j];
        }
        else
            for (int j = 0; j < n; ++j)
                ring_[(w - j) & mask_] = a[j] + b[j];
    }

    // acc += gain x (the integer read at delay), each sample as x * gain + acc.
    void accumulateInteger(float* acc, int n, int64_t delay, float gain) const
    {
        const int64_t start = (writeIndex_ + delay) & mask_;
        if (start >= n - 1)
        {
            const float* __restrict src = ring_ + start;
#pragma GCC unroll 4
            for (int j = 0; j < n; ++j)
                acc[j] = src[-j] * gain + acc[j];
        }
        else
            for (int j = 0; j < n; ++j)
                acc[j] = ring_[(start - j) & mask_] * gain + acc[j];
    }

    // In place on x: y = gain*d - g*x with d the integer read at delay, the line takes x + g*y, x = y;
    // one pass over the block. Only when the read cannot see this block's write (n <= delay <=
    // size - n) and neither run crosses the ring's end; false (nothing done) otherwise.
    bool integerAllpass(float* x, int n, int64_t delay, float g, float gain)
    {
        const int64_t start = (writeIndex_ + delay) & mask_;
        if (delay < n || delay > size_ - n || start < n - 1 || writeIndex_ < n - 1)
            return false;
        const float* src = ring_ + start;
        float* dst = ring_ + writeIndex_;
        const float ng = -g;
        for (int j = 0; j < n; ++j)
        {
            const float in = x[j];
            const float y = in * ng + src[-j] * gain;
            dst[-j] = y * g + in;
            x[j] = y;
        }
        return true;
    }

    void readInteger(float* y, int n, int64_t delay) const
    {
        const int64_t start = (writeIndex_ + delay) & mask_;
        if (start >= n - 1)
        {
            const float* src = ring_ + start;
            for (int j = 0; j < n; ++j)
                y[j] = src[-j];
        }
        else
            for (int j = 0; j < n; ++j)
                y[j] = ring_[(start - j) & mask_];
    }
    // A float delay is truncated toward zero.
    void readInteger(float* y, int n, float delay) const { readInteger(y, n, safeIntegerDelay(delay)); }

    float sampleAt(int64_t position) const { return ring_[position & mask_]; }

    // For fused block kernels that write a block and then read it at an integer delay: true when
    // neither run of n samples crosses the ring's end and the delay is short enough (at most size - n)
    // that writing and reading sample by sample reads what the block-wise order reads. The read run
    // then starts at readStart(delay).
    bool writeThenReadStaysInside(int64_t delay, int n) const
    {
        return writeIndex_ >= n - 1 && delay >= 0 && delay <= size_ - n && readStart(delay) >= n - 1;
    }
    int64_t readStart(int64_t delay) const { return (writeIndex_ + delay) & mask_; }
    float* ring() { return ring_; }

    // Ramped read from a tap slot: the delay glides from the slot's previous delay to target over n
    // samples (rampFactor = 1/n); the slot then remembers target. Delays below 0 read at 0.
    void readRamped(float* y, int n, int slot, float target, float rampFactor, Interpolation interpolation);

    TapSlot& slot(int i) { return slots_[i]; }
    const TapSlot& slot(int i) const { return slots_[i]; }

    static const float* allpassTable();
    static int64_t safeIntegerDelay(float delay);

    // Working buffer of the last read (the allpass sections return their loop read through it).
    float* output() { return output_; }

private:
    float* ring_ = nullptr;
    int64_t size_ = 0;
    int64_t mask_ = 0;
    int64_t capacity_ = 0;
    int64_t writeIndex_ = 0;
    TapSlot slots_[kSlots];

    float output_[kMaxBlock] = {};

    void allocate(int64_t samples);
    void clearSlotStates(); // the interpolation states; the previous delays are kept
};

// One modulated allpass section over n samples: y = loopGain*d - g*x, the line takes x + g*y, where d
// is the ramped read toward newDelay from slot 0. in and out may be the same array.
void allpassBlockLinear(ModulatedDelayLine& line, const float* in, float* out, int n, float newDelay, float g,
                        float loopGain, float rampFactor);
void allpassBlockFirstOrder(ModulatedDelayLine& line, const float* in, float* out, int n, float newDelay, float g,
                            float loopGain, float rampFactor);
void allpassBlockQuantised(ModulatedDelayLine& line, const float* in, float* out, int n, float newDelay, float g,
                           float loopGain, float rampFactor);

// One ramped first-order-allpass read from each of count taps (any number; four or eight run side
// by side) over n samples: the results of readRamped on each in turn.
struct AllpassTap
{
    ModulatedDelayLine* line;
    int slot;
    float target;
    float* out;
};
void readRampedAllpassGroup(const AllpassTap* taps, int count, int n, float rampFactor);

// allpassBlockFirstOrder on up to eight sections at once (distinct lines, slot 0), the same results.
void allpassBlockFirstOrderGroup(ModulatedDelayLine* const* lines, const float* const* in, float* const* out,
                                 int count, int n, const float* newDelay, float g, const float* loopGain,
                                 float rampFactor);

} // namespace kestrune
