// Fuzzes setStateInformation, setStateFromText and loadPresetFile. The first byte picks the entry
// point, the rest is the input. Whatever state results stays in range and survives its own host-state
// round trip. Run: state_fuzzer -runs=N tests/fuzz/corpus/state (copy the corpus first if new inputs
// should not be written into the source tree).
#include "KestruneRoom.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace
{
KestruneRoom* processor = nullptr;
KestruneRoom* restored = nullptr; // takes each resulting state back from the host
juce::File presetFile;

void check(bool condition, const char* what)
{
    if (!condition)
    {
        std::fprintf(stderr, "state_fuzzer: %s\n", what);
        std::abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Not a static initialiser object: it would be torn down after JUCE's own statics.
    juce::initialiseJuce_GUI();
    static const auto folder = juce::File::getSpecialLocation(juce::File::tempDirectory)
                                   .getNonexistentChildFile("kestrune-fuzz", "", false);
    folder.createDirectory();
    presetFile = folder.getChildFile("input.kpreset");
    processor = new KestruneRoom(folder.getChildFile("preferences"));
    restored = new KestruneRoom(folder.getChildFile("preferences"));
    std::atexit([] {
        delete restored;
        delete processor;
        folder.deleteRecursively();
        juce::shutdownJuce_GUI();
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > (1u << 21))
        return 0;
    const auto entry = data[0] % 3;
    const auto* bytes = reinterpret_cast<const char*>(data + 1);
    const auto length = size - 1;
    switch (entry)
    {
    case 0: processor->setStateInformation(bytes, static_cast<int>(length)); break;
    case 1: processor->setStateFromText(juce::String::fromUTF8(bytes, static_cast<int>(length))); break;
    default:
        check(presetFile.replaceWithData(bytes, length), "cannot write the input file");
        processor->loadPresetFile(presetFile);
        break;
    }

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    for (int k = 0; k < processor->getNumParameters(); ++k)
    {
        const auto v = processor->getParameter(k);
        check(v >= 0.0f && v <= 1.0f, "a parameter left 0..1");
    }
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    check(processor->uiWidth >= 367 && processor->uiWidth <= 1102, "width out of the editor's limits");
    check(processor->uiHeight >= 230 && processor->uiHeight <= 690, "height out of the editor's limits");

    juce::MemoryBlock state, again;
    processor->getStateInformation(state);
    restored->setStateInformation(state.getData(), static_cast<int>(state.getSize()));
    restored->getStateInformation(again);
    check(state == again, "the state written does not read back");
    return 0;
}
