#pragma once

// kestrune-render's WAV input. The chunk structure is walked here, against the file's real size,
// before JUCE's WAV reader sees anything: that reader trusts every size and count a header claims
// (a data chunk of 4 GB in a 10 kB file, a cue chunk of a million points) and reads metadata the
// renderer never uses. It is handed a canonical header and the audio bytes alone.

#include <juce_audio_formats/juce_audio_formats.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kestrune::render
{

// What the chunk walk found: the sample format and where the whole frames the file holds lie.
struct WavLayout
{
    bool floatingPoint = false;
    unsigned channels = 0;
    unsigned sampleRate = 0;
    unsigned bitsPerSample = 0; // of the container: 24-bit audio in 32-bit words reads as 32
    juce::int64 dataStart = 0;  // byte offset of the first frame
    juce::int64 frames = 0;     // whole frames present in the file
    juce::uint64 claimedDataBytes = 0;
    juce::int64 presentDataBytes = 0; // less than claimed when the file ends early

    int bytesPerFrame() const { return static_cast<int>(channels * (bitsPerSample / 8)); }
};

// Walks the RIFF or RF64 chunks of `in` (its getTotalLength() is the real size) until the fmt and
// data chunks are both found; reads nothing but chunk headers, ds64 and fmt. The error says why the
// stream cannot be read as a WAV file.
std::optional<std::string> scanWav(juce::InputStream& in, WavLayout& layout);

// The input the renderer runs: mono or stereo, 8 to 192 kHz, 8/16/24/32-bit integer or 32-bit float.
// `warn` hears about a data chunk that claims more than the file holds (it is trimmed to what is
// there). The reader reads `source` only inside the data chunk.
std::optional<std::string> openWav(std::unique_ptr<juce::InputStream> source,
                                   const std::function<void(const std::string&)>& warn,
                                   std::unique_ptr<juce::AudioFormatReader>& reader);

// A stream over a regular file, opened without blocking (a FIFO or device is refused, not waited on)
// and read with positioned reads up to the size the file had when opened. A failed read is kept.
class RegularFileStream final : public juce::InputStream
{
  public:
    // Null and the reason when `file` cannot be opened or is not a regular file.
    static std::unique_ptr<RegularFileStream> open(const juce::File& file, std::string& error);
    ~RegularFileStream() override;

    juce::int64 getTotalLength() override { return size; }
    bool isExhausted() override { return position >= size; }
    int read(void* destination, int bytes) override;
    juce::int64 getPosition() override { return position; }
    bool setPosition(juce::int64 newPosition) override;

    // True once a read met an error or found the file shorter than it was.
    bool failed() const { return readFailed; }

  private:
    RegularFileStream(int descriptor, juce::int64 length) : fd(descriptor), size(length) {}
    int fd;
    juce::int64 size;
    juce::int64 position = 0;
    bool readFailed = false;
};

// Null when `file` does not exist or is a regular file (following links); otherwise why it is not
// one. A FIFO or device must neither be read as a file nor be replaced by a rename.
std::optional<std::string> notRegularFile(const juce::File& file);

} // namespace kestrune::render
