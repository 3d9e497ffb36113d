#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/AudioBuffer.h"
#include "engine/graph/Node.h"

namespace ostrel::engine {

// One wire: the output of box `from` into input number `input` (0..15) of box `to`.
struct GraphConnection {
    std::uint32_t from = 0;
    std::uint32_t to = 0;
    std::uint32_t input = 0;
};

// The delay line that lines up one input with the slowest path into its box.
struct InputDelay {
    std::int32_t length = 0;  // frames; 0: not delayed
    AudioBuffer buffer;       // the delayed signal handed to the node
    // length * channels frames; channel c at memory[c * length] ..
    std::vector<float> memory;
    std::int32_t writePos = 0;
};

// One kept box of a compiled graph. sources, delays and inputs have one entry per
// input number up to the highest wired one.
struct GraphSlot {
    std::unique_ptr<Node> node;
    std::uint32_t box = 0;  // number in the builder
    AudioBuffer output;
    std::vector<int> sources;  // slot feeding each input, -1 when unplugged
    std::vector<InputDelay> delays;
    std::vector<const AudioBuffer*> inputs;  // null, a source's output or a delay buffer
    std::int32_t voice = -1;      // the voice it belongs to, -1 for none
    Rest rest = Rest::Busy;       // how it spent the last block of a sleeping voice
    std::int32_t zeroFrames = 0;  // leading frames of output known to hold exact zeros
    bool forgotten = false;       // slept Forgetful: warm up before it runs again
    bool freeRan = false;         // slept FreeRunning: runs again in its voice's warm-up
};

// Slots that sound together as one voice (a copy of a polyphonic instrument, one drum of
// a kit): only its exits feed anything outside it. While every exit would be silent and
// nothing reaches the voice, its slots rest (Node::rest) instead of running.
struct GraphVoice {
    std::vector<int> slotIndices;  // in running order
    std::vector<int> exits;
    bool asleep = false;
    std::int64_t sleptFrames = 0;  // since it fell asleep
    std::int32_t lastFrames = 0;   // frames of the last block it slept through
};

enum class VoiceSleep { Off, On };

// A compiled graph. Built and destroyed outside the audio thread; run by one thread
// at a time. Its input lists point into its own slots, so it is neither copied nor moved.
class Graph {
public:
    Graph() = default;
    Graph(const Graph&) = delete;
    Graph& operator=(const Graph&) = delete;

    // Audio thread (or the render worker). Never allocates, locks or logs.
    // Runs min(maxBlock, context.frames) frames; every node receives the context's events.
    void process(const ProcessContext& context, AudioBuffer& output);

    // Builder's thread, before the first process. Each entry lists the slots of one voice.
    // A list that does not form a voice (an input lined up through a delay, a slot out of
    // range or already taken) is left out: it never sleeps. Returns how many were taken.
    int setVoices(const std::vector<std::vector<int>>& slotsPerVoice);

    std::vector<GraphSlot> graphSlots;  // in running order
    std::vector<int> order;        // builder box number of each slot
    std::int32_t output = -1;      // slot whose buffer is the graph's output
    std::int32_t maxBlock = 0;
    std::int32_t channels = 0;
    std::int32_t latency = 0;  // path latency at the output, frames
    std::vector<GraphVoice> voices;
    VoiceSleep voiceSleep = VoiceSleep::On;
    std::uint64_t sleptVoiceBlocks = 0;  // voice blocks rested so far, for tests and benchmarks

private:
    bool decideSleep(GraphVoice& voice, const ProcessContext& context);
    void warmUp(GraphVoice& voice, const ProcessContext& context);
};

// Boxes and wires, compiled into a Graph. GUI thread only, or the render worker:
// whichever thread builds owns the builder.
class GraphBuilder {
public:
    // Returns the new box's number.
    int addNode(std::unique_ptr<Node> node);
    // Nothing is checked until compile.
    void connect(int from, int to, int input);
    // Checks the wiring, drops boxes that do not lead to the output, orders, sizes and
    // prepares the rest and lines up latencies. On success the builder is emptied; on
    // failure it is left as it was and the reason goes to error (when not null).
    std::unique_ptr<Graph> compile(double sampleRate, int maxBlock, int channels, std::string* error);

    std::vector<std::unique_ptr<Node>> nodes;
    std::vector<GraphConnection> connections;
    std::int32_t output = -1;  // set by the caller after adding the output box
};

}  // namespace ostrel::engine
