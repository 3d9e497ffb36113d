#pragma once

#include <cstdint>
#include <span>

#include "engine/AudioBuffer.h"
#include "engine/Event.h"

namespace ostrel::engine {

// What a node is told for one block.
struct ProcessContext {
    std::int32_t frames = 0;
    double sampleRate = 48000.0;
    // Frame number of the block's first frame: the engine's sample clock live,
    // the song position when rendering offline.
    std::int64_t position = 0;
    bool playing = false;
    double bpm = 120.0;
    std::int32_t beatsPerBar = 4;
    // The block's events in time order, each with its frameOffset inside the block.
    std::span<const Event> events;
};

// A processing node. One thread at a time: compilation prepares it on the building
// thread; afterwards only the thread that runs the graph calls process and reset.
class Node {
public:
    virtual ~Node() = default;

    // Not the audio thread. Called before the first process.
    virtual void prepare(double sampleRate) { (void)sampleRate; }
    // Forgets all sound state (phases, envelopes, delay memories).
    virtual void reset() {}
    // Frames of delay between the node's inputs and its output.
    virtual int latency() const { return 0; }
    // Audio thread. Never allocates, locks or logs.
    // inputs[k] is the buffer on input k or null when unplugged; writes
    // min(output.frames, context.frames) frames.
    virtual void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                         AudioBuffer& output) = 0;
};

}  // namespace ostrel::engine
