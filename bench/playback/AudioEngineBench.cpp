#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/graph/BasicNodes.h"
#include "playback/AudioEngine.h"

#include "BenchSupport.h"

namespace ostrel::engine {
namespace {

// Hands the render callback to the benchmark loop instead of a sound card.
class BenchBackend final : public IAudioBackend {
public:
    std::string backendName() override { return "Bench"; }
    std::vector<AudioDeviceInfo> listDevices() override { return {}; }
    bool open(const AudioConfig&, RenderCallback callback, void* user, std::string*) override {
        callback_ = callback;
        user_ = user;
        return true;
    }
    void close() override {}
    BackendState state() const override { return BackendState::Running; }
    LoadStats loadStats() const override { return {}; }

    void render(float* out, uint32_t frames) { callback_(user_, out, frames); }

private:
    RenderCallback callback_ = nullptr;
    void* user_ = nullptr;
};

// A gain stage: the cheapest node that still reads its input and writes every sample.
class GainNode final : public Node {
public:
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override {
        const int n = std::min(output.frames, context.frames);
        const AudioBuffer* in = inputs.empty() ? nullptr : inputs[0];
        for (int c = 0; c < output.channels; ++c) {
            float* dst = output.channel(c);
            if (in == nullptr || c >= in->channels) {
                std::fill(dst, dst + n, 0.0f);
                continue;
            }
            const float* src = in->channel(c);
            for (int i = 0; i < n; ++i) {
                dst[i] = src[i] * 0.99f;
            }
        }
    }
};

// One 512-frame period with a stereo backing track, the metronome and a live graph of a
// sine followed by 19 gain stages.
void BM_EngineCallbackPeriod(benchmark::State& state) {
    auto backend = std::make_unique<BenchBackend>();
    BenchBackend* card = backend.get();
    AudioEngine engine(std::move(backend));
    std::string error;
    if (!engine.start({"", 48000, 512, 2}, &error)) {
        state.SkipWithError(error.c_str());
        return;
    }

    GraphBuilder builder;
    int previous = builder.addNode(std::make_unique<SineNode>(220.0f, 0.2f));
    for (int i = 1; i < 20; ++i) {
        const int gain = builder.addNode(std::make_unique<GainNode>());
        builder.connect(previous, gain, 0);
        previous = gain;
    }
    builder.output = previous;
    ostrel::bench::require(engine.publishGraph(builder.compile(48000, AudioEngine::kMaxChunk, 2, &error)), "publish the graph");

    engine.setBackingTrack(std::make_shared<BackingTrack>(std::vector<float>(48000 * 60 * 2, 0.1f), 2));
    engine.transport().setMetronome(true);
    // 32 s at 120 BPM, inside the track.
    engine.transport().setLoop({.enabled = true, .startBeats = 0.0, .endBeats = 64.0});
    engine.setPlaying(true);

    std::vector<float> out(512 * 2);
    for (int i = 0; i < 16; ++i) {
        card->render(out.data(), 512);  // past the fade-in
    }
    for (auto _ : state) {
        card->render(out.data(), 512);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 512);
    engine.stop();
}
BENCHMARK(BM_EngineCallbackPeriod);

}  // namespace
}  // namespace ostrel::engine
