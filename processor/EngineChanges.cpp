#include "EngineChanges.h"

namespace
{
constexpr uint32_t kNeverSet = 0xFFFFFFFFu; // the ticket before place 0
constexpr int32_t kOldTicket = 1 << 30;

bool newer(uint64_t place, uint64_t packed)
{
    return static_cast<int32_t>(static_cast<uint32_t>(place) - static_cast<uint32_t>(packed >> 32)) > 0;
}
} // namespace

EngineChanges::EngineChanges()
{
    for (uint64_t i = 0; i < kCapacity; ++i)
        cells[i].sequence.store(i, std::memory_order_relaxed);
    for (auto& s : shown)
        s.store(pack(kNeverSet, -1.0f), std::memory_order_relaxed);
    applied.fill(-1.0f);
}

bool EngineChanges::push(int index, float v)
{
    // A bounded queue for many producers and one consumer: a producer claims a place by moving the
    // tail, writes the cell and then marks it ready.
    uint64_t place = tail.load(std::memory_order_relaxed);
    Cell* cell = nullptr;
    for (;;)
    {
        cell = &cells[place % kCapacity];
        const uint64_t sequence = cell->sequence.load(std::memory_order_acquire);
        const auto lag = static_cast<int64_t>(sequence - place);
        if (lag == 0)
        {
            if (tail.compare_exchange_weak(place, place + 1, std::memory_order_relaxed))
                break;
        }
        else if (lag < 0)
            return false;
        else
            place = tail.load(std::memory_order_relaxed);
    }
    cell->index = index;
    cell->value = v;
    cell->sequence.store(place + 1, std::memory_order_release);

    if (index >= 0 && index < kParameters)
    {
        // Shown once queued, so that the applying thread never meets a shown value it has not been
        // given; of two threads setting one parameter at once, the later place wins.
        auto& s = shown[static_cast<size_t>(index)];
        const uint64_t packed = pack(place, v);
        uint64_t old = s.load(std::memory_order_relaxed);
        while (newer(place, old) &&
               !s.compare_exchange_weak(old, packed, std::memory_order_release, std::memory_order_relaxed))
        {
        }
    }
    return true;
}

void EngineChanges::keepTicketsNear()
{
    // Every place before head is applied, so the value of the latest of them is what a parameter
    // shows unless a newer change has come in; re-ticketing it there keeps every ticket within 2^30
    // of the tail.
    const uint64_t last = head - 1;
    for (int k = 0; k < kParameters; ++k)
    {
        auto& s = shown[static_cast<size_t>(k)];
        uint64_t old = s.load(std::memory_order_relaxed);
        while (static_cast<int32_t>(static_cast<uint32_t>(last) - static_cast<uint32_t>(old >> 32)) >
                   kOldTicket &&
               !s.compare_exchange_weak(old, pack(last, applied[static_cast<size_t>(k)]),
                                        std::memory_order_release, std::memory_order_relaxed))
        {
        }
    }
}
