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

// How a node can spend a block in which the voice it belongs to sleeps (Graph::setVoices).
// A voice sleeps through a block when its output would be exact zeros and nothing in
// the block reaches it; its nodes then run as little as keeps them sounding as before.
enum class Rest : std::uint8_t {
    Busy,         // must run as usual: the voice stays awake
    Silent,       // its output would be exact zeros and its state would not change: not run
    Steady,       // runs as usual (it is cheap); it reads its inputs
    FreeRunning,  // its output is not needed: advance moves its phases exactly as process would
    Forgetful,    // its output is not needed and its state is not kept: warmed up before it runs again
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

    // Audio thread. How this block could be spent if the node's voice sleeps, given the
    // block's events and which inputs carry exact zeros (bit k: input k). Reads no samples.
    virtual Rest rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                      std::uint32_t silentInputs) const {
        (void)context;
        (void)inputs;
        (void)silentInputs;
        return Rest::Busy;
    }
    // Audio thread. For a FreeRunning block: moves phases and generators on by
    // context.frames frames exactly as process would, without writing an output.
    virtual void advance(const ProcessContext& context, std::span<const AudioBuffer* const> inputs) {
        (void)context;
        (void)inputs;
    }
    // Audio thread. After Forgetful blocks: the frames it must run before its state is
    // again what it would have been (to well below a float's resolution).
    virtual std::int64_t warmupFrames() const { return 0; }
    // Audio thread. Around a warm-up of `frames` frames run through process without
    // events: a free-running node steps its phases back first and takes its exact
    // state back afterwards.
    virtual void beginWarmup(std::int64_t frames) { (void)frames; }
    virtual void endWarmup() {}
};

}  // namespace ostrel::engine
