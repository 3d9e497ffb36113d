#pragma once

#include <atomic>
#include <cstddef>

namespace ostrel::api_server {

// Claims on the slots of one ring, taken before a message is made and given back when
// its slot is freed. As long as every push holds a claim and the budget equals the
// ring's capacity, a push with a claim always finds room. Any thread; lock-free.
class SlotBudget {
public:
    explicit SlotBudget(std::size_t capacity) noexcept : capacity_(capacity) {}

    // False when every slot is already claimed.
    bool tryTake() noexcept {
        std::size_t taken = taken_.load(std::memory_order_relaxed);
        while (taken < capacity_) {
            // Acquire pairs with give: the slot that claim stood for has been freed.
            if (taken_.compare_exchange_weak(taken, taken + 1, std::memory_order_acquire,
                                             std::memory_order_relaxed)) {
                return true;
            }
        }
        return false;
    }

    // Called after the slots have been freed.
    void give(std::size_t count) noexcept {
        if (count != 0) {
            taken_.fetch_sub(count, std::memory_order_release);
        }
    }

    std::size_t taken() const noexcept { return taken_.load(std::memory_order_acquire); }
    std::size_t capacity() const noexcept { return capacity_; }

private:
    const std::size_t capacity_;
    std::atomic<std::size_t> taken_{0};
};

}  // namespace ostrel::api_server
