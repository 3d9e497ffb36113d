#include <benchmark/benchmark.h>

#include <array>
#include <memory>

#include "engine/EventQueue.h"

#include "BenchSupport.h"

namespace ostrel::engine {
namespace {

// Times spread over one 512-frame block in a scrambled order, so every insertion into
// the pending list moves entries.
std::array<TimedEvent, 1024> scrambledEvents() {
    std::array<TimedEvent, 1024> events{};
    for (int i = 0; i < 1024; ++i) {
        events[static_cast<std::size_t>(i)].time = (i * 389) % 512;
        events[static_cast<std::size_t>(i)].event.type = EventType::NoteOn;
        events[static_cast<std::size_t>(i)].event.note = static_cast<std::uint8_t>(i % 128);
    }
    return events;
}

void BM_EventQueueDrain1024OutOfOrder(benchmark::State& state) {
    auto queue = std::make_unique<EventQueue>();
    const auto events = scrambledEvents();
    std::int64_t base = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (TimedEvent event : events) {
            event.time += base;
            benchmark::DoNotOptimize(queue->push(event));
        }
        state.ResumeTiming();
        auto due = queue->drain(base, 512);
        benchmark::DoNotOptimize(due.data());
        base += 512;
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_EventQueueDrain1024OutOfOrder);

// Push and drain together, as the engine sees a busy block.
void BM_EventQueuePushAndDrain1024OutOfOrder(benchmark::State& state) {
    auto queue = std::make_unique<EventQueue>();
    const auto events = scrambledEvents();
    std::int64_t base = 0;
    for (auto _ : state) {
        for (TimedEvent event : events) {
            event.time += base;
            benchmark::DoNotOptimize(queue->push(event));
        }
        auto due = queue->drain(base, 512);
        benchmark::DoNotOptimize(due.data());
        base += 512;
    }
    state.SetItemsProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_EventQueuePushAndDrain1024OutOfOrder);

}  // namespace
}  // namespace ostrel::engine
