#include "WavInput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrune::render
{
namespace
{
constexpr juce::uint32 fourCC(const char (&id)[5])
{
    return static_cast<juce::uint32>(static_cast<unsigned char>(id[0])) |
           static_cast<juce::uint32>(static_cast<unsigned char>(id[1])) << 8 |
           static_cast<juce::uint32>(static_cast<unsigned char>(id[2])) << 16 |
           static_cast<juce::uint32>(static_cast<unsigned char>(id[3])) << 24;
}

juce::uint16 le16(const unsigned char* p)
{
    return static_cast<juce::uint16>(p[0] | p[1] << 8);
}
juce::uint32 le32(const unsigned char* p)
{
    return static_cast<juce::uint32>(p[0]) | static_cast<juce::uint32>(p[1]) << 8 |
           static_cast<juce::uint32>(p[2]) << 16 | static_cast<juce::uint32>(p[3]) << 24;
}
juce::uint64 le64(const unsigned char* p)
{
    return static_cast<juce::uint64>(le32(p)) | static_cast<juce::uint64>(le32(p + 4)) << 32;
}

bool readAt(juce::InputStream& in, juce::int64 position, unsigned char* destination, int bytes)
{
    return in.setPosition(position) && in.read(destination, bytes) == bytes;
}

// A chunk id as it reads ("cue "), or its bytes in hexadecimal when they are not printable.
std::string describeId(juce::uint32 id)
{
    std::string text, hex = "0x";
    bool printable = true;
    for (int i = 0; i < 4; ++i)
    {
        const int c = static_cast<int>((id >> (8 * i)) & 0xff);
        printable = printable && c >= 0x20 && c <= 0x7e;
        text += static_cast<char>(c);
        hex += "0123456789abcdef"[c >> 4];
        hex += "0123456789abcdef"[c & 15];
    }
    return printable ? "\"" + text + "\"" : hex;
}

// KSDATAFORMAT_SUBTYPE_PCM and _IEEE_FLOAT share everything but their first two bytes.
constexpr unsigned char kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                              0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};

std::optional<std::string> readFormat(const unsigned char* f, juce::uint32 size, WavLayout& layout)
{
    auto tag = le16(f);
    layout.channels = le16(f + 2);
    layout.sampleRate = le32(f + 4);
    layout.bitsPerSample = le16(f + 14);
    if (tag == 0xfffe)
    {
        if (size < 40)
            return "its extensible fmt chunk is " + std::to_string(size) + " bytes, too short for one";
        if (std::memcmp(f + 26, kSubFormatTail, sizeof kSubFormatTail) != 0)
            return std::string("its extensible fmt chunk names a sample format other than PCM or float");
        tag = le16(f + 24);
    }
    if (tag != 1 && tag != 3)
        return "its sample format (tag " + std::to_string(tag) + ") is neither PCM nor float";
    layout.floatingPoint = tag == 3;
    const auto bits = layout.bitsPerSample;
    const bool supported =
        layout.floatingPoint ? bits == 32 : (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    if (!supported)
        return std::to_string(bits) + "-bit " + (layout.floatingPoint ? "float" : "integer") +
               " samples are not supported (8, 16, 24 or 32-bit integer, or 32-bit float)";
    if (layout.channels == 0)
        return std::string("its fmt chunk gives 0 channels");
    if (layout.sampleRate == 0)
        return std::string("its fmt chunk gives a sample rate of 0");
    return std::nullopt;
}

// The canonical header JUCE's reader is given: fmt and data alone, RF64 when the data needs it.
juce::MemoryBlock canonicalHeader(const WavLayout& layout)
{
    const auto dataBytes =
        static_cast<juce::uint64>(layout.frames) * static_cast<juce::uint64>(layout.bytesPerFrame());
    const bool rf64 = dataBytes > 0xffffffffull - 36;
    juce::MemoryOutputStream out;
    out.writeInt(static_cast<int>(fourCC(rf64 ? "RF64" : "RIFF")));
    out.writeInt(rf64 ? -1 : static_cast<int>(36 + dataBytes));
    out.writeInt(static_cast<int>(fourCC("WAVE")));
    if (rf64)
    {
        out.writeInt(static_cast<int>(fourCC("ds64")));
        out.writeInt(28);
        out.writeInt64(static_cast<juce::int64>(72 + dataBytes)); // RIFF size
        out.writeInt64(static_cast<juce::int64>(dataBytes));
        out.writeInt64(layout.frames);
        out.writeInt(0); // no table
    }
    const int blockAlign = layout.bytesPerFrame();
    out.writeInt(static_cast<int>(fourCC("fmt ")));
    out.writeInt(16);
    out.writeShort(static_cast<short>(layout.floatingPoint ? 3 : 1));
    out.writeShort(static_cast<short>(layout.channels));
    out.writeInt(static_cast<int>(layout.sampleRate));
    out.writeInt(static_cast<int>(layout.sampleRate * static_cast<juce::uint32>(blockAlign)));
    out.writeShort(static_cast<short>(blockAlign));
    out.writeShort(static_cast<short>(layout.bitsPerSample));
    out.writeInt(static_cast<int>(fourCC("data")));
    out.writeInt(rf64 ? -1 : static_cast<int>(dataBytes));
    return out.getMemoryBlock();
}

// The canonical header followed by the data chunk's whole frames, read from the source stream.
class CanonicalWavStream final : public juce::InputStream
{
  public:
    CanonicalWavStream(std::unique_ptr<juce::InputStream> s, const WavLayout& layout)
        : source(std::move(s)), header(canonicalHeader(layout)), dataStart(layout.dataStart),
          total(static_cast<juce::int64>(header.getSize()) + layout.frames * layout.bytesPerFrame())
    {
    }

    juce::int64 getTotalLength() override { return total; }
    bool isExhausted() override { return position >= total; }
    juce::int64 getPosition() override { return position; }
    bool setPosition(juce::int64 newPosition) override
    {
        position = juce::jlimit<juce::int64>(0, total, newPosition);
        return true;
    }

    int read(void* destination, int bytes) override
    {
        auto* out = static_cast<char*>(destination);
        const auto headerSize = static_cast<juce::int64>(header.getSize());
        int done = 0;
        while (done < bytes && position < total)
        {
            const auto want = static_cast<int>(std::min<juce::int64>(bytes - done, total - position));
            int got = 0;
            if (position < headerSize)
            {
                got = static_cast<int>(std::min<juce::int64>(want, headerSize - position));
                std::memcpy(out + done, static_cast<const char*>(header.getData()) + position, (size_t)got);
            }
            else if (source->setPosition(dataStart + position - headerSize))
                got = source->read(out + done, want);
            if (got <= 0)
                break;
            done += got;
            position += got;
        }
        return done;
    }

  private:
    std::unique_ptr<juce::InputStream> source;
    juce::MemoryBlock header;
    juce::int64 dataStart, total, position = 0;
};
} // namespace

std::optional<std::string> scanWav(juce::InputStream& in, WavLayout& layout)
{
    layout = {};
    const auto fileSize = in.getTotalLength();
    unsigned char head[12];
    if (fileSize < 12 || !readAt(in, 0, head, 12))
        return std::string("it is too short to be a WAV file");
    const bool rf64 = le32(head) == fourCC("RF64");
    if ((le32(head) != fourCC("RIFF") && !rf64) || le32(head + 8) != fourCC("WAVE"))
        return std::string("it has no RIFF/WAVE header");

    juce::int64 position = 12;
    juce::uint64 ds64DataBytes = 0;
    if (rf64)
    {
        unsigned char ds64[8 + 28];
        if (!readAt(in, position, ds64, sizeof ds64) || le32(ds64) != fourCC("ds64") || le32(ds64 + 4) < 28)
            return std::string("it is an RF64 file without a ds64 chunk");
        ds64DataBytes = le64(ds64 + 16);
        position += 8 + le32(ds64 + 4) + (le32(ds64 + 4) & 1);
    }

    bool haveFormat = false, haveData = false;
    std::string overrun; // the chunk that claims to reach past the end, if the walk stopped at one
    // The walk reads one header per chunk and skips every body by its size; the RIFF size is not
    // trusted (streaming writers leave it 0 or 0xFFFFFFFF), the file's own end is.
    while (!(haveFormat && haveData) && position + 8 <= fileSize)
    {
        unsigned char chunk[8];
        if (!readAt(in, position, chunk, 8))
            break;
        const auto id = le32(chunk);
        const juce::uint64 size = le32(chunk + 4);
        const auto body = position + 8;
        const auto available = static_cast<juce::uint64>(fileSize - body);

        if (id == fourCC("fmt ") && !haveFormat)
        {
            if (size < 16)
                return "its fmt chunk is " + std::to_string(size) + " bytes, too short for one";
            if (size > available)
                return "its fmt chunk claims " + std::to_string(size) + " bytes, past the end of the file";
            unsigned char format[40] = {};
            if (!readAt(in, body, format, static_cast<int>(std::min<juce::uint64>(size, sizeof format))))
                return std::string("its fmt chunk cannot be read");
            if (auto error = readFormat(format, static_cast<juce::uint32>(size), layout))
                return error;
            haveFormat = true;
        }
        else if (id == fourCC("data") && !haveData)
        {
            layout.claimedDataBytes = rf64 && size == 0xffffffffu ? ds64DataBytes : size;
            layout.dataStart = body;
            layout.presentDataBytes = static_cast<juce::int64>(std::min(layout.claimedDataBytes, available));
            haveData = true;
            if (layout.claimedDataBytes > available)
                break; // nothing can follow a data chunk that reaches the end
            position =
                body + static_cast<juce::int64>(layout.claimedDataBytes + (layout.claimedDataBytes & 1));
            continue;
        }
        if (size > available)
        {
            overrun = describeId(id) + " chunk at byte " + std::to_string(position) + ", which claims " +
                      std::to_string(size) + " bytes, past the end of the " + std::to_string(fileSize) +
                      "-byte file";
            break;
        }
        position = body + static_cast<juce::int64>(size + (size & 1));
    }

    if (!haveFormat || !haveData)
    {
        const std::string missing = !haveFormat && !haveData ? "fmt and data chunks"
                                    : !haveFormat            ? "fmt chunk"
                                                             : "data chunk";
        return "it has no " + missing + (overrun.empty() ? std::string() : " before its " + overrun);
    }
    layout.frames = layout.presentDataBytes / layout.bytesPerFrame();
    return std::nullopt;
}

std::optional<std::string> openWav(std::unique_ptr<juce::InputStream> source,
                                   const std::function<void(const std::string&)>& warn,
                                   std::unique_ptr<juce::AudioFormatReader>& reader)
{
    WavLayout layout;
    {
        // One system call per chunk header would make a file of many small chunks slow to walk.
        juce::BufferedInputStream walk(*source, 1 << 16);
        if (auto error = scanWav(walk, layout))
            return "not a readable WAV file: " + *error;
    }
    if (layout.channels > 2)
        return "has " + std::to_string(layout.channels) +
               " channels; only mono and stereo input is supported";
    if (layout.sampleRate < 8000 || layout.sampleRate > 192000)
        return "sample rate " + std::to_string(layout.sampleRate) + " Hz is outside 8000 to 192000 Hz";
    if (layout.claimedDataBytes > static_cast<juce::uint64>(layout.presentDataBytes) && warn)
        warn("its data chunk claims " + std::to_string(layout.claimedDataBytes) +
             " bytes but the file holds " + std::to_string(layout.presentDataBytes) +
             " after it; rendering the " + std::to_string(layout.frames) + " frames there are");

    // The reader asks for a few kB at a time; a large buffer saves most of the system calls.
    auto canonical = std::make_unique<CanonicalWavStream>(std::move(source), layout);
    auto buffered = std::make_unique<juce::BufferedInputStream>(canonical.release(), 1 << 18, true);
    juce::WavAudioFormat wav;
    reader.reset(wav.createReaderFor(buffered.release(), true));
    if (reader == nullptr || reader->lengthInSamples != layout.frames)
    {
        reader.reset();
        return std::string("not a readable WAV file");
    }
    return std::nullopt;
}

std::unique_ptr<RegularFileStream> RegularFileStream::open(const juce::File& file, std::string& error)
{
    // Non-blocking, so that opening a FIFO returns at once instead of waiting for a writer.
    const int fd = ::open(file.getFullPathName().toRawUTF8(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        error = errno == ENOENT ? "no such file" : std::strerror(errno);
        return nullptr;
    }
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
    {
        ::close(fd);
        error = S_ISDIR(status.st_mode) ? "it is a folder"
                                        : "not a regular file (a FIFO, device or socket cannot be read)";
        return nullptr;
    }
    return std::unique_ptr<RegularFileStream>(new RegularFileStream(fd, status.st_size));
}

RegularFileStream::~RegularFileStream()
{
    ::close(fd);
}

bool RegularFileStream::setPosition(juce::int64 newPosition)
{
    position = juce::jlimit<juce::int64>(0, size, newPosition);
    return true;
}

int RegularFileStream::read(void* destination, int bytes)
{
    auto* out = static_cast<char*>(destination);
    const auto wanted =
        static_cast<int>(std::max<juce::int64>(0, std::min<juce::int64>(bytes, size - position)));
    int done = 0;
    while (done < wanted)
    {
        const auto got = ::pread(fd, out + done, static_cast<size_t>(wanted - done), position);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
        {
            readFailed = true; // an error, or the file shrank after it was opened
            break;
        }
        done += static_cast<int>(got);
        position += got;
    }
    return done;
}

std::optional<std::string> notRegularFile(const juce::File& file)
{
    struct stat status
    {
    };
    if (::stat(file.getFullPathName().toRawUTF8(), &status) != 0 || S_ISREG(status.st_mode))
        return std::nullopt;
    return std::string(S_ISDIR(status.st_mode) ? "it is a folder" : "it is not a regular file");
}

} // namespace kestrune::render
