#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>

#include "engine/Event.h"

namespace ostrel::engine {

// Timed events from the GUI thread to the audio thread.
// Single producer (GUI), single consumer (audio). Never blocks, allocates or locks.
// One fixed-size object; `new` honours its 64-byte alignment, so a plain
// std::unique_ptr<EventQueue> frees it with the same alignment.
class alignas(64) EventQueue {
public:
    static constexpr std::uint64_t kCapacity = 1024;

    EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // Producer thread only. False (and counted in dropped) when the ring holds
    // kCapacity events.
    [[nodiscard]] bool push(const TimedEvent& event);

    // Audio thread. Never allocates, locks or logs.
    // Every event due before sampleTime + frames (late ones and those stamped -1
    // included), in time order with frame offsets inside the block; events of equal
    // time keep their push order. The span stays valid until the next drain.
    std::span<const Event> drain(std::int64_t sampleTime, int frames);

    // Statistics; they only grow.
    std::uint64_t late() const { return late_.load(std::memory_order_relaxed); }
    std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    alignas(64) std::atomic<std::uint64_t> writeCount_{0};  // producer writes
    alignas(64) std::atomic<std::uint64_t> readCount_{0};   // consumer writes
    alignas(64) std::array<TimedEvent, kCapacity> ring_;
    // Consumer only: events out of the ring and not yet due, sorted by time.
    std::array<TimedEvent, kCapacity> pending_;
    std::int32_t pendingCount_ = 0;
    std::array<Event, kCapacity> due_;
    std::atomic<std::uint64_t> late_{0};
    std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace ostrel::engine
