#include "support/AllocationCounter.h"

#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

thread_local bool counting = false;
thread_local std::size_t allocationCount = 0;
thread_local std::size_t freeCount = 0;
thread_local std::size_t allocationLimit = static_cast<std::size_t>(-1);

// Bytes this thread holds, counted whether or not a counter is alive, and the most since
// the innermost counter started.
thread_local long long liveBytes = 0;
thread_local long long peakLiveBytes = 0;

void noteAllocated(void* p) {
    if (p != nullptr) {
        liveBytes += static_cast<long long>(malloc_usable_size(p));
        peakLiveBytes = std::max(peakLiveBytes, liveBytes);
    }
}

void* allocate(std::size_t size, std::size_t alignment) {
    if (counting) {
        ++allocationCount;
    }
    if (size > allocationLimit) {
        return nullptr;
    }
    if (size == 0) {
        size = 1;
    }
    void* p = nullptr;
    if (alignment > alignof(std::max_align_t)) {
        // aligned_alloc wants a size that is a multiple of the alignment.
        std::size_t rounded = (size + alignment - 1) / alignment * alignment;
        p = std::aligned_alloc(alignment, rounded);
    } else {
        p = std::malloc(size);
    }
    noteAllocated(p);
    return p;
}

void release(void* p) noexcept {
    if (p == nullptr) {
        return;
    }
    if (counting) {
        ++freeCount;
    }
    liveBytes -= static_cast<long long>(malloc_usable_size(p));
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* p = allocate(size, 0)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = allocate(size, 0)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, 0); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, 0); }
void* operator new(std::size_t size, std::align_val_t a) {
    if (void* p = allocate(size, static_cast<std::size_t>(a))) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t a) {
    if (void* p = allocate(size, static_cast<std::size_t>(a))) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate(size, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }

namespace ostrel::test {

AllocationCounter::AllocationCounter()
    : startAllocations_(allocationCount), startFrees_(freeCount), startLiveBytes_(liveBytes),
      outerPeakBytes_(peakLiveBytes), wasCounting_(counting) {
    counting = true;
    peakLiveBytes = liveBytes;
}

AllocationCounter::~AllocationCounter() {
    counting = wasCounting_;
    peakLiveBytes = std::max(outerPeakBytes_, peakLiveBytes);
}

std::size_t AllocationCounter::peakBytes() const {
    return static_cast<std::size_t>(std::max(0LL, peakLiveBytes - startLiveBytes_));
}

std::size_t AllocationCounter::allocations() const { return allocationCount - startAllocations_; }

std::size_t AllocationCounter::frees() const { return freeCount - startFrees_; }

AllocationLimit::AllocationLimit(std::size_t bytes) : previous_(allocationLimit) { allocationLimit = bytes; }

AllocationLimit::~AllocationLimit() { allocationLimit = previous_; }

}  // namespace ostrel::test
