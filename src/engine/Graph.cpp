#include "engine/Graph.h"

#include "core/Failure.h"

#include <algorithm>

namespace ostrel::engine {

namespace {

constexpr int kMaxInput = 15;

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
    for (std::size_t w = 0; w < connections.size(); ++w) {
        const GraphConnection& wire = connections[w];
        if (wire.from >= boxCount || wire.to >= boxCount) {
            core::fail(error, "a connection refers to a box that does not exist");
            return nullptr;
        }
        const auto input = static_cast<std::int32_t>(wire.input);
        if (input < 0 || input > kMaxInput) {
            core::fail(error, "an input number must be between 0 and 15");
            return nullptr;
        }
        for (std::size_t earlier = 0; earlier < w; ++earlier) {
            if (connections[earlier].to == wire.to && connections[earlier].input == wire.input) {
                core::fail(error, "two wires are plugged into the same input");
                return nullptr;
            }
        }
    }

    // Keep the boxes that lead to the output.
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
    auto used = [&kept](const GraphConnection& wire) { return kept[wire.from] && kept[wire.to]; };

    // Kahn's algorithm with a stack; the lowest ready box number is on top.
    std::vector<int> inDegree(boxCount, 0);
    std::size_t keptCount = 0;
    for (std::size_t b = 0; b < boxCount; ++b) {
        keptCount += kept[b] ? 1 : 0;
    }
    for (const GraphConnection& wire : connections) {
        if (used(wire)) {
            ++inDegree[wire.to];
        }
    }
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
            if (wire.from == box && used(wire) && --inDegree[wire.to] == 0) {
                stack.push_back(wire.to);
            }
        }
    }
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
    // Sized once: the input lists below point into these slots.
    graph->graphSlots.resize(order.size());
    graph->order = order;
    for (std::size_t k = 0; k < order.size(); ++k) {
        GraphSlot& slot = graph->graphSlots[k];
        slot.node = std::move(nodes[static_cast<std::size_t>(order[k])]);
        slot.output.resize(channels, maxBlock);
        slot.node->prepare(sampleRate);
        slot.box = static_cast<std::uint32_t>(order[k]);
    }

    for (const GraphConnection& wire : connections) {
        if (!used(wire)) {
            continue;
        }
        GraphSlot& slot = graph->graphSlots[static_cast<std::size_t>(slotOf[wire.to])];
        if (slot.sources.size() <= wire.input) {
            slot.sources.resize(wire.input + 1, -1);
        }
        slot.sources[wire.input] = slotOf[wire.from];
    }

    std::vector<int> pathLatency(order.size(), 0);
    for (std::size_t k = 0; k < order.size(); ++k) {
        GraphSlot& slot = graph->graphSlots[k];
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
    for (GraphSlot& slot : graph->graphSlots) {
        for (std::size_t i = 0; i < slot.sources.size(); ++i) {
            const int s = slot.sources[i];
            if (s < 0) {
                slot.inputs[i] = nullptr;
            } else if (slot.delays[i].length >= 1) {
                slot.inputs[i] = &slot.delays[i].buffer;
            } else {
                slot.inputs[i] = &graph->graphSlots[static_cast<std::size_t>(s)].output;
            }
        }
    }
    graph->output = slotOf[static_cast<std::size_t>(output)];
    graph->latency = pathLatency[static_cast<std::size_t>(graph->output)];

    nodes.clear();
    connections.clear();
    output = -1;
    return graph;
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
    for (GraphSlot& slot : graphSlots) {
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
