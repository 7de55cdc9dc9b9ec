// A paced run as a host drives the plug-in: an audio thread wakes at every block deadline (SCHED_FIFO
// when allowed, pinned to --core), takes the callback lock, runs processBlock and must be done by the
// next deadline; another thread picks a mode every --interval seconds as a user does in the editor
// (setParameterNotifyingHost, off the audio thread). With --no-switches that thread keeps the same
// schedule and changes nothing, which measures the machine's own misses at the same moments.
//
// Reports the blocks over their deadline in the whole run and at the switches (a block that woke from
// one block before a switch began to two blocks after it ended), the longest wake-up delay (the
// machine's share: in a virtual machine a sleeping vCPU can take milliseconds to be run again), the
// longest wait for the callback lock and the longest processBlock.
//
//   paced_run [--rate 48000] [--block 64] [--switches 50] [--interval 0.2] [--core 6] [--no-switches]

#include "KestruneRoom.h"

#include <juce_events/juce_events.h>

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace
{
struct Options
{
    double rate = 48000.0;
    int block = 64;
    int switches = 50;
    double interval = 0.2;
    int core = 6;
    bool withSwitches = true;
};

int64_t now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void sleepUntil(int64_t ns)
{
    const timespec t{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) != 0)
    {
    }
}

// One paced block, in ns of CLOCK_MONOTONIC.
struct Block
{
    int64_t deadlineStart = 0, woke = 0, locked = 0, done = 0, deadline = 0;
};

struct Span
{
    int64_t begin = 0, end = 0;
};

bool makeRealtime(int core)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(core, &set);
    pthread_setaffinity_np(pthread_self(), sizeof(set), &set);
    sched_param p{};
    p.sched_priority = 80;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &p) == 0;
}

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i)
    {
        const std::string a = argv[i];
        auto next = [&] { return i + 1 < argc ? argv[++i] : "0"; };
        if (a == "--rate")
            o.rate = std::atof(next());
        else if (a == "--block")
            o.block = std::atoi(next());
        else if (a == "--switches")
            o.switches = std::atoi(next());
        else if (a == "--interval")
            o.interval = std::atof(next());
        else if (a == "--core")
            o.core = std::atoi(next());
        else if (a == "--no-switches")
            o.withSwitches = false;
    }
    return o;
}
} // namespace

int main(int argc, char** argv)
{
    const Options o = parse(argc, argv);
    const juce::ScopedJuceInitialiser_GUI juce;
    juce::TemporaryFile preferences;
    preferences.getFile().createDirectory();
    KestruneRoom processor(preferences.getFile());
    processor.setRateAndBufferSizeDetails(o.rate, o.block);
    processor.prepareToPlay(o.rate, o.block);

    const int64_t period = static_cast<int64_t>(1e9 * o.block / o.rate);
    // Half a second before the first switch and half a second after the last.
    const double seconds = 1.0 + o.switches * o.interval;
    const int totalBlocks = static_cast<int>(seconds * o.rate / o.block);
    std::vector<Block> blocks(static_cast<size_t>(totalBlocks));
    std::vector<Span> switches(static_cast<size_t>(o.switches));
    std::atomic<bool> started{false}, finished{false};
    bool realtime = false;

    std::thread audio(
        [&]
        {
            realtime = makeRealtime(o.core);
            juce::AudioBuffer<float> buffer(2, o.block);
            juce::MidiBuffer midi;
            std::minstd_rand noise(3);
            std::uniform_real_distribution<float> sample(-0.3f, 0.3f);
            // Unpaced first: the first second of blocks at a rate touches every page of the rings.
            for (int b = 0; b < static_cast<int>(o.rate / o.block); ++b)
            {
                const juce::ScopedLock lock(processor.getCallbackLock());
                processor.processBlock(buffer, midi);
            }
            started = true;
            int64_t wake = now() + period;
            for (auto& record : blocks)
            {
                sleepUntil(wake);
                record.deadlineStart = wake;
                record.woke = now();
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < o.block; ++i)
                        buffer.setSample(c, i, sample(noise));
                {
                    const juce::ScopedLock lock(processor.getCallbackLock());
                    record.locked = now();
                    processor.processBlock(buffer, midi);
                }
                record.done = now();
                wake += period;
                record.deadline = wake;
                // A late block pushes the next wake-up back, as a host's callback would run late too.
                wake = std::max(wake, record.done);
            }
            finished = true;
        });

    while (!started)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE("-Wdeprecated-declarations")
    for (int s = 0; s < o.switches && !finished; ++s)
    {
        auto& span = switches[static_cast<size_t>(s)];
        span.begin = now();
        if (o.withSwitches)
        {
            // Every mode in turn, as the mode selector picks them (entry / 12).
            processor.beginParameterChangeGesture(kestrune::kType);
            processor.setParameterNotifyingHost(kestrune::kType, static_cast<float>(s % 12 + 1) / 12.0f);
            processor.endParameterChangeGesture(kestrune::kType);
        }
        span.end = now();
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(o.interval * 1e6)));
    }
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    audio.join();

    int over = 0, switchesWithOver = 0;
    int64_t worstBlock = 0, worstWake = 0, worstWait = 0, worstWork = 0;
    for (const auto& b : blocks)
    {
        over += b.done > b.deadline ? 1 : 0;
        worstBlock = std::max(worstBlock, b.done - b.deadlineStart);
        worstWake = std::max(worstWake, b.woke - b.deadlineStart);
        worstWait = std::max(worstWait, b.locked - b.woke);
        worstWork = std::max(worstWork, b.done - b.locked);
    }
    // The blocks at each switch point; the misses elsewhere tell how many switch points the machine
    // alone would have hit.
    std::vector<bool> atSwitch(blocks.size(), false);
    int64_t worstWorkAtSwitch = 0;
    std::vector<int64_t> dearestAtEachSwitch; // the dearest processBlock of each switch point
    double windowBlocks = 0.0;
    for (const auto& s : switches)
    {
        bool missed = false;
        int window = 0;
        int64_t dearest = 0;
        for (size_t i = 0; i < blocks.size(); ++i)
        {
            const auto& b = blocks[i];
            if (b.deadlineStart >= s.begin - period && b.deadlineStart <= s.end + 2 * period)
            {
                missed = missed || b.done > b.deadline;
                atSwitch[i] = true;
                worstWorkAtSwitch = std::max(worstWorkAtSwitch, b.done - b.locked);
                dearest = std::max(dearest, b.done - b.locked);
                ++window;
            }
        }
        dearestAtEachSwitch.push_back(dearest);
        switchesWithOver += missed ? 1 : 0;
        windowBlocks += window;
    }
    int overElsewhere = 0, elsewhere = 0;
    std::vector<int64_t> workElsewhere;
    for (size_t i = 0; i < blocks.size(); ++i)
        if (!atSwitch[i])
        {
            ++elsewhere;
            overElsewhere += blocks[i].done > blocks[i].deadline ? 1 : 0;
            workElsewhere.push_back(blocks[i].done - blocks[i].locked);
        }
    // Medians: the cost a switch adds to the audio thread, clear of the machine's rare long stalls.
    auto median = [](std::vector<int64_t> v)
    {
        if (v.empty())
            return int64_t{0};
        std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    const double missRate = elsewhere > 0 ? static_cast<double>(overElsewhere) / elsewhere : 0.0;
    const double perWindow = o.switches > 0 ? windowBlocks / o.switches : 0.0;
    const double expected = o.switches * (1.0 - std::pow(1.0 - missRate, perWindow));
    const auto us = [](int64_t ns) { return static_cast<double>(ns) / 1000.0; };
    std::printf(
        "rate %.0f block %d, %d %s: %d of %d blocks over deadline; at %d of the %d switch points "
        "(%.1f expected from the misses elsewhere); budget %.1f us, longest block %.1f, wake-up %.1f, "
        "lock wait %.1f, processBlock %.1f us (%.1f at the switch points); median processBlock %.1f us, "
        "of the dearest at each switch point %.1f us%s\n",
        o.rate, o.block, o.switches, o.withSwitches ? "switches" : "idle points", over, totalBlocks,
        switchesWithOver, o.switches, expected, us(period), us(worstBlock), us(worstWake), us(worstWait),
        us(worstWork), us(worstWorkAtSwitch), us(median(workElsewhere)), us(median(dearestAtEachSwitch)),
        realtime ? "" : " (not real-time)");
    return 0;
}
