#pragma once

#include <cstddef>

namespace ostrel::test {

// Counts heap allocations and frees made by the calling thread while alive.
// The test binaries replace the global operator new and delete to feed it,
// which is how the tests prove that audio-thread code never touches the heap.
class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    std::size_t allocations() const;
    std::size_t frees() const;
    // The most heap bytes this thread held at once while counting, beyond what it held when
    // the counter started (usable sizes, as the allocator rounds them).
    std::size_t peakBytes() const;

private:
    std::size_t startAllocations_;
    std::size_t startFrees_;
    long long startLiveBytes_;
    long long outerPeakBytes_;
    bool wasCounting_;
};

// While alive, every allocation of more than bytes made by the calling thread fails with
// std::bad_alloc (or a null pointer, for the nothrow forms), as under a memory limit.
// Works under AddressSanitizer, where a real limit on the address space cannot be used.
class AllocationLimit {
public:
    explicit AllocationLimit(std::size_t bytes);
    ~AllocationLimit();
    AllocationLimit(const AllocationLimit&) = delete;
    AllocationLimit& operator=(const AllocationLimit&) = delete;

private:
    std::size_t previous_;
};

}  // namespace ostrel::test
