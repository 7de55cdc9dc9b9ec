#include "Parameters.h"

#include <cmath>

namespace kestrune
{

uint32_t modeFromTypeValue(float typeValue)
{
    // Below 2 (and NaN) is mode 0; so is 13 and beyond, where floor(x) - 1 reaches 12.
    if (!(typeValue >= 2.0f) || typeValue >= 13.0f)
        return 0;
    return static_cast<uint32_t>(static_cast<int>(std::floor(typeValue)) - 1);
}

void EngineParameter::valueFromNormalised()
{
    value = mapNormalised(minimum, maximum, curve, normalised);
}

} // namespace kestrune
