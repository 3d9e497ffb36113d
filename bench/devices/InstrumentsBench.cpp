// Cost of one 512-frame stereo block of each built-in instrument, one copy of its
// patch with one key held (the kick for the drum kit).

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "devices/instruments/BuiltinInstruments.h"
#include "devices/patches/PatchGraph.h"

namespace ostrel::engine {
namespace {

constexpr int kFrames = 512;
constexpr double kRate = 48000.0;

void runInstrument(benchmark::State& state, const Patch& patch) {
    std::string error;
    PatchGraph built = buildPatchGraph(patch, kRate, kFrames, 2, &error);
    if (!built.graph) {
        state.SkipWithError(error.c_str());
        return;
    }
    AudioBuffer out(2, kFrames);
    Event on;
    on.type = EventType::NoteOn;
    on.note = static_cast<std::uint8_t>(patch.category == "drums" ? 36 : 60);
    on.velocity = 100;
    ProcessContext ctx;
    ctx.frames = kFrames;
    ctx.sampleRate = kRate;
    ctx.events = std::span<const Event>(&on, 1);
    built.graph->process(ctx, out);
    ctx.events = {};
    for (auto _ : state) {
        built.graph->process(ctx, out);
        benchmark::DoNotOptimize(out.data.data());
        ctx.position += kFrames;
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

const bool registered = [] {
    for (const Patch& patch : builtinPatches()) {
        benchmark::RegisterBenchmark(("Instrument/" + patch.name).c_str(),
                                     [patch](benchmark::State& state) { runInstrument(state, patch); });
    }
    return true;
}();

}  // namespace
}  // namespace ostrel::engine
