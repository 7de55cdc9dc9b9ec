#pragma once

// The network that "Large Chamber" (host rate, 64-sample blocks) and "Dark Chamber" (half rate,
// 32-sample blocks) share: 32 lines, a four-stage butterfly matrix closed by the late-cross pairs,
// and a late output summed from fifteen fixed taps per channel on the lines' rings.

namespace kestrune
{
class ReverbEngine;

namespace chamber
{

// Late scale from the host rate in both modes; lengths less one block of the mode, tap positions;
// then the decay sets and the early lengths at the internal rate.
void setLateSize(ReverbEngine& engine, float lateSize);
// Mid gains, mid normalisation and the tap gains (which follow "decay" and "lateSize" only).
void updateDecayMid(ReverbEngine& engine);
void updateDecayBass(ReverbEngine& engine);
void updateDecayHigh(ReverbEngine& engine);
// One block of the engine's block length; offsets[j] moves line 4j by +offsets[j] and line 4j+1 by
// -offsets[j] samples.
void lateNetwork(ReverbEngine& engine, const float offsets[8]);

} // namespace chamber
} // namespace kestrune
