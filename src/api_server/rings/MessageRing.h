#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace ostrel::api_server {

// The longest message that travels in a ring slot's own bytes, and so the longest request
// line the JSON-RPC door takes, without its '\n'.
inline constexpr std::size_t kMaxMessageBytes = 8191;

// One message between threads, copied whole into and out of a ring. Up to kMaxMessageBytes
// travel in `text`; a longer message is handed over whole in `longText` instead, so only
// the pointer is copied (`length` is then 0).
struct MessageSlot {
    char text[kMaxMessageBytes + 1];
    std::uint32_t length = 0;
    // Which client connection the message belongs to (0: none). A reply carries the tag
    // of its request, so one meant for a client that has gone is never sent to the next.
    std::uint64_t connection = 0;
    // Owned by whoever holds the slot: the producer until the push, the ring until the
    // pop, then the consumer, on whose thread it is freed.
    std::unique_ptr<std::string> longText;

    std::string_view view() const noexcept { return longText ? std::string_view(*longText) : std::string_view(text, length); }
};

// A fixed ring of N slots. Single producer, single consumer; lock-free, never allocates
// (a long text is allocated by its producer and freed by its consumer, or by the ring
// when it discards it or is destroyed). The counters only grow; the slot of a counter is
// the counter modulo N; a slot outside the waiting part never holds a long text.
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

    // Producer only. A slot holding a long text hands it over (it moves into the ring) when
    // the push succeeds; the caller keeps it when the ring is full.
    bool tryPush(MessageSlot& slot) noexcept {
        if (!slot.longText) {
            return tryPush(slot.view(), slot.connection);
        }
        const std::uint64_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) >= N) {
            return false;
        }
        MessageSlot& target = slots_[head % N];
        target.length = 0;
        target.connection = slot.connection;
        target.longText = std::move(slot.longText);
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

    // Consumer only. Copies the oldest message out (moving a long text) before freeing its
    // slot; a long text `out` held before is freed.
    bool tryPop(MessageSlot& out) noexcept {
        const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
        if (head_.load(std::memory_order_acquire) == tail) {
            return false;
        }
        MessageSlot& slot = slots_[tail % N];
        std::memcpy(out.text, slot.text, slot.length);
        out.length = slot.length;
        out.connection = slot.connection;
        out.longText = std::move(slot.longText);
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer only: frees every waiting slot; answers how many there were.
    std::size_t discardAll() noexcept {
        const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
        const std::uint64_t head = head_.load(std::memory_order_acquire);
        for (std::uint64_t i = tail; i != head; ++i) {
            slots_[i % N].longText.reset();
        }
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
