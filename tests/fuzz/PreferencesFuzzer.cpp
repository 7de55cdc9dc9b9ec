// Fuzzes the preferences reader: the input is a preferences file. Reading it gives its values or none,
// quickly, and what was read saves and reads back: once saved, a second save changes nothing.
// Run: preferences_fuzzer -runs=N tests/fuzz/corpus/preferences (copy the corpus first if new inputs
// should not be written into the source tree).
#include "KestruneRoom.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace
{
juce::File file;

void check(bool condition, const char* what)
{
    if (!condition)
    {
        std::fprintf(stderr, "preferences_fuzzer: %s\n", what);
        std::abort();
    }
}

juce::StringPairArray readAndSave()
{
    KestrunePropertiesFile properties(file, juce::PropertiesFile::Options());
    const auto values = properties.getAllProperties();
    check(properties.save(), "cannot save the preferences");
    return values;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static const auto folder = juce::File::getSpecialLocation(juce::File::tempDirectory)
                                   .getNonexistentChildFile("kestrune-fuzz-preferences", "", false);
    folder.createDirectory();
    file = folder.getChildFile("KestruneRoomPreferences.settings");
    std::atexit([] { folder.deleteRecursively(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    check(file.replaceWithData(data, size), "cannot write the input file");
    const auto read = readAndSave();
    const auto saved = readAndSave();
    for (const auto& key : read.getAllKeys())
        check(saved.containsKey(key), "a value was lost on saving");
    check(readAndSave() == saved, "a saved file reads back otherwise");
    return 0;
}
