// "Dense Room": 32 lines at half the host rate with allpass-interpolated modulated pairs, a full-amount
// last rotation stage and a first-order shelf as its high-cut.
#include "ModeHelpers.h"

namespace kestrune::reference
{

namespace
{

const float kLengths[32] = {
    1127.12781f, 1227.80737f, 1337.4801f,  1456.94934f, 1587.08997f, 1728.85522f, 1883.28357f, 2051.5061f,
    2234.75513f, 2434.37231f, 2651.82056f, 2888.69189f, 3146.72144f, 3427.79956f, 3733.98438f, 4067.51904f,
    4430.84668f, 4826.62793f, 5257.76172f, 5727.40625f, 6239.00146f, 6796.29443f, 7403.36719f, 8064.66602f,
    8785.03516f, 9569.75f,    10424.5586f, 11355.7227f, 12370.0615f, 13475.0059f, 14678.6484f, 15989.8047f};

// the late output is normalised in the single form, so no bass normalisation
void decayBass(Engine& e)
{
    setBassGains(e, 32);
}

void setLateSize(Engine& e, float size)
{
    const float s = (size * 0.8f + 0.2f) * e.internalRate * 1.9f / 48000.0f;
    e.sizeTotal = e.sizeConstant * s;
    setTableLengths(e, kLengths, 32, s, kZeroLeast);
    refreshDecayAndEarly(e);
}

void lateNetwork(Engine& e)
{
    runPlainLineNetwork(e, Interpolation::FirstOrderAllpass, targetMaxZero);
}

} // namespace

const ModeSpec kDenseRoom = {"Dense Room",
                             true,
                             3183.0f,
                             182380.0f,
                             32,
                             0.25f,
                             2.0f,
                             Normalisation::Single,
                             HighCut::Shelf,
                             32,
                             setLateSize,
                             decayMidPerLine,
                             decayBass,
                             decayHighPerLine,
                             writeQuarterSigns,
                             stepEightModulators,
                             lateNetwork};

} // namespace kestrune::reference
