#include "core/settings/SettingsRegistry.h"
#include "core/settings/SettingsStore.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace ostrel::core;

// A store as a user's might look after a while: a few pages changed, a token made.
SettingsStore typicalStore(const SettingsRegistry& registry) {
    SettingsStore store(registry);
    ostrel::bench::require(store.set("appearance.theme", std::string("dark"), nullptr), "set a value");
    ostrel::bench::require(store.set("appearance.ui_scale", std::int64_t{125}, nullptr), "set a value");
    ostrel::bench::require(store.set("api.enabled", true, nullptr), "set a value");
    ostrel::bench::require(store.set("api.token", std::string("0123456789abcdef0123456789abcdef"), nullptr), "set a value");
    ostrel::bench::require(store.set("transport.tempo", 133.5, nullptr), "set a value");
    ostrel::bench::require(store.set("instrument.level", 0.55, nullptr), "set a value");
    ostrel::bench::require(store.set("midi.input_device", std::string("Arturia KeyStep 32"), nullptr), "set a value");
    ostrel::bench::require(store.set("audio.buffer_size", std::string("256"), nullptr), "set a value");
    return store;
}

// The whole save as the settings page does it after each change, disk flush included.
void BM_SettingsSave(benchmark::State& state) {
    const SettingsRegistry registry = buildSettingsRegistry();
    const SettingsStore store = typicalStore(registry);
    const ostrel::bench::ScratchFolder folder;
    const fs::path file = folder / "settings.json";
    for (auto _ : state) {
        if (!store.save(file, nullptr)) {
            state.SkipWithError("save failed");
            break;
        }
    }
}
BENCHMARK(BM_SettingsSave)->Unit(benchmark::kMicrosecond);

// The text alone, to tell formatting from the wait for the disk.
void BM_SettingsToJsonText(benchmark::State& state) {
    const SettingsRegistry registry = buildSettingsRegistry();
    const SettingsStore store = typicalStore(registry);
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.toJsonText());
    }
}
BENCHMARK(BM_SettingsToJsonText)->Unit(benchmark::kMicrosecond);

void BM_SettingsLoad(benchmark::State& state) {
    const SettingsRegistry registry = buildSettingsRegistry();
    const ostrel::bench::ScratchFolder folder;
    const fs::path file = folder / "settings.json";
    ostrel::bench::require(typicalStore(registry).save(file, nullptr), "save the settings");
    for (auto _ : state) {
        SettingsStore store(registry);
        benchmark::DoNotOptimize(store.load(file));
    }
}
BENCHMARK(BM_SettingsLoad)->Unit(benchmark::kMicrosecond);

}  // namespace
