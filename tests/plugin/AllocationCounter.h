#pragma once

#include <cstddef>

// Counts global operator new calls made on the calling thread while a scope is alive.
class ScopedAllocationCounter
{
public:
    ScopedAllocationCounter();
    ~ScopedAllocationCounter();
    std::size_t count() const;

    ScopedAllocationCounter(const ScopedAllocationCounter&) = delete;
    ScopedAllocationCounter& operator=(const ScopedAllocationCounter&) = delete;

private:
    std::size_t start;
};
