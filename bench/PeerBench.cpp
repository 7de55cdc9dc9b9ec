// Every mode's speed next to zita-reverb's (the LADSPA build in Debian's rev-plugins), at 48 kHz stereo
// in 512-sample blocks on noise, each mode alternating with zita in chunks of audio on this thread.
//
//   taskset -c 7 peer_bench [--rounds N] [--seconds S] [--plugin FILE]

#include "Alternation.h"

#include <ladspa.h>

#include <dirent.h>
#include <dlfcn.h>
#include <linux/perf_event.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#include <xmmintrin.h>
#endif

using namespace kestrune;
using namespace kestrune::bench;

namespace
{

// A loaded LADSPA plug-in with two audio inputs and two outputs, its controls at their defaults.
class Peer
{
  public:
    static std::optional<Peer> open(const std::string& file, std::string& error)
    {
        void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr)
        {
            error = dlerror();
            return std::nullopt;
        }
        const auto descriptors =
            reinterpret_cast<LADSPA_Descriptor_Function>(dlsym(library, "ladspa_descriptor"));
        if (descriptors == nullptr)
        {
            error = file + " is not a LADSPA plug-in";
            return std::nullopt;
        }
        Peer peer;
        for (unsigned long i = 0; const LADSPA_Descriptor* d = descriptors(i); ++i)
        {
            int audioIn = 0, audioOut = 0;
            for (unsigned long p = 0; p < d->PortCount; ++p)
                if (LADSPA_IS_PORT_AUDIO(d->PortDescriptors[p]))
                    ++(LADSPA_IS_PORT_INPUT(d->PortDescriptors[p]) ? audioIn : audioOut);
            std::printf("  %s: descriptor %lu, %s (\"%s\"), %d in, %d out\n", file.c_str(), i, d->Label,
                        d->Name, audioIn, audioOut);
            if (peer.descriptor == nullptr && std::string(d->Label) == "zita-reverb" && audioIn == 2 &&
                audioOut == 2)
                peer.descriptor = d;
        }
        if (peer.descriptor == nullptr)
        {
            error = file + " has no stereo zita-reverb";
            return std::nullopt;
        }
        peer.handle = peer.descriptor->instantiate(peer.descriptor, kRate);
        if (peer.handle == nullptr)
        {
            error = "zita-reverb would not instantiate at 48 kHz";
            return std::nullopt;
        }
        peer.controls.resize(peer.descriptor->PortCount);
        for (unsigned long p = 0; p < peer.descriptor->PortCount; ++p)
        {
            const auto kind = peer.descriptor->PortDescriptors[p];
            if (LADSPA_IS_PORT_CONTROL(kind))
            {
                peer.controls[p] = defaultValue(peer.descriptor->PortRangeHints[p]);
                peer.descriptor->connect_port(peer.handle, p, &peer.controls[p]);
                if (LADSPA_IS_PORT_INPUT(kind))
                    std::printf("    %-12s %g\n", peer.descriptor->PortNames[p], peer.controls[p]);
            }
            else
                (LADSPA_IS_PORT_INPUT(kind) ? peer.inputs : peer.outputs).push_back(p);
        }
        if (peer.descriptor->activate != nullptr)
            peer.descriptor->activate(peer.handle);
        return peer;
    }

    Peer(Peer&& other) noexcept
        : descriptor(std::exchange(other.descriptor, nullptr)), handle(std::exchange(other.handle, nullptr)),
          controls(std::move(other.controls)), inputs(std::move(other.inputs)),
          outputs(std::move(other.outputs))
    {
        // The plug-in holds pointers to the controls, which moved with the vector's storage unchanged.
    }
    Peer& operator=(Peer&&) = delete;
    ~Peer()
    {
        if (handle == nullptr)
            return;
        if (descriptor->deactivate != nullptr)
            descriptor->deactivate(handle);
        descriptor->cleanup(handle);
    }

    void run(const float* left, const float* right, float* outL, float* outR, int n)
    {
        // A host's buffers may move from block to block, so the ports are connected for each.
        descriptor->connect_port(handle, inputs[0], const_cast<float*>(left));
        descriptor->connect_port(handle, inputs[1], const_cast<float*>(right));
        descriptor->connect_port(handle, outputs[0], outL);
        descriptor->connect_port(handle, outputs[1], outR);
        descriptor->run(handle, static_cast<unsigned long>(n));
    }

  private:
    Peer() = default;

    // The default a LADSPA hint names; low and high lie a quarter of the way in, on a log scale where
    // the port is logarithmic.
    static float defaultValue(const LADSPA_PortRangeHint& hint)
    {
        const auto h = hint.HintDescriptor;
        float lo = hint.LowerBound, hi = hint.UpperBound;
        if (LADSPA_IS_HINT_SAMPLE_RATE(h))
        {
            lo *= kRate;
            hi *= kRate;
        }
        const bool logarithmic = LADSPA_IS_HINT_LOGARITHMIC(h) && lo > 0.0f && hi > 0.0f;
        auto between = [&](float t) {
            return logarithmic ? std::exp(std::log(lo) * (1.0f - t) + std::log(hi) * t)
                               : lo * (1.0f - t) + hi * t;
        };
        float value = 0.0f;
        if (LADSPA_IS_HINT_DEFAULT_MINIMUM(h))
            value = lo;
        else if (LADSPA_IS_HINT_DEFAULT_LOW(h))
            value = between(0.25f);
        else if (LADSPA_IS_HINT_DEFAULT_MIDDLE(h))
            value = between(0.5f);
        else if (LADSPA_IS_HINT_DEFAULT_HIGH(h))
            value = between(0.75f);
        else if (LADSPA_IS_HINT_DEFAULT_MAXIMUM(h))
            value = hi;
        else if (LADSPA_IS_HINT_DEFAULT_1(h))
            value = 1.0f;
        else if (LADSPA_IS_HINT_DEFAULT_100(h))
            value = 100.0f;
        else if (LADSPA_IS_HINT_DEFAULT_440(h))
            value = 440.0f;
        else if (LADSPA_IS_HINT_BOUNDED_BELOW(h) && lo > 0.0f)
            value = lo; // no default and 0 out of range
        if (LADSPA_IS_HINT_INTEGER(h))
            value = std::round(value);
        return value;
    }

    const LADSPA_Descriptor* descriptor = nullptr;
    LADSPA_Handle handle = nullptr;
    std::vector<LADSPA_Data> controls;
    std::vector<unsigned long> inputs, outputs;
};

// The rev-plugins library in LADSPA_PATH's folders or the usual ones.
std::optional<std::string> findZita()
{
    std::vector<std::string> folders;
    if (const char* path = std::getenv("LADSPA_PATH"))
        for (std::string rest = path; !rest.empty();)
        {
            const auto colon = rest.find(':');
            folders.push_back(rest.substr(0, colon));
            rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
        }
    for (const char* f : {"/usr/lib/ladspa", "/usr/local/lib/ladspa", "/usr/lib/x86_64-linux-gnu/ladspa"})
        folders.push_back(f);
    for (const auto& folder : folders)
        if (DIR* dir = opendir(folder.c_str()))
        {
            std::optional<std::string> found;
            while (const dirent* entry = readdir(dir))
            {
                const std::string name = entry->d_name;
                if (name.rfind("zita-rev", 0) == 0 && name.size() > 3 &&
                    name.substr(name.size() - 3) == ".so")
                    found = folder + "/" + name;
            }
            closedir(dir);
            if (found)
                return found;
        }
    return std::nullopt;
}

// Core cycles of this thread where the kernel counts them (not in most virtual machines).
class CycleCounter
{
  public:
    CycleCounter()
    {
        perf_event_attr attr{};
        attr.size = sizeof attr;
        attr.type = PERF_TYPE_HARDWARE;
        attr.config = PERF_COUNT_HW_CPU_CYCLES;
        attr.exclude_kernel = 1;
        attr.exclude_hv = 1;
        fd = static_cast<int>(syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
        if (fd >= 0 && read() == 0 && read() == 0)
            fd = (close(fd), -1); // opened but not counting
    }
    ~CycleCounter()
    {
        if (fd >= 0)
            close(fd);
    }
    bool available() const { return fd >= 0; }
    uint64_t read() const
    {
        uint64_t count = 0;
        if (fd >= 0 && ::read(fd, &count, sizeof count) != sizeof count)
            count = 0;
        return count;
    }

  private:
    int fd = -1;
};

// The time stamp counter's rate in Hz against the monotonic clock, or 0 where there is none.
double tscRate()
{
#if defined(__x86_64__) || defined(__i386__)
    using clock = std::chrono::steady_clock;
    const auto t0 = clock::now();
    const uint64_t c0 = __rdtsc();
    while (clock::now() - t0 < std::chrono::milliseconds(200))
    {
    }
    const uint64_t c1 = __rdtsc();
    const double elapsed = std::chrono::duration<double>(clock::now() - t0).count();
    return static_cast<double>(c1 - c0) / elapsed;
#else
    return 0.0;
#endif
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = static_cast<int>(option(argc, argv, "--rounds", 5, 1, 1000));
    const double chunkSeconds = option(argc, argv, "--seconds", 2.0, 0.05, 600.0);
    std::optional<std::string> file;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--plugin")
            file = argv[i + 1];
    if (!file)
        file = findZita();
    if (!file)
    {
        std::printf("peer_bench: zita-reverb's LADSPA plug-in was not found under LADSPA_PATH or "
                    "/usr/lib/ladspa (Debian package rev-plugins); nothing measured.\n");
        return 0;
    }

#if defined(__x86_64__) || defined(__i386__)
    // As a host runs its plug-ins: denormals flushed to zero.
    _mm_setcsr(_mm_getcsr() | 0x8040);
#endif

    std::printf("peer: zita-reverb at its defaults\n");
    std::string error;
    auto peer = Peer::open(*file, error);
    if (!peer)
    {
        std::printf("peer_bench: %s; nothing measured.\n", error.c_str());
        return 0;
    }

    const CycleCounter counter;
    const double clock = counter.available() ? 0.0 : tscRate();
    const NoiseChunk noise(chunkSeconds);
    std::vector<float> outL(kBlock), outR(kBlock);

    auto zitaChunk = [&]
    {
        for (int b = 0; b < noise.blocks; ++b)
            peer->run(&noise.left[size_t(b * kBlock)], &noise.right[size_t(b * kBlock)], outL.data(),
                      outR.data(), kBlock);
    };

    std::printf(
        "\n%d rounds of %.2f s chunks per mode, alternating with zita; 48 kHz stereo, %d-sample blocks, "
        "thread CPU time\n",
        rounds, noise.seconds(), kBlock);
    if (counter.available())
        std::printf("cycles: core cycles counted by the CPU, per stereo sample\n");
    else if (clock > 0.0)
        std::printf("cycles: CPU time x the time stamp counter's rate, %.1f MHz (core cycles are not "
                    "countable here; a core clocked above that rate spends more than shown)\n",
                    clock * 1e-6);
    std::printf("\n%-14s %12s %10s %14s %12s\n", "mode", "x realtime", "/ zita", "cycles/sample",
                "zita x rt");

    double lowestRatio = 1e300;
    int slowestMode = 0;
    for (int mode = 0; mode < kNumModes; ++mode)
    {
        auto engine = makeEngine(mode);
        std::vector<double> engineCycles; // per chunk, beside the CPU seconds that alternate() gives
        auto engineChunk = [&]
        {
            const uint64_t c0 = counter.read();
            for (int b = 0; b < noise.blocks; ++b)
            {
                const float* in[2] = {&noise.left[size_t(b * kBlock)], &noise.right[size_t(b * kBlock)]};
                float* out[2] = {outL.data(), outR.data()};
                engine->process(in, out, kBlock, 2);
            }
            engineCycles.push_back(static_cast<double>(counter.read() - c0));
        };
        const auto seconds = alternate(rounds, {{engineChunk}, {zitaChunk}});
        engineCycles.erase(engineCycles.begin()); // the warm-up round's
        const double samples = noise.blocks * kBlock;
        const double engineX = noise.seconds() / median(seconds[0]);
        const double zitaX = noise.seconds() / median(seconds[1]);
        const double ratio = median(ratios(seconds[1], seconds[0]));
        const double perSample =
            counter.available() ? median(engineCycles) / samples : median(seconds[0]) * clock / samples;
        std::printf("%-14s %12.0f %10.2f %14.1f %12.0f\n", kModeNames[size_t(mode)], engineX, ratio,
                    perSample, zitaX);
        if (ratio < lowestRatio)
            lowestRatio = ratio, slowestMode = mode;
    }
    std::printf("\nlowest ratio to zita: %.2f (%s)\n", lowestRatio, kModeNames[size_t(slowestMode)]);
    return 0;
}
