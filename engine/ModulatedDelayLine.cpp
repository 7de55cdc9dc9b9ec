#include "ModulatedDelayLine.h"

#include "Vector.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kestrune
{

namespace
{
struct AllpassTable
{
    float values[256];
    AllpassTable()
    {
        for (int i = 0; i < 256; ++i)
        {
            const float x = static_cast<float>(i) * 0.00390625f;
            values[i] = std::min((1.0f - x) / (1.0f + x), 0.99f);
        }
    }
};

// Far beyond any ring, and inside the 32-bit range the truncation needs.
constexpr float kMaxDelay = 1.0e9f;

int64_t sizeForRequest(int64_t request)
{
    return static_cast<int64_t>(
        std::exp2f(std::ceil(std::log(static_cast<float>(request)) / std::log(2.0f))));
}
} // namespace

const float* ModulatedDelayLine::allpassTable()
{
    static const AllpassTable table;
    return table.values;
}

int64_t ModulatedDelayLine::safeIntegerDelay(float delay)
{
    // NaN and negatives read the newest sample; the truncation stays inside the integer range.
    if (!(delay >= 0.0f))
        return 0;
    return static_cast<int64_t>(std::min(delay, kMaxDelay));
}

ModulatedDelayLine::ModulatedDelayLine()
{
    allpassTable();
    allocate(32768);
    size_ = 32768;
    mask_ = size_ - 1;
}

ModulatedDelayLine::~ModulatedDelayLine() { delete[] ring_; }

void ModulatedDelayLine::allocate(int64_t samples)
{
    delete[] ring_;
    ring_ = new float[static_cast<size_t>(samples)]();
    capacity_ = samples;
}

void ModulatedDelayLine::setMaxDelay(int64_t requestedLength)
{
    const int64_t newSize = sizeForRequest(requestedLength);
    if (newSize == size_)
        return;
    if (newSize > capacity_)
        allocate(newSize);
    else
        std::memset(ring_, 0, static_cast<size_t>(newSize) * sizeof(float));
    size_ = newSize;
    mask_ = newSize - 1;
    writeIndex_ = 0;
    for (auto& s : slots_)
        s.state = 0.0f;
}

void ModulatedDelayLine::reserve(int64_t samples)
{
    int64_t wanted = 1;
    while (wanted < samples)
        wanted <<= 1;
    if (wanted <= capacity_)
        return;
    allocate(wanted);
    writeIndex_ = 0;
    for (auto& s : slots_)
        s.state = 0.0f;
}

void ModulatedDelayLine::clear()
{
    std::memset(ring_, 0, static_cast<size_t>(size_) * sizeof(float));
    for (auto& s : slots_)
        s.state = 0.0f;
    vec::clear(output_, kMaxBlock);
    vec::clear(first_, kMaxBlock);
    vec::clear(second_, kMaxBlock);
}

void ModulatedDelayLine::readRamped(float* y, int n, int slotIndex, float target, float rampFactor,
                                    Interpolation interpolation)
{
    TapSlot& s = slots_[slotIndex];
    const float start = s.previousDelay;
    const float inc = (target - start) * rampFactor;
    const int64_t w = writeIndex_;
    const int64_t mask = mask_;
    const float* ring = ring_;

    // The ramp is start + inc * (j + 1): the last sample reads at target. Written per sample rather than
    // accumulated so the loop carries no dependency from one sample to the next.
    for (int j = 0; j < n; ++j)
    {
        const float d = start + inc * static_cast<float>(j + 1);
        // A delay below zero would index before the table and read unwritten samples.
        const float bounded = d >= 0.0f ? std::min(d, kMaxDelay) : 0.0f;
        integer_[j] = static_cast<int32_t>(bounded);
        fraction_[j] = bounded - static_cast<float>(integer_[j]);
    }
    for (int j = 0; j < n; ++j)
    {
        const int64_t p = static_cast<int64_t>(static_cast<int32_t>(w - j + integer_[j])) & mask;
        first_[j] = ring[p];
        second_[j] = ring[(p + 1) & mask];
    }

    switch (interpolation)
    {
    case Interpolation::QuantisedLinear:
        for (int j = 0; j < n; ++j)
            fraction_[j] = static_cast<float>(static_cast<int32_t>(fraction_[j] * 32.0f)) * 0.03125f;
        [[fallthrough]];
    case Interpolation::Linear:
        for (int j = 0; j < n; ++j)
            y[j] = (second_[j] - first_[j]) * fraction_[j] + first_[j];
        break;
    case Interpolation::FirstOrderAllpass:
    {
        const float* table = allpassTable();
        for (int j = 0; j < n; ++j)
            tableIndex_[j] = static_cast<int32_t>(fraction_[j] * 256.0f) & 255;
        float state = s.state;
        for (int j = 0; j < n; ++j)
        {
            state = table[tableIndex_[j]] * (first_[j] - state) + second_[j];
            y[j] = state;
        }
        s.state = state;
        break;
    }
    }
    s.previousDelay = target;
}

namespace
{
void allpassBlock(ModulatedDelayLine& line, const float* in, float* out, int n, float newDelay, float g,
                  float loopGain, float rampFactor, ModulatedDelayLine::Interpolation interpolation)
{
    float* d = line.output();
    line.readRamped(d, n, 0, newDelay, rampFactor, interpolation);
    float y[ModulatedDelayLine::kMaxBlock];
    float v[ModulatedDelayLine::kMaxBlock];
    vec::scale(d, loopGain, y, n);
    vec::scaleAdd(in, -g, y, y, n);
    vec::scaleAdd(y, g, in, v, n);
    line.write(v, n);
    vec::copy(y, out, n);
}
} // namespace

void allpassBlockLinear(ModulatedDelayLine& line, const float* in, float* out, int n, float newDelay, float g,
                        float loopGain, float rampFactor)
{
    allpassBlock(line, in, out, n, newDelay, g, loopGain, rampFactor, ModulatedDelayLine::Interpolation::Linear);
}

void allpassBlockFirstOrder(ModulatedDelayLine& line, const float* in, float* out, int n, float newDelay, float g,
                            float loopGain, float rampFactor)
{
    allpassBlock(line, in, out, n, newDelay, g, loopGain, rampFactor,
                 ModulatedDelayLine::Interpolation::FirstOrderAllpass);
}

void allpassBlockQuantised(ModulatedDelayLine& line, const float* in, float* out, int n, float newDelay, float g,
                           float loopGain, float rampFactor)
{
    allpassBlock(line, in, out, n, newDelay, g, loopGain, rampFactor,
                 ModulatedDelayLine::Interpolation::QuantisedLinear);
}

} // namespace kestrune
