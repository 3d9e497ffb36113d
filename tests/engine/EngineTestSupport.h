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
#include "engine/graph/Graph.h"

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

// Checks that every counter advances with the stream's own clock: by as many frames as
// streamFrames over one second of that clock, within tolerance frames (50 ms at 48 kHz). streamFrames counts
// what the stream itself has delivered (a JACK server's cycles, or the steady clock that a
// clock-paced output follows), so a busy machine that delays the stream delays the reference
// alike and cannot fail the check; a stream that runs slow, fast or not at all still does.
// Samples are taken until one pair a second apart agrees, so a sample read while the test or
// the stream was held up by the machine does not count against it.
inline void expectRealTimePace(const std::function<double()>& streamFrames,
                               const std::vector<std::function<double()>>& counters, double tolerance = 2400) {
    constexpr double kSpan = 48000;                     // one second of the stream's frames
    constexpr auto kGiveUp = std::chrono::seconds(30);  // of wall time, for a stream that stalls
    struct Sample {
        double streamBefore;  // the stream's frames just before and after the counters were read
        double streamAfter;
        std::vector<double> counts;
    };
    std::vector<Sample> samples;
    std::string mismatch = "the stream's clock did not advance by a second's frames";
    const auto deadline = std::chrono::steady_clock::now() + kGiveUp;
    while (std::chrono::steady_clock::now() < deadline) {
        Sample sample{streamFrames(), 0, {}};
        for (const auto& counter : counters) {
            sample.counts.push_back(counter());
        }
        sample.streamAfter = streamFrames();
        // A read the machine interrupted brackets too wide a span of the stream to judge by.
        if (sample.streamAfter - sample.streamBefore <= tolerance / 4) {
            for (const Sample& earlier : samples) {
                const double least = sample.streamBefore - earlier.streamAfter;
                const double most = sample.streamAfter - earlier.streamBefore;
                if (least < kSpan) {
                    break;  // the samples after this one are nearer still
                }
                bool agrees = true;
                for (std::size_t i = 0; i < counters.size() && agrees; ++i) {
                    const double advance = sample.counts[i] - earlier.counts[i];
                    if (advance < least - tolerance || advance > most + tolerance) {
                        agrees = false;
                        mismatch = "counter " + std::to_string(i) + " advanced " + std::to_string(advance) +
                                   " frames while the stream advanced " + std::to_string(least) + " to " +
                                   std::to_string(most);
                    }
                }
                if (agrees) {
                    return;
                }
            }
            samples.push_back(std::move(sample));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ADD_FAILURE() << "no second of the stream's own clock in which every counter kept pace: " << mismatch;
}

}  // namespace ostrel::test
