// Every place where a length or a delay can leave the range the network was designed for goes through one
// of these, one function per kind. At low rates and small sizes the lengths are held at the least value that
// keeps their segment working (a section no shorter than its block, a plain delay no shorter than 0), and the
// gains are formed from the held lengths, so the decay stays what the settings ask for.
#pragma once

#include <cmath>
#include <cstdint>

namespace kestrune::reference
{

// max(a, b) as the floors are written: a NaN in a stays.
inline float maxOf(float a, float b)
{
    return a < b ? b : a;
}

inline std::int64_t maxOf(std::int64_t a, std::int64_t b)
{
    return a < b ? b : a;
}

// d, or least when d is below it or NaN.
inline float atLeast(float d, float least)
{
    return d >= least ? d : least;
}

// A late length held at its least working value.
inline float heldLength(float length, float least)
{
    return maxOf(length, least);
}

// A ramped read never reads ahead of the write position or outside the int range: negative and NaN delays
// read at 0, anything above 1e9 (+inf included) at 1e9, before the ring mask.
inline float boundedReadDelay(float d)
{
    if (!(d >= 0.0f))
        return 0.0f;
    return d > 1e9f ? 1e9f : d;
}

// Target delay of a modulated allpass section of the full-rate modes; below the block length it would read
// positions the block has not written yet (samples one ring length old).
inline float sectionDelay(float d, float blockLength)
{
    return atLeast(d, blockLength);
}

// Whole delay of a fixed allpass section of the half-rate loops (whole length minus the block), the same
// hazard as above.
inline std::int64_t fixedSectionDelay(std::int64_t wholeLength)
{
    return maxOf(wholeLength - 32, std::int64_t{32});
}

// Targets of the modulated plain reads of the 32-line modes. "Large Room" and "Dark Space" leave them as they
// are (the ramped read stops at 0), the chambers hold them at 0 and "Dense Room" takes max(d, 0); the last
// two differ only for a NaN.
using TargetBound = float (*)(float);
inline float anyTarget(float d)
{
    return d;
}
inline float targetAtLeastZero(float d)
{
    return atLeast(d, 0.0f);
}
inline float targetMaxZero(float d)
{
    return maxOf(d, 0.0f);
}

// Whole delay of an unmodulated read of a float length: truncated toward zero, read at 0 below 0.
inline std::int64_t plainDelay(float d)
{
    return maxOf(static_cast<std::int64_t>(std::trunc(d)), std::int64_t{0});
}

// Whole delay of a plain delay segment given as a floor.
inline std::int64_t plainDelay(std::int64_t d)
{
    return maxOf(d, std::int64_t{0});
}

// Whole delay of a fixed output tap; below the block length it still reads this block's samples.
inline std::int32_t tapPosition(std::int32_t p)
{
    return p;
}

} // namespace kestrune::reference
