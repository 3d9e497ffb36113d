// The live instrument on the engine: one 512-frame stereo block at 48 kHz with eight
// held voices of each built-in plus Echo and Room, as a share of the block's 10.67 ms,
// and the GUI thread's cost of rebuilding the instrument's graph.

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "devices/instruments/BuiltinInstruments.h"
#include "playback/live/LiveInstrument.h"

#include "BenchSupport.h"

namespace ostrel::engine {
namespace {

constexpr std::uint32_t kFrames = 512;
constexpr double kRate = 48000.0;
constexpr double kBlockSeconds = kFrames / kRate;

// A running sound card that never calls back: the benchmark renders itself.
class BenchBackend final : public IAudioBackend {
public:
    std::string backendName() override { return "Bench"; }
    std::vector<AudioDeviceInfo> listDevices() override { return {}; }
    bool open(const AudioConfig&, RenderCallback, void*, std::string*) override {
        running_ = true;
        return true;
    }
    void close() override { running_ = false; }
    BackendState state() const override { return running_ ? BackendState::Running : BackendState::Closed; }
    LoadStats loadStats() const override { return {}; }

private:
    bool running_ = false;
};

struct Rig {
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>(std::make_unique<BenchBackend>());
    std::unique_ptr<LiveInstrument> live;

    explicit Rig(Patch patch) {
        AudioConfig config;
        config.sampleRate = kRate;
        config.bufferFrames = kFrames;
        ostrel::bench::require(engine->start(config, nullptr), "start the engine");
        live = std::make_unique<LiveInstrument>(engine.get());
        live->setEffects(true);
        live->setPatch(std::move(patch));
        ostrel::bench::require(live->rebuild(nullptr), "build the instrument");
    }
};

void BM_BlockOfEightVoices(benchmark::State& state, const Patch& patch) {
    Rig rig(patch);
    // Drum kit keys from 36; the synths hold a low cluster.
    for (int note = 36; note < 44; ++note) rig.live->noteOn(note, 100);
    std::vector<float> out(kFrames * 2);
    for (int b = 0; b < 8; ++b) rig.engine->renderBlock(out.data(), kFrames);  // past the cross-fade

    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        rig.engine->renderBlock(out.data(), kFrames);
        benchmark::DoNotOptimize(out.data());
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    // Time spent per block, in percent of the block's own length.
    state.counters["budget_%"] = 100.0 * elapsed.count() / (static_cast<double>(state.iterations()) * kBlockSeconds);
}

// Building and publishing the eight-voice graph with Echo and Room, and freeing the one
// it replaces, as after a change of instrument.
void BM_Rebuild(benchmark::State& state, const Patch& patch) {
    Rig rig(patch);
    for (auto _ : state) {
        rig.live->setPatch(Patch(patch));
        benchmark::DoNotOptimize(rig.live->rebuild(nullptr));
    }
}

const bool registered = [] {
    for (const Patch& patch : builtinPatches()) {
        benchmark::RegisterBenchmark(("BM_BlockOfEightVoices/" + patch.name).c_str(), BM_BlockOfEightVoices, patch);
    }
    for (const Patch& patch : builtinPatches()) {
        benchmark::RegisterBenchmark(("BM_Rebuild/" + patch.name).c_str(), BM_Rebuild, patch)
            ->Unit(benchmark::kMicrosecond);
    }
    return true;
}();

}  // namespace
}  // namespace ostrel::engine
