#include "FileSave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace kestrune
{
namespace
{
std::atomic<WriteFunction> writeFunction{&::write};

// A disk that fills up takes part of a write and refuses the rest: every byte is checked.
bool writeAll(int fd, std::string_view bytes)
{
    const auto write = writeFunction.load();
    while (!bytes.empty())
    {
        const auto n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// A name no other save picks: this process's id and a count. Hidden, so that no preset menu lists it.
juce::File temporaryBeside(const juce::File& target)
{
    static std::atomic<unsigned> count{0};
    return target.getSiblingFile("." + target.getFileName() + "." + juce::String(::getpid()) + "-" +
                                 juce::String(count.fetch_add(1)) + ".tmp");
}
} // namespace

ScopedWriteFunction::ScopedWriteFunction(WriteFunction function) : previous(writeFunction.exchange(function))
{
}
ScopedWriteFunction::~ScopedWriteFunction()
{
    writeFunction.store(previous);
}

bool replaceFileWhole(const juce::File& target, std::string_view bytes)
{
    if (target == juce::File() || target.isDirectory())
        return false;
    juce::File temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt)
    {
        temporary = temporaryBeside(target);
        fd = ::open(temporary.getFullPathName().toRawUTF8(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;

    // A file that is replaced keeps its permissions.
    struct stat old
    {
    };
    if (::stat(target.getFullPathName().toRawUTF8(), &old) == 0)
        (void)::fchmod(fd, old.st_mode & 07777);

    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.getFullPathName().toRawUTF8(), target.getFullPathName().toRawUTF8()) == 0;
    if (!ok)
    {
        ::unlink(temporary.getFullPathName().toRawUTF8());
        return false;
    }
    // The new name reaches the disk with its folder.
    if (const int folder = ::open(target.getParentDirectory().getFullPathName().toRawUTF8(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        folder >= 0)
    {
        (void)::fsync(folder);
        ::close(folder);
    }
    return true;
}
} // namespace kestrune
