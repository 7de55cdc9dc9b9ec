// Every place where a length or a delay can leave the range the network was designed for goes through one
// of these, one function per kind, so that a bound can be added for all places of a kind at once.
#pragma once

#include <cstdint>

namespace kestrune::reference
{

// A ramped read never reads ahead of the write position or outside the int range: negative and NaN delays
// read at 0, anything above 1e9 (+inf included) at 1e9, before the ring mask.
inline float boundedReadDelay(float d)
{
    if (!(d >= 0.0f))
        return 0.0f;
    return d > 1e9f ? 1e9f : d;
}

// Target delay of a modulated allpass section; below the block length it reads positions the block has not
// written yet (samples one ring length old).
inline float sectionDelay(float d)
{
    return d;
}

// Whole delay of a fixed allpass section (whole length minus the block); the same hazard as above.
inline std::int64_t fixedSectionDelay(std::int64_t d)
{
    return d;
}

// Target delay of a modulated plain read of a late line (written before it is read); it can fall below 0.
inline float modulatedLineDelay(float d)
{
    return d;
}

// Whole delay of an unmodulated late read or of a loop's plain delay segment; it can fall below 0 at low
// rates and small sizes.
inline std::int64_t plainDelay(std::int64_t d)
{
    return d;
}

// Whole delay of a fixed output tap; below the block length it still reads this block's samples.
inline std::int32_t tapPosition(std::int32_t p)
{
    return p;
}

} // namespace kestrune::reference
