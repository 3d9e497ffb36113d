#include "engine/graph/Graph.h"

#include "core/Failure.h"

#include <algorithm>
#include <cstdint>

namespace ostrel::engine {

namespace {

constexpr int kMaxInput = 15;

// Every wire joins two boxes that exist, into an input 0..15 that no other wire takes.
bool checkWiring(const std::vector<GraphConnection>& connections, std::size_t boxCount, std::string* error) {
    for (std::size_t w = 0; w < connections.size(); ++w) {
        const GraphConnection& wire = connections[w];
        if (wire.from >= boxCount || wire.to >= boxCount) {
            return core::fail(error, "a connection refers to a box that does not exist");
        }
        const auto input = static_cast<std::int32_t>(wire.input);
        if (input < 0 || input > kMaxInput) {
            return core::fail(error, "an input number must be between 0 and 15");
        }
        for (std::size_t earlier = 0; earlier < w; ++earlier) {
            if (connections[earlier].to == wire.to && connections[earlier].input == wire.input) {
                return core::fail(error, "two wires are plugged into the same input");
            }
        }
    }
    return true;
}

// One flag per box: set for the boxes that lead to the output.
std::vector<char> boxesLeadingTo(std::int32_t output, const std::vector<GraphConnection>& connections,
                                 std::size_t boxCount) {
    std::vector<char> kept(boxCount, 0);
    std::vector<std::uint32_t> stack;
    kept[static_cast<std::size_t>(output)] = 1;
    stack.push_back(static_cast<std::uint32_t>(output));
    while (!stack.empty()) {
        const std::uint32_t box = stack.back();
        stack.pop_back();
        for (const GraphConnection& wire : connections) {
            if (wire.to == box && !kept[wire.from]) {
                kept[wire.from] = 1;
                stack.push_back(wire.from);
            }
        }
    }
    return kept;
}

bool joinsKeptBoxes(const std::vector<char>& kept, const GraphConnection& wire) {
    return kept[wire.from] && kept[wire.to];
}

// The kept boxes in running order: Kahn's algorithm with a stack, the lowest ready box
// number on top. Shorter than the kept boxes when the wires form a loop.
std::vector<int> runningOrder(const std::vector<char>& kept, const std::vector<GraphConnection>& connections,
                              std::size_t& keptCount) {
    const std::size_t boxCount = kept.size();
    std::vector<int> inDegree(boxCount, 0);
    keptCount = 0;
    for (std::size_t b = 0; b < boxCount; ++b) {
        keptCount += kept[b] ? 1 : 0;
    }
    for (const GraphConnection& wire : connections) {
        if (joinsKeptBoxes(kept, wire)) {
            ++inDegree[wire.to];
        }
    }
    std::vector<std::uint32_t> stack;
    for (std::size_t b = boxCount; b-- > 0;) {
        if (kept[b] && inDegree[b] == 0) {
            stack.push_back(static_cast<std::uint32_t>(b));
        }
    }
    std::vector<int> order;
    order.reserve(keptCount);
    while (!stack.empty()) {
        const std::uint32_t box = stack.back();
        stack.pop_back();
        order.push_back(static_cast<int>(box));
        for (const GraphConnection& wire : connections) {
            if (wire.from == box && joinsKeptBoxes(kept, wire) && --inDegree[wire.to] == 0) {
                stack.push_back(wire.to);
            }
        }
    }
    return order;
}

// Moves each kept box's node into its slot, in running order, and prepares it.
void fillSlots(Graph& graph, std::vector<std::unique_ptr<Node>>& nodes, const std::vector<int>& order,
               double sampleRate) {
    // Sized once: the input lists point into these slots.
    graph.graphSlots.resize(order.size());
    graph.order = order;
    for (std::size_t k = 0; k < order.size(); ++k) {
        GraphSlot& slot = graph.graphSlots[k];
        slot.node = std::move(nodes[static_cast<std::size_t>(order[k])]);
        slot.output.resize(graph.channels, graph.maxBlock);
        slot.node->prepare(sampleRate);
        slot.box = static_cast<std::uint32_t>(order[k]);
    }
}

// Each slot's source for each input number it has a wire into.
void wireSources(Graph& graph, const std::vector<GraphConnection>& connections, const std::vector<char>& kept,
                 const std::vector<int>& slotOf) {
    for (const GraphConnection& wire : connections) {
        if (!joinsKeptBoxes(kept, wire)) {
            continue;
        }
        GraphSlot& slot = graph.graphSlots[static_cast<std::size_t>(slotOf[wire.to])];
        if (slot.sources.size() <= wire.input) {
            slot.sources.resize(wire.input + 1, -1);
        }
        slot.sources[wire.input] = slotOf[wire.from];
    }
}

// Gives every input that arrives ahead of its box's slowest input a delay line of the
// difference; returns the latency of the path through each slot.
std::vector<int> lineUpLatencies(Graph& graph) {
    const int channels = graph.channels;
    const int maxBlock = graph.maxBlock;
    std::vector<int> pathLatency(graph.graphSlots.size(), 0);
    for (std::size_t k = 0; k < graph.graphSlots.size(); ++k) {
        GraphSlot& slot = graph.graphSlots[k];
        const std::size_t inputCount = slot.sources.size();
        slot.delays.resize(inputCount);
        slot.inputs.assign(inputCount, nullptr);
        int maxIn = 0;
        for (int s : slot.sources) {
            if (s >= 0) {
                maxIn = std::max(maxIn, pathLatency[static_cast<std::size_t>(s)]);
            }
        }
        for (std::size_t i = 0; i < inputCount; ++i) {
            const int s = slot.sources[i];
            if (s < 0) {
                continue;
            }
            const int d = maxIn - pathLatency[static_cast<std::size_t>(s)];
            if (d >= 1) {
                InputDelay& delay = slot.delays[i];
                delay.length = d;
                delay.buffer.resize(channels, maxBlock);
                delay.memory.assign(static_cast<std::size_t>(d) * static_cast<std::size_t>(channels), 0.0f);
            }
        }
        pathLatency[k] = maxIn + std::max(slot.node->latency(), 0);
    }
    return pathLatency;
}

// Points each input at what its node reads: nothing, a delay line or a source's output.
void pointInputs(Graph& graph) {
    for (GraphSlot& slot : graph.graphSlots) {
        for (std::size_t i = 0; i < slot.sources.size(); ++i) {
            const int s = slot.sources[i];
            if (s < 0) {
                slot.inputs[i] = nullptr;
            } else if (slot.delays[i].length >= 1) {
                slot.inputs[i] = &slot.delays[i].buffer;
            } else {
                slot.inputs[i] = &graph.graphSlots[static_cast<std::size_t>(s)].output;
            }
        }
    }
}

}  // namespace

int GraphBuilder::addNode(std::unique_ptr<Node> node) {
    nodes.push_back(std::move(node));
    return static_cast<int>(nodes.size()) - 1;
}

void GraphBuilder::connect(int from, int to, int input) {
    connections.push_back({static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(to),
                           static_cast<std::uint32_t>(input)});
}

std::unique_ptr<Graph> GraphBuilder::compile(double sampleRate, int maxBlock, int channels, std::string* error) {
    const std::size_t boxCount = nodes.size();
    if (output < 0 || static_cast<std::size_t>(output) >= boxCount) {
        core::fail(error, "no output box was set");
        return nullptr;
    }
    if (maxBlock < 1 || channels < 1) {
        core::fail(error, "block size and channel count must be positive");
        return nullptr;
    }
    if (!checkWiring(connections, boxCount, error)) {
        return nullptr;
    }

    // Keep the boxes that lead to the output, in running order.
    const std::vector<char> kept = boxesLeadingTo(output, connections, boxCount);
    std::size_t keptCount = 0;
    const std::vector<int> order = runningOrder(kept, connections, keptCount);
    if (order.size() < keptCount) {
        core::fail(error, "the connections form a loop (a box feeds itself)");
        return nullptr;
    }
    // A kept box without a node would crash the first block; refuse it while the
    // builder is still untouched.
    for (int box : order) {
        if (!nodes[static_cast<std::size_t>(box)]) {
            core::fail(error, "a box has no node");
            return nullptr;
        }
    }

    auto graph = std::make_unique<Graph>();
    graph->maxBlock = maxBlock;
    graph->channels = channels;
    std::vector<int> slotOf(boxCount, -1);
    for (std::size_t k = 0; k < order.size(); ++k) {
        slotOf[static_cast<std::size_t>(order[k])] = static_cast<int>(k);
    }
    fillSlots(*graph, nodes, order, sampleRate);
    wireSources(*graph, connections, kept, slotOf);
    const std::vector<int> pathLatency = lineUpLatencies(*graph);
    pointInputs(*graph);
    graph->output = slotOf[static_cast<std::size_t>(output)];
    graph->latency = pathLatency[static_cast<std::size_t>(graph->output)];

    nodes.clear();
    connections.clear();
    output = -1;
    return graph;
}

int Graph::setVoices(const std::vector<std::vector<int>>& slotsPerVoice) {
    voices.clear();
    for (GraphSlot& slot : graphSlots) {
        slot.voice = -1;
    }
    const int slotCount = static_cast<int>(graphSlots.size());
    for (const std::vector<int>& list : slotsPerVoice) {
        const int v = static_cast<int>(voices.size());
        std::vector<int> members;
        bool usable = !list.empty();
        for (int s : list) {
            if (s < 0 || s >= slotCount || graphSlots[static_cast<std::size_t>(s)].voice != -1) {
                usable = false;
                break;
            }
            members.push_back(s);
            graphSlots[static_cast<std::size_t>(s)].voice = v;
        }
        // Which members feed something outside the voice; a delayed input would need its
        // delay line kept running.
        std::vector<int> exits;
        for (int s : members) {
            const GraphSlot& slot = graphSlots[static_cast<std::size_t>(s)];
            for (const InputDelay& delay : slot.delays) {
                usable = usable && delay.length < 1;
            }
            bool outside = s == output;
            for (const GraphSlot& other : graphSlots) {
                if (other.voice == v) {
                    continue;
                }
                for (int source : other.sources) {
                    outside = outside || source == s;
                }
            }
            if (outside) {
                exits.push_back(s);
            }
        }
        if (!usable || exits.empty()) {
            for (int s : members) {
                graphSlots[static_cast<std::size_t>(s)].voice = -1;
            }
            continue;
        }
        std::sort(members.begin(), members.end());  // slots are numbered in running order
        GraphVoice voice;
        voice.slotIndices = std::move(members);
        voice.exits = std::move(exits);
        voices.push_back(std::move(voice));
    }
    return static_cast<int>(voices.size());
}

bool Graph::decideSleep(GraphVoice& voice, const ProcessContext& context) {
    for (int s : voice.slotIndices) {
        GraphSlot& slot = graphSlots[static_cast<std::size_t>(s)];
        std::uint32_t silent = 0;
        bool sourcesWritten = true;
        for (std::size_t i = 0; i < slot.sources.size(); ++i) {
            const int source = slot.sources[i];
            if (source < 0 || graphSlots[static_cast<std::size_t>(source)].voice != slot.voice) {
                continue;  // unplugged, or outside: runs or holds zeros as usual
            }
            const Rest r = graphSlots[static_cast<std::size_t>(source)].rest;
            if (r == Rest::Silent && i < 32) {
                silent |= 1u << i;
            }
            sourcesWritten = sourcesWritten && r != Rest::FreeRunning && r != Rest::Forgetful;
        }
        slot.rest = slot.node->rest(context, slot.inputs, silent);
        if (slot.rest == Rest::Busy) {
            return false;
        }
        // A slot that reads its inputs while resting needs them written.
        if ((slot.rest == Rest::Steady || slot.rest == Rest::FreeRunning) && !sourcesWritten) {
            return false;
        }
    }
    for (int exit : voice.exits) {
        if (graphSlots[static_cast<std::size_t>(exit)].rest != Rest::Silent) {
            return false;
        }
    }
    return true;
}

void Graph::warmUp(GraphVoice& voice, const ProcessContext& context) {
    std::int64_t frames = 0;
    for (int s : voice.slotIndices) {
        const GraphSlot& slot = graphSlots[static_cast<std::size_t>(s)];
        if (slot.forgotten) {
            frames = std::max(frames, slot.node->warmupFrames());
        }
    }
    // Never more than it slept: from the state it fell asleep with, that is the whole way.
    frames = std::min(frames, voice.sleptFrames);
    auto running = [](const GraphSlot& slot) { return slot.forgotten || slot.freeRan; };
    if (frames > 0 && voice.lastFrames > 0) {
        for (int s : voice.slotIndices) {
            GraphSlot& slot = graphSlots[static_cast<std::size_t>(s)];
            if (running(slot)) {
                slot.node->beginWarmup(frames);
            }
        }
        // The steady and silent slots still hold their last block, lastFrames long.
        ProcessContext quiet = context;
        quiet.events = {};
        for (std::int64_t done = 0; done < frames;) {
            quiet.frames = static_cast<std::int32_t>(std::min<std::int64_t>(voice.lastFrames, frames - done));
            quiet.position = context.position - frames + done;
            for (int s : voice.slotIndices) {
                GraphSlot& slot = graphSlots[static_cast<std::size_t>(s)];
                if (running(slot)) {
                    slot.node->process(quiet, slot.inputs, slot.output);
                }
            }
            done += quiet.frames;
        }
        for (int s : voice.slotIndices) {
            GraphSlot& slot = graphSlots[static_cast<std::size_t>(s)];
            if (running(slot)) {
                slot.node->endWarmup();
            }
        }
    }
    for (int s : voice.slotIndices) {
        GraphSlot& slot = graphSlots[static_cast<std::size_t>(s)];
        slot.forgotten = false;
        slot.freeRan = false;
        slot.zeroFrames = 0;
    }
}

void Graph::process(const ProcessContext& context, AudioBuffer& out) {
    const int n = std::min(maxBlock, context.frames);
    if (n < 1) {
        return;
    }
    ProcessContext block = context;
    block.frames = n;
    if (graphSlots.empty() || output < 0) {
        out.clear(n);
        return;
    }
    for (GraphVoice& voice : voices) {
        const bool sleep = voiceSleep == VoiceSleep::On && decideSleep(voice, block);
        if (sleep) {
            if (!voice.asleep) {
                voice.sleptFrames = 0;
            }
            voice.asleep = true;
            voice.sleptFrames = std::min<std::int64_t>(voice.sleptFrames + n, INT64_MAX / 2);
            voice.lastFrames = n;
            ++sleptVoiceBlocks;
        } else if (voice.asleep) {
            warmUp(voice, block);
            voice.asleep = false;
        }
    }
    for (GraphSlot& slot : graphSlots) {
        if (slot.voice >= 0 && voices[static_cast<std::size_t>(slot.voice)].asleep) {
            if (slot.rest == Rest::Silent) {
                if (slot.zeroFrames < n) {
                    slot.output.clear(n);
                    slot.zeroFrames = n;
                }
                continue;
            }
            if (slot.rest == Rest::FreeRunning) {
                slot.node->advance(block, slot.inputs);
                slot.freeRan = true;
                slot.zeroFrames = 0;
                continue;
            }
            if (slot.rest == Rest::Forgetful) {
                slot.forgotten = true;
                slot.zeroFrames = 0;
                continue;
            }
        }
        slot.zeroFrames = 0;
        for (std::size_t i = 0; i < slot.delays.size(); ++i) {
            InputDelay& delay = slot.delays[i];
            const int length = delay.length;
            if (length < 1) {
                continue;
            }
            const AudioBuffer& source = graphSlots[static_cast<std::size_t>(slot.sources[i])].output;
            const int m = std::min(source.channels, delay.buffer.channels);
            for (int c = 0; c < m; ++c) {
                float* memory = delay.memory.data() + static_cast<std::size_t>(c) * static_cast<std::size_t>(length);
                const float* in = source.channel(c);
                float* delayed = delay.buffer.channel(c);
                int r = delay.writePos;
                for (int f = 0; f < n; ++f) {
                    delayed[f] = memory[r];
                    memory[r] = in[f];
                    if (++r == length) {
                        r = 0;
                    }
                }
            }
            delay.writePos = static_cast<std::int32_t>((delay.writePos + n) % length);
        }
        slot.node->process(block, slot.inputs, slot.output);
    }
    out.copyFrom(graphSlots[static_cast<std::size_t>(output)].output, n);
}

}  // namespace ostrel::engine
