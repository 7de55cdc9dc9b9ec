#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>

// Parameter values as the host and the editor see them, and their road to the engine. Any thread sets
// a value: it is readable at once and queued, without a lock or an allocation; the thread that owns
// the engine (the audio thread, before each block) applies the queued changes in the order they were
// made. So a mode switch never runs on a thread the audio thread has to wait for.
//
// Several threads may set values at once (host automation on the audio thread, the editor on the
// message thread). Each change takes its place in the queue first, and a value shown for a parameter
// is always that of its latest place, so what the engine ends with and what is shown agree.
class EngineChanges
{
  public:
    static constexpr int kParameters = 20;
    static constexpr int kReset = -1; // a queued change that clears the engine's signal state
    static constexpr uint64_t kCapacity = 1024;

    EngineChanges();

    // The value last set for parameter k (0..kParameters-1); -1 before any.
    float value(int k) const
    {
        return valueOf(shown[static_cast<size_t>(k)].load(std::memory_order_acquire));
    }

    // Queues parameter index (or kReset) at value and shows the value; false, with nothing done, when
    // the queue is full (no block has taken changes for a long while).
    bool push(int index, float value);

    // Applies every queued change that is ready with apply(index, value), in order. Only one thread
    // applies at a time: false, with nothing done, while another is applying.
    template <typename Apply> bool tryApply(Apply&& apply)
    {
        if (applying.test_and_set(std::memory_order_acquire))
            return false;
        bool any = false;
        for (;;)
        {
            Cell& cell = cells[head % kCapacity];
            if (cell.sequence.load(std::memory_order_acquire) != head + 1)
                break; // empty, or its producer is still writing it: the order waits for it
            const int index = cell.index;
            const float v = cell.value;
            cell.sequence.store(head + kCapacity, std::memory_order_release);
            ++head;
            any = true;
            if (index >= 0 && index < kParameters)
                applied[static_cast<size_t>(index)] = v;
            apply(index, v);
        }
        if (any)
            keepTicketsNear();
        applying.clear(std::memory_order_release);
        return true;
    }

  private:
    struct Cell
    {
        std::atomic<uint64_t> sequence{0};
        int index = 0;
        float value = 0.0f;
    };

    // A shown value packs the low 32 bits of its queue place (its ticket) above the float's bits.
    static float valueOf(uint64_t packed)
    {
        const auto bits = static_cast<uint32_t>(packed);
        float v;
        std::memcpy(&v, &bits, sizeof(v));
        return v;
    }
    static uint64_t pack(uint64_t place, float v)
    {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof(bits));
        return (place << 32) | bits;
    }
    // Tickets compare by their 32-bit difference; a parameter nobody touches for 2^31 changes would
    // look newer than the next one, so the applying thread moves old tickets forward.
    void keepTicketsNear();

    std::array<Cell, kCapacity> cells;
    alignas(64) std::atomic<uint64_t> tail{0};
    alignas(64) std::atomic_flag applying = ATOMIC_FLAG_INIT;
    uint64_t head = 0;                        // next place to apply; only the applying thread
    std::array<float, kParameters> applied{}; // the value of the latest applied change, per parameter
    std::array<std::atomic<uint64_t>, kParameters> shown;
};
