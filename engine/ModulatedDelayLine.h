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
    // Every read after a clear returns what a zeroed ring would, but the ring is zeroed lazily (a whole
    // ring at 192 kHz would not fit in a block's budget): at once only the kWindow positions the next
    // writes reach, then kept ahead of the writes as the line advances, while the older positions are
    // stale until the writes come round. Each read zeroes the stale positions it touches before it reads
    // them. Once the line has been written round, the reads' check is one compare.
    void clear();

    static constexpr int64_t kWindow = kMaxBlock; // positions at and below the write index a block writes
    // Whether some positions still hold what was there before the last clear.
    bool hasStale() const { return stale_ != 0; }
    // Zeroes the stale positions among write index + first .. write index + last (masked), so that a
    // read there sees a cleared line. Every reader of ring memory calls it (or one of the two below).
    void prepareRun(int64_t first, int64_t last)
    {
        if (stale_ != 0) [[unlikely]]
            zeroStale(first, last);
    }
    // The positions an integer read of n samples at this delay reads.
    void prepareIntegerRead(int64_t delay, int n) { prepareRun(delay - (n - 1), delay); }
    // The positions a ramped read over these n delays reads (the ramp is monotonic; each sample also
    // reads one position further back).
    void prepareRampedRead(const float* delays, int n)
    {
        if (stale_ != 0) [[unlikely]]
            zeroStaleForRamp(delays, n);
    }

    int64_t size() const { return size_; }
    int64_t mask() const { return mask_; }
    int64_t capacity() const { return capacity_; }
    int64_t writeIndex() const { return writeIndex_; }
    void advance(int blockLength)
    {
        if (stale_ != 0) [[unlikely]]
            cleanAhead(blockLength);
        writeIndex_ = (writeIndex_ - blockLength) & mask_;
    }

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
    void accumulateInteger(float* acc, int n, int64_t delay, float gain)
    {
        prepareIntegerRead(delay, n);
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
        prepareIntegerRead(delay, n);
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

    void readInteger(float* y, int n, int64_t delay)
    {
        prepareIntegerRead(delay, n);
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
    void readInteger(float* y, int n, float delay)
    {
        readInteger(y, n, safeIntegerDelay(delay));
    }

    // One ring sample as a read sees it (zero where stale).
    float sampleAt(int64_t position) const
    {
        const int64_t offset = (position - writeIndex_) & mask_;
        return offset > size_ - stale_ - kWindow && offset <= size_ - kWindow ? 0.0f
                                                                              : ring_[position & mask_];
    }

    // For fused block kernels that write a block and then read it at an integer delay: true when
    // neither run of n samples crosses the ring's end and the delay is short enough (at most size - n)
    // that writing and reading sample by sample reads what the block-wise order reads. The read run
    // then starts at readStart(delay).
    bool writeThenReadStaysInside(int64_t delay, int n) const
    {
        return writeIndex_ >= n - 1 && delay >= 0 && delay <= size_ - n && readStart(delay) >= n - 1;
    }
    int64_t readStart(int64_t delay) const { return (writeIndex_ + delay) & mask_; }
    // The ring itself, for fused kernels: they call prepareRun (or prepareIntegerRead) before reading it.
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
    int32_t capacity_ = 0;
    // How many positions still hold what was there before the last clear: as offsets from the write
    // index, size_ - stale_ - kWindow + 1 .. size_ - kWindow (32-bit beside the capacity, so that the
    // line keeps its layout).
    int32_t stale_ = 0;
    int64_t writeIndex_ = 0;
    TapSlot slots_[kSlots];

    float output_[kMaxBlock] = {};
    float* storage_ = nullptr; // what ring_ lies in (see allocate)

    void allocate(int64_t samples);
    void clearSlotStates(); // the interpolation states; the previous delays are kept
    void clearLazily();     // the window zeroed, everything else stale
    // Out of line and cold: the reads' fast paths keep their registers.
    [[gnu::cold]] void zeroStale(int64_t first, int64_t last);
    [[gnu::cold]] void zeroStaleForRamp(const float* delays, int n);
    void zeroOffsets(int64_t first, int64_t last); // write index + first .. + last, 0 <= first <= last < size
    [[gnu::cold]] void cleanAhead(int blockLength);
};

// One modulated allpass section over n samples: y = loopGain*d - g*x, the line takes x + g*y, where d
// is the ramped read toward newDelay from slot 0. in and out may be the same array.
void allpassBlockLinear(ModulatedDelayLine& line, const float* in, float* out, int n, float newDelay, float g,
                        float loopGain, float rampFactor);
void allpassBlockFirstOrder(ModulatedDelayLine& line, const float* in, float* out, int n, float newDelay, float g,
                            float loopGain, float rampFactor);
void allpassBlockQuantised(ModulatedDelayLine& line, const float* in, float* out, int n, float newDelay, float g,
                           float loopGain, float rampFactor);

// One ramped read from a tap slot of a line, into out.
struct RampedTap
{
    ModulatedDelayLine* line;
    int slot;
    float target;
    float* out;
};
inline constexpr int kMaxRampedTaps = 32;

// Ramped reads from count taps (distinct lines, or distinct slots of a line; any number): the results
// of readRamped on each in turn, with their ramps computed side by side.
void readRampedGroup(const RampedTap* taps, int count, int n, float rampFactor,
                     ModulatedDelayLine::Interpolation interpolation);

// The allpass section of the given interpolation on count distinct lines at once (slot 0): the
// results of allpassBlockLinear, allpassBlockFirstOrder or allpassBlockQuantised on each in turn.
void allpassBlockGroup(ModulatedDelayLine* const* lines, const float* const* in, float* const* out, int count, int n,
                       const float* newDelay, float g, const float* loopGain, float rampFactor,
                       ModulatedDelayLine::Interpolation interpolation);

// A network whose sections run one after another takes all their ramps first, in one group, so that
// the ramps' chains of additions run side by side instead of one section's after another's; the reads
// then take their rows of delays. At most kMaxRampedTaps taps.
void accumulateRampGroup(const RampedTap* taps, int count, int n, float rampFactor,
                         float (*delays)[ModulatedDelayLine::kMaxBlock]);
void readRampedGroup(const RampedTap* taps, int count, int n, float (*delays)[ModulatedDelayLine::kMaxBlock],
                     ModulatedDelayLine::Interpolation interpolation);

// The tap of an allpass section: slot 0, read into the line's working buffer.
inline RampedTap allpassSectionTap(ModulatedDelayLine& line, float newDelay)
{
    return {&line, 0, newDelay, line.output()};
}
// allpassBlockGroup on the section taps of count distinct lines, their ramps accumulated.
void allpassBlockGroup(const RampedTap* taps, const float* const* in, float* const* out, int count, int n,
                       float (*delays)[ModulatedDelayLine::kMaxBlock], float g, const float* loopGain,
                       ModulatedDelayLine::Interpolation interpolation);

} // namespace kestrune
