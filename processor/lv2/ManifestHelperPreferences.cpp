// Linked into the LV2 manifest helper, which loads the plug-in at build time and so constructs its
// processor (and an editor, to ask whether it resizes): before the helper's main runs, this points the
// processor's preferences at a folder inside the build, so that building never writes into the
// builder's home or /var. The home folder is pointed into the build too, at a folder that does not
// exist, so that the editor makes no user preset folder. JUCE also asks gsettings for the desktop
// theme, whose dconf back end would create ~/.cache/dconf; the memory back end does not.

#include <cstdlib>

namespace
{
const int pointedIntoTheBuild = setenv("KESTRUNE_PREFERENCES_FOLDER", KESTRUNE_HELPER_PREFERENCES, 1) +
                                setenv("HOME", KESTRUNE_HELPER_PREFERENCES "/no-home", 1) +
                                setenv("GSETTINGS_BACKEND", "memory", 1);
} // namespace
