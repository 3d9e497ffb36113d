#pragma once

#include "api_server/ApiError.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace ostrel::api_server {

// One message between threads, copied whole into and out of a ring. Holds at most
// kMaxMessageBytes; longer text never goes into a slot.
struct MessageSlot {
    char text[8192];
    std::uint32_t length;
    // Which client connection the message belongs to (0: none). A reply carries the tag
    // of its request, so one meant for a client that has gone is never sent to the next.
    std::uint64_t connection;

    std::string_view view() const noexcept { return {text, length}; }
};

// A fixed ring of N slots. Single producer, single consumer; lock-free, never allocates.
// The counters only grow; the slot of a counter is the counter modulo N.
template <std::size_t N>
class MessageRing {
    static_assert(N > 0 && (N & (N - 1)) == 0, "the capacity must be a power of two");

public:
    static constexpr std::size_t kCapacity = N;

    MessageRing() = default;
    MessageRing(const MessageRing&) = delete;
    MessageRing& operator=(const MessageRing&) = delete;

    // Producer only. False, copying nothing, when the ring is full or the text does not fit.
    bool tryPush(std::string_view text, std::uint64_t connection) noexcept {
        if (text.size() > kMaxMessageBytes) {
            return false;
        }
        const std::uint64_t head = head_.load(std::memory_order_relaxed);
        // Acquire: the consumer is done with the slot before its tail moved past it.
        if (head - tail_.load(std::memory_order_acquire) >= N) {
            return false;
        }
        MessageSlot& slot = slots_[head % N];
        std::memcpy(slot.text, text.data(), text.size());
        slot.length = static_cast<std::uint32_t>(text.size());
        slot.connection = connection;
        // Release: the slot's bytes are visible before the consumer sees the new head.
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

    bool tryPush(const MessageSlot& slot) noexcept { return tryPush(slot.view(), slot.connection); }

    // Consumer only. Copies the oldest message out before freeing its slot.
    bool tryPop(MessageSlot& out) noexcept {
        const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
        if (head_.load(std::memory_order_acquire) == tail) {
            return false;
        }
        const MessageSlot& slot = slots_[tail % N];
        std::memcpy(out.text, slot.text, slot.length);
        out.length = slot.length;
        out.connection = slot.connection;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer only: frees every waiting slot; answers how many there were.
    std::size_t discardAll() noexcept {
        const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
        const std::uint64_t head = head_.load(std::memory_order_acquire);
        tail_.store(head, std::memory_order_release);
        return static_cast<std::size_t>(head - tail);
    }

    // Either side; exact for the calling side's own view, a hint for the other.
    std::size_t size() const noexcept {
        return static_cast<std::size_t>(head_.load(std::memory_order_acquire) -
                                        tail_.load(std::memory_order_acquire));
    }
    bool empty() const noexcept { return size() == 0; }
    bool full() const noexcept { return size() >= N; }

private:
    // Own cache lines, so the producer's counter, the consumer's and the data never share one.
    alignas(64) std::atomic<std::uint64_t> head_{0};
    alignas(64) std::atomic<std::uint64_t> tail_{0};
    alignas(64) MessageSlot slots_[N]{};
};

}  // namespace ostrel::api_server
