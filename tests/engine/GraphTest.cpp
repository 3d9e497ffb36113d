#include "engine/Graph.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

// What the test nodes report back to the test.
struct Journal {
    std::vector<int> ran;       // node tags in the order they processed
    std::vector<int> prepared;  // node tags in the order they were prepared
    std::vector<int> destroyed;
    double preparedRate = 0.0;
    std::vector<std::size_t> inputCounts;
    std::vector<std::vector<bool>> inputPlugged;
    std::vector<std::size_t> eventCounts;
};

// Writes value + frame index (a ramp, so delays show) and the sum of its inputs.
class ProbeNode : public Node {
public:
    ProbeNode(Journal* journal, int tag, float value = 0.0f, int latency = 0)
        : journal_(journal), tag_(tag), value_(value), latency_(latency) {}
    ~ProbeNode() override { journal_->destroyed.push_back(tag_); }

    void prepare(double rate) override {
        journal_->prepared.push_back(tag_);
        journal_->preparedRate = rate;
    }
    int latency() const override { return latency_; }
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override {
        const int n = std::min(context.frames, output.frames);
        journal_->ran.push_back(tag_);
        journal_->inputCounts.push_back(inputs.size());
        std::vector<bool> plugged;
        for (const AudioBuffer* in : inputs) {
            plugged.push_back(in != nullptr);
        }
        journal_->inputPlugged.push_back(plugged);
        journal_->eventCounts.push_back(context.events.size());
        for (int c = 0; c < output.channels; ++c) {
            for (int i = 0; i < n; ++i) {
                float v = value_;
                for (const AudioBuffer* in : inputs) {
                    v += in != nullptr ? in->channel(c)[i] : 0.0f;
                }
                output.channel(c)[i] = v;
            }
        }
    }

private:
    Journal* journal_;
    int tag_;
    float value_;
    int latency_;
};

// A counter that reports a latency and really delays its input by it.
class DelayNode : public Node {
public:
    explicit DelayNode(int frames) : frames_(frames) {}
    void prepare(double) override { line_.assign(static_cast<std::size_t>(frames_) * 2, 0.0f); }
    int latency() const override { return frames_; }
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override {
        const int n = std::min(context.frames, output.frames);
        for (int c = 0; c < std::min(output.channels, 2); ++c) {
            for (int i = 0; i < n; ++i) {
                const float in = !inputs.empty() && inputs[0] != nullptr ? inputs[0]->channel(c)[i] : 0.0f;
                float& slot = line_[static_cast<std::size_t>(c * frames_ + (pos_ + i) % frames_)];
                output.channel(c)[i] = slot;
                slot = in;
            }
        }
        pos_ = (pos_ + n) % frames_;
    }

private:
    int frames_;
    int pos_ = 0;
    std::vector<float> line_;
};

// Input 0 minus input 1: silence when both carry the same signal at the same time.
class DifferenceNode : public Node {
public:
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override {
        const int n = std::min(context.frames, output.frames);
        for (int c = 0; c < output.channels; ++c) {
            for (int i = 0; i < n; ++i) {
                output.channel(c)[i] = inputs[0]->channel(c)[i] - inputs[1]->channel(c)[i];
            }
        }
    }
};

// A signal that never repeats within the test, so a misaligned copy cannot cancel.
class CounterNode : public Node {
public:
    void process(const ProcessContext& context, std::span<const AudioBuffer* const>, AudioBuffer& output) override {
        const int n = std::min(context.frames, output.frames);
        for (int i = 0; i < n; ++i) {
            const float v = static_cast<float>(count_++ % 100000) + 1.0f;
            for (int c = 0; c < output.channels; ++c) {
                output.channel(c)[i] = v;
            }
        }
    }

private:
    std::int64_t count_ = 0;
};

std::string compileError(GraphBuilder& builder, int maxBlock = 512, int channels = 2) {
    std::string error;
    auto graph = builder.compile(48000.0, maxBlock, channels, &error);
    EXPECT_EQ(graph, nullptr);
    return error;
}

GraphBuilder probes(Journal& journal, int count) {
    GraphBuilder builder;
    for (int i = 0; i < count; ++i) {
        builder.addNode(std::make_unique<ProbeNode>(&journal, i));
    }
    return builder;
}

TEST(GraphCompileChecks, OutputMustNameABox) {
    Journal journal;
    GraphBuilder builder = probes(journal, 3);
    EXPECT_EQ(compileError(builder), "no output box was set");
    builder.output = 3;
    EXPECT_EQ(compileError(builder), "no output box was set");
}

TEST(GraphCompileChecks, SizesAreCheckedBeforeTheWires) {
    Journal journal;
    GraphBuilder builder = probes(journal, 3);
    builder.output = 2;
    builder.connect(7, 2, 0);
    EXPECT_EQ(compileError(builder, 512, 0), "block size and channel count must be positive");
    EXPECT_EQ(compileError(builder, 0, 2), "block size and channel count must be positive");
}

TEST(GraphCompileChecks, WireToAMissingBoxFails) {
    Journal journal;
    GraphBuilder builder = probes(journal, 3);
    builder.output = 2;
    builder.connect(7, 2, 0);
    EXPECT_EQ(compileError(builder), "a connection refers to a box that does not exist");
    GraphBuilder negative = probes(journal, 3);
    negative.output = 2;
    negative.connect(0, -1, 0);
    EXPECT_EQ(compileError(negative), "a connection refers to a box that does not exist");
}

TEST(GraphCompileChecks, InputNumbersRunFromZeroToFifteen) {
    Journal journal;
    for (int input : {16, -1}) {
        GraphBuilder builder = probes(journal, 3);
        builder.output = 2;
        builder.connect(0, 2, input);
        EXPECT_EQ(compileError(builder), "an input number must be between 0 and 15");
    }
}

TEST(GraphCompileChecks, TheFirstFailingWireDecidesTheMessage) {
    Journal journal;
    GraphBuilder builder = probes(journal, 3);
    builder.output = 2;
    builder.connect(0, 2, 16);
    builder.connect(9, 2, 0);
    EXPECT_EQ(compileError(builder), "an input number must be between 0 and 15");
}

TEST(GraphCompileChecks, TwoWiresIntoOneInputFailEvenFromADroppedBox) {
    Journal journal;
    GraphBuilder builder = probes(journal, 4);
    builder.output = 2;
    builder.connect(0, 2, 0);
    builder.connect(1, 2, 1);
    builder.connect(3, 1, 0);
    builder.connect(3, 1, 0);  // box 1 leads to the output, box 3 only through it
    EXPECT_EQ(compileError(builder), "two wires are plugged into the same input");

    GraphBuilder dropped = probes(journal, 4);
    dropped.output = 2;
    dropped.connect(0, 2, 0);
    dropped.connect(1, 3, 0);
    dropped.connect(0, 3, 0);  // box 3 does not lead to the output
    EXPECT_EQ(compileError(dropped), "two wires are plugged into the same input");
}

TEST(GraphCompileChecks, LoopOnTheWayToTheOutputFails) {
    Journal journal;
    GraphBuilder builder = probes(journal, 3);
    builder.output = 2;
    builder.connect(0, 1, 0);
    builder.connect(1, 0, 0);
    builder.connect(1, 2, 0);
    EXPECT_EQ(compileError(builder), "the connections form a loop (a box feeds itself)");

    GraphBuilder self = probes(journal, 2);
    self.output = 1;
    self.connect(0, 1, 0);
    self.connect(1, 1, 1);
    EXPECT_EQ(compileError(self), "the connections form a loop (a box feeds itself)");
}

TEST(GraphCompileChecks, LoopAmongDroppedBoxesIsNotAnError) {
    Journal journal;
    GraphBuilder builder = probes(journal, 4);
    builder.output = 1;
    builder.connect(0, 1, 0);
    builder.connect(2, 3, 0);
    builder.connect(3, 2, 0);
    auto graph = builder.compile(48000.0, 512, 2, nullptr);
    ASSERT_NE(graph, nullptr);
    EXPECT_EQ(graph->slots.size(), 2u);
    EXPECT_EQ(journal.destroyed, (std::vector<int>{2, 3}));
}

TEST(GraphCompileChecks, KeptBoxWithoutANodeFailsInsteadOfCrashing) {
    Journal journal;
    GraphBuilder builder = probes(journal, 2);
    builder.addNode(nullptr);
    builder.output = 2;
    builder.connect(0, 2, 0);
    EXPECT_EQ(compileError(builder), "a box has no node");
    EXPECT_EQ(builder.nodes.size(), 3u);
}

TEST(GraphCompileBuilder, SuccessEmptiesTheBuilderAndDestroysDroppedBoxes) {
    Journal journal;
    GraphBuilder builder = probes(journal, 3);
    builder.output = 1;
    builder.connect(0, 1, 0);
    builder.connect(2, 2, 0);
    auto graph = builder.compile(44100.0, 256, 1, nullptr);
    ASSERT_NE(graph, nullptr);
    EXPECT_TRUE(builder.nodes.empty());
    EXPECT_TRUE(builder.connections.empty());
    EXPECT_EQ(builder.output, -1);
    EXPECT_EQ(journal.destroyed, (std::vector<int>{2}));
    EXPECT_EQ(journal.prepared, (std::vector<int>{0, 1}));
    EXPECT_EQ(journal.preparedRate, 44100.0);
}

TEST(GraphCompileBuilder, FailureLeavesTheBuilderAsItWas) {
    Journal journal;
    GraphBuilder builder = probes(journal, 3);
    builder.output = 2;
    builder.connect(0, 1, 0);
    builder.connect(1, 0, 0);
    builder.connect(1, 2, 0);
    std::string error;
    EXPECT_EQ(builder.compile(48000.0, 512, 2, &error), nullptr);
    EXPECT_FALSE(error.empty());
    ASSERT_EQ(builder.nodes.size(), 3u);
    for (const auto& node : builder.nodes) {
        EXPECT_NE(node, nullptr);
    }
    EXPECT_EQ(builder.connections.size(), 3u);
    EXPECT_EQ(builder.output, 2);
    EXPECT_TRUE(journal.prepared.empty());
    EXPECT_TRUE(journal.destroyed.empty());
}

TEST(GraphCompileOrder, ReadyBoxesRunLowestNumberFirstFromTheStack) {
    Journal journal;
    GraphBuilder builder = probes(journal, 4);
    builder.output = 3;
    builder.connect(0, 1, 0);
    builder.connect(0, 2, 0);
    builder.connect(1, 3, 0);
    builder.connect(2, 3, 1);
    auto graph = builder.compile(48000.0, 64, 1, nullptr);
    ASSERT_NE(graph, nullptr);
    EXPECT_EQ(graph->order, (std::vector<int>{0, 2, 1, 3}));
    EXPECT_EQ(graph->output, 3);
    AudioBuffer out(1, 64);
    graph->process(ProcessContext{64, 48000.0, 0, false, 120.0, 4, {}}, out);
    EXPECT_EQ(journal.ran, (std::vector<int>{0, 2, 1, 3}));
}

TEST(GraphCompileOrder, EveryBoxRunsAfterTheBoxesThatFeedIt) {
    std::mt19937 random(11);
    for (int round = 0; round < 50; ++round) {
        Journal journal;
        GraphBuilder builder = probes(journal, 12);
        std::vector<std::pair<int, int>> wires;
        for (int to = 1; to < 12; ++to) {
            std::uniform_int_distribution<int> from(0, to - 1);
            // Shuffled box numbers make the feeding order differ from the numbering.
            wires.emplace_back((from(random) * 7) % 12, (to * 7) % 12);
        }
        int input = 0;
        for (auto [from, to] : wires) {
            builder.connect(from, to, input++ % 16);
        }
        builder.output = (11 * 7) % 12;
        auto graph = builder.compile(48000.0, 16, 1, nullptr);
        ASSERT_NE(graph, nullptr);
        std::vector<int> position(12, -1);
        for (std::size_t k = 0; k < graph->order.size(); ++k) {
            position[static_cast<std::size_t>(graph->order[k])] = static_cast<int>(k);
        }
        for (auto [from, to] : wires) {
            if (position[static_cast<std::size_t>(to)] >= 0) {
                EXPECT_LT(position[static_cast<std::size_t>(from)], position[static_cast<std::size_t>(to)]);
            }
        }
    }
}

TEST(GraphCompileInputs, UnwiredInputsBelowTheHighestAreNull) {
    Journal journal;
    GraphBuilder builder = probes(journal, 3);
    builder.output = 2;
    builder.connect(0, 2, 0);
    builder.connect(1, 2, 3);
    auto graph = builder.compile(48000.0, 64, 2, nullptr);
    ASSERT_NE(graph, nullptr);
    const GraphSlot& slot = graph->slots.back();
    EXPECT_EQ(slot.sources, (std::vector<int>{0, -1, -1, 1}));
    AudioBuffer out(2, 64);
    graph->process(ProcessContext{64, 48000.0, 0, false, 120.0, 4, {}}, out);
    EXPECT_EQ(journal.inputCounts.back(), 4u);
    EXPECT_EQ(journal.inputPlugged.back(), (std::vector<bool>{true, false, false, true}));
    EXPECT_EQ(journal.inputCounts.front(), 0u);
}

TEST(GraphLatency, ShorterParallelPathIsDelayedToMatch) {
    Journal journal;
    GraphBuilder builder;
    builder.addNode(std::make_unique<ProbeNode>(&journal, 0));
    builder.addNode(std::make_unique<ProbeNode>(&journal, 1, 0.0f, 64));
    builder.addNode(std::make_unique<ProbeNode>(&journal, 2));
    builder.addNode(std::make_unique<ProbeNode>(&journal, 3));
    builder.output = 3;
    builder.connect(0, 1, 0);
    builder.connect(0, 2, 0);
    builder.connect(1, 3, 0);
    builder.connect(2, 3, 1);
    auto graph = builder.compile(48000.0, 128, 2, nullptr);
    ASSERT_NE(graph, nullptr);
    EXPECT_EQ(graph->latency, 64);
    const GraphSlot& last = graph->slots.back();
    ASSERT_EQ(last.delays.size(), 2u);
    EXPECT_EQ(last.delays[0].length, 0);
    EXPECT_EQ(last.delays[1].length, 64);
    EXPECT_EQ(last.delays[1].memory.size(), 128u);
    EXPECT_EQ(last.inputs[1], &last.delays[1].buffer);
    EXPECT_EQ(last.inputs[0], &graph->slots[static_cast<std::size_t>(last.sources[0])].output);
}

// A delayed copy and its compensated dry path cancel, whatever the block sizes.
TEST(GraphLatency, CompensatedDryPathCancelsTheDelayedPath) {
    std::mt19937 random(3);
    std::uniform_int_distribution<int> size(1, 700);
    for (int delay : {1, 64, 1000}) {
        GraphBuilder builder;
        builder.addNode(std::make_unique<CounterNode>());
        builder.addNode(std::make_unique<DelayNode>(delay));
        builder.addNode(std::make_unique<DifferenceNode>());
        builder.output = 2;
        builder.connect(0, 1, 0);
        builder.connect(1, 2, 0);
        builder.connect(0, 2, 1);
        auto graph = builder.compile(48000.0, 512, 2, nullptr);
        ASSERT_NE(graph, nullptr);
        AudioBuffer out(2, 512);
        std::int64_t done = 0;
        double energy = 0.0;
        while (done < 20000) {
            const int n = size(random);
            graph->process(ProcessContext{n, 48000.0, done, false, 120.0, 4, {}}, out);
            const int ran = std::min(n, 512);
            for (int c = 0; c < 2; ++c) {
                for (int i = 0; i < ran; ++i) {
                    // Before the delay has filled, the dry path is delayed silence too.
                    energy += std::abs(out.channel(c)[i]);
                }
            }
            done += ran;
        }
        EXPECT_EQ(energy, 0.0) << "delay " << delay;
    }
}

TEST(GraphProcess, LongBlockIsCutToMaxBlock) {
    Journal journal;
    GraphBuilder builder;
    builder.addNode(std::make_unique<ProbeNode>(&journal, 0, 1.0f));
    builder.output = 0;
    auto graph = builder.compile(48000.0, 4096, 1, nullptr);
    ASSERT_NE(graph, nullptr);
    AudioBuffer out(1, 8192);
    graph->process(ProcessContext{8192, 48000.0, 0, false, 120.0, 4, {}}, out);
    EXPECT_EQ(out.channel(0)[4095], 1.0f);
    EXPECT_EQ(out.channel(0)[4096], 0.0f);
}

TEST(GraphProcess, EveryNodeReceivesTheBlocksEvents) {
    Journal journal;
    GraphBuilder builder = probes(journal, 3);
    builder.output = 2;
    builder.connect(0, 1, 0);
    builder.connect(1, 2, 0);
    auto graph = builder.compile(48000.0, 64, 1, nullptr);
    ASSERT_NE(graph, nullptr);
    const std::array<Event, 2> events{};
    AudioBuffer out(1, 64);
    graph->process(ProcessContext{64, 48000.0, 0, false, 120.0, 4, events}, out);
    EXPECT_EQ(journal.eventCounts, (std::vector<std::size_t>{2, 2, 2}));
}

TEST(GraphProcess, RunningACompiledGraphNeverAllocates) {
    GraphBuilder builder;
    builder.addNode(std::make_unique<CounterNode>());
    builder.addNode(std::make_unique<DelayNode>(100));
    builder.addNode(std::make_unique<DifferenceNode>());
    builder.output = 2;
    builder.connect(0, 1, 0);
    builder.connect(1, 2, 0);
    builder.connect(0, 2, 1);
    auto graph = builder.compile(48000.0, 512, 2, nullptr);
    ASSERT_NE(graph, nullptr);
    AudioBuffer out(2, 512);
    const std::array<Event, 4> events{};
    test::AllocationCounter counter;
    for (int block = 0; block < 50; ++block) {
        graph->process(ProcessContext{512, 48000.0, block * 512LL, true, 120.0, 4, events}, out);
    }
    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(counter.frees(), 0u);
}

}  // namespace
}  // namespace ostrel::engine
