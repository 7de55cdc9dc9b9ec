#include "ModeHelpers.h"

namespace kestrune::reference
{

// Indexed by the mode number; an index above 11 uses mode 0.
const ModeSpec& modeSpec(std::uint32_t mode)
{
    static const ModeSpec* const table[12] = {&kLargeRoom, &kMediumRoom,  &kBrightRoom, &kLargeChamber,
                                              &kDarkRoom,  &kDarkChamber, &kDarkSpace,  &kNostromo,
                                              &kNarcissus, &kSulaco,      &kLV426,      &kDenseRoom};
    return *table[mode < 12 ? mode : 0];
}

} // namespace kestrune::reference
