// Offline render of a fixed song (bench::benchSong: 4 tracks, 32 bars at 128 BPM, 60 s).
// Arguments: sample rate, block size, render threads (0: one per core; pin the process with
// taskset to compare one core with several).
//
// Counters: realtime = song seconds rendered per second of wall time; peak_rss_mb = the
// process's peak resident memory after the render (getrusage).

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "model/document/Project.h"
#include "playback/BenchSongs.h"
#include "playback/render/SongRenderer.h"

namespace {

using namespace ostrel;
using bench::benchSong;

double peakResidentMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void BM_RenderSong(benchmark::State& state) {
    const model::Project song = benchSong();
    engine::RenderSettings settings;
    settings.sampleRate = static_cast<double>(state.range(0));
    settings.blockSize = static_cast<std::uint32_t>(state.range(1));
    settings.threads = static_cast<std::int32_t>(state.range(2));
    double songSeconds = 0.0;
    double wallSeconds = 0.0;
    for (auto _ : state) {
        engine::RenderOutput out;
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        if (!engine::renderProject(song, settings, &out, &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        wallSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        songSeconds += static_cast<double>(out.audio.frames) / settings.sampleRate;
        benchmark::DoNotOptimize(out.audio.samples.data());
    }
    state.counters["realtime"] = wallSeconds > 0.0 ? songSeconds / wallSeconds : 0.0;
    state.counters["peak_rss_mb"] = peakResidentMegabytes();
}
BENCHMARK(BM_RenderSong)
    ->Args({48000, 512, 1})
    ->Args({44100, 512, 1})
    ->Args({96000, 512, 1})
    ->Args({48000, 512, 2})
    ->Args({48000, 512, 4})
    ->Args({48000, 512, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace
