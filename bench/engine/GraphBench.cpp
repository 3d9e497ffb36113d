#include <benchmark/benchmark.h>

#include <memory>

#include "engine/graph/BasicNodes.h"
#include "engine/graph/Graph.h"

namespace ostrel::engine {
namespace {

// Averages its wired inputs: a stand-in for a cheap effect, so the figure is mostly
// the graph's own cost (ordering, input lists, delay copying).
class MixNode : public Node {
public:
    explicit MixNode(int latency) : latency_(latency) {}
    int latency() const override { return latency_; }
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override {
        const int n = std::min(context.frames, output.frames);
        for (int c = 0; c < output.channels; ++c) {
            float* out = output.channel(c);
            std::fill_n(out, n, 0.0f);
            for (const AudioBuffer* in : inputs) {
                if (in != nullptr) {
                    const float* src = in->channel(c);
                    for (int i = 0; i < n; ++i) {
                        out[i] += 0.5f * src[i];
                    }
                }
            }
        }
    }

private:
    int latency_;
};

// 100 boxes, stereo: 10 sine sources feeding a web of 90 mixers in which every mixer
// takes two earlier boxes, some with latency so that delay lines are needed.
std::unique_ptr<Graph> hundredBoxGraph(int maxBlock) {
    GraphBuilder builder;
    for (int i = 0; i < 10; ++i) {
        builder.addNode(std::make_unique<SineNode>(110.0f * static_cast<float>(i + 1), 0.1f));
    }
    for (int i = 10; i < 100; ++i) {
        builder.addNode(std::make_unique<MixNode>(i % 7 == 0 ? 32 : 0));
        builder.connect(i - 1, i, 0);
        builder.connect((i * 37) % i, i, 1);
    }
    builder.output = 99;
    return builder.compile(48000.0, maxBlock, 2, nullptr);
}

void BM_GraphProcess100Boxes(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    auto graph = hundredBoxGraph(frames);
    AudioBuffer out(2, frames);
    std::int64_t position = 0;
    for (auto _ : state) {
        graph->process(ProcessContext{frames, 48000.0, position, true, 120.0, 4, {}}, out);
        position += frames;
        benchmark::DoNotOptimize(out.data.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["realtime_x"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * frames / 48000.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GraphProcess100Boxes)->Arg(512);

void BM_GraphCompile100Boxes(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(hundredBoxGraph(4096));
    }
}
BENCHMARK(BM_GraphCompile100Boxes);

}  // namespace
}  // namespace ostrel::engine
