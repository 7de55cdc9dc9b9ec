// "Large Room": 32 lines at the host rate, pairs of lines modulated in opposite directions.
#include "ModeHelpers.h"

namespace kestrune::reference
{

namespace
{

void setLateSize(Engine& e, float size)
{
    const float s = lateScale(e.hostRate, size, 0.9, 0.1);
    e.sizeTotal = e.sizeConstant * s;
    setTableLengths(e, kGeometricLengths, 32, s, kZeroLeast);
    refreshDecayAndEarly(e);
}

} // namespace

const ModeSpec kLargeRoom = {"Large Room",
                             false,
                             25.0f,
                             241920.0f,
                             32,
                             0.25f,
                             1.0f,
                             Normalisation::TwoBand,
                             HighCut::Direct,
                             32,
                             setLateSize,
                             decayMidPerLine,
                             decayBassPerLine,
                             decayHighPerLine,
                             writeQuarterSigns,
                             stepEightModulators,
                             linearLineNetwork};

} // namespace kestrune::reference
