#pragma once

// Every save the processor makes (preset files, preferences) goes through here: a failed save reports
// failure and leaves the old file as it was.

#include <juce_core/juce_core.h>

#include <string_view>
#include <sys/types.h>

namespace kestrune
{
// Writes bytes to a new hidden file beside target, checks that every byte was written, flushes it to
// the disk and renames it over target. On any failure target is untouched and the new file removed.
bool replaceFileWhole(const juce::File& target, std::string_view bytes);

// How the bytes reach the disk (::write unless a test plays a full disk). Process-wide; while one of
// these lives, every save writes through the given function.
using WriteFunction = ssize_t (*)(int fd, const void* data, size_t size);
class ScopedWriteFunction
{
  public:
    explicit ScopedWriteFunction(WriteFunction function);
    ~ScopedWriteFunction();

  private:
    WriteFunction previous;
};
} // namespace kestrune
