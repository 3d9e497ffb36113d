// The project controller over a large song: 32 tracks x 64 clips x 64 notes (131072 notes),
// each track an FM instrument with three effects, as in the model's benchmark.
//
//   Open:              openProject of the file until the tracks view has been read.
//   ReadFileOnly:      the project file reader alone, for comparison with Open.
//   CopyAndDrop:       one copy of the document made and freed (an open makes the saved copy
//                      and frees the old document and the old saved copy).
//   TracksAfterEdit:   the tracks view read right after an edit (built afresh).
//   TracksAgain:       the tracks view read again with no edit between.
//   DirtyAfterEdit:    dirty read right after an edit (one whole-document comparison).
//   DirtyAgain:        dirty read again.
//   PlayStartAfterEdit: play after an edit: the GUI thread's share (the song renders in the
//                      background while it plays; app_play_start_bench times the sound).
//   PlayStartAgain:    play again with no edit since the last play: the last render is reused.
//   EditToBackingTrack: an edit while playing until its background render can take over at
//                      the playhead.

#include "LargeProject.h"
#include "playback/AudioEngine.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

namespace {

using namespace ostrel;
using bench::Program;

Program& program() {
    static Program shared;
    return shared;
}

void Open(benchmark::State& state) {
    Program& p = program();
    for (auto _ : state) {
        state.PauseTiming();
        if (p.project.dirty()) {
            bench::require(p.project.save(), "saving before the next open");
        }
        state.ResumeTiming();
        bench::require(p.project.openProject("large.ostproj"), "opening the large project");
        benchmark::DoNotOptimize(p.project.tracks());
    }
}
BENCHMARK(Open)->Unit(benchmark::kMillisecond)->Iterations(5);

void ReadFileOnly(benchmark::State& state) {
    Program& p = program();
    const std::string path = QFile::encodeName(p.data.filePath("projects/large.ostproj")).toStdString();
    for (auto _ : state) {
        model::Project song;
        bench::require(model::loadProjectFile(path, song, nullptr, nullptr), "reading the large project");
        benchmark::DoNotOptimize(song);
    }
}
BENCHMARK(ReadFileOnly)->Unit(benchmark::kMillisecond)->Iterations(5);

void CopyAndDrop(benchmark::State& state) {
    Program& p = program();
    for (auto _ : state) {
        model::Project copy = p.project.document();
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(CopyAndDrop)->Unit(benchmark::kMillisecond)->Iterations(5);

void TracksAfterEdit(benchmark::State& state) {
    Program& p = program();
    for (auto _ : state) {
        state.PauseTiming();
        p.edit();
        state.ResumeTiming();
        benchmark::DoNotOptimize(p.project.tracks());
    }
}
BENCHMARK(TracksAfterEdit)->Unit(benchmark::kMillisecond)->Iterations(10);

void TracksAgain(benchmark::State& state) {
    Program& p = program();
    benchmark::DoNotOptimize(p.project.tracks());
    for (auto _ : state) {
        benchmark::DoNotOptimize(p.project.tracks());
    }
}
BENCHMARK(TracksAgain)->Unit(benchmark::kMicrosecond);

void DirtyAfterEdit(benchmark::State& state) {
    Program& p = program();
    for (auto _ : state) {
        state.PauseTiming();
        p.edit();
        state.ResumeTiming();
        benchmark::DoNotOptimize(p.project.dirty());
    }
}
BENCHMARK(DirtyAfterEdit)->Unit(benchmark::kMillisecond)->Iterations(20);

void DirtyAgain(benchmark::State& state) {
    Program& p = program();
    benchmark::DoNotOptimize(p.project.dirty());
    for (auto _ : state) {
        benchmark::DoNotOptimize(p.project.dirty());
    }
}
BENCHMARK(DirtyAgain)->Unit(benchmark::kMicrosecond);

void PlayStartAfterEdit(benchmark::State& state) {
    Program& p = program();
    for (auto _ : state) {
        state.PauseTiming();
        p.edit();
        state.ResumeTiming();
        p.transport.play();
        state.PauseTiming();
        bench::require(p.transport.playing(), "play started");
        p.transport.stop();
        state.ResumeTiming();
    }
}
BENCHMARK(PlayStartAfterEdit)->Unit(benchmark::kMillisecond)->Iterations(2);

void PlayStartAgain(benchmark::State& state) {
    Program& p = program();
    p.transport.play();
    p.transport.stop();
    for (auto _ : state) {
        p.transport.play();
        state.PauseTiming();
        bench::require(p.transport.playing(), "play started");
        p.transport.stop();
        state.ResumeTiming();
    }
}
BENCHMARK(PlayStartAgain)->Unit(benchmark::kMillisecond)->Iterations(20);

void EditToBackingTrack(benchmark::State& state) {
    Program& p = program();
    p.transport.play();
    bench::require(p.transport.playing(), "play started");
    const engine::AudioEngine& engine = p.audio.engine();
    for (auto _ : state) {
        p.edit();
        QCoreApplication::processEvents();  // the rebuild goes to the worker
        std::shared_ptr<engine::BackingTrack> track;
        while (track == nullptr || !track->view().ready(engine.shownPos(), engine::AudioEngine::kAheadFrames)) {
            for (const engine::RenderResult& result : p.project.onRenderFinished()) {
                if (result.kind == engine::RenderJobKind::PlaybackRebuild && result.ok) {
                    track = result.track;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    p.transport.stop();
}
BENCHMARK(EditToBackingTrack)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) { return ostrel::bench::runWithEventLoop(argc, argv); }
