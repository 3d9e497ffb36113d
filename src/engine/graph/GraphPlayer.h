#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/AudioBuffer.h"
#include "engine/graph/Graph.h"
#include "engine/graph/Node.h"

namespace ostrel::engine {

// Runs the live graph on the audio thread and lets the GUI thread replace it at any
// time, without a lock and without a click: a new graph is cross-faded in and the old
// one handed back through a retire ring, so the audio thread never frees memory.
// `new` honours the 64-byte alignment, so a plain std::unique_ptr<GraphPlayer> frees
// it with the same alignment.
class alignas(64) GraphPlayer {
public:
    static constexpr std::uint64_t kRetireSlots = 16;

    // GUI thread. A cross-fade below 1 frame becomes 1.
    GraphPlayer(std::uint32_t channels, std::uint32_t maxBlock, int crossfadeFrames);
    // GUI thread, after the audio thread has stopped calling process.
    ~GraphPlayer();
    GraphPlayer(const GraphPlayer&) = delete;
    GraphPlayer& operator=(const GraphPlayer&) = delete;

    // GUI thread. Refuses (and destroys) a null graph, one of another channel count and
    // one with a smaller maxBlock. A graph still pending from before is destroyed here.
    [[nodiscard]] bool publish(std::unique_ptr<Graph> graph);

    // Audio thread, once per block. Never allocates, frees, locks or logs.
    void process(const ProcessContext& context, AudioBuffer& output);

    // GUI thread. Destroys the graphs the audio thread has retired; returns how many.
    int collectRetired();

private:
    std::uint32_t channels_;
    std::uint32_t maxBlock_;
    std::int32_t crossfadeFrames_;
    // The only field both threads change; whoever exchanges a pointer out owns it.
    std::atomic<Graph*> pending_{nullptr};
    Graph* active_ = nullptr;  // audio thread only
    Graph* fading_ = nullptr;  // audio thread only
    std::int32_t fadePos_ = 0;
    AudioBuffer scratch_;  // the fading graph's output
    alignas(64) std::atomic<std::uint64_t> retireWrite_{0};  // audio thread writes
    alignas(64) std::atomic<std::uint64_t> retireRead_{0};   // GUI thread writes
    alignas(64) std::array<Graph*, kRetireSlots> retired_{};
};

}  // namespace ostrel::engine
