// Cost of one 512-frame stereo block through each effect and through all five.

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "devices/DeviceCatalog.h"
#include "devices/effects/EffectPresets.h"

namespace ostrel::engine {
namespace {

constexpr int kFrames = 512;
constexpr double kRate = 48000.0;

AudioBuffer testSignal() {
    AudioBuffer in(2, kFrames);
    for (int i = 0; i < kFrames; ++i) {
        in.channel(0)[i] = 0.5f * std::sin(0.031f * static_cast<float>(i));
        in.channel(1)[i] = 0.4f * std::sin(0.017f * static_cast<float>(i));
    }
    return in;
}

void runOne(benchmark::State& state, const std::string& typeId) {
    std::unique_ptr<DeviceNode> fx = createDevice(typeId);
    fx->prepare(kRate);
    const AudioBuffer in = testSignal();
    AudioBuffer out(2, kFrames);
    const AudioBuffer* inputs[] = {&in};
    ProcessContext ctx;
    ctx.frames = kFrames;
    ctx.sampleRate = kRate;
    for (auto _ : state) {
        fx->process(ctx, inputs, out);
        benchmark::DoNotOptimize(out.data.data());
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

void BM_Delay(benchmark::State& state) { runOne(state, "ostrel.delay"); }
void BM_Eq(benchmark::State& state) { runOne(state, "ostrel.eq"); }
void BM_Reverb(benchmark::State& state) { runOne(state, "ostrel.reverb"); }
void BM_Compressor(benchmark::State& state) { runOne(state, "ostrel.compressor"); }
void BM_Chorus(benchmark::State& state) { runOne(state, "ostrel.chorus"); }

// The five in browser order, each feeding the next.
void BM_ChainOfAllFive(benchmark::State& state) {
    std::vector<std::unique_ptr<DeviceNode>> chain;
    for (const std::string& id : effectTypeIds()) {
        chain.push_back(createDevice(id));
        chain.back()->prepare(kRate);
    }
    AudioBuffer a = testSignal();
    AudioBuffer b(2, kFrames);
    const AudioBuffer source = testSignal();
    ProcessContext ctx;
    ctx.frames = kFrames;
    ctx.sampleRate = kRate;
    for (auto _ : state) {
        a.copyFrom(source, kFrames);
        AudioBuffer* from = &a;
        AudioBuffer* to = &b;
        for (auto& fx : chain) {
            const AudioBuffer* inputs[] = {from};
            fx->process(ctx, inputs, *to);
            std::swap(from, to);
        }
        benchmark::DoNotOptimize(from->data.data());
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

BENCHMARK(BM_Delay);
BENCHMARK(BM_Eq);
BENCHMARK(BM_Reverb);
BENCHMARK(BM_Compressor);
BENCHMARK(BM_Chorus);
BENCHMARK(BM_ChainOfAllFive);

}  // namespace
}  // namespace ostrel::engine
