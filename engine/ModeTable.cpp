#include "ReverbEngine.h"

namespace kestrune
{

#define KESTRUNE_MODE_ROUTINES(Name)                                                                         \
    ModeRoutines                                                                                             \
    {                                                                                                        \
        &ReverbEngine::init##Name, &ReverbEngine::setLateSize##Name, &ReverbEngine::setEarlySize##Name,      \
            &ReverbEngine::updateDecayMid##Name, &ReverbEngine::updateDecayBass##Name,                       \
            &ReverbEngine::updateDecayHigh##Name, &ReverbEngine::process##Name                               \
    }

// One entry per line; a mode not built yet runs "Large Room"'s routines.
const ModeRoutines kModeTable[kNumModes] = {
    KESTRUNE_MODE_ROUTINES(LargeRoom),    // 0 "Large Room"
    KESTRUNE_MODE_ROUTINES(MediumRoom),   // 1 "Medium Room"
    KESTRUNE_MODE_ROUTINES(BrightRoom),   // 2 "Bright Room"
    KESTRUNE_MODE_ROUTINES(LargeChamber), // 3 "Large Chamber"
    KESTRUNE_MODE_ROUTINES(DarkRoom),     // 4 "Dark Room"
    KESTRUNE_MODE_ROUTINES(DarkChamber),  // 5 "Dark Chamber"
    KESTRUNE_MODE_ROUTINES(DarkSpace),    // 6 "Dark Space"
    KESTRUNE_MODE_ROUTINES(Nostromo),     // 7 "Nostromo"
    KESTRUNE_MODE_ROUTINES(Narcissus),    // 8 "Narcissus"
    KESTRUNE_MODE_ROUTINES(Sulaco),       // 9 "Sulaco"
    KESTRUNE_MODE_ROUTINES(LV426),        // 10 "LV-426"
    KESTRUNE_MODE_ROUTINES(DenseRoom),    // 11 "Dense Room"
};

#undef KESTRUNE_MODE_ROUTINES

} // namespace kestrune
