#include "engine/EventQueue.h"

#include <algorithm>

namespace ostrel::engine {

EventQueue::EventQueue() {
    ring_.fill(TimedEvent{});
    pending_.fill(TimedEvent{});
    due_.fill(Event{});
}

bool EventQueue::push(const TimedEvent& event) {
    const std::uint64_t w = writeCount_.load(std::memory_order_relaxed);
    // Acquire: the consumer has finished copying a slot before it freed it.
    if (w - readCount_.load(std::memory_order_acquire) == kCapacity) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    ring_[w % kCapacity] = event;
    // Release: the slot's content is visible before the consumer sees the new count.
    writeCount_.store(w + 1, std::memory_order_release);
    return true;
}

std::span<const Event> EventQueue::drain(std::int64_t sampleTime, int frames) {
    std::uint64_t r = readCount_.load(std::memory_order_relaxed);
    // Only what was pushed before this drain began: a producer that keeps pushing can
    // then neither keep the audio thread here nor overflow the pending list with events
    // that would have fitted into the ring until the next block.
    const std::uint64_t w = writeCount_.load(std::memory_order_acquire);
    while (r != w) {
        const TimedEvent event = ring_[r % kCapacity];
        ++r;
        readCount_.store(r, std::memory_order_release);
        if (pendingCount_ >= static_cast<std::int32_t>(kCapacity)) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        // After every entry of equal or earlier time, so equal times keep push order.
        TimedEvent* begin = pending_.data();
        TimedEvent* end = begin + pendingCount_;
        TimedEvent* at = std::upper_bound(begin, end, event.time,
                                          [](std::int64_t t, const TimedEvent& e) { return t < e.time; });
        std::move_backward(at, end, end + 1);
        *at = event;
        ++pendingCount_;
    }

    const std::int64_t end = sampleTime + frames;
    std::int32_t k = 0;
    while (k < pendingCount_ && pending_[k].time < end) {
        const TimedEvent& timed = pending_[k];
        due_[k] = timed.event;
        if (timed.time < sampleTime) {
            due_[k].frameOffset = 0;
            if (timed.time >= 0) {
                late_.fetch_add(1, std::memory_order_relaxed);
            }
        } else {
            due_[k].frameOffset = static_cast<std::uint32_t>(timed.time - sampleTime);
        }
        ++k;
    }
    if (k > 0) {
        std::move(pending_.begin() + k, pending_.begin() + pendingCount_, pending_.begin());
        pendingCount_ -= k;
    }
    return {due_.data(), static_cast<std::size_t>(k)};
}

}  // namespace ostrel::engine
