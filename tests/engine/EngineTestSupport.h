#pragma once

// Test parts shared by the engine's tests: a constant node, graphs of one node, a sound
// card that the test drives by hand, an engine on it, backing tracks whose samples name
// their frame, and waits and pace checks for the real-time outputs.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "engine/AudioBackend.h"
#include "engine/AudioData.h"
#include "engine/Graph.h"

namespace ostrel::test {

using namespace ostrel::engine;

// A constant level on every channel. Counts itself in alive while it exists, so a test
// sees every graph freed; keeps the context and the events of its first 64 blocks (storage
// reserved up front, so the audio thread never allocates for it).
class ConstNode final : public Node {
public:
    explicit ConstNode(float level, std::atomic<int>* alive = nullptr) : level_(level), alive_(alive) {
        blocks.reserve(64);
        events.reserve(64);
        if (alive_ != nullptr) {
            alive_->fetch_add(1, std::memory_order_relaxed);
        }
    }
    ~ConstNode() override {
        if (alive_ != nullptr) {
            alive_->fetch_sub(1, std::memory_order_relaxed);
        }
    }
    void process(const ProcessContext& context, std::span<const AudioBuffer* const>, AudioBuffer& output) override {
        if (blocks.size() < blocks.capacity()) {
            blocks.push_back(context);  // its events live only for the block
        }
        for (std::size_t i = 0; i < context.events.size() && events.size() < events.capacity(); ++i) {
            events.push_back({context.position, context.events[i]});
        }
        const int n = std::min(context.frames, output.frames);
        for (int c = 0; c < output.channels; ++c) {
            std::fill_n(output.channel(c), n, level_);
        }
    }
    std::vector<ProcessContext> blocks;
    std::vector<std::pair<std::int64_t, Event>> events;  // block position and event

private:
    float level_;
    std::atomic<int>* alive_;
};

inline std::unique_ptr<Graph> graphOf(std::unique_ptr<Node> node, int channels = 2, int maxBlock = 4096) {
    GraphBuilder builder;
    builder.output = builder.addNode(std::move(node));
    return builder.compile(48000.0, maxBlock, channels, nullptr);
}

inline std::unique_ptr<Graph> constGraph(float level, std::atomic<int>* alive = nullptr, int channels = 2,
                                         int maxBlock = 4096) {
    return graphOf(std::make_unique<ConstNode>(level, alive), channels, maxBlock);
}

inline TimedEvent noteOn(std::int64_t time, int note = 60) {
    TimedEvent timed;
    timed.time = time;
    timed.event.type = EventType::NoteOn;
    timed.event.note = static_cast<std::uint8_t>(note);
    return timed;
}

inline bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Over about a second, every counter advances by that second's frames at 48 kHz within 10 %.
inline void expectRealTimePace(const std::vector<std::function<double()>>& counters) {
    std::vector<double> before;
    for (const auto& counter : counters) {
        before.push_back(counter());
    }
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double expected = 48000 * std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (std::size_t i = 0; i < counters.size(); ++i) {
        EXPECT_NEAR(counters[i]() - before[i], expected, expected * 0.1) << "counter " << i;
    }
}

}  // namespace ostrel::test
