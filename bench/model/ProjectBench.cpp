// The song document at a large size: 32 tracks x 64 clips x 64 notes (131072 notes).
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>

#include <nlohmann/json.hpp>

#include "model/commands/Commands.h"
#include "model/commands/History.h"
#include "model/file/ProjectFile.h"

#include "BenchSupport.h"
#include "model/LargeSong.h"

// Heap bytes in use and their high-water mark, so a benchmark can report the peak an
// operation needs on top of what was live before it.
namespace {
std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

// Kept out of line so the compiler does not pair the malloc and free across the
// replaced operators below and warn about a mismatch.
[[gnu::noinline]] void* allocateTracked(std::size_t size) noexcept {
    void* pointer = std::malloc(size ? size : 1);
    if (!pointer) return nullptr;
    const std::size_t bytes = malloc_usable_size(pointer);
    const std::size_t now = liveBytes.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    std::size_t peak = peakBytes.load(std::memory_order_relaxed);
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {}
    return pointer;
}

[[gnu::noinline]] void releaseTracked(void* pointer) noexcept {
    if (!pointer) return;
    liveBytes.fetch_sub(malloc_usable_size(pointer), std::memory_order_relaxed);
    std::free(pointer);
}
}  // namespace

void* operator new(std::size_t size) {
    if (void* pointer = allocateTracked(size)) return pointer;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocateTracked(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocateTracked(size); }
void operator delete(void* pointer) noexcept { releaseTracked(pointer); }
void operator delete[](void* pointer) noexcept { releaseTracked(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { releaseTracked(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { releaseTracked(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { releaseTracked(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { releaseTracked(pointer); }

namespace {

using namespace ostrel::model;

using ostrel::bench::largeProject;

constexpr int kTracks = ostrel::bench::kLargeSong.tracks;
constexpr int kClips = ostrel::bench::kLargeSong.clipsPerTrack;
constexpr int kNotes = ostrel::bench::kLargeSong.notesPerClip;

const Project& sharedProject() {
    static const Project project = largeProject();
    return project;
}

void reportPeak(benchmark::State& state, std::size_t peak) {
    state.counters["peak_heap_MiB"] = static_cast<double>(peak) / (1024.0 * 1024.0);
}

void BM_CopyProject(benchmark::State& state) {
    const Project& source = sharedProject();
    for (auto _ : state) {
        Project copy = source;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_CopyProject)->Unit(benchmark::kMillisecond);

void BM_CompareEqualProjects(benchmark::State& state) {
    const Project& source = sharedProject();
    const Project copy = source;
    for (auto _ : state) benchmark::DoNotOptimize(copy == source);
}
BENCHMARK(BM_CompareEqualProjects)->Unit(benchmark::kMillisecond);

// 200 edits of kinds that do not merge with each other, then all undone and all redone.
void BM_Execute200UndoRedo(benchmark::State& state) {
    Project project = sharedProject();
    std::mt19937 random(7);
    for (auto _ : state) {
        History history(project, 200);
        for (int i = 0; i < 200; ++i) {
            const Track& track = project.tracks()[random() % kTracks];
            const Clip& clip = track.clips[random() % kClips];
            switch (i % 4) {
            case 0: {
                Note note = clip.notes[random() % kNotes];
                note.pitch = 40 + i % 40;
                history.execute(std::make_unique<UpdateNoteCommand>(track.id, clip.id, note.id, note));
                break;
            }
            case 1:
                history.execute(std::make_unique<UpdateClipCommand>(track.id, clip.id, clip.startBeats + 1.0, 4.0));
                break;
            case 2:
                history.execute(std::make_unique<SetTrackVolumeCommand>(track.id, 0.5 + i * 0.001));
                break;
            case 3:
                history.execute(std::make_unique<SetTempoCommand>(100.0 + i));
                break;
            }
        }
        while (history.canUndo()) history.undo();
        while (history.canRedo()) history.redo();
    }
}
BENCHMARK(BM_Execute200UndoRedo)->Unit(benchmark::kMillisecond);

// A removed track carries 4096 notes into the step; undo and redo move it back and forth.
void BM_RemoveTrackUndoRedo(benchmark::State& state) {
    Project project = sharedProject();
    History history(project, 200);
    const Uuid id = project.tracks()[kTracks / 2].id;
    history.execute(std::make_unique<RemoveTrackCommand>(id));
    for (auto _ : state) {
        history.undo();
        history.redo();
    }
}
BENCHMARK(BM_RemoveTrackUndoRedo)->Unit(benchmark::kMicrosecond);

std::filesystem::path benchFile() {
    static const ostrel::bench::ScratchFolder folder;
    return folder / "bench.ostproj";
}

void BM_SaveProject(benchmark::State& state) {
    const Project& project = sharedProject();
    const auto path = benchFile();
    std::size_t peak = 0;
    for (auto _ : state) {
        const std::size_t before = liveBytes.load();
        peakBytes.store(before);
        std::string error;
        if (!saveProjectFile(path, project, &error)) state.SkipWithError(error.c_str());
        peak = std::max(peak, peakBytes.load() - before);
    }
    reportPeak(state, peak);
    state.counters["file_MiB"] = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
    std::filesystem::remove(path);
}
BENCHMARK(BM_SaveProject)->Unit(benchmark::kMillisecond);

// peak_heap counts what is reserved: the parser reserves room for the densest possible
// document (about 15 bytes per byte of text) but touches only what this one needs.
void BM_LoadProject(benchmark::State& state) {
    const auto path = benchFile();
    std::string error;
    ostrel::bench::require(saveProjectFile(path, sharedProject(), &error), error.c_str());
    std::size_t peak = 0;
    for (auto _ : state) {
        Project loaded;
        const std::size_t before = liveBytes.load();
        peakBytes.store(before);
        if (!loadProjectFile(path, loaded, &error, nullptr)) state.SkipWithError(error.c_str());
        peak = std::max(peak, peakBytes.load() - before);
        benchmark::DoNotOptimize(loaded);
    }
    reportPeak(state, peak);
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadProject)->Unit(benchmark::kMillisecond);

}  // namespace
