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

private:
    std::size_t startAllocations_;
    std::size_t startFrees_;
    bool wasCounting_;
};

}  // namespace ostrel::test
