// "Dark Space": the 32-line network at half the host rate, its lines 1.9 times as long as the plain scale.
#include "ModeHelpers.h"

namespace kestrune::reference
{

namespace
{

void setLateSize(Engine& e, float size)
{
    // 1.9 is the single-precision constant widened, the whole product in double
    const auto s =
        static_cast<float>(static_cast<double>(e.internalRate) * (0.9 * static_cast<double>(size) + 0.1) *
                           static_cast<double>(1.9f) / 48000.0);
    e.sizeTotal = e.sizeConstant * s;
    // long enough at every rate down to about 6 kHz: no lengths held
    setTableLengths(e, kGeometricLengths, 32, s, nullptr);
    refreshDecayAndEarly(e);
}

} // namespace

const ModeSpec kDarkSpace = {"Dark Space",
                             true,
                             3183.0f,
                             241920.0f,
                             32,
                             0.25f,
                             2.0f,
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
