#include "engine/graph/Graph.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

// What the probe nodes report back to the test.
struct Journal {
    std::vector<int> ran, destroyed;  // node tags in order
    std::vector<double> prepared;     // the rate of each prepare
    std::vector<std::vector<bool>> plugged;  // per run: which inputs were wired
    std::vector<std::size_t> eventCounts;
};

// Writes value plus the sum of its inputs; tells the journal what it saw.
class ProbeNode : public Node {
public:
    ProbeNode(Journal* journal, int tag, float value = 0.0f) : journal_(journal), tag_(tag), value_(value) {}
    ~ProbeNode() override { journal_->destroyed.push_back(tag_); }
    void prepare(double rate) override { journal_->prepared.push_back(rate); }
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override {
        journal_->ran.push_back(tag_);
        journal_->eventCounts.push_back(context.events.size());
        journal_->plugged.emplace_back();
        for (const AudioBuffer* in : inputs) {
            journal_->plugged.back().push_back(in != nullptr);
        }
        for (int c = 0; c < output.channels; ++c) {
            for (int i = 0; i < std::min(context.frames, output.frames); ++i) {
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
};

// Reports a latency and really delays its input by it.
class DelayNode : public Node {
public:
    explicit DelayNode(int frames) : frames_(frames) {}
    void prepare(double) override { line_.assign(static_cast<std::size_t>(frames_) * 2, 0.0f); }
    int latency() const override { return frames_; }
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override {
        const int n = std::min(context.frames, output.frames);
        for (int c = 0; c < 2; ++c) {
            for (int i = 0; i < n; ++i) {
                float& slot = line_[static_cast<std::size_t>(c * frames_ + (pos_ + i) % frames_)];
                output.channel(c)[i] = slot;
                slot = inputs[0]->channel(c)[i];
            }
        }
        pos_ = (pos_ + n) % frames_;
    }

private:
    int frames_;
    int pos_ = 0;
    std::vector<float> line_;
};

// Without inputs a count that never repeats within the test, so a misaligned copy cannot
// cancel; with inputs, input 0 minus input 1: silence when both carry the same signal.
class CountOrDifferenceNode : public Node {
public:
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override {
        for (int i = 0; i < std::min(context.frames, output.frames); ++i) {
            const float count = static_cast<float>(count_++ % 100000) + 1.0f;
            for (int c = 0; c < output.channels; ++c) {
                output.channel(c)[i] = inputs.empty() ? count : inputs[0]->channel(c)[i] - inputs[1]->channel(c)[i];
            }
        }
    }

private:
    std::int64_t count_ = 0;
};

// Counter -> delay -> difference, with the counter also wired straight to the difference.
std::unique_ptr<Graph> delayedAgainstDry(int delay) {
    GraphBuilder builder;
    builder.addNode(std::make_unique<CountOrDifferenceNode>());
    builder.addNode(std::make_unique<DelayNode>(delay));
    builder.addNode(std::make_unique<CountOrDifferenceNode>());
    builder.output = 2;
    builder.connect(0, 1, 0);
    builder.connect(1, 2, 0);
    builder.connect(0, 2, 1);
    return builder.compile(48000.0, 512, 2, nullptr);
}

// Each check's message, the checks in their order; a failure leaves the builder untouched.
TEST(GraphCompileChecks, EachFailureGivesItsMessageAndLeavesTheBuilderAsItWas) {
    struct Case {
        const char* message;
        int boxes, output, maxBlock, channels;
        std::vector<std::array<int, 3>> wires;  // from, to, input
    } cases[] = {
        {"no output box was set", 3, -1, 512, 2, {}},
        {"block size and channel count must be positive", 3, 2, 512, 0, {{7, 2, 0}}},
        {"a connection refers to a box that does not exist", 3, 2, 512, 2, {{7, 2, 0}}},
        {"an input number must be between 0 and 15", 3, 2, 512, 2, {{0, 2, 16}}},
        {"an input number must be between 0 and 15", 3, 2, 512, 2, {{0, 2, 16}, {9, 2, 0}}},  // first wire decides
        {"two wires are plugged into the same input", 4, 2, 512, 2, {{0, 2, 0}, {1, 2, 1}, {3, 1, 0}, {3, 1, 0}}},
        {"two wires are plugged into the same input", 4, 2, 512, 2, {{0, 2, 0}, {1, 3, 0}, {0, 3, 0}}},  // dropped box
        {"the connections form a loop (a box feeds itself)", 2, 1, 512, 2, {{0, 1, 0}, {1, 1, 1}}},
        {"a box has no node", 2, 2, 512, 2, {{0, 2, 0}}},  // box 2 is added without a node
    };
    for (const Case& c : cases) {
        Journal journal;
        GraphBuilder builder;
        for (int i = 0; i < c.boxes; ++i) {
            builder.addNode(std::make_unique<ProbeNode>(&journal, i));
        }
        if (std::string(c.message) == "a box has no node") {
            builder.addNode(nullptr);
        }
        builder.output = c.output;
        for (const auto& [from, to, input] : c.wires) {
            builder.connect(from, to, input);
        }
        const std::size_t boxes = builder.nodes.size();
        std::string error;
        EXPECT_EQ(builder.compile(48000.0, c.maxBlock, c.channels, &error), nullptr);
        EXPECT_EQ(error, c.message);
        EXPECT_EQ(builder.nodes.size(), boxes) << c.message;
        EXPECT_EQ(builder.connections.size(), c.wires.size()) << c.message;
        EXPECT_EQ(builder.output, c.output) << c.message;
        EXPECT_TRUE(journal.prepared.empty() && journal.destroyed.empty()) << c.message;
    }
}

// Boxes 0 -> 1 -> 3 and 0 -> 2 -> 3 reach the output; 4 and 5 feed each other and are dropped.
TEST(GraphCompile, SuccessRunsWhatReachesTheOutputFromTheStackLowestFirstAndEmptiesTheBuilder) {
    Journal journal;
    GraphBuilder builder;
    for (int i = 0; i < 6; ++i) {
        builder.addNode(std::make_unique<ProbeNode>(&journal, i, i == 0 ? 1.0f : 0.0f));
    }
    builder.output = 3;
    for (auto [from, to, input] : {std::array{0, 1, 0}, {0, 2, 0}, {1, 3, 0}, {2, 3, 3}, {4, 5, 0}, {5, 4, 0}}) {
        builder.connect(from, to, input);
    }
    auto graph = builder.compile(44100.0, 64, 1, nullptr);
    ASSERT_NE(graph, nullptr);
    EXPECT_TRUE(builder.nodes.empty() && builder.connections.empty() && builder.output == -1);
    EXPECT_EQ(journal.destroyed, (std::vector<int>{4, 5}));
    EXPECT_EQ(journal.prepared, std::vector<double>(4, 44100.0));
    EXPECT_EQ(graph->order, (std::vector<int>{0, 2, 1, 3}));

    const std::array<Event, 2> events{};
    AudioBuffer out(1, 128);
    out.data.assign(128, 9.0f);
    graph->process(ProcessContext{128, 44100.0, 0, false, 120.0, 4, events}, out);
    EXPECT_EQ(journal.ran, (std::vector<int>{0, 2, 1, 3}));
    EXPECT_EQ(journal.eventCounts, (std::vector<std::size_t>(4, 2)));
    EXPECT_EQ(journal.plugged.back(), (std::vector<bool>{true, false, false, true})) << "unwired inputs are null";
    EXPECT_EQ(out.channel(0)[63], 2.0f);
    EXPECT_EQ(out.channel(0)[64], 9.0f) << "a block runs at most the max block";
}

// A delayed copy and its compensated dry path cancel, whatever the block sizes.
TEST(GraphLatency, CompensatedDryPathCancelsTheDelayedPathWhateverTheBlocksAndNothingAllocates) {
    std::mt19937 random(3);
    std::uniform_int_distribution<int> size(1, 700);
    const std::array<Event, 4> events{};
    for (int delay : {1, 64, 1000}) {
        auto graph = delayedAgainstDry(delay);
        ASSERT_NE(graph, nullptr);
        EXPECT_EQ(graph->latency, delay);
        AudioBuffer out(2, 512);
        double energy = 0.0;
        test::AllocationCounter counter;
        for (std::int64_t done = 0; done < 20000;) {
            const int n = size(random);
            graph->process(ProcessContext{n, 48000.0, done, true, 120.0, 4, events}, out);
            for (int i = 0; i < 2 * 512; ++i) {
                energy += std::abs(out.data[static_cast<std::size_t>(i)]);  // before the delay fills, both are silence
            }
            done += std::min(n, 512);
        }
        EXPECT_EQ(energy, 0.0) << "delay " << delay;
        EXPECT_EQ(counter.allocations() + counter.frees(), 0u) << "delay " << delay;
    }
}

}  // namespace
}  // namespace ostrel::engine
